"""extract(): a run of motbox or motbox-delta from Python values, and the Extraction it returns."""

import csv
import os
import shutil
import struct
import tempfile
import weakref

from . import _motbox, _motbox_delta

try:
    import numpy as _np
except ImportError:  # the occurrences come back as lists of tuples
    _np = None
try:
    import pandas as _pd
except ImportError:  # the tables come back as lists of dicts
    _pd = None

_PROGRAMS = {"motbox": _motbox, "motbox-delta": _motbox_delta}


def _run(program, args):
    """Runs a command line of program in this process; a refusal raises ValueError with its message."""
    try:
        return _PROGRAMS[program].cli(args)
    except ValueError as refusal:
        raise ValueError(str(refusal).rstrip("\n")) from None


class Alphabet:
    """A models alphabet: its kind ("Nucleotide", "Protein" or anything else) and its symbols, each the set
    of sequence characters it accepts ("AG" accepts A and G, "*" alone is the joker)."""

    def __init__(self, kind, symbols):
        self.kind = str(kind)
        self.symbols = tuple(str(s) for s in symbols)
        if not self.symbols or any(not s or "\n" in s for s in self.symbols):
            raise ValueError("an alphabet needs symbols, each one or more characters on one line")

    def text(self):
        """The alphabet file's text."""
        return self.kind + "\n" + "".join(s + "\n" for s in self.symbols)

    def __repr__(self):
        return f"Alphabet({self.kind!r}, {list(self.symbols)!r})"


DNA = Alphabet("Nucleotide", "ACGT")
PROTEIN = Alphabet("Protein", "ACDEFGHIKLMNPQRSTVWY")

_NUCLEOTIDE_CHARACTERS = set("ACGTUNRYacgtunry*")


def _alphabet_of(symbols):
    """A list of symbol lines: nucleotides when every character is a base (or N, R, Y, the joker)."""
    symbols = [str(s) for s in symbols]
    kind = "Nucleotide" if all(set(s) <= _NUCLEOTIDE_CHARACTERS for s in symbols) else "Protein"
    return Alphabet(kind, symbols)


def _triple(value, what):
    try:
        low, high, subst = (int(v) for v in value)
    except (TypeError, ValueError):
        raise ValueError(f"{what} must be (min, max, substitutions), not {value!r}") from None
    return low, high, subst


def _positional(quorum, boxes, spacers, total, compositions, palindromes):
    """The positional numbers of the command line, and whether they are motbox-delta's."""
    boxes = [_triple(b, "a box") for b in boxes]
    if not boxes:
        raise ValueError("at least one box is needed")
    spacers = [tuple(int(v) for v in s) for s in spacers]
    if len(spacers) != len(boxes) - 1:
        raise ValueError(f"{len(boxes)} boxes need {len(boxes) - 1} spacers, not {len(spacers)}")
    arities = {len(s) for s in spacers}
    if not arities <= {2} and not arities <= {3}:
        raise ValueError("spacers are all (min, max) for motbox or all (min, max, delta) for motbox-delta")
    delta = arities == {3}
    if total is None:
        maxima = [b[1] for b in boxes]
        total = (sum(b[0] for b in boxes), 0 if 0 in maxima else sum(maxima), sum(b[2] for b in boxes))
    total = _triple(total, "total")
    if len(boxes) == 1 and total != boxes[0]:
        raise ValueError(f"with one box, the box {boxes[0]} and the total {total} must be the same")
    words = [quorum, len(boxes), *total]
    if len(boxes) >= 2:
        for i, box in enumerate(boxes):
            words += box
            if i < len(spacers):
                words += spacers[i]
    for box, limits in compositions or ():
        pairs = list(limits.items()) if isinstance(limits, dict) else list(limits)
        words += [box, len(pairs)]
        for symbol, limit in pairs:
            words += [symbol, limit]
    for later, earlier in palindromes or ():
        words.append(f"p{int(later)}/{int(earlier)}")
    return [str(w) for w in words], delta


def _window_names(spacers):
    """motbox-delta's result file suffixes, in the order of its .namefile."""
    names = [""]
    for low, high, delta in spacers:
        windows = [f"[{c - delta}-{c + delta}]" for c in range(low + delta, high - delta + 1)]
        names = [n + w for n in names for w in windows]
    return names


def _table(rows, columns):
    if _pd is not None:
        return _pd.DataFrame(rows, columns=columns)
    return [dict(zip(columns, r)) for r in rows]


def _number(text):
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return text


def _read_tsv(path, skip_comment):
    """The rows of a TSV file (after its '#' line when skip_comment), as lists of strings."""
    with open(path, newline="") as f:
        if skip_comment:
            f.readline()
        rows = list(csv.reader(f, delimiter="\t"))
    return rows


class Extraction:
    """The models of one run, kept in its result file in a temporary directory (TMPDIR) until the
    Extraction is closed or collected.  Tables are pandas DataFrames when pandas is installed, else lists
    of dicts; occurrences are numpy structured arrays when numpy is installed, else lists of tuples."""

    def __init__(self, program, args, output, directory, windows, both_strands):
        self.program = program
        #: The command line of the run, the program's name first (its files are in the temporary directory).
        self.command = args
        self._directory = directory
        self._result_files = [args[output] + w for w in windows]
        self._windows = windows
        self.both_strands = both_strands
        self._index = None
        # The input files by absolute name, so that the rankings read them from any working directory.
        self._ranked_command = list(args)
        for k in (output - 2, output - 1):
            self._ranked_command[k] = os.path.abspath(args[k])
        self._cleanup = weakref.finalize(self, shutil.rmtree, directory, True)

    # -- the models ---------------------------------------------------------------------------------------

    def _models_index(self):
        if self._index is None:
            self._index = []
            for k, path in enumerate(self._result_files):
                d = _PROGRAMS[self.program].read_result(path)
                if not d["complete"]:
                    raise ValueError(f"the result file '{path}' is cut short")
                for i in range(len(d["model"])):
                    self._index.append(
                        (d["model"][i], d["code"][i], d["support"][i], d["occurrences"][i], k, d["offset"][i])
                    )
        return self._index

    @property
    def models(self):
        """One row per model written, in the result file's order: model, code, support (sequences),
        occurrences (lines); with motbox-delta also window, the spacer windows of its result file."""
        index = self._models_index()
        if self.program == "motbox-delta":
            rows = [(m, c, s, o, self._windows[k]) for m, c, s, o, k, _ in index]
            return _table(rows, ["model", "code", "support", "occurrences", "window"])
        return _table([row[:4] for row in index], ["model", "code", "support", "occurrences"])

    def __len__(self):
        return len(self._models_index())

    def occurrences(self, i):
        """The occurrences of model i (its row in models): seq (0-based, in input order), pos (leftmost
        position on the sequence as written, 0-based), spacer1 ... spacerK (the spacer lengths in the
        model's order) and strand ('+', or '-' on the reverse strand with both strands)."""
        index = self._models_index()
        name, code, _, _, k, offset = index[i]
        spacers = code.count("-")
        packed = _PROGRAMS[self.program].read_occurrences(
            self._result_files[k], offset, spacers, self.both_strands
        )
        fields = [("seq", "i4"), ("pos", "i4")] + [(f"spacer{j + 1}", "i4") for j in range(spacers)]
        if _np is not None:
            raw = _np.frombuffer(packed, dtype=_np.dtype(fields + [("strand_code", "i4")]))
            out = _np.empty(len(raw), dtype=fields + [("strand", "U1")])
            for f, _ in fields:
                out[f] = raw[f]
            out["strand"] = [chr(c) for c in raw["strand_code"]]
            return out
        record = struct.Struct(f"={spacers + 3}i")
        return [(*r[:-1], chr(r[-1])) for r in record.iter_unpack(packed)]

    # -- files and rankings -------------------------------------------------------------------------------

    def write(self, path):
        """Writes the result file as the program writes it (motbox-delta: one file per window, path followed
        by the window); returns the paths written."""
        path = os.fspath(path)
        written = []
        for source, window in zip(self._result_files, self._windows):
            shutil.copyfile(source, path + window)
            written.append(path + window)
        return written

    def _rank_only(self, options):
        args = [self.program, "--rank-only", "-q", *options, *self._ranked_command[1:]]
        _run(self.program, args)

    def _ranking_options(self, control, shuffle, seed, keep_duplicates):
        options = ["--shuffle", str(int(shuffle)), "--seed", str(int(seed))]
        if control is not None:
            options += ["--control", self._fasta(control, "control.fa")]
        if keep_duplicates:
            options.append("--keep-duplicates")
        return options

    def _fasta(self, sequences, name):
        if isinstance(sequences, (str, os.PathLike)):
            return os.fspath(sequences)
        return _write_fasta(sequences, os.path.join(self._directory, name))

    def rank(self, control=None, shuffle=3, seed=1985, keep_duplicates=False):
        """Ranks the models against a control set (a FASTA file or sequences; by default `shuffle`
        dinucleotide shuffles of every input sequence, drawn from `seed`) by a one-sided Fisher test of
        sequence counts.  Returns the ranking table, best first, with --rank's columns (its file column
        is the window with motbox-delta, and left out with motbox)."""
        table = os.path.join(self._directory, "ranking.tsv")
        self._rank_only(["--rank", table] + self._ranking_options(control, shuffle, seed, keep_duplicates))
        rows = _read_tsv(table, True)
        header, rows = rows[0], rows[1:]
        file_column = header.index("file")
        windows = dict(zip(self._result_files, self._windows))
        for r in rows:
            r[file_column] = windows.get(r[file_column], r[file_column])
        if self.program == "motbox":
            header = header[:file_column] + header[file_column + 1 :]
            rows = [r[:file_column] + r[file_column + 1 :] for r in rows]
        else:
            header[file_column] = "window"
        text = {"model", "code", "window"}
        rows = [[v if h in text else _number(v) for h, v in zip(header, r)] for r in rows]
        return _table(rows, header)

    def to_meme(self, path, top=50, control=None, shuffle=3, seed=1985, keep_duplicates=False):
        """Writes the count matrices of the `top` best-ranked families, one motif per box, in the MEME
        motif format (as --meme writes them); returns path."""
        path = os.fspath(path)
        options = ["--meme", path, "--report-top", str(int(top))]
        self._rank_only(options + self._ranking_options(control, shuffle, seed, keep_duplicates))
        return path

    def sites(self, top=50, control=None, shuffle=3, seed=1985, keep_duplicates=False):
        """The sites of the families to_meme writes, as --sites writes them in BED6: chrom, start, end,
        name, score, strand."""
        bed = os.path.join(self._directory, "sites.bed")
        options = ["--sites", bed, "--report-top", str(int(top))]
        self._rank_only(options + self._ranking_options(control, shuffle, seed, keep_duplicates))
        rows = _read_tsv(bed, False)
        rows = [[r[0], int(r[1]), int(r[2]), r[3], _number(r[4]), r[5]] for r in rows]
        return _table(rows, ["chrom", "start", "end", "name", "score", "strand"])

    def report(self, path, top=50, control=None, shuffle=3, seed=1985, keep_duplicates=False):
        """Writes the HTML report of the best-ranked families (as --report writes it, with its table next
        to it, path's stem followed by .tsv); returns path."""
        path = os.fspath(path)
        options = ["--report", path, "--report-top", str(int(top))]
        self._rank_only(options + self._ranking_options(control, shuffle, seed, keep_duplicates))
        return path

    def close(self):
        """Removes the temporary directory and the result file in it."""
        self._cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        state = f"{len(self)} models" if self._cleanup.alive else "closed"
        return f"<motbox.Extraction {' '.join(self.command)}: {state}>"


def _write_fasta(sequences, path):
    with open(path, "w") as f:
        for i, entry in enumerate(sequences):
            if isinstance(entry, str):
                name, text = f"seq{i + 1}", entry
            else:
                name, text = entry
            if not isinstance(text, str) or "\n" in str(name):
                raise ValueError(f"sequence {i + 1}: a sequence is a string or a (name, string) pair")
            f.write(f">{name}\n{text}\n")
    return path


def extract(
    sequences,
    *,
    alphabet=DNA,
    quorum,
    boxes,
    spacers=(),
    total=None,
    compositions=None,
    palindromes=None,
    both_strands=False,
    threads=None,
    max_memory=None,
):
    """Extracts the structured models shared by a quorum of the sequences, in this process, and returns an
    Extraction whose models, occurrences, rankings and motif files are read from its result file.

    sequences: a FASTA file, or a list of sequences, or of (name, sequence) pairs.
    alphabet: an alphabet file, motbox.DNA (the default), motbox.PROTEIN, an Alphabet, or a list of
        symbol lines (nucleotides when every character is a base, N, R, Y or the joker *).
    quorum: the percentage of the sequences a model must occur in (0 = 70 %).
    boxes: (min, max, substitutions) per box; max 0 = no limit.
    spacers: (min, max) per spacer, one between each two boxes; (min, max, delta) runs motbox-delta,
        which sorts the models by spacer window.
    total: (min, max, substitutions) of the whole model, spacers not counted; by default the sums of the
        boxes' (max 0 when a box has no limit).
    compositions: (box, {symbol: max, ...}) pairs, box 0 being the whole model.
    palindromes: (i, j) pairs: box i is the reverse complement of the earlier box j.
    both_strands: count a model in a sequence when it occurs on either strand.
    threads: extraction threads (default: every core this process may run on).
    max_memory: refuse a run whose suffix tree would need more bytes than this (an int, or "4G").

    Bad arguments and refused inputs raise ValueError with the program's message; Ctrl-C stops the run
    at its next check and raises KeyboardInterrupt.  The interpreter's lock is released while it runs.
    """
    words, delta = _positional(quorum, boxes, spacers, total, compositions, palindromes)
    program = "motbox-delta" if delta else "motbox"
    directory = tempfile.mkdtemp(prefix="motbox-")
    try:
        fasta = (
            os.fspath(sequences)
            if isinstance(sequences, (str, os.PathLike))
            else _write_fasta(sequences, os.path.join(directory, "input.fa"))
        )
        if isinstance(alphabet, (list, tuple)):
            alphabet = _alphabet_of(alphabet)
        if isinstance(alphabet, Alphabet):
            alphabet_file = os.path.join(directory, "alphabet.alph")
            with open(alphabet_file, "w") as f:
                f.write(alphabet.text())
        else:
            alphabet_file = os.fspath(alphabet)
        result = os.path.join(directory, "result.txt")
        options = ["-q"]
        if threads is not None:
            options += ["-t", str(int(threads))]
        if both_strands:
            options.append("--both-strands")
        if max_memory is not None:
            options += ["--max-memory", str(max_memory)]
        args = [program, *options, alphabet_file, fasta, result, *words]
        windows = _window_names([tuple(int(v) for v in s) for s in spacers]) if delta else [""]
        _run(program, args)
    except BaseException:
        shutil.rmtree(directory, True)
        raise
    return Extraction(program, args, len(args) - len(words) - 1, directory, windows, both_strands)

"""motbox.extract and its Extraction against the programs run as processes on the same inputs."""

import csv
import os
import random
import re
import signal
import subprocess
import threading
import time

import pytest

pytest.importorskip("numpy")
pytest.importorskip("pandas")

import motbox  # noqa: E402
from motbox import _extraction  # noqa: E402

EXAMPLES = os.path.join(os.environ.get("MOTBOX_SOURCE_DIR", "."), "examples")
BINARIES = {"motbox": os.environ.get("MOTBOX_BIN"), "motbox-delta": os.environ.get("MOTBOX_DELTA_BIN")}


def read_fasta(path):
    entries, name, seq = [], None, ""
    with open(path) as f:
        for line in f:
            if line.startswith(">"):
                if name:
                    entries.append((name, seq))
                name, seq = line[1:].strip(), ""
            else:
                seq += line.strip()
    return entries + [(name, seq)]


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """Twelve example promoters, 120 nt each, and the four bases."""
    d = tmp_path_factory.mktemp("inputs")
    entries = [(n, s[-120:]) for n, s in read_fasta(os.path.join(EXAMPLES, "dm3_promoters_200.fa"))[:12]]
    (d / "in.fa").write_text("".join(f">{n}\n{s}\n" for n, s in entries))
    (d / "acgt.alph").write_text("Nucleotide\nA\nC\nG\nT\n")
    return d


def without_user_time(text):
    return "".join(line for line in text.splitlines(True) if not line.startswith("User time"))


def run_program(run, tmp_path, *options):
    """The extraction's command line run by its program as a process, its result file in tmp_path."""
    args = list(run.command)
    result = str(tmp_path / "res")
    output = next(i for i, a in enumerate(args) if a.endswith("result.txt"))
    args[output] = result
    done = subprocess.run([BINARIES[run.program], *options, *args[1:]], cwd=tmp_path, capture_output=True)
    assert done.returncode == 0, done.stderr
    return result


def parsed_models(path):
    """Model lines and their occurrence lines, read here with regular expressions."""
    models = []
    body = False
    for line in open(path):
        if not body:
            body = line.startswith("====")
        elif line.startswith("Nb models:"):
            break
        elif line.startswith("Seq "):
            numbers = [int(v) for v in re.findall(r"-?\d+", line)]
            strand = line.rstrip()[-1] if line.rstrip()[-1] in "+-" else "+"
            models[-1][3].append((*numbers, strand))
        elif len(line.split()) == 1:
            assert int(line) == len(models[-1][3])  # the block's count of occurrence lines
        else:
            name, code, support = line.split()
            models.append((name, code, int(support), []))
    return models


def random_case(rng):
    """Random extraction arguments: one box, two boxes and a spacer, or three boxes; motbox-delta's spacers
    with a Delta."""
    delta = rng.random() < 0.3
    kwargs = {"quorum": rng.choice([50, 60]), "threads": rng.choice([1, 2, 3]),
              "both_strands": rng.random() < 0.4}
    shape = rng.choice([1, 2, 2, 3])
    if shape == 1:
        length = rng.randint(5, 6)
        kwargs["boxes"] = [(length, length, 1)]
        return kwargs
    box = rng.randint(3, 4) if shape == 2 else 2
    kwargs["boxes"] = [(box, box, rng.randint(0, 1) if shape == 2 else 1) for _ in range(shape)]
    spacers = []
    for _ in range(shape - 1):
        low, d = rng.randint(0, 3), rng.randint(0, 1)
        spacers.append((low, low + 2 * d + rng.randint(0, 2), d) if delta else (low, low + rng.randint(0, 3)))
    kwargs["spacers"] = spacers
    kwargs["total"] = (shape * box, shape * box, rng.randint(0, 1) if shape == 2 else 1)
    if shape == 2 and not delta and rng.random() < 0.3:
        kwargs["compositions"] = [(0, {"A": 5})]
    return kwargs


def files_match(run, path):
    for written, window in zip(run.write(str(path) + ".copy"), run._windows):
        assert without_user_time(open(written).read()) == without_user_time(open(str(path) + window).read())


@pytest.mark.parametrize("seed", range(8))
def test_extract_writes_and_reads_the_program_result(inputs, tmp_path, seed):
    rng = random.Random(seed)
    kwargs = random_case(rng)
    with motbox.extract(inputs / "in.fa", alphabet=inputs / "acgt.alph", **kwargs) as run:
        result = run_program(run, tmp_path)
        files_match(run, tmp_path / "res")
        expected = [m for window in run._windows for m in parsed_models(result + window)]
        models = run.models
        assert len(models) == len(expected) > 0, kwargs
        assert list(zip(models["model"], models["code"], models["support"], models["occurrences"])) == [
            (n, c, s, len(o)) for n, c, s, o in expected]
        for i in sorted(rng.sample(range(len(expected)), min(4, len(expected)))):
            assert [tuple(r) for r in run.occurrences(i).tolist()] == expected[i][3]


@pytest.mark.parametrize("kwargs", [
    {"quorum": 50, "boxes": [(4, 4, 0), (4, 4, 1)], "spacers": [(1, 5)], "threads": 2},
    {"quorum": 50, "boxes": [(4, 4, 0), (4, 4, 1)], "spacers": [(1, 4, 1)], "both_strands": True},
])
def test_rank_motifs_and_sites_equal_the_program_files(inputs, tmp_path, kwargs):
    run = motbox.extract(inputs / "in.fa", alphabet=inputs / "acgt.alph", **kwargs)
    run_program(run, tmp_path, "--rank", "rank.tsv", "--meme", "m.meme", "--sites", "s.bed", "--shuffle", "2",
                 "--seed", "7")
    with open(tmp_path / "rank.tsv", newline="") as f:
        f.readline()
        header, *rows = list(csv.reader(f, delimiter="\t"))
    table = run.rank(shuffle=2, seed=7)
    assert len(rows) == len(table) > 0
    for row, got in zip(rows, table.to_dict("records")):
        expected = dict(zip(header, row))
        if run.program == "motbox-delta":
            assert expected.pop("file") == str(tmp_path / "res") + got.pop("window")
        else:
            del expected["file"]
        assert list(got) == list(expected)
        assert got == {k: v if isinstance(got[k], str) else type(got[k])(v) for k, v in expected.items()}
    meme = tmp_path / "py.meme"
    assert run.to_meme(meme, shuffle=2, seed=7) == str(meme)
    assert meme.read_text() == (tmp_path / "m.meme").read_text()
    bed = [line.split("\t") for line in (tmp_path / "s.bed").read_text().splitlines()]
    sites = run.sites(shuffle=2, seed=7)
    assert [[str(v) for v in r] for r in sites.itertuples(index=False)] == bed
    assert len(bed) > 0


def test_sequences_and_alphabets_given_as_python_values(inputs):
    from_files = motbox.extract(inputs / "in.fa", alphabet=inputs / "acgt.alph", quorum=75, boxes=[(6, 6, 1)])
    entries = read_fasta(inputs / "in.fa")
    for sequences, alphabet in [(entries, motbox.DNA), ([s for _, s in entries], ["A", "C", "G", "T"])]:
        run = motbox.extract(sequences, alphabet=alphabet, quorum=75, boxes=[(6, 6, 1)])
        assert run.models.equals(from_files.models)
        assert (run.occurrences(3) == from_files.occurrences(3)).all()


def test_tables_without_pandas_and_numpy(inputs, monkeypatch):
    run = motbox.extract(inputs / "in.fa", alphabet=motbox.DNA, quorum=75, boxes=[(5, 5, 1)], both_strands=True)
    frame, occurrences, ranked = run.models, run.occurrences(2), run.rank()
    monkeypatch.setattr(_extraction, "_pd", None)
    monkeypatch.setattr(_extraction, "_np", None)
    assert run.models == frame.to_dict("records")
    assert run.occurrences(2) == [tuple(r) for r in occurrences.tolist()]
    assert run.rank() == ranked.to_dict("records")


def extraction_directories():
    temporary = os.environ.get("TMPDIR", "/tmp")
    return {d for d in os.listdir(temporary) if d.startswith("motbox-")}


@pytest.mark.parametrize("kwargs, message", [
    ({"sequences": ["ACGTACGT"]}, ">> Error: One sequence only in FASTA file!"),
    ({"sequences": "no/such.fa"}, "cannot open FASTA file 'no/such.fa'"),
    ({"alphabet": "no/such.alph"}, "cannot open alphabet file 'no/such.alph'"),
    ({"boxes": [(5, 5, 0), (5, 5, 0)], "spacers": [(6, 2)]}, "spacer 1: maximum length 2 is lower than"),
    ({"boxes": [(5, 5, 0), (5, 5, 0)]}, "2 boxes need 1 spacers, not 0"),
    ({"boxes": [(5, 5, 0)], "total": (6, 6, 0)}, "with one box, the box (5, 5, 0) and the total"),
    ({"quorum": -5}, "quorum"),
    ({"both_strands": True, "alphabet": motbox.PROTEIN}, "--both-strands"),
])
def test_bad_input_raises_value_error_with_the_message(inputs, kwargs, message):
    args = {"sequences": inputs / "in.fa", "alphabet": inputs / "acgt.alph", "quorum": 75, "boxes": [(5, 5, 0)]}
    args.update(kwargs)
    before = extraction_directories()
    with pytest.raises(ValueError) as refusal:
        motbox.extract(args.pop("sequences"), **args)
    assert message in str(refusal.value)
    assert extraction_directories() <= before


def test_ctrl_c_stops_the_run_and_raises_keyboard_interrupt(inputs):
    """A run of several seconds, interrupted after 0.3 s; the next run is whole."""
    long_run = {"alphabet": inputs / "acgt.alph", "quorum": 30, "boxes": [(6, 6, 1), (6, 6, 1)],
                "spacers": [(12, 22)], "total": (12, 12, 2), "threads": 1}
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    started = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        motbox.extract(os.path.join(EXAMPLES, "dm3_promoters_200.fa"), **long_run)
    stopped = time.monotonic() - started
    timer.join()
    after = motbox.extract(inputs / "in.fa", alphabet=inputs / "acgt.alph", quorum=75, boxes=[(6, 6, 1)])
    assert len(after) > 0
    assert stopped < 3.0, stopped


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_a_hundred_extractions_keep_the_memory_flat(inputs):
    before = extraction_directories()

    def one(i):
        with motbox.extract(inputs / "in.fa", alphabet=motbox.DNA, quorum=50, boxes=[(4, 4, 0), (4, 4, 1)],
                            spacers=[(1, 4)], threads=1 + i % 3, both_strands=i % 2 == 1) as run:
            return len(run.models), len(run.occurrences(0))

    first = [one(i) for i in range(10)]
    warm = resident_bytes()
    later = [one(i) for i in range(10, 100)]
    assert resident_bytes() <= warm * 1.10 + (8 << 20)  # the interpreter's own heap wanders a little
    assert later[:10] == first
    assert extraction_directories() == before


def test_two_threads_extract_what_they_extract_one_after_the_other(inputs):
    cases = [{"quorum": 50, "boxes": [(4, 4, 0), (4, 4, 1)], "spacers": [(1, 5)], "threads": 1},
             {"quorum": 60, "boxes": [(7, 7, 1)], "threads": 1, "both_strands": True}]

    def rows(kwargs):
        run = motbox.extract(inputs / "in.fa", alphabet=inputs / "acgt.alph", **kwargs)
        return run.models.values.tolist(), [run.occurrences(i).tolist() for i in range(0, len(run), 7)]

    serial = [rows(c) for c in cases]
    parallel = [None, None]
    threads = [threading.Thread(target=lambda k=k: parallel.__setitem__(k, rows(cases[k]))) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert parallel == serial


def test_rankings_read_the_inputs_from_any_working_directory(inputs, tmp_path, monkeypatch):
    monkeypatch.chdir(inputs)
    run = motbox.extract("in.fa", alphabet="acgt.alph", quorum=50, boxes=[(6, 6, 1)])
    expected = run.rank()
    monkeypatch.chdir(tmp_path)
    assert run.rank().equals(expected)
    assert len(expected) == len(run) > 0

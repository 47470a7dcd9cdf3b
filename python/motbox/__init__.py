"""motbox: structured models (boxes of symbols separated by variable spacers, with substitutions) shared by
a quorum of DNA or protein sequences, found in this process.

    import motbox
    run = motbox.extract("in.fa", alphabet=motbox.DNA, quorum=20, boxes=[(5, 5, 1), (5, 5, 1)],
                         spacers=[(4, 9)], total=(10, 10, 1))
    run.models, run.occurrences(0), run.rank(), run.to_meme("m.meme"), run.sites()
    motbox.cli(["motbox", "-t", "1", "dna.alph", "in.fa", "res.txt", "20", "2", "10", "10", "1",
                "5", "5", "1", "4", "9", "5", "5", "1"])

extract runs an extraction from Python values and returns an Extraction, whose tables are read from the
result file it keeps in a temporary directory.  cli runs a command line of motbox or motbox-delta (named
first) as the program would, writing the same result files and standard output, and returns its exit
status.  A refusal raises ValueError carrying the program's message; Ctrl-C stops a run at its next check
and raises KeyboardInterrupt.  The interpreter's lock is released while a run goes on, so that several
Python threads can run extractions at once.
"""

from ._extraction import _PROGRAMS, DNA, PROTEIN, Alphabet, Extraction, _run, extract

__all__ = ["cli", "extract", "Extraction", "Alphabet", "DNA", "PROTEIN"]


def cli(args):
    """Runs the command line args of motbox or motbox-delta, the program's name first, in this process.

    Writes what the program writes (result files, standard output, the progress meter on standard error)
    and returns its exit status: 0, or 0 after --help and --version.  A refusal (bad arguments, unreadable
    or malformed input, a run that cannot fit in memory) raises ValueError with the program's message;
    Ctrl-C stops the run at its next check and raises KeyboardInterrupt.
    """
    args = [str(a) for a in args]
    if not args:
        raise ValueError("cli needs a command line, the program's name first ('motbox' or 'motbox-delta')")
    name = args[0].rsplit("/", 1)[-1]
    if name not in _PROGRAMS:
        raise ValueError(f"unknown program '{args[0]}': 'motbox' or 'motbox-delta'")
    return _run(name, args)

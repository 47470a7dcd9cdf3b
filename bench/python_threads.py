"""Two extractions in two Python threads at once against the same two one after the other.

    PYTHONPATH=build/python python3 bench/python_threads.py [FASTA] [ROUNDS]

Each extraction runs on one thread of its own (threads=1): two boxes of 6 with one substitution each,
spacer 12-22, quorum 30 % (default input: the 200 example promoters).  Prints the wall time of the two in
series and at once, their ratio, and whether the models and occurrences are the same both ways; with the
interpreter's lock released during the runs, the ratio on 2 cores is close to 0.5.
"""

import os
import sys
import threading
import time

import motbox

HERE = os.path.dirname(os.path.abspath(__file__))
CASES = [
    {"quorum": 30, "boxes": [(6, 6, 1), (6, 6, 1)], "spacers": [(12, 22)], "total": (12, 12, 2)},
    {"quorum": 30, "boxes": [(6, 6, 1), (6, 6, 1)], "spacers": [(10, 20)], "total": (12, 12, 2)},
]


def extraction(fasta, case):
    with motbox.extract(fasta, alphabet=motbox.DNA, threads=1, **case) as run:
        return run.models.values.tolist(), [run.occurrences(i).tolist() for i in range(len(run))]


def serial(fasta):
    return [extraction(fasta, case) for case in CASES]


def at_once(fasta):
    results = [None] * len(CASES)

    def one(k):
        results[k] = extraction(fasta, CASES[k])

    threads = [threading.Thread(target=one, args=(k,)) for k in range(len(CASES))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def timed(f, fasta):
    start = time.monotonic()
    result = f(fasta)
    return time.monotonic() - start, result


def main():
    fasta = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "examples", "dm3_promoters_200.fa")
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    print("round  serial_s  at_once_s  ratio  same")
    for r in range(rounds):
        t_serial, expected = timed(serial, fasta)
        t_once, got = timed(at_once, fasta)
        print(f"{r + 1:5d}  {t_serial:8.2f}  {t_once:9.2f}  {t_once / t_serial:5.2f}  {got == expected}")


if __name__ == "__main__":
    main()

"""Motifs of the 200 example fly promoters (the 185 nt before each transcription start), found from Python.

    PYTHONPATH=build/python python3 examples/motifs_in_python.py [OUTPUT_DIR]

Extracts every 8-mer with at most one substitution found on either strand of 20 % of the promoters, ranks
them against dinucleotide shuffles, prints the best families, writes their motifs in the MEME format and
their sites as BED, and plots where the best families' sites lie in the promoters (a PNG with matplotlib
when it is installed, else a text histogram).
"""

import os
import sys

import motbox

HERE = os.path.dirname(os.path.abspath(__file__))
PROMOTERS = os.path.join(HERE, "dm3_promoters_200.fa")
LENGTH = 185  # every promoter ends at its transcription start
BIN = 20


def main(output_dir):
    run = motbox.extract(PROMOTERS, alphabet=motbox.DNA, quorum=20, boxes=[(8, 8, 1)], both_strands=True)
    print(f"{len(run)} models found in at least 20 % of the promoters, on either strand")

    ranked = run.rank(shuffle=3, seed=1985)
    heads = ranked.drop_duplicates("family").head(5)
    columns = ["rank", "model", "reverse_complement", "support", "control_support", "enrichment", "e_value",
               "family_size"]
    print("\nBest families (their best-ranked model):")
    print(heads[columns].to_string(index=False))

    meme = run.to_meme(os.path.join(output_dir, "promoters.meme"), top=5)
    sites = run.sites(top=5)
    print(f"\n{len(sites)} sites of the 5 best families; motifs in {meme}:")
    print(sites.head(3).to_string(index=False))

    # Where the sites of the three best families' heads lie, as distances to the transcription start.
    row_of = {model: i for i, model in enumerate(run.models["model"])}
    histograms = {}
    for model in heads["model"].head(3):
        occurrences = run.occurrences(row_of[model])
        histograms[model] = [int(p) - LENGTH for p in occurrences["pos"]]
    plot(histograms, output_dir)


def plot(histograms, output_dir):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print(f"\nSites by distance to the transcription start ({BIN} nt bins; matplotlib draws them as a PNG):")
        edges = list(range(-LENGTH, 1, BIN))
        print(f"  {'from':8}" + "".join(f"{low:5d}" for low in edges[:-1]))
        for model, starts in histograms.items():
            counts = [sum(1 for s in starts if low <= s < high) for low, high in zip(edges, edges[1:])]
            print(f"  {model:8}" + "".join(f"{c:5d}" for c in counts))
        return
    figure, axes = plt.subplots(len(histograms), 1, sharex=True, figsize=(6, 1.6 * len(histograms)))
    for ax, (model, starts) in zip(axes, histograms.items()):
        ax.hist(starts, bins=range(-LENGTH, 1, BIN))
        ax.set_ylabel(model, rotation=0, ha="right")
    axes[-1].set_xlabel("site start, nt from the transcription start")
    figure.tight_layout()
    path = os.path.join(output_dir, "positions.png")
    figure.savefig(path, dpi=100)
    print(f"\nSites by distance to the transcription start: {path}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")

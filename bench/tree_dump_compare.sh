#!/usr/bin/env bash
# Compares the trees two builds make, through tree_bench --dump: every label
# bound, occurrence list, colour set and suffix-link presence must agree (the
# records' addresses are masked).  Inputs: random texts that repeat pieces of
# one another, on alphabets of 2 to 5 letters, and the first entries of the
# Drosophila upstream set, each with several windows.  The record sizes the
# statistics start with are masked too: a record layout may change.
#
# Usage: [NEW_THREADS=N] bench/tree_dump_compare.sh OLD_BUILD_DIR NEW_BUILD_DIR [RANDOM_CASES]
# NEW_THREADS colours the new build's trees on N threads (the same build twice then compares the threads).
# Both builds need -DMOTBOX_BENCH=ON.  Exits 1 at the first difference.
set -euo pipefail

old=$1/bench/tree_bench
new=$2/bench/tree_bench
cases=${3:-200}
new_options=()
[ -n "${NEW_THREADS:-}" ] && new_options=(--threads "$NEW_THREADS")
fasta=${FASTA:-/work/shared/data/dm3_upstream2000_first1000.fa}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Random FASTA: up to 30 texts, each made of fresh letters and of copies of
# pieces of earlier texts, with a point change now and then.
random_fasta() {
    awk -v seed="$1" 'BEGIN {
        srand(seed)
        split("AC ACG ACGT ACGT ACGTN", alphabets, " ")
        alpha = alphabets[1 + int(rand() * 5)]
        n = 1 + int(rand() * 30)
        split("5 20 80 300", caps, " ")
        for (k = 0; k < n; k++) {
            len = 1 + int(rand() * caps[1 + int(rand() * 4)])
            s = ""
            while (length(s) < len) {
                if (k > 0 && rand() < 0.5) {
                    src = seq[int(rand() * k)]
                    a = 1 + int(rand() * length(src))
                    s = s substr(src, a, 1 + int(rand() * 40))
                } else {
                    m = 1 + int(rand() * 10)
                    for (i = 0; i < m; i++) s = s substr(alpha, 1 + int(rand() * length(alpha)), 1)
                }
                if (rand() < 0.2) {
                    p = 1 + int(rand() * length(s))
                    s = substr(s, 1, p - 1) substr(alpha, 1 + int(rand() * length(alpha)), 1) substr(s, p + 1)
                }
            }
            seq[k] = substr(s, 1, len)
            printf(">s%d\n%s\n", k, seq[k])
        }
    }'
}

mask() {
    sed -E -e 's/0x[0-9a-f]+/P/g' -e 's/^nombre de (Noeud   \([0-9]+ \+ [0-9]+\)|Feuille \([0-9]+\))/nombre de R/'
}

same_tree() {  # FASTA ENTRIES WINDOW
    "$old" "$1" "$2" "$3" --dump | mask >"$work/old"
    "$new" "$1" "$2" "$3" --dump ${new_options[@]+"${new_options[@]}"} | mask >"$work/new"
    if ! cmp -s "$work/old" "$work/new"; then
        echo "trees differ: $1 (entries $2, window $3); kept in $work.kept" >&2
        cp -r "$work" "$work.kept"
        exit 1
    fi
}

for ((seed = 1; seed <= cases; seed++)); do
    random_fasta "$seed" >"$work/in.fa"
    for w in 2 3 4 7 20 1000; do same_tree "$work/in.fa" 1000 "$w"; done
done
echo "random texts: $cases inputs x 6 windows, identical"
for n in 30 200; do
    for w in 8 20 50; do same_tree "$fasta" "$n" "$w"; done
done
echo "upstream regions: 30 and 200 entries x windows 8, 20, 50, identical"

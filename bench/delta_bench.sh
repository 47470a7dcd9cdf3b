#!/bin/sh
# motbox-delta on the first N Drosophila upstream regions: two boxes of 6 symbols with 1 substitution
# each, a spacer of 10 to 20 with Delta 2 (7 windows, so 7 result files), quorum 80 %.
# Prints the number of models over all files, the extraction's user time, the wall time and the peak RSS.
#
# Usage: bench/delta_bench.sh [path/to/motbox-delta]   (default: build/motbox-delta/motbox-delta)
# Environment: DATA (FASTA file), N (number of entries, default 50).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/motbox-delta/motbox-delta}
data=${DATA:-/work/shared/data/dm3_upstream2000_first1000.fa}
n=${N:-50}

case $bin in /*) ;; *) bin=$(pwd)/$bin ;; esac
[ -x "$bin" ] || { echo "delta_bench: no program at $bin (build it first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk -v n="$n" '/^>/ { k++ } k <= n' "$data" > "$work/seqs.fa"
printf 'Nucleotide alphabet\nA\nC\nG\nT\n' > "$work/alpha.txt"

cd "$work"
# Arguments: total length 12 to 12 with 2 substitutions; box 6..6 (1 subst.), spacer 10..20 Delta 2,
# box 6..6 (1 subst.).  The result files and .namefile are written in the scratch directory.
/usr/bin/time -v "$bin" alpha.txt seqs.fa res 80 2 12 12 2 6 6 1 10 20 2 6 6 1 > stdout.txt 2> stderr.txt

files=$(wc -l < .namefile)
models=$(sed -n 's/^Nb models: //p' stdout.txt)
# Cross-check the total against the files themselves.
in_files=$(cat $(cat .namefile) | sed -n 's/^Nb models: //p' | awk '{ s += $1 } END { print s + 0 }')
user=$(sed -n 's/^User time : \(.*\) sec\./\1/p' stdout.txt)
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' stderr.txt)
rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' stderr.txt)

echo "sequences:        $n (from $(basename "$data"))"
echo "result files:     $files"
echo "models:           $models (sum over the files: $in_files)"
echo "extraction user:  $user s"
echo "wall time:        $wall"
echo "peak RSS:         $rss kB"

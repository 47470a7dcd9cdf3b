#!/usr/bin/env bash
# Measures the peak memory of the tree construction on a few inputs, to recalibrate the constants of
# core/tree/memory_guard.cpp.  Each run asks for a quorum of 200 %, which is never reached: only the tree is
# built.  Prints one line per run: file, sequences, characters, window, peak RSS in bytes, and the
# estimate the program gives (when it has --memory-report).
# Usage: scripts/calibrate_memory.sh [MOTBOX] [WORKDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/motbox/motbox}
work=${2:-$(mktemp -d)}
alph=/work/data/acgt.alph
dm3=/work/shared/data/dm3_upstream2000_first1000.fa
r10k=/work/data/R10k.fa

take() { awk -v n="$2" '/^>/{k++} k<=n' "$1" > "$3"; }
take "$dm3" 100 "$work/dm3_100.fa"
take "$dm3" 300 "$work/dm3_300.fa"
cp "$dm3" "$work/dm3_1000.fa"
ln -sf "$r10k" "$work/r10k.fa"

report=""
"$bin" --help 2>/dev/null | grep -q -- --memory-report && report="--memory-report --max-memory 1000G"

printf '%-12s %6s %10s %7s %14s %14s\n' file seqs chars window peak_bytes estimate
for f in dm3_100 dm3_300 dm3_1000 r10k; do
    fa="$work/$f.fa"
    seqs=$(grep -c '^>' "$fa")
    chars=$(grep -v '^>' "$fa" | tr -d '\n' | wc -c)
    for w in 20 0; do
        [ "$f" = r10k ] && [ "$w" = 0 ] && [ "${CALIBRATE_R10K_UNLIMITED:-0}" != 1 ] && continue
        /usr/bin/time -f '%M' -o "$work/time.txt" "$bin" $report "$alph" "$fa" /dev/null 200 1 "$w" "$w" 0 \
            >/dev/null 2>"$work/err.txt" || true
        peak=$(( $(tail -n 1 "$work/time.txt") * 1024 ))
        est=$(sed -n 's/^memory estimate: \([0-9]*\) bytes.*/\1/p' "$work/err.txt")
        printf '%-12s %6s %10s %7s %14s %14s\n' "$f" "$seqs" "$chars" "${w/#0/none}" "$peak" "${est:--}"
    done
done

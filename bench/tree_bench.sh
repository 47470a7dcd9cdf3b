#!/usr/bin/env bash
# Tree construction benchmark: builds the truncated generalised suffix tree of
# the first 100, 300 and 1000 entries of the Drosophila upstream set, with a
# window of 20 and with no window limit, and reports for each run the
# construction wall time (as tree_bench measures it) and the peak resident set
# size and whole-process wall time (/usr/bin/time -v).
#
# Environment:
#   BUILD_DIR   Release build directory (default: <repo>/build-bench)
#   FASTA       sequence file (default: /work/shared/data/dm3_upstream2000_first1000.fa)
#   ENTRIES     entry counts to run (default: "100 300 1000")
#   WINDOWS     windows to run (default: "20 2147483647")
#   REPEAT      runs per case; the fastest is reported (default: 3), since the
#               machine may be shared
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
fasta=${FASTA:-/work/shared/data/dm3_upstream2000_first1000.fa}
entries=${ENTRIES:-100 300 1000}
windows=${WINDOWS:-20 2147483647}
repeat=${REPEAT:-3}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOTBOX_BENCH=ON -DMOTBOX_TESTS=OFF >/dev/null
cmake --build "$build" --target tree_bench >/dev/null
bench=$build/bench/tree_bench

log=$(mktemp)
trap 'rm -f "$log"' EXIT

printf '%-8s %-11s %10s %12s %14s %10s %10s\n' entries window "build (s)" "colours (s)" "peak RSS (kB)" "wall (s)" leaves
for w in $windows; do
    for n in $entries; do
        best=""
        for ((r = 0; r < repeat; r++)); do
            line=$(/usr/bin/time -v -o "$log" "$bench" "$fasta" "$n" "$w")
            t=$(sed -n 's/.*construction \([0-9.]*\) s.*/\1/p' <<<"$line")
            if [[ -z "$best" ]] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then
                best=$t
                build_s=$t
                colours_s=$(sed -n 's/.*(colours \([0-9.]*\) s).*/\1/p' <<<"$line")
                leaves=$(sed -n 's/.*leaves \([0-9]*\).*/\1/p' <<<"$line")
                rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
                wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log" |
                    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
            fi
        done
        printf '%-8s %-11s %10s %12s %14s %10s %10s\n' "$n" "$w" "$build_s" "$colours_s" "$rss" "$wall" "$leaves"
    done
done

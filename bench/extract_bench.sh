#!/usr/bin/env bash
# Extraction benchmarks of motbox on real sequence sets: for each case, the number of models, the
# extraction's user time (as motbox reports it), the whole run's wall time and its peak resident set
# size (/usr/bin/time -v).
#
# Environment:
#   MOTBOX      program to run (default: a Release build made in BUILD_DIR)
#   BUILD_DIR   build directory for that Release build (default: <repo>/build-release)
#   DATA_DIR    directory of the sequence sets (default: /work/shared/data)
#   RESULT_DIR  keep each result file there (default: results go to /dev/null; a run with two
#               substitutions writes several hundred megabytes)
#   TIMEOUT     seconds allowed per case (default: 600)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-release}
data=${DATA_DIR:-/work/shared/data}
timeout_s=${TIMEOUT:-600}

if [[ -z "${MOTBOX:-}" ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOTBOX_TESTS=OFF >/dev/null
    cmake --build "$build" --target motbox >/dev/null
    MOTBOX=$build/motbox/motbox
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'Nucleotide alphabet\nA\nC\nG\nT\n' >"$work/dna.alph"
{
    echo "Protein alphabet"
    for aa in A C D E F G H I K L M N P Q R S T V W Y; do echo "$aa"; done
} >"$work/protein.alph"

# The first n entries of a FASTA file.
first_entries() {
    awk -v n="$2" '/^>/ { k++ } k <= n' "$1"
}
first_entries "$data/dm3_upstream2000_first1000.fa" 100 >"$work/dm3_100.fa"
first_entries "$data/dm3_upstream2000_first1000.fa" 50 >"$work/dm3_50.fa"

# run_case label alphabet fasta quorum boxes min max subst [box and spacer arguments...]
run_case() {
    local label=$1 alphabet=$2 fasta=$3
    shift 3
    local result=/dev/null
    [[ -n "${RESULT_DIR:-}" ]] && result=$RESULT_DIR/$label.txt
    echo "($label) motbox $(basename "$alphabet") $(basename "$fasta") <result> $*"
    local status=0
    /usr/bin/time -v -o "$work/time.txt" timeout "$timeout_s" \
        "$MOTBOX" "$alphabet" "$fasta" "$result" "$@" >"$work/out.txt" 2>"$work/err.txt" || status=$?
    if [[ $status -ne 0 ]]; then
        if [[ $status -eq 124 ]]; then
            echo "    timed out after $timeout_s s"
        else
            echo "    failed with status $status: $(tail -n 1 "$work/err.txt")"
        fi
        return
    fi
    local models user wall rss
    models=$(sed -n 's/^Nb models: //p' "$work/out.txt" | tail -n 1)
    user=$(sed -n 's/^User time : \(.*\) sec\./\1/p' "$work/out.txt" | tail -n 1)
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
    printf '    models %s, extraction user time %s s, wall time %s, peak RSS %s kB\n' \
        "$models" "$user" "$wall" "$rss"
}

echo "motbox: $MOTBOX"
run_case a "$work/dna.alph" "$work/dm3_100.fa" 70 1 8 8 1
run_case b "$work/dna.alph" "$work/dm3_100.fa" 70 1 10 10 2
run_case c "$work/dna.alph" "$work/dm3_50.fa" 80 2 12 12 2 6 6 1 10 20 6 6 1
run_case d "$work/protein.alph" "$data/globins45.fa" 60 1 6 10 1

#!/usr/bin/env bash
# Runs the speed workloads with two builds side by side and checks that they write the same bytes.
#
#   bench/compare.sh OLD_BUILD_DIR NEW_BUILD_DIR
#
# Each build directory holds motbox/motbox and motbox-delta/motbox-delta.  Workloads:
#   T  motbox, two boxes of 6 with 1 substitution each, spacer 12-22, quorum 12 %, on the last 185 nt of the
#      first 1062 fly upstream regions (196 470 nt)
#   D  the same template in motbox-delta with Delta 2, on the first 500 of those promoters
#   R  motbox, one box of 8, no substitution, quorum 70 %, on the first 10 000 upstream regions (21 Mbp)
#   W  R on the whole upstream set (26 454 regions, 53 Mbp), for the time per input character
#   B  the tree of R's input with a window of 20 alone: one box of 20, quorum 200 %, which no model reaches
# The inputs are cut from the whole dm3 upstream set, DM3_ALL (default ../shared/data/dm3_upstream2000.fa;
# ../shared/data/get-dm3-all.sh writes it).  CASES selects workloads (default "T D R W"; B on request); WORK is the
# scratch directory (default a fresh one under TMPDIR, removed at the end).  OLD_OPTIONS and NEW_OPTIONS are
# passed to each build before its positional arguments: "-t 1" for a single-threaded comparison, or the same
# build twice with OLD_OPTIONS="-t 1" NEW_OPTIONS="-t 2" to measure the threads.  OLD_LAUNCH and NEW_LAUNCH
# start each build's program through a launcher, and OLD_SUFFIX and NEW_SUFFIX add to its name: the cluster
# programs of a -DMOTBOX_MPI=ON build run with NEW_LAUNCH="mpirun -np 2" NEW_SUFFIX=-mpi (user time and
# peak RSS are then those of the ranks, which mpirun waits for: the sum, and the largest).
#
# For every workload it prints the user CPU time and the wall time of each build (whole process, from
# /usr/bin/time), the old/new ratios, the peak RSS, and whether every output (result files, .namefile, standard output) is
# identical once the "User time" line, which differs from run to run, is masked.  Exit status 1 when an
# output differs.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 OLD_BUILD_DIR NEW_BUILD_DIR" >&2
    exit 1
fi
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
dm3=${DM3_ALL:-$here/../shared/data/dm3_upstream2000.fa}
cases=${CASES:-T D R W}
if [ ! -s "$dm3" ]; then
    echo "$0: $dm3 not found; write it with get-dm3-all.sh or set DM3_ALL" >&2
    exit 1
fi
work=${WORK:-$(mktemp -d)}
[ -z "${WORK:-}" ] && trap 'rm -rf "$work"' EXIT
mkdir -p "$work"

# FASTA of the first N entries of the whole set, each cut to its last TAIL characters (0 = whole).
cut_set() {
    local n=$1 tail=$2 out=$3
    [ -s "$out" ] && return
    awk -v n="$n" -v t="$tail" '
        function flush() { if (name != "") { s = (t > 0 && length(seq) > t) ? substr(seq, length(seq) - t + 1) : seq; print name; print s } }
        /^>/ { flush(); if (++k > n) { name = ""; exit } name = $0; seq = ""; next }
        { seq = seq $0 }
        END { flush() }' "$dm3" >"$out"
}

printf 'Nucleotide\nA\nC\nG\nT\n' >"$work/acgt.alph"
template="12 2 12 12 2 6 6 1 12 22 6 6 1"
delta_template="12 2 12 12 2 6 6 1 12 22 2 6 6 1"

# Hash of every output of one run in directory $1: standard output and each file, "User time" masked.
outputs_hash() {
    (cd "$1" && for f in $(ls -A | sort); do
        printf '%s ' "$f"
        grep -v '^User time' "$f" | md5sum
    done) | md5sum | cut -d' ' -f1
}

# run old|new PROGRAM INPUT ARGS...: runs that build in a fresh directory, prints
# "user_seconds peak_kb wall_seconds hash".
run() {
    local build=$new options=${NEW_OPTIONS:-} launch=${NEW_LAUNCH:-} suffix=${NEW_SUFFIX:-} program=$2 input=$3
    [ "$1" = old ] && build=$old options=${OLD_OPTIONS:-} launch=${OLD_LAUNCH:-} suffix=${OLD_SUFFIX:-}
    shift 3
    local dir figures hash
    dir=$(mktemp -d "$work/run.XXXX")
    (cd "$dir" && /usr/bin/time -o "$dir.time" -f '%U %M %e' $launch "$build/$program/$program$suffix" $options \
        "$work/acgt.alph" "$input" res "$@" >stdout 2>/dev/null) || true
    figures=$(cat "$dir.time")
    hash=$(outputs_hash "$dir")
    rm -rf "$dir" "$dir.time"
    echo "$figures $hash"
}

status=0
compare() {
    local name=$1 program=$2 input=$3
    shift 3
    read -r ou om ow oh < <(run old "$program" "$input" "$@")
    read -r nu nm nw nh < <(run new "$program" "$input" "$@")
    local same=identical
    [ "$oh" = "$nh" ] || { same=DIFFERENT; status=1; }
    local chars
    chars=$(grep -v '^>' "$input" | tr -d '\n' | wc -c)
    awk -v n="$name" -v ou="$ou" -v nu="$nu" -v om="$om" -v nm="$nm" -v ow="$ow" -v nw="$nw" -v s="$same" \
        -v c="$chars" 'BEGIN {
        printf "%-2s old %8.2f s user %8.2f s wall %8d KB | new %8.2f s user %8.2f s wall %8d KB | " \
               "user ratio %5.2f | wall ratio %5.2f | new %.3f us/char | outputs %s\n",
               n, ou, ow, om, nu, nw, nm, (nu > 0 ? ou / nu : 0), (nw > 0 ? ow / nw : 0),
               (c > 0 ? nu * 1e6 / c : 0), s }'
}

for c in $cases; do
    case $c in
        T) cut_set 1062 185 "$work/T.fa"; compare T motbox "$work/T.fa" $template ;;
        D) cut_set 500 185 "$work/D.fa"; compare D motbox-delta "$work/D.fa" $delta_template ;;
        R) cut_set 10000 0 "$work/R.fa"; compare R motbox "$work/R.fa" 70 1 8 8 0 ;;
        W) compare W motbox "$dm3" 70 1 8 8 0 ;;
        B) cut_set 10000 0 "$work/R.fa"; compare B motbox "$work/R.fa" 200 1 20 20 0 ;;
        *) echo "$0: unknown case $c" >&2; exit 1 ;;
    esac
done
exit $status

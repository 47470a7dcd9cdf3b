#!/usr/bin/env bash
# Cluster runs against one-thread runs: motbox-mpi and motbox-delta-mpi under mpirun with 2 and 3 ranks
# must write the same result files, .namefile and standard output as motbox -t 1 and motbox-delta -t 1
# (the user-time figure aside), report a refusal once with the same message and status, and end every
# rank with a non-zero status when one of them fails.
# Usage: cluster_run_test.sh MPIRUN MOTBOX MOTBOX_MPI MOTBOX_DELTA MOTBOX_DELTA_MPI SOURCE_DIR
set -uo pipefail
mpirun=$1 motbox=$2 motbox_mpi=$3 delta=$4 delta_mpi=$5 src=$6
fasta=$src/examples/dm3_upstream_20.fa
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'Nucleotide\nA\nC\nG\nT\n' >acgt.alph
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ranks() { local n=$1; shift; "$mpirun" --allow-run-as-root --oversubscribe -np "$n" "$@"; }
masked() { grep -v '^User time' "$1"; }
same() { cmp -s <(masked "$1") <(masked "$2") || fail "$3: $1 and $2 differ"; }

two_boxes=(90 2 12 12 1 6 6 1 3 9 6 6 1)
delta_boxes=(90 2 12 12 1 6 6 1 3 9 2 6 6 1)

# motbox: result file and standard output, to a file and to "stdout".
mkdir one && (cd one && "$motbox" -t 1 ../acgt.alph "$fasta" res "${two_boxes[@]}" >out 2>/dev/null) ||
    fail "motbox -t 1"
"$motbox" -t 1 acgt.alph "$fasta" stdout "${two_boxes[@]}" >one.stdout 2>/dev/null || fail "motbox stdout"
for layout in "2 2" "3 1"; do
    read -r np threads <<<"$layout"
    dir=np$np
    mkdir "$dir"
    (cd "$dir" && ranks "$np" "$motbox_mpi" -t "$threads" ../acgt.alph "$fasta" res "${two_boxes[@]}" \
        >out 2>err) || fail "motbox-mpi -np $np: status $?"
    same one/res "$dir/res" "motbox-mpi -np $np result"
    same one/out "$dir/out" "motbox-mpi -np $np standard output"
    ranks "$np" "$motbox_mpi" -t "$threads" acgt.alph "$fasta" stdout "${two_boxes[@]}" >"$dir.stdout" \
        2>/dev/null || fail "motbox-mpi -np $np stdout: status $?"
    same one.stdout "$dir.stdout" "motbox-mpi -np $np to stdout"
    [ "$(grep -c '^\*\* Models extraction \*\*' "$dir/err")" = 1 ] || fail "one progress banner expected"
done
grep -q '^Nb models: [1-9]' one/res || fail "the comparison case writes no model"

# The ranking and its report are made by rank 0 from the same results: the same table and page, the
# command line and the run time aside.
(cd one && "$motbox" -t 1 --report r.html ../acgt.alph "$fasta" ranked "${two_boxes[@]}" >/dev/null 2>&1) ||
    fail "motbox --report"
(cd np2 && ranks 2 "$motbox_mpi" -t 1 --report r.html ../acgt.alph "$fasta" ranked "${two_boxes[@]}" \
    >/dev/null 2>&1) || fail "motbox-mpi --report: status $?"
cmp -s <(tail -n +2 one/r.tsv) <(tail -n +2 np2/r.tsv) || fail "motbox-mpi -np 2: other ranking table"
unrun() { grep -v -e '<dt>Run time</dt>' -e '<dt>Command line</dt>' "$1"; }
cmp -s <(unrun one/r.html) <(unrun np2/r.html) || fail "motbox-mpi -np 2: other report"
grep -q '<tr class="model"' one/r.html || fail "the report shows no model"

# motbox-delta: every window file, the .namefile and standard output.
mkdir delta1 && (cd delta1 && "$delta" -t 1 ../acgt.alph "$fasta" res "${delta_boxes[@]}" >out 2>/dev/null) ||
    fail "motbox-delta -t 1"
for np in 2 3; do
    dir=delta$np
    mkdir "$dir"
    (cd "$dir" && ranks "$np" "$delta_mpi" -t 2 ../acgt.alph "$fasta" res "${delta_boxes[@]}" >out 2>/dev/null) ||
        fail "motbox-delta-mpi -np $np: status $?"
    [ "$(ls -A delta1 | wc -l)" -ge 5 ] || fail "motbox-delta wrote too few files"
    for f in delta1/* delta1/.namefile; do same "$f" "$dir/$(basename "$f")" "motbox-delta-mpi -np $np"; done
    [ "$(ls -A delta1 | sort)" = "$(ls -A "$dir" | sort)" ] || fail "motbox-delta-mpi -np $np: other files"
done

# One process alone (no mpirun) is the plain program.
# Both strands: the cluster programs write what one process writes.
(mkdir strands1 && cd strands1 && "$motbox" -t 1 --both-strands ../acgt.alph "$fasta" res "${two_boxes[@]}" \
    >out 2>/dev/null && "$delta" -t 1 --both-strands ../acgt.alph "$fasta" dres "${delta_boxes[@]}" \
    >/dev/null 2>&1) || fail "both strands -t 1"
(mkdir strands2 && cd strands2 && ranks 2 "$motbox_mpi" -t 2 --both-strands ../acgt.alph "$fasta" res \
    "${two_boxes[@]}" >out 2>/dev/null && ranks 3 "$delta_mpi" -t 1 --both-strands ../acgt.alph "$fasta" dres \
    "${delta_boxes[@]}" >/dev/null 2>&1) || fail "both strands under mpirun"
grep -q "$(printf '\t-$')" strands1/res || fail "both strands: no occurrence on the - strand"
for f in strands1/* strands1/.namefile; do same "$f" "strands2/$(basename "$f")" "both strands under mpirun"; done

mkdir single && (cd single && "$motbox_mpi" -t 1 ../acgt.alph "$fasta" res "${two_boxes[@]}" >out 2>/dev/null) ||
    fail "motbox-mpi alone"
same one/res single/res "motbox-mpi alone"

# A refusal is reported once, with the plain program's message and status.
"$motbox" acgt.alph missing.fa res 90 1 6 6 0 >/dev/null 2>plain.err
plain_status=$?
ranks 3 "$motbox_mpi" acgt.alph missing.fa res 90 1 6 6 0 >/dev/null 2>cluster.err
cluster_status=$?
[ "$plain_status" = 1 ] && [ "$cluster_status" = 1 ] || fail "refusal status $plain_status / $cluster_status"
message=$(head -n 1 plain.err)
[ "$(grep -cF "$message" cluster.err)" = 1 ] || fail "refusal message not shown exactly once: $message"
[ "$(ranks 2 "$motbox_mpi" --version | grep -c '^motbox ')" = 1 ] || fail "--version once"

# One failing rank ends the run: rank 1 cannot read its FASTA file while rank 0 can.
"$mpirun" --allow-run-as-root --oversubscribe -np 1 "$motbox_mpi" acgt.alph "$fasta" res2 "${two_boxes[@]}" : \
    -np 1 "$motbox_mpi" acgt.alph missing.fa res2 "${two_boxes[@]}" >/dev/null 2>rank.err
status=$?
[ "$status" != 0 ] || fail "a failing rank must end the run with a non-zero status"
grep -qF "$message" rank.err || fail "the failing rank's message is not shown"

# A result file that cannot be written is an error on the writing rank.
ranks 2 "$motbox_mpi" acgt.alph "$fasta" /dev/full 90 1 6 6 0 >/dev/null 2>full.err
[ $? = 1 ] && grep -q "cannot write output file '/dev/full'" full.err || fail "write failure not reported"

[ "$failures" = 0 ] && echo "all cluster runs agree" || exit 1

#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan, leaks detected) and runs each one for SECONDS seconds
# (default 60), one after the other, from the seed corpora of tests/fuzz/corpus.  New inputs go to
# build-fuzz/corpus, findings to build-fuzz/findings; the script fails when a target found something.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_fasta fuzz_alphabet fuzz_result fuzz_cmdline fuzz_cmdline_delta fuzz_run fuzz_run_delta)

bash scripts/install-deps.sh clang libclang-rt-14-dev cmake ninja-build

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DMOTBOX_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"

seeds_of() {
    case $1 in
        fuzz_fasta) echo fasta ;;
        fuzz_alphabet) echo alphabet ;;
        fuzz_result) echo result ;;
        fuzz_cmdline | fuzz_cmdline_delta) echo cmdline ;;
        fuzz_run | fuzz_run_delta) echo run ;;
    esac
}
dict_of() {
    case $1 in
        fuzz_alphabet) echo tests/fuzz/alphabet.dict ;;
        fuzz_cmdline | fuzz_cmdline_delta | fuzz_run | fuzz_run_delta) echo tests/fuzz/cmdline.dict ;;
    esac
}

failed=()
mkdir -p build-fuzz/findings build-fuzz/logs
for t in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$t
    mkdir -p "$corpus"
    dict=$(dict_of "$t")
    log=build-fuzz/logs/$t.log
    # The programs write much on both standard streams: close_fd_mask keeps them out of the log.
    status=0
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "build-fuzz/tests/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
        -close_fd_mask=3 -print_final_stats=1 ${dict:+-dict="$dict"} \
        -artifact_prefix="$PWD/build-fuzz/findings/$t-" "$corpus" "tests/fuzz/corpus/$(seeds_of "$t")" \
        >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
    echo "$t: ${runs:-?} executions in ${seconds} s, ${cov:-cov: ?}, status $status"
    if [ "$status" -ne 0 ]; then
        failed+=("$t")
        tail -n 40 "$log"
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found problems in: ${failed[*]} (inputs in build-fuzz/findings)" >&2
    exit 1
fi

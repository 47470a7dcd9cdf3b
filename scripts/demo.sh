#!/usr/bin/env bash
# Builds motbox (Release) and runs it on the example promoter set: every
# model of 14 symbols over A, C, G, T, R (AG) and Y (CT), without the joker
# and without substitution, found in all 20 upstream regions.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh cmake ninja-build g++
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target motbox -j "$(nproc 2>/dev/null || echo 2)"
out=${1:-demo_result.txt}
./build/motbox/motbox examples/dna.alph examples/dm3_upstream_20.fa "$out" 100 1 14 14 0 0 1 '*' 0
echo
echo "Result file: $out (first lines below)"
head -n 12 "$out"

#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a Release build, then a
# Debug build with AddressSanitizer and UndefinedBehaviorSanitizer.
# MOTBOX_SKIP_SANITIZE=1 runs the Release pass only.  Where OpenMPI is
# installed (mpicxx and mpirun), the Release pass also builds the cluster
# programs and runs them under mpirun; where pybind11 and pytest are (Debian
# pybind11-dev python3-dev python3-pytest), it builds the Python package and
# runs its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh cmake ninja-build g++ libgtest-dev
jobs=$(nproc 2>/dev/null || echo 2)

run_pass() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

mpi=OFF
command -v mpicxx >/dev/null && command -v mpirun >/dev/null && mpi=ON
# The Python package and its tests, where pybind11 and pytest are installed for Debian's python3.
python=OFF
dpkg -s pybind11-dev python3-dev >/dev/null 2>&1 && /usr/bin/python3 -c 'import pytest' 2>/dev/null && python=ON
run_pass build -DCMAKE_BUILD_TYPE=Release -DMOTBOX_MPI=$mpi -DMOTBOX_PYTHON=$python
if [ "${MOTBOX_SKIP_SANITIZE:-0}" != 1 ]; then
    run_pass build-asan -DCMAKE_BUILD_TYPE=Debug -DMOTBOX_SANITIZE=ON
fi

#!/usr/bin/env bash
# Installs what the tests need, then builds the suite with warnings as
# errors in two configurations, Release and ASan+UBSan, and runs every test
# in both; then checks the install, the man pages, the Debian package and
# the GNU parallel example on the Release build (check-install.sh), runs the
# Slurm example on a one-node Slurm of its own (check-slurm.sh), and last
# builds the fuzz harnesses with clang and fuzzes each briefly (fuzz-ci.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-test-deps.sh
jobs=${PV_JOBS:-2}
# The readers were installed above: a test that misses one fails, never skips.
export PV_REQUIRE_READERS=1

run_config() {  # name, cmake options...
  local dir=build-$1
  shift
  cmake -S . -B "$dir" -DPV_WERROR=ON -DPV_BUILD_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_config release -DCMAKE_BUILD_TYPE=Release -DPV_BUILD_BENCH=ON
run_config asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPV_SANITIZE=ON
scripts/check-install.sh build-release
scripts/check-slurm.sh build-release
scripts/fuzz-ci.sh

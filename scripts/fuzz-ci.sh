#!/usr/bin/env bash
# Builds every fuzz harness with clang and libFuzzer (ASan+UBSan) in
# build-fuzz, then for each target the build defines replays its seed corpus
# and fuzzes it for PV_FUZZ_SECONDS (20) seconds. Any finding fails the run.
# PV_FUZZ_SECONDS=0 skips all of it (the tests replay every seed corpus
# anyway).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-fuzz
seconds=${PV_FUZZ_SECONDS:-20}
if [ "$seconds" = 0 ]; then
  echo "fuzz-ci: PV_FUZZ_SECONDS=0, no fuzzing"
  exit 0
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DPV_BUILD_FUZZ=ON -DPV_SANITIZE=ON >/dev/null
cmake --build "$dir" -j "${PV_JOBS:-2}"
shopt -s nullglob
targets=("$dir"/fuzz/*.corpus)
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets built" >&2; exit 1; }
for t in "${targets[@]}"; do
  scripts/fuzz-campaign.sh "$(basename "$t" .corpus)" "$seconds"
done

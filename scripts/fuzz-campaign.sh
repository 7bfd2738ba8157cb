#!/usr/bin/env bash
# scripts/fuzz-campaign.sh TARGET SECONDS
#
# Builds one libFuzzer harness (clang, ASan+UBSan) in build-fuzz, replays
# its seed corpus, then fuzzes it for SECONDS on one core (0: the replay
# only). New inputs
# collect in build-fuzz/work/TARGET (kept, so campaigns add up); a crash,
# hang (10 s), leak or sanitizer report is written to
# build-fuzz/findings/TARGET/ and ends the script with a failure. A finding
# belongs in the target's seed corpus (see build-fuzz/fuzz/TARGET.corpus)
# once it is fixed.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage : scripts/fuzz-campaign.sh TARGET SECONDS" >&2; exit 2; }
target=$1
seconds=$2
cd "$(dirname "$0")/.."
dir=build-fuzz
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DPV_BUILD_FUZZ=ON -DPV_SANITIZE=ON >/dev/null
fi
cmake --build "$dir" -j "${PV_JOBS:-2}" --target "$target" >/dev/null
seeds=$(cat "$dir/fuzz/$target.corpus")
work=$dir/work/$target
findings=$dir/findings/$target
mkdir -p "$work" "$findings"
options=(-timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1
         "-artifact_prefix=$findings/")

echo "== $target: replaying $seeds"
"$dir/fuzz/$target" "${options[@]}" -runs=0 "$seeds" >"$findings/last.log" 2>&1 \
  || { tail -n 60 "$findings/last.log"; exit 1; }
grep -E "INITED" "$findings/last.log" || true
if [ "$seconds" = 0 ]; then exit 0; fi  # the replay alone
echo "== $target: fuzzing for $seconds s"
"$dir/fuzz/$target" "${options[@]}" -max_total_time="$seconds" "$work" "$seeds" \
  >"$findings/last.log" 2>&1 || { tail -n 60 "$findings/last.log"; exit 1; }
grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)|^Done" \
  "$findings/last.log"

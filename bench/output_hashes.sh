#!/usr/bin/env bash
# The observable results of a fixed corpus of runs of all six programs, as
# SHA-256 hashes: every file each run leaves, its standard output, standard
# error and exit status. Two builds that print the same list behave the same
# on the corpus; the list is compared before and after every change that is
# meant to change only speed or structure.
#
# Usage: bench/output_hashes.sh BUILD_DIR [PERF_INPUTS_DIR] > hashes.txt
#   BUILD_DIR        a build of the suite (its tools/ and tests/demo/demo_tool)
#   PERF_INPUTS_DIR  the inputs of the performance yardstick (made by its
#                    gen_inputs.py; the recorded list uses PVPERF_SIZE=small);
#                    its jobs are added to the corpus when given
set -uo pipefail
build=$(cd "$1" && pwd)
perf=${2:-}
bin=$build/tools
tool=$build/tests/demo/demo_tool
# A fixed place: the messages name the input files by their paths.
work=${TMPDIR:-/tmp}/pvtools-output-hashes
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

n=0
# run NAME PROGRAM ARGS...: runs in a fresh directory out/NAME, then hashes
# what it left there, its output streams and its status.
run() {
  local name=$1 prog=$2
  shift 2
  local dir=$work/out/$name
  mkdir -p "$dir"
  (cd "$dir" && "$bin/$prog" "$@" >"$work/stdout" 2>"$work/stderr"; echo "exit $?" >"$work/status")
  printf '%s status %s\n' "$name" "$(cat "$work/status")"
  printf '%s stdout %s\n' "$name" "$(sha256sum <"$work/stdout" | cut -c1-64)"
  printf '%s stderr %s\n' "$name" "$(sha256sum <"$work/stderr" | cut -c1-64)"
  (cd "$dir" && find . -type f | LC_ALL=C sort | while read -r f; do
     printf '%s file %s %s\n' "$name" "$f" "$(sha256sum <"$f" | cut -c1-64)"; done)
  n=$((n + 1))
}

# Inputs: the demo's phantom and what the programs make of it, plus broken files.
in=$work/in
mkdir -p "$in/float" "$in/int8" "$in/int4" "$in/mixed"
"$tool" phantom "$in/phantom.bin" 96 80 5 >/dev/null
"$tool" phantom "$in/wide.bin" 3000 3 2 >/dev/null
"$bin/pvsplit" "$in/phantom.bin" "$in/float/slice%03d.tif" >/dev/null
for f in "$in"/float/*.tif; do
  s=$(basename "$f")
  "$bin/pvquant" "$f" 8 "$in/int8/$s" >/dev/null
  "$bin/pvquant" "$f" 4 "$in/int4/$s" >/dev/null
done
cp "$in/float/slice000.tif" "$in/mixed/a1.tif"
cp "$in/int8/slice001.tif" "$in/mixed/a2.tif"
"$bin/pvsplit" "$in/wide.bin" "$in/mixed/b%d.tif" >/dev/null
head -c 1500 "$in/int8/slice002.tif" >"$in/mixed/c_truncated.tif"
head -c 300 "$in/float/slice003.tif" >"$in/truncated_f32.tif"
head -c 1000 "$in/phantom.bin" >"$in/truncated.bin"
head -c 200000 "$in/phantom.bin" >"$in/cut_in_slice_3.bin"
ls "$in/float" >"$in/float.names"
printf 'slice004.tif\nslice000.tif\n\n  slice002.tif trailing words\n' >"$in/few.names"
printf 'a1.tif\na2.tif\nc_truncated.tif\nb0.tif\n' >"$in/broken.names"

# pvsplit
run split-demo pvsplit "$in/phantom.bin" 's%03d.tif'
run split-wide pvsplit "$in/wide.bin" 'w%d.tif'
run split-stdin pvsplit - 'x%02d.tif' <"$in/phantom.bin"
run split-truncated pvsplit "$in/truncated.bin" 't%d.tif'
run split-cut pvsplit "$in/cut_in_slice_3.bin" 'c%d.tif'
run split-cut-stdin pvsplit - 'c%d.tif' <"$in/cut_in_slice_3.bin"
run split-usage pvsplit "$in/phantom.bin"
run split-badformat pvsplit "$in/phantom.bin" 'a%s.tif'
run split-missing pvsplit "$in/none.bin" 'a%d.tif'
run split-full pvsplit "$in/phantom.bin" /dev/full
# pvquant
for bps in 1 4 8 12 16; do
  run "quant-derived-$bps" pvquant "$in/float/slice002.tif" "$bps" q.tif
  run "quant-given-$bps" pvquant "$in/float/slice002.tif" -0.5 0.01 "$bps" q.tif
done
run quant-from-int pvquant "$in/int8/slice001.tif" 4 q.tif
run quant-wide pvquant "$in/mixed/b1.tif" 16 q.tif
run quant-badbps pvquant "$in/float/slice002.tif" 17 q.tif
run quant-badstep pvquant "$in/float/slice002.tif" 0 0 8 q.tif
run quant-truncated pvquant "$in/truncated_f32.tif" 8 q.tif
run quant-missing pvquant "$in/none.tif" 8 q.tif
run quant-usage pvquant "$in/float/slice002.tif" 8
run quant-full pvquant "$in/float/slice002.tif" 8 /dev/full
# pvexpand, three builds
for p in pvexpand pvexpand-nolzw pvexpand-fast; do
  run "$p-8" "$p" "$in/int8/slice003.tif" -0.25 0.002 e.tif
  run "$p-4" "$p" "$in/int4/slice003.tif" 1 -0.5 e.tif
  run "$p-wide" "$p" "$in/mixed/b0.tif" 0 1 e.tif
  run "$p-truncated" "$p" "$in/mixed/c_truncated.tif" 0 1 e.tif
  run "$p-float" "$p" "$in/float/slice000.tif" 0 1 e.tif
  run "$p-full" "$p" "$in/int8/slice003.tif" 0 1 /dev/full
  run "$p-usage" "$p" "$in/int8/slice003.tif" 0 1
done
run expand-fast-stdout pvexpand-fast "$in/int8/slice003.tif" 0 1 -
# pvstack
run stack-single pvstack "$in/float/slice001.tif" v.bin
run stack-single-int pvstack "$in/int8/slice001.tif" v.bin
run stack-names pvstack "$in/float" "$in/float.names" v.bin
run stack-few pvstack "$in/float" "$in/few.names" v.bin
run stack-inline pvstack "$in/float" "-slice004.tif slice000.tif" v.bin
run stack-listing pvstack "$in/int8" - v.bin
run stack-listing-r pvstack "$in/int4" --r v.bin
run stack-listing-n pvstack "$in/mixed" --n v.bin
run stack-listing-nr pvstack "$in/float" --nr v.bin
run stack-stdout pvstack "$in/float" "$in/float.names" -
run stack-broken pvstack "$in/mixed" "$in/broken.names" v.bin
run stack-badsort pvstack "$in/float" --x v.bin
run stack-nonames pvstack "$in/float" "$in/none.names" v.bin
run stack-usage pvstack "$in/float"
run stack-full pvstack "$in/float" "$in/float.names" /dev/full
# Stacks in one file: the phantom as one file of 5 pages, and what the
# programs make of it.
"$bin/pvsplit" "$in/phantom.bin" "$in/stack.tif" >/dev/null
"$bin/pvquant" "$in/stack.tif" 8 "$in/stack8.tif" >/dev/null
run split-stack pvsplit "$in/phantom.bin" stack.tif
run split-stack-stdout pvsplit "$in/phantom.bin" -
run quant-stack pvquant "$in/stack.tif" 8 q.tif
run quant-stack-given pvquant "$in/stack.tif" -0.5 0.5 12 q.tif
for p in pvexpand pvexpand-nolzw pvexpand-fast; do
  run "$p-stack" "$p" "$in/stack8.tif" -0.25 0.002 e.tif
done
run stack-stack pvstack "$in/stack8.tif" v.bin
run stack-stack-listed pvstack "$in" "-stack.tif stack8.tif" v.bin

# The yardstick's jobs on its small inputs.
if [ -n "$perf" ]; then
  p=$(cd "$perf" && pwd)
  base=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["u16_base"])' "$p/params.json")
  step=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["u16_step"])' "$p/params.json")
  run perf-split pvsplit "$p/vol.bin" 's%03d.tif'
  run perf-quant-16 pvquant "$p/big_f32.tif" 16 q.tif
  run perf-quant-8 pvquant "$p/big_f32.tif" 8 q.tif
  base8=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["u8_base"])' "$p/params.json")
  step8=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["u8_step"])' "$p/params.json")
  for e in pvexpand pvexpand-nolzw pvexpand-fast; do
    run "perf-$e" "$e" "$p/big_u16.tif" "$base" "$step" e.tif
    run "perf-$e-8" "$e" "$p/big_u8.tif" "$base8" "$step8" e.tif
  done
  run perf-stack-f32 pvstack "$p/slices_f32" "$p/slices_f32.names" v.bin
  run perf-stack-stack pvstack "$p/stack_f32.tif" v.bin
  run perf-stack-u16 pvstack "$p/slices_u16" "$p/slices_u16.names" v.bin
fi
echo "runs $n"

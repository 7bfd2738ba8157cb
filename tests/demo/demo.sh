#!/usr/bin/env bash
# The suite's demo round trip on a synthetic volume:
#   phantom volume -> pvsplit -> float slices
#   float slices   -> pvquant (8 bits, derived mapping) -> integer slices
#   integer slices -> pvexpand (base and step from pvquant) -> float slices,
#                     checked against the originals within half a step
#   slices         -> pvstack (name file, inline list, numeric sort) -> volumes,
#                     and one volume cut again with pvsplit
#   phantom volume -> pvsplit -> a stack in one file -> pvquant (one mapping
#                     for the stack) -> pvstack (every page) -> a volume,
#                     checked against the float slices within half a step
# Usage: tests/demo/demo.sh [build-dir]   (default: build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
bin=$build/tools
tool=$build/tests/demo/demo_tool
work=$build/demo
rm -rf "$work"
mkdir -p "$work"/{float,int8,expanded,check}
cd "$work"
have() { [ -x "$bin/$1" ]; }

echo "== a synthetic 96 x 80 volume of 5 slices"
"$tool" phantom phantom.bin 96 80 5
head -n 1 phantom.bin

echo "== pvsplit: one floating-point TIFF per slice; the range of the volume"
"$bin/pvsplit" phantom.bin float/slice%03d.tif
ls -l float | tail -n +2 | awk '{print "   ", $5, $9}'

if have pvquant; then
  echo "== pvquant: each slice to 8 bits with the derived mapping (its min and max)"
  for f in float/*.tif; do
    s=$(basename "$f")
    printf '   %s: ' "$s"
    "$bin/pvquant" "$f" 8 "int8/$s" | tee "int8/${s%.tif}.range"
  done
fi

if have pvquant && have pvexpand; then
  echo "== pvexpand: back to floating point; largest difference against half a step"
  for f in float/*.tif; do
    s=$(basename "$f")
    read -r lo hi < "int8/${s%.tif}.range"
    step=$(awk -v lo="$lo" -v hi="$hi" 'BEGIN { printf "%.17g", (hi - lo) / 255 }')
    "$bin/pvexpand" "int8/$s" "$lo" "$step" "expanded/$s"
    if have pvstack; then
      "$bin/pvstack" "$f" check/original.bin >/dev/null
      "$bin/pvstack" "expanded/$s" check/expanded.bin >/dev/null
      printf '   %s: ' "$s"
      "$tool" diff check/original.bin check/expanded.bin "$step"
    fi
  done
fi

if have pvstack; then
  echo "== pvstack: the float slices through a name file"
  ls float > names.txt
  "$bin/pvstack" float/ names.txt stacked.bin
  printf '   against the phantom (float32 rounding only): '
  "$tool" diff phantom.bin stacked.bin
  echo "== pvstack: two slices by an inline list, in the order given"
  "$bin/pvstack" float "-slice004.tif slice000.tif" pair.bin
  head -n 1 pair.bin
  if have pvquant; then
    echo "== pvstack: the 8-bit slices by numeric sort, mapped back by their descriptions"
    rm -f int8/*.range
    "$bin/pvstack" int8 --n int8.bin 2> int8.log
    echo "   $(grep -c 'converting PV by TIFF image description tag' int8.log) slices converted by their description"
  fi
  echo "== pvsplit again: the stacked volume cut into slices"
  "$bin/pvsplit" stacked.bin check/again%03d.tif
  ls check | grep -c again | sed 's/^/    slices: /'
fi
if have pvquant && have pvstack; then
  echo "== a stack in one file: pvsplit with one name, a page a slice"
  "$bin/pvsplit" phantom.bin stack.tif >/dev/null
  printf '   pvquant, one mapping for all its pages: '
  "$bin/pvquant" stack.tif 8 stack8.tif | tee stack8.range
  "$bin/pvstack" stack8.tif stack8.bin 2>/dev/null >/dev/null
  printf '   pvstack, every page: %s\n' "$(head -n 1 stack8.bin)"
  read -r lo hi < stack8.range
  # Half a step, give or take a hundredth: a page whose own range maps its
  # codes as closely as the stack's keeps its own description.
  step=$(awk -v lo="$lo" -v hi="$hi" 'BEGIN { printf "%.17g", (hi - lo) / 255 * 1.02 }')
  printf '   against the float slices: '
  "$tool" diff stacked.bin stack8.bin "$step"
fi
echo "== demo finished in $work"

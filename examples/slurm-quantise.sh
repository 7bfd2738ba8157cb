#!/usr/bin/env bash
#SBATCH --job-name=pvquant
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
#SBATCH --time=00:30:00
# Quantises the slices of one volume with pvquant as a Slurm job array, one
# slice per task, all with one mapping: the volume's range MIN .. MAX (as
# pvsplit prints it) spread over the codes of BITS bits, base MIN and step
# (MAX - MIN) / (2^BITS - 1). So every slice has the same scale, and the
# result is the same as a serial loop of pvquant with that base and step,
# byte for byte. Each slice states that base and step as its description,
# so pvstack turns the slices back into one volume of values.
#
# Usage: sbatch --array=0-(N-1) slurm-quantise.sh IN_DIR OUT_DIR MIN MAX [BITS]
#   IN_DIR   the N slices (*.tif) of the volume; task i takes the i-th in
#            name order, and an array of another size than N is refused
#   OUT_DIR  gets one integer slice of the same name per slice (made if
#            missing)
#   BITS     bits per sample, 1 to 16 (default 8)
# For example, after range=$(pvsplit ct.bin float/slice%04d.tif):
#   sbatch --array=0-$(($(ls float | wc -l) - 1)) slurm-quantise.sh float int8 $range
# and afterwards the volume again: pvstack int8 --n ct8.bin
# IN_DIR and OUT_DIR must be on a file system that the compute nodes share,
# and pvquant installed on them (or named by PVQUANT).
set -euo pipefail

usage="usage: sbatch --array=0-(N-1) slurm-quantise.sh IN_DIR OUT_DIR MIN MAX [BITS]"
[ $# -eq 4 ] || [ $# -eq 5 ] || { echo "$usage" >&2; exit 2; }
in=$1 out=$2 min=$3 max=$4 bits=${5:-8}
pvquant=${PVQUANT:-pvquant}
# The task's place in the array, from 0, whatever the array's first index.
task=$((${SLURM_ARRAY_TASK_ID:?not run as a Slurm job array} - ${SLURM_ARRAY_TASK_MIN:-0}))
tasks=${SLURM_ARRAY_TASK_COUNT:?not run as a Slurm job array}

mapfile -d '' slices < <(find "$in" -maxdepth 1 -type f -name '*.tif' -print0 | LC_ALL=C sort -z)
if [ "$tasks" -ne ${#slices[@]} ]; then
  echo "slurm-quantise.sh: an array of $tasks tasks for ${#slices[@]} slices in $in" >&2
  exit 1
fi
# One step for all tasks, to 17 significant digits (the double exactly);
# a volume of one value gets step 1, as pvquant's own mapping does.
step=$(awk -v lo="$min" -v hi="$max" -v bits="$bits" \
  'BEGIN { printf "%.17g", (hi > lo ? (hi - lo) / (2 ^ bits - 1) : 1) }')
mkdir -p "$out"
f=${slices[$task]}
"$pvquant" "$f" "$min" "$step" "$bits" "$out/${f##*/}"

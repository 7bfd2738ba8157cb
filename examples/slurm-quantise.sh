#!/usr/bin/env bash
#SBATCH --job-name=pvquant
#SBATCH --array=0-99
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
#SBATCH --time=00:30:00
# Quantises every slice of a directory with pvquant as a Slurm job array.
# Task i of an array of N tasks takes the slices i, i + N, i + 2N, ... in
# name order, so any number of tasks covers any number of slices; each
# task writes its slices' ranges to OUT_DIR/ranges.ID.tsv (ID: its array
# index).
#
# Usage: sbatch [--array=0-(N-1)] slurm-quantise.sh IN_DIR OUT_DIR [BITS]
#   then, when the array has finished:
#   LC_ALL=C sort -m OUT_DIR/ranges.*.tsv > OUT_DIR/ranges.tsv
# IN_DIR and OUT_DIR must be on a file system that the compute nodes
# share, and pvquant installed on them (or named by PVQUANT).
set -euo pipefail

in=${1:?usage: sbatch slurm-quantise.sh IN_DIR OUT_DIR [BITS]}
out=${2:?usage: sbatch slurm-quantise.sh IN_DIR OUT_DIR [BITS]}
bits=${3:-8}
pvquant=${PVQUANT:-pvquant}
# The task's place in the array, from 0, whatever the array's first index.
task=$((${SLURM_ARRAY_TASK_ID:?not run as a Slurm job array} - ${SLURM_ARRAY_TASK_MIN:-0}))
tasks=${SLURM_ARRAY_TASK_COUNT:?not run as a Slurm job array}
mkdir -p "$out"

i=0
while IFS= read -r -d '' f; do
  if [ $((i % tasks)) -eq "$task" ]; then
    name=${f##*/}
    printf '%s\t' "$name"
    "$pvquant" "$f" "$bits" "$out/$name"
  fi
  i=$((i + 1))
done < <(find "$in" -maxdepth 1 -type f -name '*.tif' -print0 | LC_ALL=C sort -z) \
  > "$out/ranges.$SLURM_ARRAY_TASK_ID.tsv"

#!/usr/bin/env bash
# Quantises every slice of a directory with pvquant, many slices at a time,
# with GNU parallel (Debian package "parallel"). Each slice is one pvquant
# process, so the result is the same as a loop over the slices, byte for
# byte, however many jobs run.
#
# Usage: parallel-quantise.sh [-j JOBS] [-b BITS] [-S LOGINS] IN_DIR OUT_DIR
#   IN_DIR   the slices (*.tif), for example the floating-point slices
#            that pvsplit writes
#   OUT_DIR  gets one integer slice of the same name per slice (made if
#            missing), and ranges.tsv: per slice, in name order, its name,
#            minimum and maximum (TAB-separated), as pvquant prints them
#   -j JOBS  slices at once on each machine (default: one per core)
#   -b BITS  bits per sample, 1 to 16 (default 8)
#   -S LOGINS  other machines too, as GNU parallel's --sshlogin takes them
#            (":" is this machine), for example ":,node1,2/node2"; every
#            machine must see IN_DIR and OUT_DIR at the same path (a shared
#            file system) and have pvquant
# PVQUANT names the pvquant to run (default: pvquant on the PATH).
# The first failed slice stops the run: its message is shown, the jobs
# still running are stopped, and the exit status is not 0.
set -euo pipefail

usage() {
  echo "usage: ${0##*/} [-j JOBS] [-b BITS] [-S LOGINS] IN_DIR OUT_DIR" >&2
  exit 2
}

jobs=100%
bits=8
logins=()
while getopts "j:b:S:" opt; do
  case $opt in
    j) jobs=$OPTARG ;;
    b) bits=$OPTARG ;;
    S) logins=(--sshlogin "$OPTARG") ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 2 ] || usage

pvquant=${PVQUANT:-pvquant}
command -v "$pvquant" >/dev/null || { echo "${0##*/}: $pvquant not found" >&2; exit 1; }
command -v parallel >/dev/null || { echo "${0##*/}: GNU parallel not found" >&2; exit 1; }
in=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)

# One job per slice, in name order: "--keep-order" prints the ranges in that
# order, "--tagstring {/}" puts the slice's name and a TAB before its range,
# "--quote" passes each argument as it is (names with blanks included).
find "$in" -maxdepth 1 -type f -name '*.tif' -print0 | LC_ALL=C sort -z |
  parallel --null --keep-order --halt now,fail=1 --jobs "$jobs" "${logins[@]}" \
    --tagstring '{/}' --quote "$pvquant" {} "$bits" "$out/{/}" > "$out/ranges.tsv"

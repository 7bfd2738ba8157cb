#!/usr/bin/env bash
# examples/slurm-quantise.sh on a real Slurm: a one-node cluster of this
# machine, started here with a throwaway configuration in a temporary folder
# (munged with its own key, socket and files; slurmctld and slurmd in the
# foreground), and stopped by their process ids on every way out. The job
# array quantises the demo's slices with the volume's range, one slice per
# task, and its files must equal a serial loop's, byte for byte.
# Installs slurm-wlm and munge (Debian) when they are missing; needs root,
# as the daemons run as root.
# Usage: scripts/check-slurm.sh [build-dir]   (default: build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
build=$(cd "${1:-build-release}" && pwd)
bin=$build/tools
fail() {
  echo "check-slurm: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "the Slurm daemons of this check run as root"

missing=()
for p in slurm-wlm munge; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi

demo=$build/demo
[ -f "$demo/phantom.bin" ] || tests/demo/demo.sh "$build" >/dev/null

work=$(mktemp -d /tmp/pvtools-slurm.XXXXXX)
pids=()
stop() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap stop EXIT
trap "exit 1" INT TERM
# On failure, the daemons' logs say why.
show_logs() {
  local log
  for log in "$work"/*.log; do
    [ -f "$log" ] && { echo "--- ${log##*/}"; tail -n 20 "$log"; }
  done >&2
}
trap 'show_logs' ERR

echo "== munged, slurmctld and slurmd on a throwaway configuration"
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge.key"
munged --foreground --force --key-file="$work/munge.key" --socket="$work/munge.socket" \
  --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munged.seed" \
  >"$work/munged-console.log" 2>&1 &
pids+=($!)

# Two free ports, so that a Slurm already on this machine is left alone.
read -r ctld_port node_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
host=$(hostname -s)
mkdir -p "$work/state" "$work/spool"
export SLURM_CONF=$work/slurm.conf
cat > "$SLURM_CONF" <<EOF
ClusterName=pvcheck
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$node_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge.socket
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=check Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
for _ in $(seq 50); do [ -S "$work/munge.socket" ] && break; sleep 0.1; done
[ -S "$work/munge.socket" ] || fail "munged did not start"
slurmctld -D -i >>"$work/slurmctld.log" 2>&1 &
pids+=($!)
slurmd -D >>"$work/slurmd.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  state=$(sinfo -h -n "$host" -o %T 2>/dev/null || true)
  [ "$state" = idle ] && break
  sleep 0.2
done
[ "$state" = idle ] || { show_logs; fail "node $host not idle (${state:-no answer})"; }
echo "   node $host idle, $(nproc) CPUs"

echo "== sbatch --wait --array: one slice per task, one mapping for the volume"
mkdir "$work/float"
read -r lo hi < <("$bin/pvsplit" "$demo/phantom.bin" "$work/float/slice%03d.tif")
n=$(find "$work/float" -name '*.tif' | wc -l)
(cd "$work" && PVQUANT=$bin/pvquant sbatch --quiet --wait --array=0-$((n - 1)) \
   --output="$work/task-%a.out" "$repo/examples/slurm-quantise.sh" float slurm "$lo" "$hi") ||
  { cat "$work"/task-*.out >&2; fail "the job array failed"; }
[ -z "$(cat "$work"/task-*.out)" ] || { cat "$work"/task-*.out >&2; fail "the tasks printed something"; }

# The same by hand, one slice after the other.
step=$(awk -v lo="$lo" -v hi="$hi" 'BEGIN { printf "%.17g", (hi - lo) / 255 }')
mkdir "$work/serial"
for f in "$work"/float/*.tif; do
  "$bin/pvquant" "$f" "$lo" "$step" 8 "$work/serial/${f##*/}"
done
diff -r "$work/serial" "$work/slurm" || fail "Slurm and serial results differ"
echo "   $n slices by $n tasks byte-identical to a serial loop"
# The slices state their mapping: pvstack gives the volume back within half a
# step (plus a tenth for the text of the numbers).
"$bin/pvstack" "$work/slurm" --n "$work/back.bin" >/dev/null 2>"$work/stack.err" ||
  fail "pvstack of the quantised slices failed: $(cat "$work/stack.err")"
"$bin/pvstack" "$work/float" --n "$work/float.bin" >/dev/null
/usr/bin/python3 - "$work/float.bin" "$work/back.bin" "$step" <<'PY' || fail "the volume did not come back"
import sys
import numpy as np
def volume(path):
    with open(path, "rb") as f:
        f.readline()
        return np.frombuffer(f.read(), "<f8")
a, b, step = volume(sys.argv[1]), volume(sys.argv[2]), float(sys.argv[3])
worst = np.abs(a - b).max()
print(f"   pvstack gives the volume back within {worst:.6g} (half a step {step / 2:.6g})")
sys.exit(0 if a.size == b.size and worst <= step * 0.51 else 1)
PY

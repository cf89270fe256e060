#!/usr/bin/env bash
# End-to-end test of a sharded run on a real Slurm: a one-machine cluster
# (munged, slurmctld, slurmd) in a temporary folder, the example least-cost
# study submitted with examples/slurm/submit.sh as a 4-task job array plus the
# merge job, and the merged report and corridor map compared byte for byte
# with a one-machine run.
#
#   tests/cluster/slurm_test.sh [BUILD_DIR]     (as root; ./build.sh cluster-test)
#
# KEEP=1 keeps the temporary folder (configuration, daemon logs, job output).
# STUDY=bench runs the benchmark study instead (the 1000 x 1000 landscape and
# 30 points of bench/threads.sh, BENCH_WIDTH least-cost paths per pair, 25 by
# default) and prints the speed-up of the job array over one process on one
# thread.
# Every daemon started here is stopped by its process id when the script ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
cli="$(cd "$build" && pwd)/cli/stravex-cli"
shards=4
started=$SECONDS

say() { echo "cluster-test: $*"; }
fail() { echo "cluster-test: FAIL: $*" >&2; exit 1; }

[ -x "$cli" ] || fail "$cli not found; build first"
[ "$(id -u)" -eq 0 ] || fail "must run as root (the daemons run as root)"
for tool in munged mungekey slurmctld slurmd sbatch scontrol sinfo scancel squeue; do
  command -v "$tool" > /dev/null || fail "$tool not found (apt-get install slurm-wlm munge)"
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/stravex-slurm.XXXXXX")
# munged refuses a socket in a folder that not everyone may traverse.
chmod 755 "$tmp"
mkdir -p "$tmp"/{munge,state,spool,log,run}
pids=()       # daemons started here, stopped in this order's reverse
status=1      # what the EXIT trap reports unless the test gets to its end

show_logs() {
  local f
  for f in "$tmp"/munge/munged.log "$tmp"/log/*.log "$tmp"/land/*.out; do
    [ -f "$f" ] || continue
    echo "----- ${f#"$tmp"/} (last 40 lines)" >&2
    tail -n 40 "$f" >&2
  done
}

stop_pid() {  # pid: TERM, up to 10 s, then KILL
  local pid=$1 i
  kill "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  echo "cluster-test: process $pid did not end on SIGTERM, killing it" >&2
  kill -9 "$pid" 2>/dev/null || true
}

cleanup() {
  local code=$? i
  if [ "$status" -ne 0 ] && [ "$code" -eq 0 ]; then code=1; fi
  # Jobs first, so that no job step outlives its slurmd.
  if [ ${#pids[@]} -ge 2 ]; then
    timeout 15 scancel --quiet --user=root 2>/dev/null || true
    for ((i = 0; i < 30; i++)); do
      [ -z "$(timeout 10 squeue --noheader 2>/dev/null)" ] && break
      sleep 0.5
    done
  fi
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
  if [ "$code" -ne 0 ]; then
    show_logs
    echo "cluster-test: FAIL ($((SECONDS - started)) s)" >&2
  fi
  if [ -n "${KEEP:-}" ]; then
    echo "cluster-test: kept $tmp" >&2
  else
    rm -rf "$tmp"
  fi
  exit "$code"
}
trap cleanup EXIT
trap 'echo "cluster-test: interrupted" >&2; exit 130' INT TERM

wait_for() {  # seconds, description, command...: polls the command every half second
  local limit=$1 what=$2 end
  shift 2
  end=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || fail "timed out after $limit s waiting for $what"
    sleep 0.5
  done
}

daemon_pid() {  # pid file: the pid once the file holds a live one
  local pid
  pid=$(cat "$1" 2>/dev/null) || return 1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}

start_daemon() {  # name, pid file, command...: starts a forking daemon, records its pid
  local name=$1 pidfile=$2 pid
  shift 2
  "$@" || fail "$name did not start (status $?)"
  wait_for 20 "$name's pid file" test -s "$pidfile"
  pid=$(daemon_pid "$pidfile") || fail "$name ended right after its start"
  pids+=("$pid")
  say "$name running (pid $pid)"
}

# ---- munge: its own key, socket, pid file and log
mungekey --create --keyfile="$tmp/munge/munge.key"
socket="$tmp/munge/munge.socket"
start_daemon munged "$tmp/munge/munged.pid" munged --socket="$socket" \
  --key-file="$tmp/munge/munge.key" --pid-file="$tmp/munge/munged.pid" \
  --log-file="$tmp/munge/munged.log" --seed-file="$tmp/munge/munged.seed"
munge --socket="$socket" --no-input | unmunge --socket="$socket" > /dev/null ||
  fail "munged does not encode and decode credentials"

# ---- slurm.conf for this one machine
host=$(hostname -s)
# What slurmd finds on this machine: CPUs, sockets, cores, threads, RealMemory.
hardware=$(slurmd -C | head -n 1 | sed 's/^NodeName=[^ ]* //')
[[ $hardware == *RealMemory=* ]] || fail "slurmd -C gave no hardware line: $hardware"
# Two free TCP ports, so that another Slurm on this machine is no obstacle.
read -r ctld_port slurmd_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')
cat > "$tmp/slurm.conf" <<EOF
ClusterName=stravextest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/run/slurmctld.pid
SlurmdPidFile=$tmp/run/slurmd.pid
SlurmctldLogFile=$tmp/log/slurmctld.log
SlurmdLogFile=$tmp/log/slurmd.log
PlugStackConfig=$tmp/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MailProg=/bin/true
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
NodeName=$host NodeAddr=127.0.0.1 $hardware State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
: > "$tmp/plugstack.conf"
# Options and job variables of an outer Slurm (sbatch reads SBATCH_*) stay out.
while read -r name; do unset "$name"; done < <(compgen -e | grep -E '^(SLURM|SBATCH)_' || true)
# Every Slurm command below, and the jobs, read this file.
export SLURM_CONF="$tmp/slurm.conf"

# ---- the controller (state cleared) and the node daemon
start_daemon slurmctld "$tmp/run/slurmctld.pid" slurmctld -f "$SLURM_CONF" -c
start_daemon slurmd "$tmp/run/slurmd.pid" slurmd -f "$SLURM_CONF"
node_idle() { [ "$(timeout 10 sinfo --noheader --nodes="$host" -o %T 2>/dev/null)" = idle ]; }
wait_for 60 "node $host to be idle in sinfo" node_idle
say "node $host idle after $((SECONDS - started)) s ($hardware)"

# ---- the study: the example landscape, a least-cost matrix with a corridor map
land="$tmp/land"
export STRAVEX="$cli" SHARDS=$shards OUT="$tmp/cluster" PROJECT=cluster
if [ "${STUDY:-}" = bench ]; then
  mkdir -p "$land"
  python3 "$root/bench/bench_landscape.py" "$land"
  export BINARY=forest QUANTITATIVE=cover DATA=samples.txt ALGORITHM=least-cost
  export FRICTION=friction WIDTH=${BENCH_WIDTH:-25} CORRIDOR=corridors OPTIONS="--seed 17"
  single_threads=1
else
  cp -r "$root/examples/landscape" "$land"
  export BINARY="forest_BL roads_NB" QUANTITATIVE=cover_QT DATA=samples.txt ALGORITHM=least-cost
  export FRICTION=friction WIDTH=5 CORRIDOR=corridors OPTIONS="--seed 17"
  single_threads=0
fi
submit_time=$SECONDS
# One CPU per task so that two tasks share the two cores; little memory and
# time, so that any machine can take the jobs.
submitted=$(cd "$land" && timeout 60 "$root/examples/slurm/submit.sh" \
  --cpus-per-task=1 --mem=256M --time=10) || fail "submit.sh failed: $submitted"
echo "$submitted"
array_id=$(sed -n 's/^array job: \([0-9]*\)$/\1/p' <<< "$submitted")
merge_id=$(sed -n 's/^merge job: \([0-9]*\)$/\1/p' <<< "$submitted")
[ -n "$array_id" ] && [ -n "$merge_id" ] || fail "submit.sh printed no job ids"

job_states() {  # job id: the JobState of the job (each array task on its own line)
  timeout 10 scontrol show job --oneliner "$1" 2>/dev/null |
    sed -n 's/.* JobState=\([A-Z_]*\) .*/\1/p'
}
merge_ended() {
  case "$(job_states "$merge_id")" in
    COMPLETED | FAILED | CANCELLED | TIMEOUT | NODE_FAIL | OUT_OF_MEMORY | PREEMPTED | \
      BOOT_FAIL | DEADLINE) return 0 ;;
  esac
  return 1
}
wait_for 600 "the merge job $merge_id to end" merge_ended
array_seconds=$((SECONDS - submit_time))

states=$(job_states "$array_id" | sort | uniq -c | xargs)
[ "$states" = "$shards COMPLETED" ] || fail "array job $array_id: task states '$states'"
merge_state=$(job_states "$merge_id")
[ "$merge_state" = COMPLETED ] || fail "merge job $merge_id ended $merge_state"
say "array job $array_id and merge job $merge_id completed after $((SECONDS - started)) s"

# ---- the same study on one machine, without Slurm
single="$tmp/single"
mkdir -p "$single"
read -ra binary <<< "$BINARY"
read -ra options <<< "$OPTIONS"
single_start=$(date +%s.%N)
(cd "$land" && "$cli" matrix --binary "${binary[@]}" --quantitative "$QUANTITATIVE" \
  --data "$DATA" --algorithm "$ALGORITHM" --friction "$FRICTION" --width "$WIDTH" \
  "${options[@]}" --corridor "$CORRIDOR" --project cluster --workdir "$single" \
  --log "$single/log.txt" --threads "$single_threads" > /dev/null) ||
  fail "the one-machine run failed"
single_seconds=$(awk -v a="$single_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
if [ "${STUDY:-}" = bench ]; then
  # The tasks' own span: first start to last end (whole seconds).
  span=$(timeout 10 scontrol show job --oneliner "$array_id" | python3 -c '
import sys, datetime
t = lambda v: datetime.datetime.fromisoformat(v)
starts, ends = [], []
for line in sys.stdin:
    f = dict(x.split("=", 1) for x in line.split() if "=" in x)
    starts.append(t(f["StartTime"])); ends.append(t(f["EndTime"]))
print(int((max(ends) - min(starts)).total_seconds()))')
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
  say "one process on one thread: $single_seconds s; the $shards tasks of the array:" \
    "$span s (speed-up $(ratio "$single_seconds" "$span")x); from submission to the" \
    "merge's end: $array_seconds s (speed-up $(ratio "$single_seconds" "$array_seconds")x)"
fi

report=cluster-MatrixAnalysis.txt
# The shards must have split the rows (and not each computed them all).
rows=$(($(wc -l < "$single/$report") - 1))
[ "$rows" -ge "$shards" ] || fail "the one-machine report has only $rows rows"
sum=0
for ((k = 1; k <= shards; k++)); do
  shard_report="$OUT/cluster-MatrixAnalysis-shard-$k-of-$shards.txt"
  [ -f "$shard_report" ] || fail "no shard report $shard_report"
  n=$(($(wc -l < "$shard_report") - 1))
  [ "$n" -lt "$rows" ] || fail "shard $k holds $n of $rows rows"
  [ -f "$OUT/corridors-shard-$k-of-$shards.rst" ] || fail "no corridor map of shard $k"
  sum=$((sum + n))
done
[ "$sum" -eq "$rows" ] || fail "the shards hold $sum rows, the one-machine report $rows"

for f in "$report" corridors.rst corridors.rdc; do
  [ -f "$OUT/$f" ] || fail "the merge wrote no $f"
  cmp "$OUT/$f" "$single/$f" || fail "$f of the cluster run differs from the one-machine run"
done
# merge.sbatch's --log holds the run's log, as the one-machine run's --log,
# but for the start time and the closing block (files written, time taken).
same_run() { sed -e 's/^\(Started:\t\).*/\1-/' -e '/^Files written:/,$d' "$1"; }
cmp <(same_run "$OUT/cluster-merge-log.txt") <(same_run "$single/log.txt") ||
  fail "the merge's log differs from the one-machine run's log"
grep -q "^Merged $shards shards in " "$OUT/cluster-merge-log.txt" ||
  fail "the merge's log does not end with the merge"
status=0
say "PASS: $shards shards ($rows rows) merged into a report, corridor map and log identical to" \
  "the one-machine run, in $((SECONDS - started)) s"

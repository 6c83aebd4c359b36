#!/usr/bin/env bash
# tembra-sweep --slurm on a real Slurm: a private one-node cluster (munged,
# slurmctld, slurmd from Debian's packages, all on localhost, no cgroups)
# runs a sweep's array job, and a task whose time limit runs out while it
# learns. Slurm's warning signal must reach the learning program itself,
# which then ends its episode, saves and exits 143.
#
#   slurm_test.sh TEMBRA_SWEEP TEMBRA_INSPECT RANDOM_WALK
#
# Exits 77 (skipped) without root or the packages.
set -euo pipefail
SWEEP=$1 INSPECT=$2 RANDOM_WALK=$3
PACKAGES="apt-get install slurmctld slurmd munge"
PATH=$PATH:/usr/sbin:/sbin
# shellcheck source-path=SCRIPTDIR source=cluster_support.sh
. "$(dirname "${BASH_SOURCE[0]}")/cluster_support.sh"

need_root "the Slurm test"
need_commands munged munge slurmctld slurmd sbatch squeue scontrol scancel sinfo

make_work_directory
cleanup() {
    local status=$?
    if [ $status -ne 0 ] && [ $status -ne "$SKIP" ]; then
        for log in "$work"/log/*; do
            [ -f "$log" ] && { echo "--- last lines of $log"; tail -n 15 "$log"; }
        done
    fi
    if [ ${#daemons[@]} -gt 1 ]; then
        scancel --user="$(id -un)" 2>/dev/null || true
        local deadline=$((SECONDS + 15))
        while [ -n "$(squeue -h 2>/dev/null)" ] && [ $SECONDS -lt $deadline ]; do sleep 0.5; done
    fi
    stop_everything
    rm -rf "$work"
    exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
mkdir -p "$work"/{munge,log,state,spool}
started=$SECONDS

# ---------------------------------------------------------------- the cluster
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge/munge.key"
munged --foreground --key-file="$work/munge/munge.key" --socket="$work/munge/socket" \
    --pid-file="$work/munge/munged.pid" --seed-file="$work/munge/seed" --log-file="$work/log/munged.log" \
    >>"$work/log/munged.log" 2>&1 &
daemons+=($!)
wait_for 10 "munged" munge --socket="$work/munge/socket" --no-input

host=$(hostname -s)
ctld_port=$(free_port) slurmd_port=$(free_port)
while [ "$slurmd_port" = "$ctld_port" ]; do slurmd_port=$(free_port); done
export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=tembra
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
# No cgroups: a container or a plain machine without systemd runs this.
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
# A task that ignores the warning is killed soon after its limit.
KillWait=5
# Four slots whatever the machine has: the array and the long task at once.
SlurmdParameters=config_overrides
NodeName=tembra NodeHostname=$host NodeAddr=127.0.0.1 CPUs=4 State=UNKNOWN
PartitionName=test Nodes=tembra Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -D -i -f "$SLURM_CONF" >>"$work/log/slurmctld.log" 2>&1 &
daemons+=($!)
slurmd -D -N tembra -f "$SLURM_CONF" >>"$work/log/slurmd.log" 2>&1 &
daemons+=($!)
node_idle() { [ "$(sinfo -h -n tembra -o %t)" = idle ]; }
wait_for 20 "the node to come up" node_idle
echo "cluster up after $((SECONDS - started)) s"

# Submits a sweep's script and prints the job id.
submit() { sbatch --parsable "$1/sweep.sbatch" | cut -d';' -f1; }
finished() { [ -z "$(squeue -h -j "$1")" ]; }
# "JobState=... ExitCode=..." of every task of a job, one line each.
task_states() {
    scontrol -o show job "$1" | grep -oE 'JobState=[A-Z_]+|ExitCode=[0-9:]+' | paste -d ' ' - -
}

# ---------------------------------------------------------------- a task past its time
# One learning run far longer than its one-minute limit. Slurm's time
# checks come every half minute, so the signal, due 20 s before the limit,
# arrives 10 to 40 s after the start.
long=$work/long
"$SWEEP" --seeds 7 --out "$long" --slurm --time 1 --signal-time 20 -- \
    "$RANDOM_WALK" --config '{conf}' --seed '{seed}' --csv '{dir}/curve.csv' --episodes 100000000 >/dev/null
long_job=$(submit "$long") || fail "sbatch refused $long/sweep.sbatch"
long_started=$SECONDS

# ---------------------------------------------------------------- an array sweep
# A space and a % in the directory's name: sbatch reads the tasks' output
# file, a pattern, from the script's own #SBATCH line.
sweep="$work/runs at 100%"
"$SWEEP" --set ALPHA=0.1,0.2 --seeds 1-2 --out "$sweep" --slurm --time 5 -- \
    "$RANDOM_WALK" --config '{conf}' --seed '{seed}' --csv '{dir}/curve.csv' --episodes 200 >/dev/null
array_job=$(submit "$sweep") || fail "sbatch refused $sweep/sweep.sbatch"
wait_for 60 "array job $array_job" finished "$array_job"
echo "array job done after $((SECONDS - started)) s"

states=$(task_states "$array_job")
[ "$(grep -c 'JobState=COMPLETED ExitCode=0:0' <<<"$states")" = 4 ] || fail "array tasks: $states"
# Each task ran its own line: its run is the one the same configuration
# and seed give when run by hand.
while IFS=$'\t' read -r task combination seed directory; do
    run=$sweep/$directory by_hand=$work/by-hand/$task
    [ -f "$sweep/slurm-${array_job}_$task.out" ] || fail "no Slurm output for task $task in $sweep"
    mkdir -p "$by_hand" && cp "$run/run.conf" "$by_hand/"
    (cd "$by_hand" && "$RANDOM_WALK" --config run.conf --seed "$seed" --csv curve.csv --episodes 200 >output.txt)
    cmp "$run/curve.csv" "$by_hand/curve.csv" || fail "task $task ($combination, seed $seed) learnt otherwise than by hand"
    cmp "$run/random_walk.v" "$by_hand/random_walk.v" || fail "task $task saved another table than by hand"
    "$INSPECT" "$run/random_walk.v" >/dev/null || fail "tembra-inspect cannot read task $task's table"
done < <(tail -n +2 "$sweep/runs.tsv")
summary=$("$SWEEP" --summarize "$sweep")
echo "$summary"
for alpha in 0.1 0.2; do
    # two runs of 200 episodes each, the mean over the last 20
    grep -Eq "^ALPHA=$alpha +curve.csv +2/2 +200 +20 " <<<"$summary" || fail "no summary of ALPHA=$alpha"
done

# ---------------------------------------------------------------- the long task, stopped
wait_for $((100 - (SECONDS - long_started))) "job $long_job" finished "$long_job"
echo "long task done $((SECONDS - long_started)) s after its submission"
run=$long/base/seed-7
state=$(task_states "$long_job")
# FAILED with the learner's own status, before the limit (not TIMEOUT).
[ "$state" = "JobState=FAILED ExitCode=143:0" ] ||
    fail "the long task ended as '$state' instead of exiting 143 by itself; its output ends:
$(tail -n 5 "$run/output.txt" 2>/dev/null)"
grep -q 'SIGTERM received' "$run/output.txt" || fail "the learning program did not report SIGTERM"
"$INSPECT" "$run/random_walk.v" >/dev/null || fail "tembra-inspect cannot read the stopped task's table"
# The curve: complete lines, episodes 1, 2, ... without a gap, the last a
# whole episode (the walk ends at either end, return 1 or -1).
[ "$(tail -c 1 "$run/curve.csv" | od -An -c | tr -d ' ')" = '\n' ] || fail "the curve ends inside a line"
awk -F, 'NR > 1 && ($1 != NR - 1 || NF != 4) { print "line " NR ": " $0; bad = 1; exit }
         END { if (!bad && !($3 == 1 || $3 == -1)) { print "last episode: " $0; bad = 1 }
               if (!bad && NR < 100) { print NR " lines only"; bad = 1 }
               exit bad }' "$run/curve.csv" || fail "the stopped task's curve is not whole episodes"
echo "the learner stopped itself after $(($(wc -l <"$run/curve.csv") - 1)) episodes; whole test $((SECONDS - started)) s"

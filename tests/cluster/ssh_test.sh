#!/usr/bin/env bash
# tembra-sweep --sshlogin on a real sshd: GNU parallel sends every job of a
# sweep to "another machine" (an sshd of its own on a loopback port, with
# throw-away keys) that sees the same file system, and --resume-failed
# sends the failed ones again.
#
#   ssh_test.sh TEMBRA_SWEEP RANDOM_WALK
#
# Exits 77 (skipped) without root or the packages.
set -euo pipefail
SWEEP=$1 RANDOM_WALK=$2
PACKAGES="apt-get install openssh-server openssh-client parallel"
PATH=$PATH:/usr/sbin:/sbin
# shellcheck source-path=SCRIPTDIR source=cluster_support.sh
. "$(dirname "${BASH_SOURCE[0]}")/cluster_support.sh"

need_root "the ssh test"
need_commands sshd ssh ssh-keygen parallel

make_work_directory
cleanup() {
    local status=$?
    if [ $status -ne 0 ] && [ $status -ne "$SKIP" ] && [ -f "$work/sshd.log" ]; then
        echo "--- last lines of the sshd log"
        tail -n 15 "$work/sshd.log"
    fi
    stop_everything
    rm -rf "$work"
    exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
started=$SECONDS

# ---------------------------------------------------------------- the other machine
port=$(free_port)
ssh-keygen -q -t ed25519 -N '' -C tembra-host -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -C tembra-user -f "$work/user_key"
cp "$work/user_key.pub" "$work/authorized_keys"
cat >"$work/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
PidFile $work/sshd.pid
AuthorizedKeysFile $work/authorized_keys
# The keys live in a temporary directory, not in a home with strict modes.
StrictModes no
UsePAM no
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
# The jobs carry the test's mark, so that the clean-up finds them.
SetEnv TEMBRA_CLUSTER_TEST=$work
LogLevel VERBOSE
EOF
echo "[127.0.0.1]:$port $(cat "$work/host_key.pub")" >"$work/known_hosts"
cat >"$work/ssh_config" <<EOF
Host tembra-node
    HostName 127.0.0.1
    Port $port
    User $(id -un)
    IdentityFile $work/user_key
    IdentitiesOnly yes
    UserKnownHostsFile $work/known_hosts
    StrictHostKeyChecking yes
    BatchMode yes
EOF
# sshd's privilege separation directory, which its packages' service
# scripts make; left in place, as another sshd may use it.
[ -d /run/sshd ] || mkdir -m 0755 /run/sshd
"$(command -v sshd)" -D -e -f "$work/sshd_config" >>"$work/sshd.log" 2>&1 &
daemons+=($!)
# The login is a bare host name, its ssh options in a configuration file,
# as on a real cluster (~/.ssh/config): GNU parallel cannot resume from a
# job log whose login holds spaces.
export PARALLEL_SSH="ssh -F $work/ssh_config"
login=tembra-node
wait_for 10 "sshd on port $port" ssh -F "$work/ssh_config" "$login" true

# ---------------------------------------------------------------- a sweep through it
# Each job notes the connection it came by; seed 2 fails (as a stopped
# learner does, 143) until its directory holds "ok".
sweep() {
    # shellcheck disable=SC2016  # the job's own shell expands $0, $@ and $SSH_CONNECTION
    timeout 120 "$SWEEP" --set ALPHA=0.1,0.2 --seeds 1-2 --out "$work/runs" --jobs 2 --sshlogin "$login" "$@" -- \
        /bin/sh -c 'echo "$SSH_CONNECTION" >> ssh.txt; [ {seed} != 2 ] || [ -e ok ] || exit 143; exec "$0" "$@"' \
        "$RANDOM_WALK" --config '{conf}' --seed '{seed}' --csv '{dir}/curve.csv' --episodes 200 >/dev/null
}
status=0
sweep || status=$?
[ $status = 2 ] || fail "the first sweep ended with $status, not 2 (GNU parallel's count of failed jobs)"
# Every job went to the login given, and arrived through this sshd.
hosts=$(tail -n +2 "$work/runs/parallel.joblog" | cut -f 2 | sort | uniq -c | sed 's/^ *//')
[ "$hosts" = "4 $login" ] || fail "the job log's hosts are: $hosts"
for run in "$work"/runs/ALPHA=*/seed-*; do
    grep -Eqx "127\.0\.0\.1 [0-9]+ 127\.0\.0\.1 $port" "$run/ssh.txt" || fail "$run: not run through ssh: $(cat "$run/ssh.txt")"
done

for run in "$work"/runs/ALPHA=*/seed-2; do touch "$run/ok"; done
sweep --resume-failed || fail "the sweep resumed with --resume-failed ended with $?"
for run in "$work"/runs/ALPHA=*/seed-*; do
    case $run in */seed-2) ran=2 ;; *) ran=1 ;; esac
    [ "$(wc -l <"$run/ssh.txt")" = $ran ] || fail "$run ran $(wc -l <"$run/ssh.txt") times instead of $ran"
    [ "$(wc -l <"$run/curve.csv")" = 201 ] || fail "$run: no whole learning curve"
    [ -s "$run/random_walk.v" ] || fail "$run saved nothing"
done
summary=$("$SWEEP" --summarize "$work/runs")
echo "$summary"
for alpha in 0.1 0.2; do
    grep -Eq "^ALPHA=$alpha +curve.csv +2/2 +200 " <<<"$summary" || fail "no summary of ALPHA=$alpha"
done
echo "whole test $((SECONDS - started)) s"

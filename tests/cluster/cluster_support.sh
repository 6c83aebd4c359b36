# shellcheck shell=bash
# Shared by the tests that run tembra-sweep on real job runners (a private
# Slurm cluster, an sshd for GNU parallel): skipping, failing, free ports,
# bounded waits and the clean-up that leaves no process of ours behind.
# Sourced by bash; the caller sets `work` (its temporary directory) and
# lists its daemons' process ids in `daemons` (stopped last to first).

SKIP=77
daemons=()

skip() {
    echo "SKIPPED: $*"
    exit "$SKIP"
}

# The first failure ends the test; the EXIT trap still cleans up.
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

need_root() {
    [ "$(id -u)" = 0 ] || skip "$1 must run as root (it starts daemons that switch users)"
}

need_commands() {
    local command missing=()
    for command in "$@"; do
        command -v "$command" >/dev/null 2>&1 || [ -x "$command" ] || missing+=("$command")
    done
    [ ${#missing[@]} -eq 0 ] || skip "not installed: ${missing[*]} (Debian: $PACKAGES)"
}

# A fresh directory everyone may traverse: munged refuses a socket below a
# directory that is not, and so do the daemons that drop privileges. In
# /tmp, as a TMPDIR may lie below a private one.
make_work_directory() {
    work=$(mktemp -d /tmp/tembra-cluster-XXXXXX)
    chmod 755 "$work"
    # Every process the test starts carries this mark in its environment,
    # so that the clean-up finds even those their daemon left behind.
    export TEMBRA_CLUSTER_TEST="$work"
}

# A TCP port on the loopback interface that nobody listens on.
free_port() {
    local port _
    for _ in $(seq 50); do
        port=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    fail "no free TCP port found"
}

# wait_for SECONDS DESCRIPTION COMMAND...: runs COMMAND every half second
# until it succeeds, and fails the test when SECONDS pass first.
wait_for() {
    local seconds=$1 what=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || fail "$what: not done after $seconds s"
        sleep 0.5
    done
}

# Stops one process: SIGTERM, then SIGKILL after a few seconds.
stop_process() {
    local pid=$1 _
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}

# The processes that carry this test's mark, apart from the test itself
# (bash builtins only: a helper process would carry the mark too).
marked_processes() {
    local entry pid variable
    local -a environment
    for entry in /proc/[0-9]*; do
        pid=${entry#/proc/}
        [ "$pid" = $$ ] || [ "$pid" = "$BASHPID" ] && continue
        mapfile -d '' environment 2>/dev/null <"$entry/environ" || continue
        for variable in "${environment[@]}"; do
            [ "$variable" = "TEMBRA_CLUSTER_TEST=$work" ] && echo "$pid"
        done
    done
}

stop_everything() {
    local i pid
    for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do stop_process "${daemons[i]}"; done
    # Whatever a daemon started and left running (a job step, a session).
    for pid in $(marked_processes); do stop_process "$pid"; done
    wait 2>/dev/null || true
}

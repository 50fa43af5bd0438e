# Sourced by the demo and screenshot scripts: a local FTP server with sample location files,
# a simulated K9 on a pseudo-terminal and an updater configuration that joins them.
#
#   demo_start BUILD_DIR   starts both; sets DEMO_DIR, DEMO_CONF, DEMO_UPDATER, DEMO_CLI
#   demo_run_updater ARGS  runs the updater on that configuration until its window closes
#   demo_stop              stops everything demo_start started (safe to call twice)
#
# Everything lives in one temporary folder, removed by demo_stop.

DEMO_SERIAL=K9A1234
DEMO_PYTHON=/usr/bin/python3
DEMO_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEMO_ROOT=$(cd "$DEMO_HERE/../.." && pwd)
DEMO_DIR=
DEMO_FTP_PID=
DEMO_SIM_PGID=

demo_fail() {
    echo "demo: $*" >&2
    exit 1
}

# Waits up to about 15 s for a command to succeed.
demo_wait_for() {
    local i
    for i in $(seq 150); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

demo_start() {
    local build=$1
    DEMO_UPDATER=$build/src/app/k9updater
    DEMO_CLI=$build/src/cli/k9update
    local sim=$build/tools/sim/k9sim
    [ -x "$DEMO_UPDATER" ] || demo_fail "no updater at $DEMO_UPDATER (build first: make build)"
    [ -x "$DEMO_CLI" ] || demo_fail "no k9update at $DEMO_CLI (build first: make build)"
    [ -x "$sim" ] || demo_fail "no simulator at $sim (build first: make build)"
    "$DEMO_PYTHON" -c 'import pyftpdlib' 2>/dev/null ||
        demo_fail "$DEMO_PYTHON lacks pyftpdlib (make deps installs python3-pyftpdlib)"

    DEMO_DIR=$(mktemp -d "${TMPDIR:-/tmp}/k9demo.XXXXXX")
    mkdir -p "$DEMO_DIR/ftp" "$DEMO_DIR/work" "$DEMO_DIR/samples"

    # The server's files: one login folder for the demo unit (user = serial number,
    # password = the serial number reversed, as the updater derives it).
    "$DEMO_PYTHON" "$DEMO_HERE/make_locations.py" "$DEMO_DIR/samples"
    local home=$DEMO_DIR/ftp/$DEMO_SERIAL
    mkdir -p "$home"
    cp "$DEMO_DIR/samples/LocationsLite.txt" "$DEMO_DIR/samples/LocationsFull.txt" \
        "$DEMO_DIR/samples/TestLocations.txt" "$home/"
    local password
    password=$(echo "$DEMO_SERIAL" | rev)

    # The server lives as long as its stdin: a pipe only this shell holds, so it goes even
    # when this shell is killed outright.
    mkfifo "$DEMO_DIR/ftp.stdin"
    exec {DEMO_FTP_FD}<>"$DEMO_DIR/ftp.stdin"
    "$DEMO_PYTHON" "$DEMO_ROOT/tools/ftpserver/k9_ftp_server.py" --root "$DEMO_DIR/ftp" \
        --state "$DEMO_DIR/ftp-state" --account "$DEMO_SERIAL:$password:$DEMO_SERIAL" \
        --watch-stdin <"$DEMO_DIR/ftp.stdin" >"$DEMO_DIR/ftp.out" 2>&1 {DEMO_FTP_FD}>&- &
    DEMO_FTP_PID=$!
    demo_wait_for grep -q '^K9FTP READY' "$DEMO_DIR/ftp.out" ||
        demo_fail "the FTP server did not start (see $DEMO_DIR/ftp-state/server.log)"
    local port
    port=$(sed -n 's/^K9FTP READY port=\([0-9]*\)$/\1/p' "$DEMO_DIR/ftp.out")

    # The unit, in its own process group; a new one takes its place after each session so
    # "Start Update" can be pressed again. The group ends itself should this shell vanish.
    local link=$DEMO_DIR/k9-com1
    setsid bash -c '
        ( while kill -0 "$4" 2>/dev/null; do sleep 1; done; kill -TERM 0 ) &
        while :; do
            "$0" --link "$1" --serial "$2" --answer yes --locations "$3" || sleep 1
        done' "$sim" "$link" "$DEMO_SERIAL" "$DEMO_DIR/samples/StoredLocations.txt" "$$" \
        >"$DEMO_DIR/k9sim.log" 2>&1 </dev/null {DEMO_FTP_FD}>&- &
    DEMO_SIM_PGID=$!
    demo_wait_for test -e "$link" || demo_fail "the simulator did not start (see $DEMO_DIR/k9sim.log)"

    DEMO_CONF=$DEMO_DIR/k9updater.conf
    cat >"$DEMO_CONF" <<CONF
# Written by the demo: the local FTP server and the simulated unit on COM1.
ftp_host = 127.0.0.1:$port
web_host = www.quillmark.com
work_dir = $DEMO_DIR/work

[ports]
COM1 = $link
CONF
}

DEMO_UPDATER_PID=

demo_run_updater() {
    # In the background, so a signal to this shell is handled at once (see demo_stop).
    K9UPDATER_CONF=$DEMO_CONF "$@" {DEMO_FTP_FD}>&- &
    DEMO_UPDATER_PID=$!
    local status=0
    wait "$DEMO_UPDATER_PID" || status=$?
    DEMO_UPDATER_PID=
    return "$status"
}

demo_stop() {
    if [ -n "$DEMO_UPDATER_PID" ]; then
        kill -TERM "$DEMO_UPDATER_PID" 2>/dev/null || true
        wait "$DEMO_UPDATER_PID" 2>/dev/null || true
        DEMO_UPDATER_PID=
    fi
    if [ -n "$DEMO_SIM_PGID" ]; then
        kill -TERM -- "-$DEMO_SIM_PGID" 2>/dev/null || true
        DEMO_SIM_PGID=
    fi
    if [ -n "$DEMO_FTP_PID" ]; then
        kill -TERM "$DEMO_FTP_PID" 2>/dev/null || true
        wait "$DEMO_FTP_PID" 2>/dev/null || true
        DEMO_FTP_PID=
    fi
    if [ -n "${DEMO_FTP_FD:-}" ]; then
        exec {DEMO_FTP_FD}>&-
        DEMO_FTP_FD=
    fi
    if [ -n "$DEMO_DIR" ] && [ -z "${K9_DEMO_KEEP:-}" ]; then
        rm -rf "$DEMO_DIR"
    fi
    DEMO_DIR=
}

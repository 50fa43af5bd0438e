#!/usr/bin/env bash
# The updater against a simulated K9 and a local FTP server.
# Usage: run_demo.sh [BUILD_DIR]    (make demo builds first, then runs this)
#
# Click "Next", then "Start Update", and watch the run to "Sentrel K9 updated.". Closing the
# window stops the server and the simulator. Without a display the same run goes through
# k9update in the terminal and ends with its exit code. K9_DEMO_KEEP=1 keeps the temporary
# folder (logs, the uploaded locations).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)

# shellcheck source=demo_env.sh
source "$here/demo_env.sh"
trap demo_stop EXIT
trap 'exit 130' INT TERM HUP
demo_start "$build"

# Without a display the same demo runs through the command-line updater.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here: running the demo with k9update (the unit K9A1234 on COM1)."
    status=0
    demo_run_updater "$DEMO_CLI" --port 1 --edition cameras || status=$?
    exit "$status"
fi

cat <<MSG
Demo unit K9A1234 on COM1 ($DEMO_DIR/k9-com1); FTP server on $(sed -n 's/^ftp_host = //p' "$DEMO_CONF").
In the window: click Next, keep COM port 1 and "Cameras", click Start Update.
The unit is simulated: it answers "Upload Y" and sends five stored locations.
Close the window to end the demo.
MSG
demo_run_updater "$DEMO_UPDATER" || true
uploaded=$DEMO_DIR/ftp/$DEMO_SERIAL/$DEMO_SERIAL.txt
if [ -f "$uploaded" ]; then
    echo "The server received $DEMO_SERIAL.txt: $(grep -c '[0-9]' "$uploaded") stored locations."
fi

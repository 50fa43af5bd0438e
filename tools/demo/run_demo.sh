#!/usr/bin/env bash
# The updater against a simulated K9 and a local FTP server.
# Usage: run_demo.sh [BUILD_DIR]    (make demo builds first, then runs this)
#
# Click "Next", then "Start Update", and watch the run to "Sentrel K9 updated.". Closing the
# window stops the server and the simulator. K9_DEMO_KEEP=1 keeps the temporary folder (logs,
# the uploaded locations).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'MSG'
The demo opens a window, and there is no display here (DISPLAY and WAYLAND_DISPLAY are unset).

On a desktop, run "make demo" in a terminal there. On a machine without one:
  - xvfb-run -a make demo
      runs it on a virtual screen nobody sees (stop it with Ctrl+C);
  - tools/demo/take_screenshots.sh
      runs a whole update unattended on a virtual screen and saves pictures of each window
      into docs/screenshots/ to look at.
MSG
    exit 2
fi

# shellcheck source=demo_env.sh
source "$here/demo_env.sh"
trap demo_stop EXIT
trap 'exit 130' INT TERM HUP
demo_start "$build"

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

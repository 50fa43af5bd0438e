#!/usr/bin/env bash
# Saves pictures of the updater's windows, and of one whole update against the simulated unit
# and the local FTP server, into docs/screenshots/. Runs on a virtual screen (Xvfb), so it
# works without a desktop and leaves the desktop alone.
# Usage: take_screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
out=$(mkdir -p "${2:-$here/../../docs/screenshots}" && cd "${2:-$here/../../docs/screenshots}" && pwd)
shooter=$build/tools/demo/k9_screenshots
[ -x "$shooter" ] || { echo "no $shooter: build first (make build)" >&2; exit 1; }

if [ -z "${K9_ON_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (make deps installs xvfb)" >&2; exit 1; }
    K9_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$out"
fi

# shellcheck source=demo_env.sh
source "$here/demo_env.sh"
trap demo_stop EXIT
trap 'exit 130' INT TERM HUP
demo_start "$build"
QT_QPA_PLATFORM=xcb demo_run_updater "$shooter" "$out" "$build/src/app"

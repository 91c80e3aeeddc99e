#!/usr/bin/env bash
# Refreshes the window pictures in docs/ from a built tree, without a display:
# the program runs on the offscreen platform, grabs its own window once the
# command line has been applied (SERVOPROG_SCREENSHOT) and ends.
#
# Usage: tools/screenshot.sh [build-dir]      (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$root/build}}
program="$build/bin/servoprog"
[ -x "$program" ] || { echo "no $program: build first (tools/build.sh)" >&2; exit 1; }
mkdir -p "$root/docs"

shot() { # shot <picture> [program arguments...]
  local picture=$1; shift
  QT_QPA_PLATFORM=offscreen SERVOPROG_SCREENSHOT="$root/docs/$picture" "$program" -l en "$@"
}

# The empty window as it comes up.
shot window.png

# A prepared window: the sample software image in the list (its firmware
# information in the info panel) and "Running boot monitor" chosen.
shot window-rows.png -S "$root/samples/servo-fw-sample.hex" -B mon

# The same in German.
QT_QPA_PLATFORM=offscreen SERVOPROG_SCREENSHOT="$root/docs/window-de.png" \
  "$program" -l de -S "$root/samples/servo-fw-sample.hex" -B mon

# An update in progress: the sample programmed into a simulated drive whose
# line runs at wire speed, pictured at 70 % of the whole run.
if [ -x "$build/bin/servoprog-sim" ] && [ -x "$build/bin/servoprog-shot-run" ]; then
  simout=$(mktemp)
  "$build/bin/servoprog-sim" --throttle >"$simout" 2>/dev/null &
  simpid=$!
  trap 'kill $simpid 2>/dev/null; rm -f "$simout"' EXIT
  for _ in $(seq 50); do [ -s "$simout" ] && break; sleep 0.1; done
  port=$(head -n 1 "$simout")
  QT_QPA_PLATFORM=offscreen "$build/bin/servoprog-shot-run" "$root/docs/window-run.png" 70 \
    -l en -P "$port" -B mon -S "$root/samples/servo-fw-sample.hex"
else
  # servoprog-shot-run is built with the tests (BUILD_TESTING).
  echo "no servoprog-sim or servoprog-shot-run in $build/bin: docs/window-run.png left as it is" >&2
fi

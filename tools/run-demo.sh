#!/usr/bin/env bash
# README command 1: set-up, build and the main job.
#
# Builds the two programs it runs, starts the simulated drive on a pseudo-terminal,
# programs the bundled sample firmware into its Flash0 with the headless tool,
# reads the flash back and shows that the read-back equals the image. The
# simulator sends every byte in its wire time, so the progress is what a real
# drive at the chosen rate would show.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
baud=${DEMO_BAUD:-460800}

# DEMO_SKIP_BUILD=1 reuses an existing build (servoprog-cli and servoprog-sim).
if [ "${DEMO_SKIP_BUILD:-}" != "1" ]; then
    "$root/tools/build.sh" --target servoprog-cli servoprog-sim
fi

cli="$build/bin/servoprog-cli"
sim="$build/bin/servoprog-sim"
image="$root/samples/servo-fw-sample.hex"
work="$build/demo"
rm -rf "$work"
mkdir -p "$work"

step() { printf '\n== %s\n' "$*"; }

step "Sample image"
"$cli" info "$image" | tee "$work/info.txt"
lowest=$(awk '/^Lowest:/ {print $2}' "$work/info.txt")
length=$(awk '/^Length:/ {print $2}' "$work/info.txt")

step "Starting the simulated drive"
# The simulator ends when its standard input closes, so it cannot outlive
# this script even if the script is killed.
mkfifo "$work/sim.in"
"$sim" --throttle --exit-on-stdin-eof --log "$work/sim.log" --flash0 "$work/flash0.bin" \
    <"$work/sim.in" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
exec 3>"$work/sim.in"
stop_sim() {
    exec 3>&- || true
    if kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap stop_sim EXIT

port=""
for _ in $(seq 100); do
    port=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
    [ -n "$port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "error: the simulated drive did not start:" >&2
    cat "$work/sim.err" >&2
    exit 1
fi
echo "Simulated drive on $port (log: $work/sim.log)"

step "Probing the boot monitor"
"$cli" probe --port "$port" --baud "$baud"

step "Programming the sample into Flash0"
"$cli" program --port "$port" --boot mon --baud "$baud" --flash0 "$image"

step "Reading Flash0 back ($length bytes from $lowest)"
"$cli" read --port "$port" --boot mon --baud "$baud" --flash0 --offset "$lowest" --length "$length" \
    "$work/readback.srec"

step "Comparing"
# Both files reduced to their used range as S-records: byte-identical files
# mean the flash holds exactly the image.
"$cli" convert "$image" "$work/image.srec" >/dev/null
"$cli" convert "$work/readback.srec" "$work/readback-used.srec" >/dev/null
if cmp -s "$work/image.srec" "$work/readback-used.srec"; then
    echo "OK: the read-back equals the image ($length bytes at $lowest)."
else
    echo "error: the read-back differs from the image:" >&2
    cmp "$work/image.srec" "$work/readback-used.srec" >&2 || true
    exit 1
fi

step "Stopping the simulated drive"
stop_sim
trap - EXIT
echo "Done. Files are in $work."

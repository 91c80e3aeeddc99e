#!/usr/bin/env bash
# Installs what is missing, configures and builds into build/ (or $BUILD_DIR).
# Warnings become errors when CI is set, as on the CI runner.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup-debian.sh"
build=${BUILD_DIR:-$root/build}
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
cmake -S "$root" -B "$build" -DSERVOPROG_WERROR=$werror "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

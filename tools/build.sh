#!/usr/bin/env bash
# Installs what is missing, configures and builds into build/ (or $BUILD_DIR).
# Warnings become errors when CI is set, as on the CI runner.
#
#   tools/build.sh [CMAKE_OPTION ...] [--target TARGET ...]
#
# CMAKE_OPTIONs (such as -DSERVOPROG_SANITIZE=ON) go to the configure step;
# with --target only the targets named after it, and what they need, are
# built, otherwise everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
configure=()
targets=()
while [ $# -gt 0 ]; do
    if [ "$1" = "--target" ]; then
        shift
        targets=("$@")
        break
    fi
    configure+=("$1")
    shift
done
"$root/tools/setup-debian.sh"
build=${BUILD_DIR:-$root/build}
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
cmake -S "$root" -B "$build" -DSERVOPROG_WERROR=$werror ${configure[@]+"${configure[@]}"} >/dev/null
if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
else
    cmake --build "$build" -j"$(nproc)"
fi

#!/usr/bin/env bash
# README command 1: set-up, build and the main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
exec "${BUILD_DIR:-$root/build}/bin/servoprog" "$@"

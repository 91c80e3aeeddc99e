#!/usr/bin/env bash
# README command 2: set-up, build and the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
cd "${BUILD_DIR:-$root/build}"
# Two tests a core: most of them wait on pseudo-terminals, drives and child
# processes, not on the processor.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(( $(nproc) * 2 ))" --timeout 600

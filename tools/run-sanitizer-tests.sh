#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build directory of its own (build-asan).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${SANITIZE_BUILD_DIR:-$root/build-asan}
"$root/tools/build.sh" -DSERVOPROG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cd "$BUILD_DIR"
# Qt's own allocations at exit are not ours to chase; everything else aborts.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 900

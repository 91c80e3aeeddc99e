#!/usr/bin/env bash
# The whole test suite again, built by clang with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build directory of its own (build-asan).
# The same build holds the libFuzzer targets of tests/fuzz, so that
# tools/run-fuzzers.sh can run them from here without a second build:
#
#   tools/run-sanitizer-tests.sh && FUZZ_BUILD_DIR=build-asan tools/run-fuzzers.sh 10
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${SANITIZE_BUILD_DIR:-$root/build-asan}
# A cache made with another compiler cannot be switched in place.
if [ -f "$BUILD_DIR/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$BUILD_DIR/CMakeCache.txt"; then
    echo "error: $BUILD_DIR was configured with another compiler; remove it or set SANITIZE_BUILD_DIR" >&2
    exit 2
fi
# The benchmarks measure, they do not test; the sanitizers would only slow them.
CC=${CC_FUZZ:-clang} CXX=${CXX_FUZZ:-clang++} "$root/tools/build.sh" -DSERVOPROG_SANITIZE=ON \
    -DSERVOPROG_FUZZ=ON -DSERVOPROG_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug
cd "$BUILD_DIR"
# Qt's own allocations at exit are not ours to chase; everything else aborts.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 900

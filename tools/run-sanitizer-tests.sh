#!/usr/bin/env bash
# Tests again, built by clang with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build directory of its own (build-asan).
#
#   tools/run-sanitizer-tests.sh [--all] [--fuzz SECONDS]
#
# By default the core's tests and the simulated drive's: where the parsing,
# the protocol, the transports and the worker live. The headless tool's, the
# window's and the start-up's tests, the fuzz replays (the fuzzers run the
# same corpus under the same sanitizers) and the benchmarks are left out, so
# that CI stays within its time on two cores; --all builds and runs
# everything. The same build holds the libFuzzer targets of tests/fuzz;
# --fuzz SECONDS runs each of them that long (tools/run-fuzzers.sh, from
# this build) while the tests run, which mostly wait on pseudo-terminals.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${SANITIZE_BUILD_DIR:-$root/build-asan}
all=0
fuzz=0
while [ $# -gt 0 ]; do
    case "$1" in
    --all) all=1; shift ;;
    --fuzz) fuzz=${2:-}; shift $(($# > 1 ? 2 : 1)) ;;
    *) fuzz=bad; break ;;
    esac
done
if ! [[ "$fuzz" =~ ^[0-9]+$ ]]; then
    echo "usage: $0 [--all] [--fuzz SECONDS]" >&2
    exit 2
fi
# A cache made with another compiler cannot be switched in place.
if [ -f "$BUILD_DIR/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$BUILD_DIR/CMakeCache.txt"; then
    echo "error: $BUILD_DIR was configured with another compiler; remove it or set SANITIZE_BUILD_DIR" >&2
    exit 2
fi
# Line tables only: reports keep their file and line, the build takes less
# time than with full debug information.
CC=${CC_FUZZ:-clang} CXX=${CXX_FUZZ:-clang++} "$root/tools/build.sh" -DSERVOPROG_SANITIZE=ON \
    -DSERVOPROG_FUZZ=ON -DSERVOPROG_BUILD_BENCHMARKS=$([ $all = 1 ] && echo ON || echo OFF) \
    -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only" --target servoprog-sim
cd "$BUILD_DIR"
skip='^(tst_(cli|ui_|app|package|fuzzreplay_)|soak_|bench_)'
[ $all = 1 ] && skip='^$'
# The programs the tests run (one program may serve several tests), from the
# test files CMake wrote: ctest -N shows no command for a program not built yet.
programs=$(grep -rh '^add_test' --include=CTestTestfile.cmake . \
    | sed -n 's|^add_test(\[=\[\([^]]*\)\]=\] "[^"]*/bin/\([^"/]*\)".*|\1 \2|p' | grep -Ev "$skip" | cut -d' ' -f2 | sort -u)
if [ $all = 1 ]; then
    cmake --build . -j"$(nproc)"
else
    # shellcheck disable=SC2086 # one program name per word
    cmake --build . -j"$(nproc)" --target $programs servoprog_fuzzers
fi
fuzz_pid=
if [ "$fuzz" != 0 ]; then
    FUZZ_BUILD_DIR=$BUILD_DIR "$root/tools/run-fuzzers.sh" "$fuzz" >"$BUILD_DIR/fuzz-round.log" 2>&1 &
    fuzz_pid=$!
fi
# Qt's own allocations at exit are not ours to chase; everything else aborts.
status=0
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 900 -E "$skip" || status=$?
if [ -n "$fuzz_pid" ]; then
    wait "$fuzz_pid" || status=1
    cat "$BUILD_DIR/fuzz-round.log"
fi
exit "$status"

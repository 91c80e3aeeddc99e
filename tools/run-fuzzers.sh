#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang and runs each for a
# while on a copy of its seed corpus.
#
#   tools/run-fuzzers.sh [SECONDS] [TARGET ...]
#
# SECONDS per target (default 30); TARGETs are those tests/fuzz/FuzzTargets.cmake
# names (default: all, one after the other). The build goes to build-fuzz
# (FUZZ_BUILD_DIR overrides it); FUZZ_JOBS sets the build's parallelism
# (default 2). The seed corpus is copied into a temporary folder first, so the
# inputs a run discovers never land in the source tree.
#
# Per target one line: executed runs, executions per second, edge coverage,
# features, final corpus size and the result. A crash, a sanitizer report, a
# failed check, a time-out (one input running past 25 s) or a memory blow-up
# fails the target; the input that did it is kept in
# <build>/fuzz-artifacts/ and the full log in <build>/fuzz-logs/. Re-running
# the target on the artifact (bin/fuzz_<target> <file>) shows the report
# again. The script exits non-zero when any target failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${FUZZ_JOBS:-2}
seconds=${1:-30}
shift || true
targets=("$@")

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [SECONDS] [TARGET ...]" >&2
    exit 2
fi

# The fuzz build must use clang; an existing cache made with another
# compiler cannot be switched in place.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$build/CMakeCache.txt"; then
    echo "error: $build was configured with another compiler; remove it or set FUZZ_BUILD_DIR" >&2
    exit 2
fi
# A build made for fuzzing is used as it is (the sanitizer build holds the
# targets already, and its tests may be running from it meanwhile); a new
# one is optimised, for more inputs per second.
if ! grep -q '^SERVOPROG_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    build_type=()
    [ -f "$build/CMakeCache.txt" ] || build_type=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
    echo "== Configuring $build (clang, SERVOPROG_FUZZ=ON)"
    CC=${CC_FUZZ:-clang} CXX=${CXX_FUZZ:-clang++} cmake -S "$root" -B "$build" -DSERVOPROG_FUZZ=ON \
        ${build_type[@]+"${build_type[@]}"} >"$build.configure.log" 2>&1 \
        || { cat "$build.configure.log" >&2; exit 2; }
    rm -f "$build.configure.log"
fi
echo "== Building the fuzz targets"
fuzz_targets=(--target servoprog_fuzzers)
[ ${#targets[@]} -gt 0 ] && fuzz_targets=(--target "${targets[@]/#/fuzz_}")
cmake --build "$build" -j"$jobs" "${fuzz_targets[@]}" >"$build/fuzz-build.log" 2>&1 \
    || { tail -n 40 "$build/fuzz-build.log" >&2; echo "error: the build failed" >&2; exit 2; }
# The build names every target (tests/fuzz/FuzzTargets.cmake).
[ ${#targets[@]} -gt 0 ] || mapfile -t targets <"$build/fuzz-targets.txt" || exit 2

work=$(mktemp -d "${TMPDIR:-/tmp}/servoprog-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/fuzz-logs" "$build/fuzz-artifacts"

failed=0
printf '\n%-9s %12s %9s %7s %7s %7s  %s\n' target runs execs/s cov ft corpus result
for t in "${targets[@]}"; do
    bin="$build/bin/fuzz_$t"
    seeds="$root/tests/fuzz/corpus/$t"
    if [ ! -x "$bin" ] || [ ! -d "$seeds" ]; then
        printf '%-9s %12s %9s %7s %7s %7s  %s\n' "$t" - - - - - "FAILED (no program or corpus)"
        failed=1
        continue
    fi
    mkdir -p "$work/$t-corpus" "$work/$t-artifacts"
    cp "$seeds"/* "$work/$t-corpus/"
    max_len=4096
    [ "$t" = compress ] && max_len=20000
    log="$build/fuzz-logs/$t.log"
    # -close_fd_mask=2: the image readers describe every bad line on standard
    # error; libFuzzer keeps its own output and the sanitizer reports.
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
    "$bin" "$work/$t-corpus" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
        -max_len="$max_len" -close_fd_mask=2 -print_final_stats=1 \
        -artifact_prefix="$work/$t-artifacts/" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    status_line=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$status_line")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$status_line")
    corp=$(sed -n 's/.* corp: \([0-9]*\)\/.*/\1/p' <<<"$status_line")
    result=OK
    if [ $rc -ne 0 ]; then
        failed=1
        artifact=$(ls "$work/$t-artifacts/" 2>/dev/null | head -n 1)
        if [ -n "$artifact" ]; then
            cp "$work/$t-artifacts/$artifact" "$build/fuzz-artifacts/$t-$artifact"
            result="FAILED (exit $rc): $build/fuzz-artifacts/$t-$artifact"
        else
            result="FAILED (exit $rc), see $log"
        fi
    fi
    printf '%-9s %12s %9s %7s %7s %7s  %s\n' "$t" "${runs:--}" "${speed:--}" "${cov:--}" "${ft:--}" \
        "${corp:--}" "$result"
    if [ $rc -ne 0 ]; then
        grep -E 'ERROR: |SUMMARY: |fuzz check failed|in LLVMFuzzerTestOneInput' "$log" | head -n 6 | sed 's/^/    /'
    fi
done

if [ $failed -ne 0 ]; then
    echo "FAILED: at least one target found a problem (logs in $build/fuzz-logs)"
    exit 1
fi
echo "All targets ran clean for ${seconds}s each."

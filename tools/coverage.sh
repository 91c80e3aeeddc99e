#!/usr/bin/env bash
# Line coverage of the whole test suite.
#
#   tools/coverage.sh [CTEST_OPTION ...]
#
# Builds with gcc --coverage and no optimisation into build-coverage/
# (COVERAGE_BUILD_DIR overrides it; an existing one is reused, so a second run
# builds only what changed), runs the suite with CTest on the offscreen
# platform (CTEST_OPTIONs such as -R tst_image narrow it) and prints the
# line coverage of each subsystem, tests and benchmarks left out of the
# figures. The last line is
#
#   core line coverage: NN.N%
#
# over image, protocol, serial and worker with all their subfolders. The
# per-file figures stay in <build>/coverage-summary.json. The counters are
# cleared before each run, so the figures are those of this run alone. The
# script exits non-zero when a test failed (the figures are printed anyway).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${COVERAGE_BUILD_DIR:-$root/build-coverage}
jobs=${COVERAGE_JOBS:-$(nproc)}
subsystems=(app ui worker protocol serial image sim)
core=(image protocol serial worker)

"$root/tools/setup-debian.sh"

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# ccache with CCACHE_BASEDIR compiles with relative paths; -fprofile-abs-path
# keeps the source paths in the coverage notes absolute, as gcovr needs them.
flags="--coverage -fprofile-abs-path"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DSERVOPROG_BUILD_BENCHMARKS=ON \
    -DSERVOPROG_SANITIZE=OFF -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
    ${launcher[@]+"${launcher[@]}"} >/dev/null
echo "== Building $build (coverage, no optimisation)"
cmake --build "$build" -j"$jobs" >"$build/coverage-build.log" 2>&1 \
    || { tail -n 40 "$build/coverage-build.log" >&2; echo "error: the build failed" >&2; exit 2; }

find "$build" -name '*.gcda' -delete
echo "== Running the suite"
status=0
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs" "$@") || status=$?

echo "== Collecting coverage"
filters=()
for s in "${subsystems[@]}"; do filters+=(-f "$s/"); done
cd "$root"
gcovr -r "$root" "$build" -j"$jobs" --gcov-ignore-parse-errors ${filters[@]+"${filters[@]}"} \
    --json-summary "$build/coverage-summary.json" >/dev/null \
    2>"$build/coverage-gcovr.log" \
    || { cat "$build/coverage-gcovr.log" >&2; echo "error: gcovr failed" >&2; exit 2; }

if [ "$status" -ne 0 ]; then
    echo "error: the suite failed (ctest exit $status); the figures below are those of a failed run" >&2
fi
python3 - "$build/coverage-summary.json" "${subsystems[*]}" "${core[*]}" <<'EOF'
import json, sys
summary = json.load(open(sys.argv[1]))
subsystems = sys.argv[2].split()
core = set(sys.argv[3].split())
totals = {s: [0, 0] for s in subsystems}
for f in summary["files"]:
    top = f["filename"].split("/", 1)[0]
    if top in totals:
        totals[top][0] += f["line_covered"]
        totals[top][1] += f["line_total"]
def percent(covered, total):
    return 100.0 * covered / total if total else 0.0
print(f"{'subsystem':<10} {'lines':>7} {'covered':>8} {'coverage':>9}")
for s in subsystems:
    covered, total = totals[s]
    print(f"{s:<10} {total:>7} {covered:>8} {percent(covered, total):>8.1f}%")
covered = sum(totals[s][0] for s in core)
total = sum(totals[s][1] for s in core)
print(f"core line coverage: {percent(covered, total):.1f}%")
EOF
exit "$status"

#!/usr/bin/env bash
# Mutation testing: how many deliberate faults in the product does the test
# suite catch?
#
#   tools/mutants.sh [-j N] [--no-baseline] [--list | --check] [NAME|GLOB ...]
#
# Each tools/mutants/<name>.patch is one small fault a real change could
# bring (its first line says which), a diff against the repository root. The
# script copies the working tree (tracked and untracked files, not the build
# folders) to a scratch folder outside the repository, MUTANTS_DIR (default
# ${TMPDIR:-/tmp}/servoprog-mutants), configures it there (RelWithDebInfo,
# ccache, no sanitizers, tests and benchmarks on) and keeps it, so that later
# runs build only what changed. It first builds and runs the unchanged suite,
# which must pass (--no-baseline skips that). Then, for each patch: apply it
# with git apply, build, run CTest until the first failure (offscreen, the
# tests' own time-outs), revert it, and print one line:
#
#   <name>  killed     <seconds>  <the test that failed>
#   <name>  SURVIVED   <seconds>  (every test passed: the suite misses it)
#   <name>  STALE                 (the patch no longer applies: the code moved)
#   <name>  BROKEN                (the patched product does not compile)
#
# and, as the last line, `mutants killed: K of N`, where N leaves out the
# STALE and BROKEN patches. The tests of the patch's subsystem, named by the
# prefix of its file name (image-* runs tests/image first, cli-* tests/cli and
# tests/cli-line), run first, then the others, so most mutants die early.
# NAMEs or GLOBs (such as 'worker-*') pick patches;
# the default is all of them. -j N sets the build's and CTest's parallelism
# (default: the number of cores). --list prints the patches and their
# descriptions. --check only shows that each patch still applies and
# compiles (every file it touches, checked with its own compile command, a
# few seconds a patch), without running the suite: `<name>  compiles`,
# STALE or BROKEN. The build and test output of each patch is kept in
# <scratch>/logs/<name>.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=${MUTANTS_DIR:-${TMPDIR:-/tmp}/servoprog-mutants}
jobs=$(nproc)
baseline=1
list=0
check=0
picks=()
while [ $# -gt 0 ]; do
    case "$1" in
    -j) jobs=$2; shift 2 ;;
    -j*) jobs=${1#-j}; shift ;;
    --no-baseline) baseline=0; shift ;;
    --list) list=1; shift ;;
    --check) check=1; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "usage: $0 [-j N] [--no-baseline] [--list | --check] [NAME|GLOB ...]" >&2; exit 2 ;;
    *) picks+=("$1"); shift ;;
    esac
done
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
    echo "error: -j needs a positive number" >&2
    exit 2
fi

# The patches chosen, in name order.
patches=()
for p in "$root"/tools/mutants/*.patch; do
    [ -e "$p" ] || continue
    name=$(basename "$p" .patch)
    if [ ${#picks[@]} -eq 0 ]; then
        patches+=("$p")
        continue
    fi
    for pick in "${picks[@]}"; do
        # shellcheck disable=SC2053 # the pick is a glob on purpose
        if [[ "$name" == $pick || "$name.patch" == $pick ]]; then
            patches+=("$p")
            break
        fi
    done
done
if [ ${#patches[@]} -eq 0 ]; then
    echo "error: no patch in tools/mutants matches: ${picks[*]:-(none there)}" >&2
    exit 2
fi
if [ "$list" = 1 ]; then
    for p in "${patches[@]}"; do printf '%-40s %s\n' "$(basename "$p" .patch)" "$(head -n 1 "$p")"; done
    exit 0
fi

"$root/tools/setup-debian.sh"
# A path below the repository would be copied into itself.
case "$scratch/" in
"$root"/*) echo "error: MUTANTS_DIR must lie outside the repository" >&2; exit 2 ;;
esac
mkdir -p "$scratch/logs"

# Brings the scratch copy level with the working tree. Only files whose
# content differs are copied, and they get the current time, so make rebuilds
# exactly what changed (also a file a mutant left behind when a run was
# killed); files that left the tree leave the copy too.
echo "== Copying the working tree to $scratch"
(cd "$root" && git ls-files -z --cached --others --exclude-standard) | python3 -c '
import filecmp, os, shutil, sys
src, dst = sys.argv[1], sys.argv[2]
names = sorted({n for n in sys.stdin.buffer.read().decode().split("\0") if n and os.path.lexists(os.path.join(src, n))})
manifest = os.path.join(dst, ".mutants-manifest")
old = set(open(manifest).read().split("\0")) if os.path.exists(manifest) else set()
for n in old - set(names):
    if n and os.path.lexists(os.path.join(dst, n)):
        os.remove(os.path.join(dst, n))
for n in names:
    s, d = os.path.join(src, n), os.path.join(dst, n)
    if os.path.islink(s) or os.path.isdir(s):
        continue
    if os.path.exists(d) and filecmp.cmp(s, d, shallow=False):
        continue
    os.makedirs(os.path.dirname(d), exist_ok=True)
    shutil.copyfile(s, d)
    shutil.copymode(s, d)
open(manifest, "w").write("\0".join(names))
' "$root" "$scratch"
# git apply inside a repository of its own, whatever folder holds the copy.
[ -d "$scratch/.git" ] || git -C "$scratch" init -q

# ccache finds the objects of an ordinary build when the copy's layout
# matches (CCACHE_BASEDIR makes the paths relative).
export CCACHE_BASEDIR="$scratch" CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
build="$scratch/build"
cmake -S "$scratch" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DSERVOPROG_BUILD_BENCHMARKS=ON \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DSERVOPROG_SANITIZE=OFF -DSERVOPROG_WERROR=OFF ${launcher[@]+"${launcher[@]}"} >"$scratch/logs/configure.log" 2>&1 \
    || { cat "$scratch/logs/configure.log" >&2; echo "error: configuring the copy failed" >&2; exit 2; }

build_copy() { cmake --build "$build" -j"$jobs" >"$1" 2>&1; }
ctest_copy() { (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --stop-on-failure -j"$jobs" "$@"); }
# The tests of the subsystem a patch names by its prefix (worker-... ->
# tests/worker; cli-... -> tests/cli and tests/cli-line), as a CTest regex;
# empty when no test folder has that name.
subsystem_tests() {
    local prefix=${1%%-*} dir names=()
    for dir in "$build/tests/$prefix" "$build/tests/$prefix"-*; do
        [ -f "$dir/CTestTestfile.cmake" ] || continue
        while read -r t; do names+=("$t"); done < <(cd "$dir" && ctest -N | sed -n 's/^ *Test *#[0-9]*: \(.*\)$/\1/p')
    done
    [ ${#names[@]} -eq 0 ] || (IFS='|'; echo "^(${names[*]})\$")
}
# Runs the suite into log $1, stopping at the first failure; with a patch
# name as $2 that patch's subsystem tests go first, as they most likely fail.
run_suite() {
    local log=$1 first=""
    [ $# -lt 2 ] || first=$(subsystem_tests "$2")
    if [ -z "$first" ]; then
        ctest_copy >>"$log" 2>&1
    else
        ctest_copy -R "$first" >>"$log" 2>&1 && ctest_copy -E "$first" >>"$log" 2>&1
    fi
}
# The tests CTest lists as failed, comma-separated.
failed_tests() {
    sed -n '/The following tests FAILED:/,$p' "$1" | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (\(.*\))$/\1 (\2)/p' \
        | paste -sd, - | sed 's/,/, /g'
}

# --check: compiles the files the applied patch touches, each with its
# compile command (a header with every file that includes it: the build).
compile_touched() {
    local patch=$1 log=$2
    git -C "$scratch" apply --numstat "$patch" | cut -f3 | python3 -c '
import json, os, shlex, subprocess, sys
root, build = sys.argv[1], sys.argv[2]
commands = {os.path.realpath(os.path.join(c["directory"], c["file"])): c
            for c in json.load(open(os.path.join(build, "compile_commands.json")))}
status = 0
for name in sys.stdin.read().split():
    c = commands.get(os.path.realpath(os.path.join(root, name)))
    if c is None:
        sys.exit(3)  # not compiled on its own: build everything
    args = c["arguments"] if "arguments" in c else shlex.split(c["command"])
    args = [a for a in args if os.path.basename(a) != "ccache"]
    if "-o" in args:
        i = args.index("-o")
        del args[i:i + 2]
    status |= subprocess.run(args + ["-fsyntax-only"], cwd=c["directory"]).returncode
sys.exit(1 if status else 0)
' "$scratch" "$build" >>"$log" 2>&1
}

if [ "$check" = 1 ]; then
    baseline=0
    # The generated headers (moc, uic) must be there and current.
    echo "== Building the unchanged copy"
    build_copy "$scratch/logs/check-build.log" \
        || { tail -n 40 "$scratch/logs/check-build.log" >&2; echo "error: the unchanged tree does not build" >&2; exit 2; }
fi

if [ "$baseline" = 1 ]; then
    echo "== Baseline: building and running the unchanged suite"
    start=$SECONDS
    log="$scratch/logs/baseline.log"
    build_copy "$log" || { tail -n 40 "$log" >&2; echo "error: the unchanged tree does not build" >&2; exit 2; }
    if ! run_suite "$log"; then
        echo "error: the unchanged suite fails: $(failed_tests "$log"); see $log" >&2
        exit 2
    fi
    echo "baseline: the suite passes ($((SECONDS - start)) s)"
fi

current=""
revert_current() {
    if [ -n "$current" ]; then
        git -C "$scratch" apply -R "$current" || true
        current=""
    fi
}
trap revert_current EXIT
trap 'exit 130' INT TERM

killed=0
survived=0
stale=0
broken=0
echo "== Mutants (${#patches[@]})"
for p in "${patches[@]}"; do
    name=$(basename "$p" .patch)
    log="$scratch/logs/$name.log"
    start=$SECONDS
    if ! git -C "$scratch" apply --check "$p" >"$log" 2>&1; then
        printf '%-40s %s\n' "$name" STALE
        stale=$((stale + 1))
        continue
    fi
    git -C "$scratch" apply "$p"
    current=$p
    if [ "$check" = 1 ]; then
        rc=0
        compile_touched "$p" "$log" || rc=$?
        [ "$rc" = 3 ] && { build_copy "$log" && rc=0 || rc=1; }
        if [ "$rc" = 0 ]; then
            printf '%-40s %s\n' "$name" compiles
        else
            printf '%-40s %s\n' "$name" BROKEN
            broken=$((broken + 1))
        fi
    elif ! build_copy "$log"; then
        printf '%-40s %s\n' "$name" BROKEN
        broken=$((broken + 1))
    elif run_suite "$log" "$name"; then
        printf '%-40s %-9s %5d s\n' "$name" SURVIVED $((SECONDS - start))
        survived=$((survived + 1))
    else
        printf '%-40s %-9s %5d s  %s\n' "$name" killed $((SECONDS - start)) "$(failed_tests "$log")"
        killed=$((killed + 1))
    fi
    git -C "$scratch" apply -R "$p"
    current=""
done

if [ $((stale + broken)) -gt 0 ]; then
    echo "not counted: $stale STALE, $broken BROKEN (refresh those patches)"
fi
if [ "$check" = 1 ]; then
    echo "patches that apply and compile: $((${#patches[@]} - stale - broken)) of ${#patches[@]}"
    [ $((stale + broken)) -eq 0 ]
    exit
fi
echo "mutants killed: $killed of $((killed + survived))"

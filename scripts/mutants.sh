#!/usr/bin/env bash
# Plants each fault kept in tests/mutants/ into a copy of the tree, one at a
# time, rebuilds and runs the tests, and tells which test caught it.
#
#   scripts/mutants.sh [--rev REV] [--build-only] [NAME-PATTERN...]
#
# The copy is the working tree's tracked files, or commit REV with --rev; the
# faults always come from the working tree. A fault's patch may name the tests
# likely to catch it on a "Tests:" line (a ctest regex): those run first, and
# the rest of the suite only if they all pass. The copy and its build stay in
# build-mutants/ between runs, so later runs build incrementally.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

rev=""
build_only=0
patterns=()
while (($#)); do
    case $1 in
        --rev) rev=$2; shift 2 ;;
        --build-only) build_only=1; shift ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) patterns+=("$1"); shift ;;
    esac
done

work=${MUTANTS_DIR:-$root/build-mutants}
src=$work/src
bld=$work/build
stage=$work/stage
mkdir -p "$src" "$bld"
rm -rf "$stage" && mkdir -p "$stage"
if [[ -n $rev ]]; then
    git archive "$rev" | tar -x -C "$stage" || exit 2
else
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [[ -e $f ]] && printf '%s\0' "$f"; done |
        xargs -0 cp --parents -t "$stage" || exit 2
fi
# Copy only what changed, stamped now, so the build stays incremental.
(cd "$stage" && find . -type f -print0) | while IFS= read -r -d '' f; do
    cmp -s "$stage/$f" "$src/$f" || { mkdir -p "$src/$(dirname "$f")" && cp "$stage/$f" "$src/$f"; }
done
(cd "$src" && find . -type f -print0) | while IFS= read -r -d '' f; do
    [[ -e $stage/$f ]] || rm -f "$src/$f"
done
rm -rf "$stage"

# No debug information: links dominate each mutant's rebuild. No man pages
# either: a fault that breaks --help is the tests' to catch, not the build's.
cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS=-O1 -DVELMOR_MAN_PAGES=OFF >"$work/configure.log" 2>&1 ||
    { echo "configure failed: $work/configure.log"; exit 2; }
if ! cmake --build "$bld" >"$work/build.log" 2>&1; then
    echo "the unmutated tree does not build: $work/build.log"; exit 2
fi

jobs=$(nproc)
applied=""
revert() {
    if [[ -n $applied ]]; then
        patch -d "$src" -p1 -R -s -f <"$applied" >/dev/null
        applied=""
    fi
}
trap 'revert; exit 130' INT TERM

# First test that ctest reports as failed, from its closing summary.
first_failure() {
    sed -n '/The following tests FAILED/,$p' "$1" |
        sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (\(.*\))$/\1 (\2)/p' | head -1
}

caught() {
    local t
    t=$(first_failure "$1")
    echo "${t:-a failed ctest run, see $1}"
}

run_tests() { # log, extra ctest args...
    local log=$1; shift
    ctest --test-dir "$bld" -j"$jobs" --stop-on-failure --no-tests=ignore "$@" >"$log" 2>&1
}

killed=0 survived=0 broken=0
results=$work/results.txt
: >"$results"
shopt -s nullglob
for p in "$root"/tests/mutants/*.patch; do
    name=$(basename "$p" .patch)
    if ((${#patterns[@]})); then
        hit=0
        for pat in "${patterns[@]}"; do [[ $name == *$pat* ]] && hit=1; done
        ((hit)) || continue
    fi
    if ! patch -d "$src" -p1 -s -f --dry-run <"$p" >/dev/null 2>&1; then
        echo "BROKEN    $name  (does not apply)" | tee -a "$results"
        ((broken++)); continue
    fi
    patch -d "$src" -p1 -s -f <"$p" >/dev/null
    applied=$p
    start=$SECONDS
    if ! cmake --build "$bld" >"$work/mutant-build.log" 2>&1; then
        echo "BROKEN    $name  (does not build: see $work/mutant-build.log)" | tee -a "$results"
        ((broken++)); revert; continue
    fi
    if ((build_only)); then
        echo "BUILT     $name" | tee -a "$results"; revert; continue
    fi
    hint=$(sed -n 's/^Tests:[[:space:]]*//p' "$p" | head -1)
    by=""
    if [[ -n $hint ]]; then
        run_tests "$work/mutant-test.log" -R "$hint" || by=$(caught "$work/mutant-test.log")
    fi
    if [[ -z $by ]]; then
        args=()
        [[ -n $hint ]] && args=(-E "$hint")
        run_tests "$work/mutant-test.log" "${args[@]}" || by=$(caught "$work/mutant-test.log")
    fi
    revert
    if [[ -n $by ]]; then
        echo "KILLED    $name  by $by  [$((SECONDS - start)) s]" | tee -a "$results"
        ((killed++))
    else
        echo "SURVIVED  $name  [$((SECONDS - start)) s]" | tee -a "$results"
        ((survived++))
    fi
done
# Leave the copy's build matching the unmutated tree.
cmake --build "$bld" >"$work/build.log" 2>&1
summary="$killed killed, $survived survived"
((broken)) && summary+=", $broken broken"
echo "$summary" | tee -a "$results"
((broken == 0))

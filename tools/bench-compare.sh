#!/bin/bash
# Runs the bench of two or more git revisions or build directories with the same arguments and
# prints one markdown table, a column per revision or build. Each revision is built in a
# throw-away worktree under /tmp through its Makefile, with the same flags (RelWithDebInfo, plus
# CMAKE_FLAGS; QT=6 builds against Qt 6).
#   tools/bench-compare.sh main HEAD             before/after, offscreen
#   tools/x-session.sh tools/bench-compare.sh build build-qt6 -- --x   Qt 5 beside Qt 6, in X
set -euo pipefail

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
targets=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do targets+=("$1"); shift; done
[ $# -gt 0 ] && shift
if [ ${#targets[@]} -lt 2 ]; then
    echo "usage: $0 REV|BUILD_DIR REV|BUILD_DIR... [-- BENCH_ARGS...]" >&2
    exit 2
fi

work=$(mktemp -d /tmp/bench-compare.XXXXXX)
trees=()
trap 'for t in "${trees[@]}"; do git -C "$repo" worktree remove --force "$t"; done' EXIT

runs=()
for target in "${targets[@]}"; do
    name=$((${#runs[@]} + 1))-$(basename "$target" | tr -c "A-Za-z0-9._\n-" _)
    bench=$target/bench/teskmanager_bench
    if [ ! -x "$bench" ]; then
        tree=$work/tree-$name
        git -C "$repo" worktree add --detach -q "$tree" "$target"
        trees+=("$tree")
        # Revisions older than the build-bench target build the whole tree.
        goal=build-bench
        grep -q '^build-bench:' "$tree/Makefile" || goal=build
        flags="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DWITH_FUZZERS=OFF -DWITH_SANITIZERS=OFF"
        make -C "$tree" "$goal" BUILD_DIR=build CMAKE_FLAGS="$flags ${CMAKE_FLAGS:-}" \
            > "$work/$name.build.log" 2>&1 \
            || { tail -n 30 "$work/$name.build.log" >&2; exit 1; }
        bench=$tree/build/bench/teskmanager_bench
    fi
    echo "== $target" >&2
    # A run whose logs lost bytes still has figures to show.
    "$bench" --json "$@" > "$work/$name.json" || true
    runs+=("$work/$name.json")
done
echo "Runs kept in $work" >&2
"$bench" --table "${runs[@]}"

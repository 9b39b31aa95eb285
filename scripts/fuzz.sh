#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

scripts/install-deps.sh ci
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMOR_FUZZ=ON
cmake --build build-fuzz

for target in build-fuzz/fuzz/*_fuzz; do
    name=$(basename "$target" _fuzz)
    work=$(mktemp -d)
    echo "== fuzzing $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
        "$work" "fuzz/corpus/$name" 2>&1 | tail -n 12
    rm -rf "$work"
done

#!/usr/bin/env bash
# The tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMOR_SANITIZE=ON -DVELMOR_MAN_PAGES=OFF
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" \
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

# Several receivers at once from one process share nothing by accident: the
# engine and velmor-cli under ThreadSanitizer, on the tests that run them.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMOR_TSAN=ON
cmake --build build-tsan --target upload_tests cli_tests velmor-cli
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j"$(nproc)" --no-tests=error -R 'TwoReceiversAtOnce|FourBoardsOneFails|StopsAndDeadlines'

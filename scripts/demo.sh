#!/usr/bin/env bash
# Installs what is missing, builds, and runs velmor against the simulated receiver.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
cmake -S . -B build -G Ninja
cmake --build build

if [ ! -x build/loader/velmor ]; then
    cat >&2 <<'TXT'

Built what exists so far: the image readers (loader/image), their tests and
benchmark. velmor itself, its dialog and the simulated receiver board are not
there yet, so there is nothing to run. Run scripts/test.sh for the tests.
TXT
    exit 1
fi

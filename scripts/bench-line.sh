#!/usr/bin/env bash
# Installs what is missing, builds, and updates four simulated receivers at once
# with velmor-cli: one live line per board, then the result of each.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
cmake -S . -B build -G Ninja
cmake --build build --target velmor-cli velmor-board velmor-mkimage velmor_samples

line=build/demo-line
devices="$line/dev"
mkdir -p "$devices"
build/receiver/velmor-mkimage -o "$line/old-flash.bin" --fw-version V2.15

boards=()
trap 'kill "${boards[@]}" 2>/dev/null; wait 2>/dev/null' EXIT
ports=()
for n in 1 2 3 4; do
    rm -f "$devices/gps$n"
    cp "$line/old-flash.bin" "$line/gps$n-flash.bin"
    build/receiver/velmor-board --dir "$devices" --name "gps$n" --flash "$line/gps$n-flash.bin" --pace \
        --no-stream >/dev/null 2>&1 &
    boards+=($!)
    ports+=(--port "$devices/gps$n")
done
for n in 1 2 3 4; do
    for _ in $(seq 50); do [ -e "$devices/gps$n" ] && break; sleep 0.1; done
    [ -e "$devices/gps$n" ] || { echo "simulated board $n did not start" >&2; exit 1; }
done

echo "Four simulated receivers with firmware V2.15; velmor-cli loads V2.31 into all of them at once."
echo "The per-port logs go to $line/."
status=0
build/loader/velmor-cli flash build/loader/MarnethAndPfl.bin "${ports[@]}" --log-dir "$line" || status=$?
echo "velmor-cli exited with $status."
exit "$status"

#!/usr/bin/env bash
# Installs what is missing, builds, and plays a production line for a
# terminal: two stations where simulated receivers are plugged in one after
# another (the third with a flash cell that fails), each unplugged once its
# result is in, while `velmor-cli watch` flashes each as it comes and keeps
# a report and a JUnit file.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
cmake -S . -B build -G Ninja
cmake --build build --target velmor-cli velmor-board velmor-mkimage velmor_samples

line=$PWD/build/demo-watch
devices=$line/dev
report=$line/report.jsonl
receivers=6
rm -rf "$line"
mkdir -p "$devices"
build/receiver/velmor-mkimage -o "$line/old-flash.bin" --fw-version V2.15 >/dev/null

# One station: plugs its receivers in one at a time, and unplugs each once
# the report has its line, as an operator does on green.
station() { # number, receivers
    local port=$devices/gps$1 n board="" results=0
    trap '[ -n "$board" ] && kill "$board" 2>/dev/null; exit 0' TERM INT
    for n in $2; do
        sleep 2
        cp "$line/old-flash.bin" "$line/receiver$n-flash.bin"
        local fault=()
        [ "$n" = 3 ] && fault=(--fault bad-cell)
        build/receiver/velmor-board --dir "$devices" --name "gps$1" --flash "$line/receiver$n-flash.bin" --pace \
            --no-stream "${fault[@]}" >/dev/null 2>&1 &
        board=$!
        results=$((results + 1))
        until [ "$(grep -c "\"port\":\"$port\"" "$report" 2>/dev/null)" -ge "$results" ]; do sleep 0.5; done
        kill "$board"
        wait "$board" 2>/dev/null || true
        board=""
    done
}

station 1 "1 3 5" &
first=$!
station 2 "2 4 6" &
second=$!
trap 'kill "$first" "$second" 2>/dev/null; wait 2>/dev/null' EXIT

echo "Two stations; $receivers simulated receivers with firmware V2.15 are plugged in one after another"
echo "(the third has a flash cell that fails) and unplugged once flashed. velmor-cli watch loads V2.31."
echo "Report: $report, JUnit: $line/junit.xml, per-port logs in $line/."
status=0
VELMOR_DEVICE_DIR=$devices build/loader/velmor-cli watch build/loader/MarnethAndPfl.bin --count "$receivers" \
    --report "$report" --junit "$line/junit.xml" --log-dir "$line" || status=$?
echo "velmor-cli exited with $status (6: the receiver with the failing cell did not verify)."
exit "$status"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs velmor against the simulated receiver:
# a board on a pseudo-terminal published as GPS1:, with an older firmware in its flash.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
cmake -S . -B build -G Ninja
cmake --build build

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'TXT'

velmor is a desktop program, and there is no display here (DISPLAY is not set).
Run this command again from a desktop session (or over ssh -X). For a headless
check that it starts, a virtual display does:  xvfb-run -a scripts/demo.sh
TXT
    exit 1
fi

demo=build/demo
devices="$demo/dev"
mkdir -p "$devices"
rm -f "$devices/gps1"
# The board's flash starts with the firmware V2.15; the image beside velmor carries V2.31.
build/receiver/velmor-mkimage -o "$demo/receiver-flash.bin" --fw-version V2.15

build/receiver/velmor-board --dir "$devices" --name gps1 --flash "$demo/receiver-flash.bin" --pace &
board=$!
trap 'kill "$board" 2>/dev/null; wait "$board" 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "$devices/gps1" ] && break; sleep 0.1; done
[ -e "$devices/gps1" ] || { echo "the simulated board did not start" >&2; exit 1; }

cat <<TXT

The simulated receiver board answers on GPS1: (bytes take their real time on the wire).
In velmor: click "Connect GPS", wait for "GPS connected at 4800", then click "Load".
The image is build/loader/MarnethAndPfl.bin; the log is build/loader/Velmor.txt;
the board's flash is $demo/receiver-flash.bin (rewritten after an upload).
TXT
VELMOR_DEVICE_DIR="$devices" build/loader/velmor

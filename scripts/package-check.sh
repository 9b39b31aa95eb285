#!/usr/bin/env bash
# CI's package proof: builds and checks the packages (scripts/package.sh),
# unpacks them into a scratch root, and with the source and build folders out
# of reach runs what was unpacked: velmor-board from velmor-sim as GPS1:, and
# velmor-cli, which must find its SFLD in the installed data folder and leave
# the board's flash equal to the sample image. Nothing is installed.
#   scripts/package-check.sh
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

scripts/package.sh

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/root" "$scratch/dev" "$scratch/home" "$scratch/logs"
for deb in build/packages/*.deb; do
    dpkg-deb -x "$deb" "$scratch/root"
done

# The proof runs from its own copy: the repository is covered while it runs.
cat >"$scratch/proof.sh" <<'EOF'
set -euo pipefail
scratch=$1
root=$scratch/root
bin=$root/usr/bin
image=$root/usr/share/velmor-sim/MarnethAndPfl.bin
export PATH=/usr/bin:/bin HOME=$scratch/home VELMOR_DEVICE_DIR=$scratch/dev
unset LD_LIBRARY_PATH XDG_STATE_HOME

for program in "$bin"/velmor "$bin"/velmor-cli "$bin"/velmor-board "$bin"/velmor-mkimage "$root"/usr/sbin/quillon; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version
done

# bash completion of the installed velmor-cli, from its own --help.
completion=$(PATH=$bin:$PATH bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    complete_words() {
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}; COMPREPLY=()
        _velmor_cli velmor-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        echo "${COMPREPLY[*]}"
    }
    complete_words velmor-cli fl
    complete_words velmor-cli flash --ver' _ "$root/usr/share/bash-completion/completions/velmor-cli")
[[ $completion == $'flash\n--verify' ]] || { echo "bash completion: $completion"; exit 1; }

"$bin"/velmor-mkimage -o "$scratch/flash.bin" --fw-version V2.15
"$bin"/velmor-board --flash "$scratch/flash.bin" >"$scratch/board.out" 2>"$scratch/board.err" &
board=$!
stop_board() { kill "$board" 2>/dev/null && wait "$board" || true; }
trap stop_board EXIT
deadline=$((SECONDS + 10))
until [[ -e $scratch/dev/gps1 ]]; do
    ((SECONDS < deadline)) || { echo "velmor-board did not publish gps1"; cat "$scratch/board.err"; exit 1; }
    sleep 0.1
done

"$bin"/velmor-cli flash "$image" --port GPS1: --timeout 120 --log-dir "$scratch/logs"
cmp "$scratch/flash.bin" "$image"
echo "the board's flash equals $image"

# Without the installed SFLD the same Load is refused before any port opens:
# the one it used was the data folder's.
rm "$root/usr/share/velmor/sfld.hex"
status=0
"$bin"/velmor-cli flash "$image" --port GPS1: --force --timeout 60 --log-dir "$scratch/logs" >"$scratch/nosfld.out" 2>&1 || status=$?
grep -qF "$root/usr/share/velmor/sfld.hex" "$scratch/nosfld.out" ||
    { echo "no SFLD, yet no word of the data folder (status $status)"; cat "$scratch/nosfld.out"; exit 1; }
((status == 3)) || { echo "a Load without an SFLD ended with status $status, not 3 (image refused)"; exit 1; }
cmp "$scratch/flash.bin" "$image" || { echo "a refused Load changed the board's flash"; exit 1; }
echo "velmor-cli took its SFLD from the data folder"
EOF

cover='mount -t tmpfs -o ro velmor-out-of-reach "$2" && exec bash "$1/proof.sh" "$1"'
if [[ $(id -u) -eq 0 ]] && unshare --mount --propagation private true 2>/dev/null; then
    unshare --mount --propagation private bash -c "$cover" _ "$scratch" "$repo"
elif unshare --mount --map-root-user true 2>/dev/null; then
    unshare --mount --map-root-user bash -c "$cover" _ "$scratch" "$repo"
else
    echo "no mount namespace here: the repository stays visible, the programs run with PATH cleaned"
    bash "$scratch/proof.sh" "$scratch"
fi

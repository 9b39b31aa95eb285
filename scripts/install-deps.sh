#!/usr/bin/env bash
# Installs the Debian packages a job needs, only those that are missing.
#   scripts/install-deps.sh build|test|package|ci
set -euo pipefail

# Configuring builds the tests too, so their tools are part of the build.
build=(cmake ninja-build g++ pkg-config libgtest-dev binutils srecord libfdisk-dev libblkid-dev qt6-base-dev libx11-dev libudev-dev nlohmann-json3-dev libcli11-dev)
test=("${build[@]}" fdisk dosfstools e2fsprogs xvfb xauth ser2net)
# Packages and their checks: help2man for the man pages, dpkg-dev and file for
# the dependencies cpack asks dpkg-shlibdeps for, then the checkers.
package=("${build[@]}" help2man dpkg-dev file lintian desktop-file-utils appstream bash-completion)
ci=("${test[@]}" "${package[@]}" clang libclang-rt-14-dev)

case "${1:-}" in
    build) wanted=("${build[@]}") ;;
    test) wanted=("${test[@]}") ;;
    package) wanted=("${package[@]}") ;;
    ci) wanted=("${ci[@]}") ;;
    *) echo "usage: $0 build|test|package|ci" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Missing packages: ${missing[*]} (run as root or install sudo)" >&2; exit 1; }
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

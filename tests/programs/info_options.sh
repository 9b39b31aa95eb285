#!/bin/sh
# Each program named: "--version" prints "<name> <version>" and "--help" ends
# well, with no display at all (the Qt programs answer before Qt starts).
#   info_options.sh VERSION PROGRAM...
set -u
version=$1
shift
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
status=0
for program in "$@"; do
    name=$(basename "$program")
    out=$("$program" --version 2>&1)
    if [ $? -ne 0 ] || [ "$out" != "$name $version" ]; then
        echo "$name --version: '$out', expected '$name $version'"
        status=1
    fi
    if ! help=$("$program" --help 2>&1) || [ -z "$help" ]; then
        echo "$name --help failed: $help"
        status=1
    fi
done
exit $status

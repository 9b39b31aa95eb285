#!/bin/sh
# The velmor-cli man page's include: the fixed sections, then COMMANDS made
# of each command's own --help, so the page follows the program.
#   cli-commands.sh PROGRAM BASE.h2m OUTPUT.h2m
set -eu
program=$1
{
    cat "$2"
    echo "[COMMANDS]"
    "$program" --help | sed -n '/^Subcommands:/,/^$/s/^ \{1,\}\([a-z][a-z-]*\) .*/\1/p' |
        while read -r command; do
            echo ".SS $command"
            echo ".nf"
            "$program" "$command" --help | sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\&&/"
            echo ".fi"
        done
} >"$3"

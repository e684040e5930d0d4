#!/bin/bash
# The bash completion of glimmerpane-cli, asked as bash would ask it, against
# the built program's own list of commands.
# usage: test_completion.sh COMPLETION_FILE BUILD_DIR
set -u
export LC_ALL=C
source "$1"
export PATH="$2:$PATH"
failures=0

# complete WORDS... : COMPREPLY for the last word (may be empty).
complete_line() {
    COMP_WORDS=(glimmerpane-cli "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _glimmerpane_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
    local want=$1
    shift
    local got
    got=$(complete_line "$@")
    if [[ $got != "$want" ]]; then
        echo "FAIL: glimmerpane-cli $* <TAB>: want '$want', got '$got'"
        failures=$((failures + 1))
    else
        echo "ok: glimmerpane-cli $* <TAB> -> $got"
    fi
}

expect "calibrate-outputs calibration co2 comms config" c
expect "diff load save" config ""
expect "diff" --port /tmp/x config d
expect "set" --simulate --json comms ""
expect "--all-nonvol --yes" config save x.cfg --
expect "--no-logo" firmware x.bin --no
expect "--sensors" watch --s
expect "--co2 --count" watch --c
expect "--sim-option --simulate" --si
expect "doctor" --port ttyUSB0 do
expect "help" he
expect "identity" --ports ttyUSB0,ttyUSB1 --port ttyUSB2 id
expect "--port --ports" --por
expect "--fast" --fa
exit $((failures > 0))

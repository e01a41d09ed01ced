#!/usr/bin/env bash
# The bash completion of romsmith-cli, asked as bash asks it: the words of
# the line so far, the completions it offers.
# Usage: completion_test.sh COMPLETION_SCRIPT ROMSMITH_CLI
set -u
script=$1
cli=$2
source "$script"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
mkdir boards
touch a.cfg b.cfg image.bin image.hex app.elf notes.txt station.ini log.csv

failures=0
# expect "WORD WORD ... CURRENT" "EXPECTED COMPLETIONS, sorted, space-separated"
expect() {
    read -r -a COMP_WORDS <<<"$cli $1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _romsmith_cli
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort -u | tr '\n' ' ' | sed 's/ $//')
    if [[ $got != "$2" ]]; then
        echo "FAIL: '$1' gave '$got', not '$2'"
        failures=$((failures + 1))
    fi
}

expect "ch" "check-block checksum"
expect "-c a.cfg pro" "program protect"
expect "--js" "--json"
expect "-c " "a.cfg b.cfg boards"
expect "program -f " "- app.elf boards image.bin image.hex"
expect "--format " "bin hex image"
expect "--board " "boards station.ini"
expect "--set Option.Time" "Option.TimeOut="
expect "--set Remote.D" "Remote.Device="
expect "--set = Remote.Pa" "Remote.Parallel="
expect "batch " "boards station.ini"
expect "batch station.ini -f image.bin er" "erase"
expect "batch station.ini --cs" "--csv"
expect "batch station.ini --csv " "boards log.csv"
expect "hex2bin " "boards image.hex"
expect "-s 1-4 -c a.cfg " "batch blank-check check-block checksum decode drivers encode erase hex2bin program protect read-registers target-test upload verify"
# Every key the program takes, and only those.
expect "--set Tevrin.Deb" "Tevrin.Debug= Tevrin.DebugCount= Tevrin.DebugFile="
exit $((failures > 0))

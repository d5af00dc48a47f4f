#!/usr/bin/env bash
# Hostile scripts played by "hadrok run": each ends within its time limit,
# with the status and the last error line given (empty: no error).
#
#   hostile_lines.sh HADROK
#
# HADROK_UNDER_WINE=1 says that HADROK runs the Windows program under Wine.
set -u
source "$(dirname "$0")/case_table.sh"

# The script played is $work/script.
#
#   hostile LIMIT STATUS ERROR TITLE
hostile() {
    local limit=$1 want_status=$2 want=$3 title=$4
    local errors status
    errors=$(TZ=UTC timeout "$limit" "$hadrok" run --frozen-clock --in-this-folder <"$work/script" 2>&1 >"$work/out")
    status=$?
    cases=$((cases + 1))
    if [ "$status" -ne "$want_status" ] || [ "$(printf '%s' "$errors" | tail -n 1)" != "$want" ]; then
        failures=$((failures + 1))
        echo "FAIL: $title"
        [ "$status" -eq 124 ] && echo "  not done within $limit s"
        echo "  expected status $want_status and: $want"
        echo "  got status $status and: $(printf '%s' "$errors" | tail -c 300)"
    fi
}
# The same with the simulator's byte budgets cut from MiB to KiB
# (HADROK_RUN_SMALL_BUDGETS, host/script_budgets.h): each limit is reached and
# told the same way, without building gigabytes.
hostile_small() {
    HADROK_RUN_SMALL_BUDGETS=1 hostile "$@"
}
# many TEXT N: TEXT N times, on one line.
many() {
    head -c "$2" /dev/zero | tr '\0' "$1"
}
setup() {
    printf 'connect 1\nplayer Bob\n' >"$work/script"
}

setup
printf 'player %s\nBob: !about\n' "$(many '{' 40)" >>"$work/script"
hostile 20 0 "" "40 unclosed braces in a name"
setup
printf 'Bob: !x %s\n' "$(many '{' 200000)" >>"$work/script"
hostile 20 0 "" "200,000 unclosed braces in an argument"
setup
printf 'Bob: !x %sa*2%s\n' "$(many '{' 100000)" "$(many '}' 100000 | sed 's/}/*2}/g')" >>"$work/script"
hostile 20 2 "$program: <stdin>:3: repeat groups nested more than 32 deep" "100,000 nested repeats"
setup
line=ini
for i in $(seq 0 39); do line+=" K$i={x*65536}"; done
printf '%s\n' "$line" >>"$work/script"
hostile_small 60 2 "$program: <stdin>:3: the line's texts are longer than 64 KiB in all" "40 texts of 64 KiB on one line (small budgets)"
setup
for i in $(seq 1 20); do printf 'Bob: !x {x*58594}\n' >>"$work/script"; done
hostile_small 120 2 "$program: <stdin>:20: the script's texts are longer than 1 MiB in all" "texts of 1 MiB over a run (small budgets)"
setup
printf 'Bob: !x {xx*32769}\n' >>"$work/script"
hostile_small 20 2 "$program: <stdin>:3: repeated text longer than 64 KiB" "one text longer than 64 KiB (small budgets)"
setup
printf 'Bob: !x %s\n' "$(many x 17000)" >>"$work/script"
hostile_small 20 2 "$program: <stdin>:3: line longer than 16 KiB" "a line longer than 16 KiB (small budgets)"
# One limit at its full size, for the budgets the operator gets.
setup
printf 'Bob: !x %s\n' "$(many x 17000000)" >>"$work/script"
hostile 20 2 "$program: <stdin>:3: line longer than 16 MiB" "a line longer than 16 MiB"
# Running out of memory ends the line, not the program: under a small address
# space (where the program starts at all: not under a sanitizer or Wine).
if (ulimit -v 150000 && "$hadrok" run --in-this-folder </dev/null >/dev/null 2>&1) 2>/dev/null; then
    setup
    printf 'ini K={x*60000000}\n' >>"$work/script"
    errors=$(ulimit -v 150000 && TZ=UTC timeout 20 "$hadrok" run --frozen-clock --in-this-folder <"$work/script" 2>&1 >/dev/null)
    status=$?
    cases=$((cases + 1))
    if [ "$status" -ne 2 ] || [ "$errors" != "$program: <stdin>:3: not enough memory to play this line" ]; then
        failures=$((failures + 1))
        echo "FAIL: a line that needs more memory than there is: status $status, $errors"
    fi
fi
# Paths as Linux names them.
if [ -z "${HADROK_UNDER_WINE:-}" ]; then
setup
printf 'show /dev/zero\nexit\n' >>"$work/script"
hostile 20 0 "" "show of a device"
grep -qxF '  (/dev/zero is not a regular file)' "$work/out" || { failures=$((failures + 1)); echo "FAIL: show of a device: $(tail -n 1 "$work/out")"; }
head -c 17000 /dev/zero >"$work/big"
setup
printf 'show %s\nexit\n' "$work/big" >>"$work/script"
hostile_small 20 0 "" "show of a file larger than 16 KiB (small budgets)"
grep -qxF "  ($work/big is larger than 16 KiB)" "$work/out" || { failures=$((failures + 1)); echo "FAIL: show of a large file: $(tail -n 1 "$work/out")"; }
rm -f "$work/big"
fi
setup
printf 'event 17 slot0=1\n' >>"$work/script"
hostile 20 2 "$program: <stdin>:3: event: the plug-in reads slot0 of event 17 as a pointer: slot0= takes null, self or player:NAME (run --raw-pointer-slots allows a number there, and the plug-in may crash)" "a raw number as a player record"
setup
printf 'event 20 slot0=player:Bob slot1=player:Bob\n' >>"$work/script"
hostile 20 2 "$program: <stdin>:3: event: the plug-in reads slot1 of event 20 as a pointer: slot1= takes null or command" "a player record as a command record"
setup
printf 'event 0 slot0=0x60000 slot1=4096\n' >>"$work/script"
hostile 20 2 "$program: <stdin>:3: event: the plug-in reads slot1 of event 0 as a pointer: slot1= takes null or callback (run --raw-pointer-slots allows a number there, and the plug-in may crash)" "a raw number as the callback"
printf 'connect 1\n' >"$work/script"
seq -f 'player p%.0f' 1 65536 >>"$work/script"
hostile 60 2 "$program: <stdin>:65537: no ident left: 65535 players are in the arena (\"quit NAME\" frees one)" "65,536 players"
setup
printf 'tick 4294967295\n' >>"$work/script"
hostile 20 2 "$program: <stdin>:3: tick count must be a number from 0 to 1000000, not \"4294967295\"" "four billion ticks"
setup
printf 'advance 36500d\nadvance 1s\n' >>"$work/script"
hostile 20 2 "$program: <stdin>:4: advance: the clocks would be more than a century ahead in all" "more than a century in two steps"

finish_cases

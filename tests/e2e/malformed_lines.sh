#!/usr/bin/env bash
# Every kind of malformed script line stops "hadrok run" with exit status 2
# and one error naming the line. Each case plays the setup lines, then the bad
# line, then a line that must never run.
#
#   malformed_lines.sh HADROK
#
# HADROK_UNDER_WINE=32 (or 64) says that HADROK runs the 32-bit (or 64-bit)
# Windows program under Wine: event slots are as wide as a pointer, and it
# names /tmp/x as Z:\tmp\x.
# The hostile scripts, much slower, are in hostile_lines.sh.
set -u
source "$(dirname "$0")/case_table.sh"

slot_max=18446744073709551615
missing_plugin=$work/missing.so
missing_plugin_shown=$missing_plugin
if [ -n "${HADROK_UNDER_WINE:-}" ]; then
    [ "$HADROK_UNDER_WINE" = 64 ] || slot_max=4294967295
    missing_plugin_shown="Z:${missing_plugin//\//\\}"
fi

# check SETUP LINE MESSAGE: SETUP is played first (lines separated by ";").
check() {
    local setup=$1 line=$2 message=$3
    local input="" count=0
    if [ -n "$setup" ]; then
        input=$(printf '%s\n' "${setup//;/$'\n'}")$'\n'
        count=$(printf '%s' "$input" | grep -c '')
    fi
    input+="$line"$'\n'"ini-raw never reached"$'\n'
    local want="$program: <stdin>:$((count + 1)): $message"
    rm -f freqs.ini
    local errors status
    errors=$(printf '%s' "$input" | TZ=UTC "$hadrok" run --frozen-clock --in-this-folder 2>&1 >/dev/null)
    status=$?
    cases=$((cases + 1))
    if [ "$status" -ne 2 ] || [ "$errors" != "$want" ] || [ -e freqs.ini ]; then
        failures=$((failures + 1))
        echo "FAIL: line: $line"
        echo "  expected status 2 and: $want"
        echo "  got status $status and: $errors"
        [ -e freqs.ini ] && echo "  and the script went on after the bad line"
    fi
}

std="connect 1;player Bob"

# Lines that are no action at all.
check "$std" 'frobnicate the arena' 'unknown line "frobnicate" ("help" lists the script lines)'
check "$std" 'Bob said hello' 'unknown line "Bob" ("help" lists the script lines)'
check "$std" 'Bob: hello' 'the plug-in hears only commands: write NAME: !word argument'

# Wrong number of words, unknown options.
check "$std" 'connect' 'usage: connect N [version=6.0]'
check "$std" 'disconnect 1 2' 'usage: disconnect [N]'
check "$std" 'load now' 'usage: load'
check "$std" 'tick 1 2' 'usage: tick [COUNT]'
check "$std" 'quit' 'usage: quit NAME'
check "$std" 'event' 'usage: event CODE [handle=N] [slot0=V] ... [slot4=V] [word=T] [argument=T]'
check "$std" 'connect 1 speed=3' 'connect: unexpected "speed=3" (options: version=)'
check "$std" 'connect 1 version=6.0 version=6.1' 'usage: connect N [version=6.0]'
check "$std" 'player Al team=red' 'player: unexpected "team=red" (options: squad=, points=, pointsB=, level=, freq=)'
check "$std" 'player Al freq=1 freq=2' 'player: freq= given twice'
check "$std" 'leave now' 'usage: leave'
check "$std" 'event 20 slot5=1' 'event: unexpected "slot5=1" (options: handle=, slot0=, slot1=, slot2=, slot3=, slot4=, word=, argument=)'
check "$std" 'ini MaxOwnedFreqs' 'ini: expected Key=Value, not "MaxOwnedFreqs"'

# Numbers out of range or not numbers.
check "$std" 'connect x' 'bot handle must be a number from 0 to 4294967295, not "x"'
check "$std" 'connect 4294967296' 'bot handle must be a number from 0 to 4294967295, not "4294967296"'
check "$std" 'connect 1 version=6.70000' 'version minor must be a number from 0 to 65535, not "70000"'
check "$std" 'connect 1 version=six' 'version must be a number from 0 to 4294967295, not "six"'
check "$std" 'tick many' 'tick count must be a number from 0 to 1000000, not "many"'
check "$std" 'Bob -> 65536' 'freq must be a number from 0 to 65535, not "65536"'
check "$std" 'Bob -> -1' 'freq must be a number from 0 to 65535, not "-1"'
check "$std" 'enter freq=1e3' 'freq must be a number from 0 to 65535, not "1e3"'
check "$std" 'settings freqLimit=-1' 'freqLimit must be a number from 0 to 4294967295, not "-1"'
check "$std" 'player Al level=x' 'level must be a number from 0 to 4294967295, not "x"'
check "$std" 'event 20 slot0=0x1g' "slot value must be a number from 0 to $slot_max, not \"0x1g\""
check "$std" 'advance 31' 'advance: "31" is not a duration (a number and a unit: ms, s, m, h, d)'
check "$std" 'advance 5w' 'advance: "5w" is not a duration (a number and a unit: ms, s, m, h, d)'
check "$std" 'advance 40000d' 'advance must be a number from 0 to 36500, not "40000"'

# Players that are not there, or already are; no bot to talk to.
check "$std" 'Carl: !about' 'no player "Carl" in the arena (add him with "player NAME")'
check "$std" 'Carl -> 100' 'no player "Carl" in the arena (add him with "player NAME")'
check "$std" 'quit Carl' 'no player "Carl" in the arena (add him with "player NAME")'
check "$std" 'event 20 slot0=player:Carl' 'no player "Carl" in the arena (add him with "player NAME")'
check "$std" 'player BOB' 'player "BOB" is already in the arena'
check "player Bob" 'Bob: !about' 'no bot yet: start with "connect N" or "bot N"'
check "" 'tick' 'no bot yet: start with "connect N" or "bot N"'

# Bots that never connected can't be spoken to; one that disconnected can.
check "$std" 'bot 5' 'bot 5 never connected (start it with "connect 5")'
check "$std" 'disconnect 3' 'bot 3 never connected (start it with "connect 3")'
check "$std;event 1 handle=7" 'bot 7' 'bot 7 never connected (start it with "connect 7")'
check "$std;disconnect;bot 1;disconnect 1" 'bot 9' 'bot 9 never connected (start it with "connect 9")'

# A word quoted in an error is escaped: what a script holds never reaches the
# terminal raw.
check "$std" $'tick \e[2J' 'tick count must be a number from 0 to 1000000, not "\x1B[2J"'
check "$std" $'ini Max\x01' 'ini: expected Key=Value, not "Max\x01"'

# Broken escapes and quotes.
check "$std" 'Bob: !x \q' 'unknown escape \q (use \xNN, \\, \{, \} or \")'
check "$std" 'Bob: !x \x4' '\x must be followed by two hex digits'
check "$std" 'Bob: !x \xZZ' '\x must be followed by two hex digits'
check "$std" 'Bob: !x abc\' 'lone backslash at the end of the text'
check "$std" 'player "Al' 'unterminated quote'
check "$std" 'Bob: !x {A*99999999999}' 'repeat count too large in "{...}"'
check "$std" 'Bob: !x {AB*40000000}' 'repeated text longer than 64 MiB'

# The host itself failing is status 1, not a script error.
want_error="$program: <stdin>:1: cannot load the plug-in $missing_plugin_shown: "
printf 'load\n' | "$hadrok" run --in-this-folder --plugin "$missing_plugin" >/dev/null 2>"$work/err"
status=$?
cases=$((cases + 1))
if [ "$status" -ne 1 ] || [ "$(head -c ${#want_error} "$work/err")" != "$want_error" ]; then
    failures=$((failures + 1))
    echo "FAIL: a missing plug-in: status $status, message: $(cat "$work/err")"
fi
"$hadrok" run --in-this-folder "$work/no-such-script.txt" >/dev/null 2>"$work/err"
status=$?
cases=$((cases + 1))
if [ "$status" -ne 2 ] || [ "$(cat "$work/err")" != "$program: cannot read the script $work/no-such-script.txt" ]; then
    failures=$((failures + 1))
    echo "FAIL: a missing script: status $status, message: $(cat "$work/err")"
fi

# A script that is a directory is no script.
if [ -z "${HADROK_UNDER_WINE:-}" ]; then
mkdir "$work/dir"
"$hadrok" run --in-this-folder "$work/dir" >/dev/null 2>"$work/err"
status=$?
cases=$((cases + 1))
if [ "$status" -ne 2 ] || [ "$(cat "$work/err")" != "hadrok: the script $work/dir is a directory" ]; then
    failures=$((failures + 1))
    echo "FAIL: a directory as the script: status $status, message: $(cat "$work/err")"
fi
fi

finish_cases

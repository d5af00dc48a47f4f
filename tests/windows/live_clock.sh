#!/usr/bin/env bash
# The simulator's clocks without --frozen-clock: the plug-in sees the real
# date, "advance" moves it on from there, and an invitation still ages by the
# shifted tick counter. (The e2e scripts all run on the frozen clocks.)
#
#   live_clock.sh HADROK
set -u
hadrok=$(realpath "$1") || exit 2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

cat >script.txt <<'SCRIPT'
connect 1
settings freqLimit=10000
enter
player Op level=1
player Al
Op: !freg 100:pw
Op: !freqs
Al: !fjoin 100:pw
advance 2d
tick 5
Al -> 100
Op -> 100
Op: !freqs
SCRIPT
# The date is taken before and after the run, in case midnight passes.
before=$(date -u +%s)
TZ=UTC "$hadrok" run --in-this-folder script.txt >transcript 2>&1
status=$?
after=$(date -u +%s)

day() { date -u -d "@$1" +%-d.%m.%Y; }
stamps=$(sed -n 's/.*\[LastUsed: \([0-9.]*\) .*/\1/p' transcript | tr '\n' ' ')
failed=0
[ "$status" -eq 0 ] || { echo "FAIL: hadrok exited with status $status"; failed=1; }
case "$stamps" in
"$(day "$before") $(day $((before + 2 * 86400))) " | "$(day "$after") $(day $((after + 2 * 86400))) ") ;;
*)
    echo "FAIL: last-used dates '$stamps', expected today's and the day after tomorrow's (UTC)"
    failed=1
    ;;
esac
grep -q 'to Al: You are not allowed on that freq' transcript ||
    { echo "FAIL: the invitation did not expire two days later"; failed=1; }
if [ $failed -ne 0 ]; then
    cat transcript
    exit 1
fi
echo "real date $stamps"

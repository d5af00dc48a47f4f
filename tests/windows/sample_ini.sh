#!/usr/bin/env bash
# The sample freqs.ini of the packages, read by the plug-in through the
# program: no error line, and its lines really taken. A copy with three values
# changed (defaults would hide a line that is not read) must give those values.
#
#   sample_ini.sh HADROK SAMPLE
set -u
hadrok=$(realpath "$1") || exit 2
sample=$(realpath "$2") || exit 2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

sed -e 's/^MaxOwnedFreqs=3$/MaxOwnedFreqs=4/' -e 's/^AutoSaveDelay=300$/AutoSaveDelay=2/' \
    -e 's/^AuditLog=1$/AuditLog=0/' "$sample" >freqs.ini
if [ "$(grep -c -e '^MaxOwnedFreqs=4$' -e '^AutoSaveDelay=2$' -e '^AuditLog=0$' freqs.ini)" -ne 3 ]; then
    echo "FAIL: the sample no longer holds MaxOwnedFreqs=3, AutoSaveDelay=300 and AuditLog=1"
    exit 1
fi

cat >script.txt <<'SCRIPT'
connect 1
settings freqLimit=10000
enter
player Bob
Bob: !help freg
Bob: !freg 100:pw
tick 2
SCRIPT
TZ=UTC "$hadrok" run --frozen-clock --in-this-folder script.txt >transcript 2>&1
status=$?

failed=0
fail() {
    echo "FAIL: $1"
    failed=1
}
[ "$status" -eq 0 ] || fail "hadrok exited with status $status"
! grep -q 'freqs.ini error' transcript || fail "the sample gives error lines"
grep -q 'You can register a maximum of 4 freqs' transcript || fail "MaxOwnedFreqs was not read"
grep -q 'echo: AutoSave\.\.\.' transcript || fail "AutoSaveDelay was not read"
grep -q 'Freq registered' transcript || fail "the freq was not registered"
[ ! -e hadrok.log ] || fail "AuditLog=0 was not read: hadrok.log was written"
if [ $failed -ne 0 ]; then
    echo "transcript:"
    cat transcript
    exit 1
fi
echo "the sample freqs.ini reads without errors, its values taken"

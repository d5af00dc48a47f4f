#!/usr/bin/env bash
# Each re-entry case, played nested and after, gives the same lines and the
# same files; the audit log differs only by the note that the host re-enters.
#
#   reentry.sh HOST PLUGIN
set -u
host=$(realpath "$1") || exit 2
plugin=$(realpath "$2") || exit 2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
failures=0
for case in listing-reset listing-funreg listing-expiry funreg-freg; do
    for mode in nested after; do
        mkdir -p "$work/$case/$mode"
        (cd "$work/$case/$mode" && TZ=UTC "$host" "$plugin" "$case" "$mode" >lines 2>errors)
        status=$?
        if [ "$status" -ne 0 ] || [ -s "$work/$case/$mode/errors" ]; then
            failures=$((failures + 1))
            echo "FAIL: $case $mode: status $status"
            head -c 3000 "$work/$case/$mode/errors"
        fi
    done
    nested=$work/$case/nested
    grep -c ' reentry: ' "$nested/hadrok.log" | grep -qx 1 || {
        failures=$((failures + 1))
        echo "FAIL: $case: the audit log does not note the re-entry once"
    }
    grep -v ' reentry: ' "$nested/hadrok.log" >"$work/log" && mv "$work/log" "$nested/hadrok.log"
    if ! diff -r "$nested" "$work/$case/after"; then
        failures=$((failures + 1))
        echo "FAIL: $case: nested and after differ"
    fi
done
echo "$failures failed"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# Plays one end-to-end script through the host simulator and compares the
# transcript (standard output and standard error together) with the
# .expected file beside the script.
#
#   run.sh HADROK SCRIPT
#
# The script runs in a fresh temporary directory (so it is played there with
# --in-this-folder, its fixtures being copies), so freqs.ini and
# Zandrel.teams start absent unless the directory SCRIPT-without-.txt.files/
# exists: its contents are copied in first. A first line "# expect-exit: N"
# makes N the expected exit status (default 0). The build date and time of
# the "!about" version line are replaced by <date> and <time>.
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 HADROK SCRIPT" >&2
    exit 2
fi
hadrok=$(realpath "$1") || exit 2
script=$(realpath "$2") || exit 2
expected="${script%.txt}.expected"
fixtures="${script%.txt}.files"
name=$(basename "$script")

work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
mkdir "$work/cwd"
if [ -d "$fixtures" ]; then
    cp -R "$fixtures/." "$work/cwd/"
fi
# The script is played from inside the directory so that error messages name
# it without the checkout's path.
cp "$script" "$work/cwd/$name"

want_exit=$(sed -n '1s/^#[[:blank:]]*expect-exit:[[:blank:]]*\([0-9][0-9]*\)[[:blank:]]*$/\1/p' "$script")
want_exit=${want_exit:-0}

(cd "$work/cwd" && TZ=UTC exec "$hadrok" run --frozen-clock --in-this-folder "$name") >"$work/raw" 2>&1 </dev/null
status=$?

sed -E 's/("Hadrok" [0-9.]+ compiled on )[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}/\1<date> <time>/' \
    "$work/raw" >"$work/transcript"

# hadrok.exe names itself so in what it and its plug-in tell the operator,
# and an error in the system's own words.
if [ "$(basename "$1")" = hadrok-wine ]; then
    # hadrok.log ends its lines as Windows does: a CR before each LF.
    sed -E -e 's/(^|[ "])hadrok (teams|run|config) /\1hadrok.exe \2 /g' -e 's/^hadrok: /hadrok.exe: /' \
        -e 's/No such file or directory/File not found/g' "$expected" |
        awk '/^> show hadrok\.log/ { inlog = 1; print; next }
             /^  \| / && inlog { print $0 "\\x0D"; next }
             !/^  / { inlog = 0 }
             { print }' >"$work/expected"
    expected_shown=$work/expected
else
    expected_shown=$expected
fi

failed=0
if [ "$status" -ne "$want_exit" ]; then
    echo "FAIL: $name: hadrok exited with status $status, expected $want_exit"
    failed=1
fi
if [ ! -f "$expected" ]; then
    echo "FAIL: $name: no expected transcript $(basename "$expected"); this run printed:"
    cat "$work/transcript"
    exit 1
fi
if ! diff -u --label "$(basename "$expected")" --label "actual transcript" \
        "$expected_shown" "$work/transcript"; then
    echo "FAIL: $name: the transcript differs from $(basename "$expected") (diff above)"
    failed=1
fi
exit "$failed"

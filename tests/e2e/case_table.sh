# Sourced by the scripts that play tables of cases through "hadrok run"
# (malformed_lines.sh, hostile_lines.sh), with the program as $1: its path
# ($hadrok), the name it gives itself in messages ($program), a scratch
# folder to run in ($work, played in with --in-this-folder: the cases leave
# the plug-in's files there) and the count of cases and failures.
hadrok=$(realpath "$1") || exit 2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

program=hadrok
if [ -n "${HADROK_UNDER_WINE:-}" ]; then
    program=hadrok.exe
fi

failures=0
cases=0

# The closing line, and the status: failed if any case did.
finish_cases() {
    echo "$((cases - failures)) passed, $failures failed"
    [ "$failures" -eq 0 ]
}

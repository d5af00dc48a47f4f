#!/usr/bin/env bash
# The build refuses an include from a floor above: for each case, a one-line
# file on FLOOR that includes HEADER is preprocessed with the include
# directories of FLOOR's library. A header the floor may use must be found;
# one it may not must be missing, and missing from the view only (it is in
# the sources). tests/floors.sh reads the same rules off the #include lines.
#
#   floors_build.sh COMPILER INCLUDES_FILE SOURCE_DIR
# INCLUDES_FILE: a line per floor, "FLOOR DIR DIR ...".
set -u
compiler=$1
includes_file=$2
source_dir=$3
# An empty directory to work in: a file read from standard input finds
# quoted includes in the current directory first.
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT

# floor  header  expected (found|refused)
cases=(
    "text      platform/platform.h        refused"
    "text      text/text.h                found"
    "platform  registry/freq_record.h     refused"
    "platform  platform/profile_reader.h  found"
    "registry  hostlink/bot_instance.h    refused"
    "registry  platform/platform.h        found"
    "hostlink  commands/help.h            refused"
    "hostlink  registry/freq_record.h     found"
    "commands  plugin/reentry_queue.h     refused"
    "commands  hostlink/bot_instance.h    found"
    "cli       registry/freq_record.h     refused"
    "cli       host/simulator.h           refused"
    "host      hostlink/bot_instance.h    refused"
    "host      registry/freq_record.h     refused"
    "host      tools/teams_file.h         refused"
    "host      hostlink/host_interface.h  found"
    "host      platform/platform.h        found"
    "tools     host/simulator.h           refused"
    "tools     hostlink/host_interface.h  refused"
    "tools     registry/registry_file.h   found"
    "program   registry/freq_record.h     refused"
    "program   tools/teams_subcommands.h  found"
)

failures=0
for entry in "${cases[@]}"; do
    read -r floor header expected <<<"$entry"
    if [ ! -f "$source_dir/$header" ]; then
        echo "FAIL: $header is no longer in the sources; give the $floor case another header"
        failures=$((failures + 1))
        continue
    fi
    flags=()
    found_floor=
    while read -r name dirs; do
        [ "$name" = "$floor" ] || continue
        found_floor=1
        for dir in $dirs; do flags+=("-I$dir"); done
    done <"$includes_file"
    if [ -z "$found_floor" ]; then
        echo "FAIL: no include directories for the floor $floor"
        failures=$((failures + 1))
        continue
    fi
    # The same directories hold the whole source tree, which would make any
    # header found.
    for flag in "${flags[@]}"; do
        if [ "$(realpath "${flag#-I}")" = "$(realpath "$source_dir")" ]; then
            echo "FAIL: $floor compiles with the source root on its include path"
            failures=$((failures + 1))
        fi
    done
    output=$(cd "$work" && printf '#include "%s"\n' "$header" |
        "$compiler" -std=c++20 -E -x c++ "${flags[@]}" - -o /dev/null 2>&1)
    status=$?
    case $expected in
    found)
        if [ $status -ne 0 ]; then
            echo "FAIL: $floor/ cannot include $header, which it may use:"
            echo "$output" | head -5
            failures=$((failures + 1))
        fi
        ;;
    refused)
        if [ $status -eq 0 ]; then
            echo "FAIL: $floor/ can include $header, from a floor it may not use"
            failures=$((failures + 1))
        elif ! grep -q "$header: No such file" <<<"$output"; then
            echo "FAIL: $floor/ including $header failed otherwise than by not finding it:"
            echo "$output" | head -5
            failures=$((failures + 1))
        fi
        ;;
    esac
done
[ $failures -eq 0 ] && echo "every floor's build refuses the headers above it (${#cases[@]} cases)"
exit $((failures > 0))

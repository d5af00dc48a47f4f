#!/usr/bin/env bash
# The folders are floors: each may include only its own headers and those of
# the floors it builds on, so no circle can grow between folders. This fails,
# naming the file and the line, when a folder reaches above or beside itself.
# docs/architecture.md draws the same floors; the build keeps them too, each
# floor a library that sees only the folders it may use (cmake/floors.cmake).
#
#   floors.sh SOURCE_DIR
set -u
cd "$1" || exit 1

# Folder: the folders whose headers it may include (itself always).
declare -A may_use=(
    [text]=""
    [platform]="text"
    [registry]="platform text"
    [hostlink]="registry platform text"
    [commands]="hostlink registry platform text"
    [plugin]="commands hostlink registry platform text"
    [cli]="text"
    [system]="platform text"
    [host]="cli platform text system"
    [tools]="cli registry platform text system"
    [program]="cli host tools system"
)
# The simulator talks to the plug-in through the ABI records alone.
declare -A single_headers=(
    [host]="hostlink/host_interface.h"
)

status=0
# A new folder of sources must take its place among the floors first.
for dir in */; do
    folder=${dir%/}
    case $folder in tests | fuzz | bench | build*) continue ;; esac
    if [ -z "${may_use[$folder]+set}" ] &&
        [ -n "$(find "$folder" \( -name '*.cpp' -o -name '*.h' \) -print -quit)" ]; then
        echo "$folder/: a folder of sources that is on no floor"
        status=1
    fi
done
for folder in "${!may_use[@]}"; do
    [ -d "$folder" ] || continue
    allowed=" $folder ${may_use[$folder]} "
    while IFS= read -r hit; do
        file=${hit%%:*}
        rest=${hit#*:}
        line=${rest%%:*}
        # The quoted name, matched in the shell: a process per line would be
        # most of this check's time.
        [[ ${rest#*:} =~ \"([^\"]*)\" ]] || continue
        header=${BASH_REMATCH[1]}
        # Headers without a folder are generated ones (the version).
        [[ $header == */* ]] || continue
        used=${header%%/*}
        [[ $allowed == *" $used "* ]] && continue
        [[ " ${single_headers[$folder]:-} " == *" $header "* ]] && continue
        echo "$file:$line: $folder/ may not include $header"
        status=1
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' -r "$folder" \
                 --include='*.cpp' --include='*.h')
done
# Above platform/, the plug-in reaches files, directories and clocks only
# through platform/platform.h, so that a program may link a fake layer.
while IFS= read -r hit; do
    echo "${hit%%:*}:$(cut -d: -f2 <<<"$hit"): the system only through platform/platform.h"
    status=1
done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(filesystem|fstream|cstdio|stdio\.h|unistd\.h|fcntl\.h|dirent\.h|windows\.h|sys/)' \
             -r text registry hostlink commands plugin --include='*.cpp' --include='*.h' 2>/dev/null)
# The program's floors reach the system (the loader, the terminal, signals)
# only through system/ and platform/.
while IFS= read -r hit; do
    echo "${hit%%:*}:$(cut -d: -f2 <<<"$hit"): the system only through system/ or platform/"
    status=1
done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(unistd\.h|fcntl\.h|dirent\.h|dlfcn\.h|termios\.h|io\.h|csignal|signal\.h|windows\.h|editline/|sys/)' \
             -r cli host tools program --include='*.cpp' --include='*.h' 2>/dev/null)
[ $status -eq 0 ] && echo "every folder includes only the floors below it"
exit $status

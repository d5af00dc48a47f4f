#!/usr/bin/env bash
# The plug-in's only dynamic export must be talk: anything else could clash
# with the host's own symbols or with another plug-in's.
#
#   plugin_exports.sh PLUGIN
set -u
exports=$(nm -D --defined-only "$1" | awk '{ print $NF }') || exit 1
if [ "$exports" != "talk" ]; then
    echo "FAIL: $1 exports:"
    echo "$exports"
    exit 1
fi
echo "$1 exports talk only"

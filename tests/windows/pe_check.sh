#!/usr/bin/env bash
# A Windows binary as the system's loader sees it: of the given format
# (pei-i386 for the build the host loads, pei-x86-64 for the one the tests
# run under 64-bit Wine where no 32-bit program starts), exporting
# exactly the names given (undecorated), and importing nothing but DLLs that
# every Windows has. A compiler runtime DLL (libstdc++-6.dll, libgcc_s_*.dll,
# libwinpthread-1.dll) or the universal C runtime would not be there on the
# host's machine.
#
#   pe_check.sh OBJDUMP FORMAT FILE [EXPORT...]
set -u
if [ $# -lt 3 ]; then
    echo "usage: $0 OBJDUMP FORMAT FILE [EXPORT...]" >&2
    exit 2
fi
objdump=$1 format=$2 file=$3
shift 3
allowed="KERNEL32.dll msvcrt.dll USER32.dll ADVAPI32.dll"

headers=$("$objdump" -p "$file") || exit 1
failed=0

if ! grep -q "file format $format\$" <<<"$headers"; then
    echo "FAIL: $file is not a $format image: $(grep -m1 'file format' <<<"$headers")"
    failed=1
fi

# The names under "[Ordinal/Name Pointer] Table", one a line.
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
               on && /^\t\[/ { print $NF; next }
               on { on = 0 }' <<<"$headers")
want=$(printf '%s\n' "$@")
if [ "$exports" != "$want" ]; then
    echo "FAIL: $file exports:"
    echo "${exports:-(nothing)}"
    echo "expected: ${*:-(nothing)}"
    failed=1
fi

imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers")
for dll in $imports; do
    known=0
    for name in $allowed; do
        [ "${dll,,}" = "${name,,}" ] && known=1
    done
    if [ $known -eq 0 ]; then
        echo "FAIL: $file imports $dll (allowed: $allowed)"
        failed=1
    fi
done

if [ $failed -eq 0 ]; then
    echo "$file: $format, exports: ${exports:-(nothing)}; imports: $(echo $imports)"
fi
exit $failed

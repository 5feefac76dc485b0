#!/usr/bin/env bash
# Checks a Windows DLL of the SDK, 32-bit or 64-bit (read from its header):
#   - it exports exactly the functions of its export list, under their plain names, with the
#     ordinals of the list's order;
#   - it imports nothing but the system's own DLLs (the runtime is linked statically);
#   - it carries a version resource;
#   - the import library, when given, defines every export for callers compiled against the header
#     (on 32-bit the decorated __stdcall names "_name@bytes").
# usage: check-win32-dll.sh [--prefix PREFIX] DLL EXPORT_LIST [IMPORT_LIBRARY]
# PREFIX (default dllFunc_) precedes each entry's name of the list in the exported name.
set -euo pipefail
source "$(dirname "$0")/export-list.sh"
read_export_check_args "check-win32-dll.sh [--prefix PREFIX] DLL EXPORT_LIST [IMPORT_LIBRARY]" "$@"
dll=${args[0]}
list=${args[1]}
implib=${args[2]:-}
fail() { echo "$dll: $*" >&2; exit 1; }

# The machine field of the PE header: 0x14c i386, 0x8664 x86-64.
pe_offset=$(od -An -tu4 -j 60 -N 4 "$dll" | tr -d ' ')
machine=$(od -An -tx2 -j $((pe_offset + 4)) -N 2 "$dll" | tr -d ' ')
case $machine in
    014c) triple=i686-w64-mingw32 format=pei-i386 bits=32 ;;
    8664) triple=x86_64-w64-mingw32 format=pei-x86-64 bits=64 ;;
    *) fail "not a Windows DLL of a known machine (0x$machine)" ;;
esac
objdump=$triple-objdump
nm=$triple-nm
$objdump -f "$dll" | grep "file format $format" >/dev/null || fail "is not a $bits-bit DLL"

# Entries in ordinal order.
entries=$(export_entries "$list")
[ -n "$entries" ] || fail "the export list $list names no function"
want=$(echo "$entries" | awk -v p="$prefix" '{printf "%d %s%s\n", NR, p, $1}')

# "[Ordinal/Name Pointer] Table" lines are "[ordinal - base] name".
dump=$($objdump -p "$dll")
base=$(echo "$dump" | sed -nE 's/^Export Address Table -- Ordinal Base ([0-9]+).*/\1/p')
have=$(echo "$dump" | awk -v base="${base:-1}" '
    /\[Ordinal\/Name Pointer\] Table/ { t = 1; next }
    t && /^\t\[/ { gsub(/[][]/, " "); printf "%d %s\n", $1 + base, $NF; next }
    t { t = 0 }' | sort -n)
if [ "$want" != "$have" ]; then
    echo "$dll: exports (ordinal name) differ from $list:" >&2
    diff <(echo "$want") <(echo "$have") >&2 || true
    exit 1
fi

bad=$(echo "$dump" | awk '/DLL Name:/{print $3}' |
      grep -viE '^(kernel32|msvcrt|shell32|ole32|oleaut32|user32|advapi32|gdi32|ws2_32|setupapi|hid|cfgmgr32|shlwapi|version)\.dll$' || true)
[ -z "$bad" ] || fail "imports DLLs that are not the system's own: $bad"

strings -el "$dll" | grep -x FileVersion >/dev/null || fail "has no version resource"

if [ -n "$implib" ]; then
    symbols=$($nm "$implib")
    while read -r name bytes; do
        if [ "$bits" = 32 ]; then symbol="_$prefix$name@$bytes"; else symbol="$prefix$name"; fi
        # The call thunk and the import address slot of the export.
        echo "$symbols" | awk -v s="$symbol" '$2 == "T" && $3 == s { t = 1 } $2 == "I" && $3 == "__imp_" s { i = 1 }
                                              END { exit !(t && i) }' ||
            fail "import library $implib lacks $symbol"
    done <<<"$entries"
fi

count=$(echo "$want" | wc -l)
echo "$dll: $bits-bit, $count exports undecorated in list order; imports only system DLLs; version resource${implib:+; import library complete}"

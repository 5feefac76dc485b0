#!/usr/bin/env bash
# Checks a 32-bit Windows DLL: it exports exactly the names of the export list, undecorated, and
# imports nothing but the system's own DLLs (the runtime is linked statically).
set -euo pipefail
dll=$1
list=$2
objdump=i686-w64-mingw32-objdump

want=$(grep -E '^dllFunc_|^DE' "$list" | awk '{print $1}' | sort)
have=$($objdump -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1; next} t && /^\t\[/{print $NF; next} t && !/^\t\[/{t=0}' | sort)
if [ "$want" != "$have" ]; then
    echo "exports of $dll differ from $list:"
    diff <(echo "$want") <(echo "$have") || true
    exit 1
fi
$objdump -f "$dll" | grep -q 'file format pei-i386' || { echo "$dll is not a 32-bit DLL"; exit 1; }
bad=$($objdump -p "$dll" | awk '/DLL Name:/{print $3}' | grep -viE '^(kernel32|msvcrt|shell32|ole32|oleaut32|user32|advapi32|ws2_32|setupapi|hid|cfgmgr32|shlwapi|version)\.dll$' || true)
if [ -n "$bad" ]; then
    echo "$dll imports DLLs that are not the system's own: $bad"
    exit 1
fi
echo "$dll: $(echo "$have" | wc -l) exports, undecorated; imports only system DLLs"

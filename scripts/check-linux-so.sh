#!/usr/bin/env bash
# Checks a Linux shared library of the SDK:
#   - its dynamic symbol table defines exactly the functions of its export list (nothing internal
#     leaks: hidden visibility and the version script);
#   - its soname is the versioned one, libNAME.so.MAJOR;
#   - it needs only the C and C++ runtime libraries, libxml2 (the device library reads configuration
#     descriptions with it) and, in test builds, a sanitizer's runtime.
# usage: check-linux-so.sh [--prefix PREFIX] LIBRARY EXPORT_LIST
# PREFIX (default dllFunc_) precedes each entry's name of the list in the exported name.
set -euo pipefail
source "$(dirname "$0")/export-list.sh"
read_export_check_args "check-linux-so.sh [--prefix PREFIX] LIBRARY EXPORT_LIST" "$@"
lib=${args[0]}
list=${args[1]}
fail() { echo "$lib: $*" >&2; exit 1; }

want=$(export_entries "$list" | awk -v p="$prefix" '{print p $1}' | sort)
[ -n "$want" ] || fail "the export list $list names no function"
have=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
if [ "$want" != "$have" ]; then
    echo "$lib: exported symbols differ from $list:" >&2
    diff <(echo "$want") <(echo "$have") >&2 || true
    exit 1
fi
bad=$(nm -D --defined-only "$lib" | awk '$2 != "T" {print $NF}')
[ -z "$bad" ] || fail "exports that are not functions: $bad"

dynamic=$(readelf -d "$lib")
soname=$(echo "$dynamic" | sed -nE 's/.*\(SONAME\).*\[(.*)\]/\1/p')
echo "$soname" | grep -E '^lib[A-Za-z0-9_]+\.so\.[0-9]+$' >/dev/null || fail "soname '$soname' is not libNAME.so.MAJOR"
needed=$(echo "$dynamic" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]/\1/p')
bad=$(echo "$needed" | grep -vE '^(libstdc\+\+|libm|libgcc_s|libc|libpthread|libdl|ld-linux-x86-64|libxml2|libasan|libubsan|libtsan)\.so(\.[0-9]+)*$' || true)
[ -z "$bad" ] || fail "needs libraries beyond the C and C++ runtimes and libxml2: $bad"

echo "$lib: $(echo "$want" | wc -l) exports, soname $soname; needs $(echo $needed)"

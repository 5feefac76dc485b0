#!/usr/bin/env bash
# The dependency check on a copy of the tree: the tree as it is passes; each planted include that
# reaches up (or past the seam) fails it, and names the file; an include that points down passes.
# Usage: check_deps_test.sh SOURCE_TREE
set -uo pipefail
source_tree=$1
check="$source_tree/scripts/check-deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# One copy of the sources (without build trees); each case plants its line in it and takes it out
# again afterwards.
mkdir "$work/tree"
tar -C "$source_tree" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/tree" -xf - || exit 2
[ -f "$work/tree/platform/sync.h" ] && [ -f "$work/tree/devicelib/ports/b_port.h" ] || {
    echo "the copy of the tree is incomplete"; exit 2
}

expect() {  # expect pass|fail FILE INCLUDE-LINE
    local want=$1 file=$2 line=$3
    if [ -n "$file" ]; then
        mkdir -p "$work/tree/$(dirname "$file")"
        [ -f "$work/tree/$file" ] && cp "$work/tree/$file" "$work/saved" || rm -f "$work/saved"
        printf '%s\n' "$line" >>"$work/tree/$file"
    fi
    bash "$check" "$work/tree" >"$work/out" 2>&1
    local status=$?
    if [ -n "$file" ]; then
        if [ -f "$work/saved" ]; then cp "$work/saved" "$work/tree/$file"; else rm -f "$work/tree/$file"; fi
    fi
    if [ "$want" = pass ] && [ $status -ne 0 ]; then
        echo "FAIL: ${file:-the tree} with '$line' should pass:"; cat "$work/out"; failures=$((failures + 1))
    elif [ "$want" = fail ] && { [ $status -eq 0 ] || ! grep -q "^$file:" "$work/out"; }; then
        echo "FAIL: $file with '$line' should fail and name the file:"; cat "$work/out"; failures=$((failures + 1))
    fi
}

expect pass "" ""
# Reaching up, one case for each rule.
expect fail devicelib/ports/net_port.cpp '#include "devicelib/core/dev_app.h"'
expect fail devicelib/ports/b_port.h '#include "devicelib/config/cfg_codec.h"'
expect fail platform/posix/sync_posix.cpp '#include "devicelib/core/log_file.h"'
expect fail platform/sync.h '#include "sim/simulator.h"'
expect fail sim/frame.cpp '#include "devicelib/core/dev_emul.h"'
expect fail tools/tavrin/cli.cpp '#include "devicelib/core/dev_app.h"'
expect fail tools/tavrin/cli.cpp '#include "platform/net_socket.h"'
expect fail bindings/planted.c '#include "platform/sync.h"'
expect fail bridge/planted.cpp '#include "devicelib/core/dev_app.h"'
expect fail tavrinocx/planted.cpp '#include "bridge/de_common.h"'
expect fail service/planted.cpp '#include "devicelib/core/dev_app.h"'
# Past the seam: the system's header and the backends' own headers stay in platform/.
expect fail devicelib/core/dev_app.cpp '#include <windows.h>'
expect fail devicelib/ports/hid_port.cpp '#include "platform/posix/hid_descriptor.h"'
# Pointing down, or beside: allowed.
expect pass devicelib/core/dev_app.cpp '#include "devicelib/ports/b_port.h"'
expect pass devicelib/dfu/w_dfu.cpp '#include "devicelib/config/cfg_codec.h"'
expect pass service/planted.cpp '#include "tavrinocx/planted.h"'
expect pass tools/demo/main.cpp '#include "sim/simulator.h"'
expect pass tests/unit/planted.cpp '#include "platform/posix/ini_reader.h"'
expect pass tavrinocx/win32/planted.h '#include "platform/win32/windows_api.h"'
expect fail tavrinocx/planted.cpp '#include "platform/win32/windows_api.h"'
expect fail tavrinocx/win32/planted.cpp '#include "platform/win32/socket_win32.h"'
expect pass tools/tavrin/tool.cpp '#include "platform/notify_window.h"'

[ $failures -eq 0 ] && echo "dependency check: all cases as expected"
exit $failures

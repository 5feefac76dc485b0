#!/usr/bin/env bash
# Makes the packages of built release trees with cpack and checks what they hold:
#   check-packages.sh TREE...        (build/release, build/win32, build/win64)
# A Linux tree gives a tarball, a Windows tree a zip: README, header and export list, library
# (with its import library on Windows; there also the bridge and the browser control
# TavrinOcx.dll), tool, simulator, the local device service with its JavaScript client (and its
# systemd user unit on Linux), pkg-config and CMake files, the Python
# module; nothing of the tests. The library inside passes its export check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for tree in "$@"; do
    tree=$(realpath "$tree")
    rm -rf "$tree/package"
    log=$tree/package.log
    cpack --config "$tree/CPackConfig.cmake" >"$log" 2>&1 || { cat "$log"; status=1; continue; }
    archive=$(ls "$tree"/package/Tavrin-*.tar.gz "$tree"/package/Tavrin-*.zip 2>/dev/null | head -n 1 || true)
    [ -n "$archive" ] || { echo "$tree: cpack made no package"; cat "$log"; status=1; continue; }
    unpacked=$tree/package/unpacked
    mkdir -p "$unpacked"
    (cd "$unpacked" && cmake -E tar xf "$archive")
    top=$(ls "$unpacked")
    case $archive in
        *.zip) want="bin/Tavrin.dll bin/TavrinDll.dll bin/TavrinOcx.dll bin/tavrin.exe bin/tavrin-sim.exe bin/tavrin-service.exe
                     lib/libTavrin.dll.a lib/Tavrin.def
                     python/tavrin/__init__.py" ;;
        *) want="lib/libTavrin.so lib/libTavrin.so.0 bin/tavrin bin/tavrin-sim bin/tavrin-service
                 lib/systemd/user/tavrin-service.service lib/python3*/*-packages/tavrin/__init__.py" ;;
    esac
    want="$want include/tavrin/tavrin.h include/tavrin/tavrin_exports.h share/doc/Tavrin/README.md share/tavrin/tavrin-client.js
          lib/pkgconfig/tavrin.pc lib/cmake/Tavrin/TavrinConfig.cmake lib/cmake/Tavrin/TavrinTargets.cmake"
    missing=""
    for f in $want; do
        # shellcheck disable=SC2086
        ls "$unpacked/$top/"$f >/dev/null 2>&1 || missing="$missing $f"
    done
    extra=$(cd "$unpacked/$top" && find . -type f | grep -iE 'test|gtest|gmock' || true)
    ok=0
    if [ -n "$missing" ] || [ -n "$extra" ]; then
        echo "$(basename "$archive"): missing:${missing:- none}; not to ship: ${extra:-none}"
        ok=1
    elif [ -f "$unpacked/$top/bin/Tavrin.dll" ]; then
        bash "$root/scripts/check-win32-dll.sh" "$unpacked/$top/bin/Tavrin.dll" "$unpacked/$top/include/tavrin/tavrin_exports.h" \
            "$unpacked/$top/lib/libTavrin.dll.a" >/dev/null || ok=1
        bash "$root/scripts/check-win32-dll.sh" --prefix Dll "$unpacked/$top/bin/TavrinOcx.dll" \
            "$root/tavrinocx/ocx_exports.h" >/dev/null || ok=1
    else
        bash "$root/scripts/check-linux-so.sh" "$unpacked/$top/lib/libTavrin.so" \
            "$unpacked/$top/include/tavrin/tavrin_exports.h" >/dev/null || ok=1
    fi
    if [ $ok -eq 0 ]; then
        echo "$(basename "$archive"): $(cd "$unpacked/$top" && find . -type f | wc -l) files, complete"
    else
        status=1
    fi
    rm -rf "$unpacked"
done
exit $status

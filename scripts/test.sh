#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test:
#   - Linux x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer (all tests),
#   - Linux x86-64 with ThreadSanitizer (the tests labelled "concurrency"),
#   - the libFuzzer programs of the parsers (clang, ASan, UBSan), a short run of each,
#   - Windows x86 (32-bit): the deliverables, checked for their exports and imports,
#   - the Windows tests under Wine: the 32-bit build where this machine can run 32-bit programs,
#     else the same sources built for x64 and run under wine64.
# Exits non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/install-deps.sh || exit 1

failures=0
passed=0
step() { printf '\n=== %s ===\n' "$*"; }
record() {  # record NAME STATUS
    if [ "$2" -eq 0 ]; then passed=$((passed + 1)); else failures=$((failures + 1)); echo "FAILED: $1"; fi
}

build() {  # build PRESET
    local log="build/$1-build.log"
    cmake --preset "$1" >"$log" 2>&1 && cmake --build "build/$1" -j "$jobs" >>"$log" 2>&1
    local status=$?
    [ $status -eq 0 ] || { grep -E 'error|FAILED' -A5 "$log" | head -n 60; tail -n 20 "$log"; }
    return $status
}

run_wine_tests() {  # run_wine_tests PRESET WINE_LOADER
    local dir="$root/build/$1" loader="$2"
    local server
    server="$(dirname "$loader")/wineserver"
    export WINEPREFIX="$dir/wine-prefix" WINEDEBUG=-all
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$loader" wineboot -i >/dev/null 2>&1
        "$server" -w
    fi
    # The server and its services are started outside ctest: started by a test they would hold
    # ctest's output pipe open.
    "$server" -p
    "$loader" cmd /c exit >/dev/null 2>&1
    (cd "$dir" && ctest --output-on-failure -j "$jobs")
    local status=$?
    "$server" -k
    "$server" -w 2>/dev/null
    unset WINEPREFIX WINEDEBUG
    return $status
}

mkdir -p build

step "Linux x86-64: build and test (ASan, UBSan)"
build linux && (cd build/linux && ctest --output-on-failure -j "$jobs")
record linux $?

step "Linux x86-64: concurrency tests (TSan)"
build linux-tsan && (cd build/linux-tsan && ctest --output-on-failure -L concurrency)
record linux-tsan $?

# Each parser's fuzz target for a short while (their kept inputs already ran as unit tests above).
step "Fuzz targets: ${TAVRIN_FUZZ_SECONDS:-15} s each (libFuzzer, ASan, UBSan)"
bash scripts/fuzz.sh "${TAVRIN_FUZZ_SECONDS:-15}"
record fuzz $?

step "Windows x86 (32-bit): build the deliverables"
if build win32; then
    bash scripts/check-win32-dll.sh build/win32/bin/Tavrin.dll devicelib/core/exports.txt
    record win32-build $?
else
    record win32-build 1
fi

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    step "Windows x86 (32-bit): tests under Wine"
    run_wine_tests win32 /usr/lib/wine/wine
    record win32-tests $?
else
    step "Windows x64: tests under wine64 (this kernel cannot run 32-bit programs)"
    build win64 && run_wine_tests win64 /usr/lib/wine/wine64
    record win64-tests $?
fi

echo
echo "suites: $passed passed, $failures failed"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# Installs what is missing, builds every tree and runs every test, one counted suite each:
#   - deps: the dependency rule (scripts/check-deps.sh), before anything is built,
#   - release: the Linux release build (optimised, no sanitizers) and its header tests,
#   - python: the Python module's tests against that library and the simulator,
#   - install: that build installed into a temporary prefix and used as a user of the SDK would
#     (the README's example built three ways and run against the simulator; Python),
#   - browser: a page in Debian's Chromium (headless, playwright-core) drives the simulated printer
#     through that build's tavrin-service; reported as skipped where no browser can start,
#   - clang: a release build compiled with clang, with every test (the GoogleTest suites against an
#     optimised library; the Python and install checks ran with the release build),
#   - linux: Linux x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer (all tests),
#   - linux-tsan: Linux x86-64 with ThreadSanitizer (the tests labelled "concurrency"),
#   - fuzz: the libFuzzer programs of the parsers (clang, ASan, UBSan), a short run of each,
#   - win32-build, win64-build: both Windows releases, checked for their exports and imports,
#   - win64-tests: the Windows tests of the 64-bit build under wine64, and win32-tests: those of
#     the 32-bit build under wine where this machine can run 32-bit programs,
#   - packages: the tarball and the zips made by cpack, checked for their contents.
# Exits non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/install-deps.sh || exit 1

# Compiled objects are kept between runs (a second run of the script rebuilds in minutes). The
# cache is keyed on paths relative to this tree, so clones in other folders share it.
if command -v ccache >/dev/null 2>&1; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
fi

failures=0
passed=0
step() { printf '\n=== %s ===\n' "$*"; }
record() {  # record NAME STATUS
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1)); echo "suite $1: passed"
    else
        failures=$((failures + 1)); echo "FAILED: $1"
    fi
}

build() {  # build PRESET
    local log="build/$1-build.log"
    cmake --preset "$1" >"$log" 2>&1 && cmake --build --preset "$1" -j "$jobs" >>"$log" 2>&1
    local status=$?
    [ $status -eq 0 ] || { grep -E 'error|FAILED' -A5 "$log" | head -n 60; tail -n 20 "$log"; }
    return $status
}

# The export check also runs after each link of a DLL; here its line goes to the output.
check_dll() {  # check_dll PRESET: the device library and the bridge
    bash scripts/check-win32-dll.sh "build/$1/bin/Tavrin.dll" include/tavrin/tavrin_exports.h "build/$1/lib/libTavrin.dll.a" &&
        bash scripts/check-win32-dll.sh --prefix DE "build/$1/bin/TavrinDll.dll" include/tavrin/bridge_exports.h \
            "build/$1/lib/libTavrinDll.dll.a"
}

mkdir -p build

step "Dependency rule: no folder includes one above it"
bash scripts/check-deps.sh
record deps $?

step "Linux x86-64 release: build, header tests"
release_built=1
if build release; then
    release_built=0
    bash scripts/check-linux-so.sh build/release/lib/libTavrin.so include/tavrin/tavrin_exports.h &&
        bash scripts/check-linux-so.sh --prefix DE build/release/lib/libTavrinDll.so include/tavrin/bridge_exports.h &&
        ctest --preset release -LE 'python|install'
    record release $?
else
    record release 1
fi

step "Python module against the release library and the simulator"
if [ $release_built -eq 0 ]; then
    bash scripts/test-python.sh --library build/release/lib/libTavrin.so --sim build/release/bin/tavrin-sim
    record python $?
else
    record python 1
fi

step "The installed SDK: a temporary prefix, its users"
if [ $release_built -eq 0 ]; then
    bash scripts/check-install.sh build/release
    record install $?
else
    record install 1
fi

step "Browser: a page in Chromium drives the simulated printer through tavrin-service"
if [ $release_built -eq 0 ]; then
    bash tests/browser/run.sh build/release
    status=$?
    if [ $status -eq 77 ]; then
        echo "suite browser: skipped"
    else
        record browser $status
    fi
else
    record browser 1
fi

step "Linux x86-64 release built with clang"
build clang && ctest --preset clang -j "$jobs" -LE 'python|install'
record clang $?

step "Linux x86-64: build and test (ASan, UBSan)"
build linux && ctest --preset linux -j "$jobs"
record linux $?

step "Linux x86-64: concurrency tests (TSan)"
build linux-tsan && ctest --preset linux-tsan
record linux-tsan $?

# Each parser's fuzz target for a short while (their kept inputs already ran as unit tests above).
step "Fuzz targets: ${TAVRIN_FUZZ_SECONDS:-15} s each (libFuzzer, ASan, UBSan)"
bash scripts/fuzz.sh "${TAVRIN_FUZZ_SECONDS:-15}"
record fuzz $?

step "Windows x86 (32-bit) release: the deliverables"
build win32 && check_dll win32
record win32-build $?

step "Windows x64 release"
win64_built=1
build win64 && win64_built=0 && check_dll win64
record win64-build $?

# The test runs start and stop the Wine server of their private prefix (ctest fixture "wine").
step "Windows x64: tests under wine64"
[ $win64_built -eq 0 ] && ctest --preset win64 -j "$jobs"
record win64-tests $?

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    step "Windows x86 (32-bit): tests under Wine"
    ctest --preset win32 -j "$jobs"
    record win32-tests $?
else
    echo "(this kernel cannot run 32-bit programs: the 32-bit tests are left out)"
fi

step "Packages: the Linux tarball, the Windows zips"
bash scripts/check-packages.sh build/release build/win32 build/win64
record packages $?

echo
echo "suites: $passed passed, $failures failed"
[ "$failures" -eq 0 ]

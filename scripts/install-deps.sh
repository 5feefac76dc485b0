#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need. Safe to run twice:
# it only installs what is missing.
set -euo pipefail

# Native build and tests; the fuzz targets (clang with libFuzzer and the sanitizer runtimes); the 32-bit
# Windows deliverables (i686); the 64-bit Windows test build (x86-64), which runs under wine64 where the
# kernel cannot run 32-bit programs; Wine for both. The release build's checks: clang, pkg-config,
# Python with pytest. ccache keeps compiled objects between runs of the test script. libxml2 reads the
# configuration descriptions on Linux. The local device service: Boost.Beast/Asio and nlohmann/json
# (header-only, for both targets); its browser test: Debian's Chromium (node and npm below).
packages=(cmake ninja-build g++ ccache googletest libgtest-dev iproute2 libxml2-dev clang libclang-rt-14-dev pkgconf python3 python3-pytest
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
          wine wine64 wine32:i386 libboost-dev nlohmann-json3-dev chromium)

need_root() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "install-deps: missing packages (${missing[*]}); run this script as root" >&2
        exit 1
    fi
}

# wine32 is an i386 package: the architecture and its package lists must come first.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    missing=(i386-architecture)
    need_root
    dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node.js and npm for the browser test (playwright-core from the npm registry): Debian's packages,
# unless the machine has them from elsewhere already.
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

need_root
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/tmp/tavrin-apt.log 2>&1 \
    || { tail -n 40 /tmp/tavrin-apt.log >&2; exit 1; }
echo "install-deps: installed ${missing[*]}"

#!/usr/bin/env bash
# The main job: builds the native library and runs the demo against a stand-in printer. The demo
# uses a user data folder of its own (build/demo-home), never the user's own settings.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
mkdir -p build
cmake --preset linux >build/demo-configure.log 2>&1 || { tail -n 30 build/demo-configure.log; exit 1; }
cmake --build build/linux -j "$(nproc 2>/dev/null || echo 2)" --target tavrin-demo >build/demo-build.log 2>&1 \
    || { tail -n 40 build/demo-build.log; exit 1; }

home=$PWD/build/demo-home
mkdir -p "$home/Tavrin"
cat >"$home/Tavrin/DevDllCfg.ini" <<INI
[General]
CfgID=1684418609
[SysLog]
LogEnable=1
INI
XDG_DATA_HOME=$home ./build/linux/bin/tavrin-demo
echo
echo "library log ($home/Tavrin/tavrin.log):"
sed 's/^/  /' "$home/Tavrin/tavrin.log"

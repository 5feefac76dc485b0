#!/usr/bin/env bash
# The main job: builds the native library, the simulator and the command-line tool, starts a
# simulated network printer on a loopback address and drives it with the tool: the search finds
# it, then it is opened, queried, sent a command and written to. The demo uses a user data folder
# of its own (build/demo-home) whose settings point the search at the simulator's loopback
# address; it never touches the user's own settings and sends nothing beyond 127.0.0.0/8.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
mkdir -p build
cmake --preset linux >build/demo-configure.log 2>&1 || { tail -n 30 build/demo-configure.log; exit 1; }
cmake --build build/linux -j "$(nproc 2>/dev/null || echo 2)" --target tavrin tavrin-sim tavrin-demo \
    >build/demo-build.log 2>&1 || { tail -n 40 build/demo-build.log; exit 1; }

bin=$PWD/build/linux/bin
home=$PWD/build/demo-home
device_address=127.0.0.2
data_port=9100
search_port=9000
mkdir -p "$home/Tavrin"
rm -f "$home/Tavrin/tavrin.log"
cat >"$home/Tavrin/DevDllCfg.ini" <<INI
[General]
CfgID=1684418609
[Port]
DiscoveryAddress=$device_address
[SysLog]
LogEnable=1
INI
export XDG_DATA_HOME=$home

# The simulated printer runs until its standard input closes.
fifo=$(mktemp -u)
mkfifo "$fifo"
"$bin/tavrin-sim" --device --net "$device_address:$data_port" --model TV-N58 --devno SN-2026-0042 \
    --discovery "$device_address:$search_port" <"$fifo" >build/demo-sim.out 2>&1 &
sim=$!
exec 3>"$fifo"
rm -f "$fifo"
trap 'exec 3>&-; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q '^ready' build/demo-sim.out 2>/dev/null && break; sleep 0.1; done
grep -q '^ready' build/demo-sim.out || { cat build/demo-sim.out; exit 1; }
echo "simulated printer: $(grep '^device' build/demo-sim.out)"

run() { echo; echo "\$ tavrin $*"; "$bin/tavrin" "$@"; }
echo; echo "\$ tavrin list --port $search_port"
found=$("$bin/tavrin" list --port "$search_port")
echo "$found"
path=$(echo "$found" | grep -m1 "^$device_address:")
run info "$path"
run send "$path" CTRL_CMD_CONNT
run send "$path" CTRL_CMDGET_VERINFO

receipt=$(mktemp)
printf '\033@TAVRIN CAFE\n--------------------\nEspresso        2.40\nCroissant       1.90\n--------------------\nTOTAL           4.30\n\n\035V\001' >"$receipt"
run write "$path" "$receipt"
rm -f "$receipt"

exec 3>&-
wait $sim || true
trap - EXIT
echo
echo "the simulated printer says: $(grep 'received' build/demo-sim.out)"
echo
echo "library log ($home/Tavrin/tavrin.log), last lines:"
tail -n 12 "$home/Tavrin/tavrin.log" | sed 's/^/  /'

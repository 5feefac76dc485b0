#!/usr/bin/env bash
# The control scripted as a page would, under Wine: a simulated network printer on loopback
# (tavrin-sim, with one configuration item), the control registered with regsvr32, the JScript of
# control_script_test.js run by cscript against it, the control unregistered again.
#   control_script_test.sh LOADER BIN_DIR SIMULATOR SCRIPT
# The prefix and its server come from the environment (ctest fixture "wine").
set -u
loader=$1 bin=$2 sim=$3 script=$4
work=$(mktemp -d)
sim_pid=
registered=
cleanup() {
    exec 3>&- 2>/dev/null
    [ -n "$sim_pid" ] && { wait "$sim_pid" 2>/dev/null || kill -KILL "$sim_pid" 2>/dev/null; }
    [ -n "$registered" ] && (cd "$bin" && "$loader" regsvr32 /s /u TavrinOcx.dll)
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- simulator output:"; cat "$work/sim.out" 2>/dev/null; exit 1; }

# One item Speed (8 bits, at most 200) with the value 7; the packet's check value is the CRC-8 of 07.
printf '<TavrCfg VTAG="100"><CfgInfo DEVID="1" CFGID="2" CFGLen="1" CFGVer="1" Counts="16"><CfgItem Name="Speed" Bits="8" Type="1" MaxVal="200" MinVal="0"/></CfgInfo></TavrCfg>\n' >"$work/cfg.xml"
mkfifo "$work/in"
"$loader" "$sim" --device --net 127.0.0.1 --model TV-N58/2 --answer 0x15=hex:01AB00 \
    --config-xml "Z:$work/cfg.xml" --config-packet 010200010197778807 <"$work/in" >"$work/sim.out" 2>&1 &
sim_pid=$!
exec 3>"$work/in"  # the simulator runs until its standard input closes
for _ in $(seq 300); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^ready' "$work/sim.out" || fail "the simulator did not start"
path=$(awk '/^device 0 /{print $3}' "$work/sim.out" | tr -d '\r')
case $path in 127.0.0.1:*) ;; *) fail "no loopback path for the device: '$path'" ;; esac

# From the folder of the DLLs: the bridge loads the device library by its bare name.
cd "$bin" || fail "no folder $bin"
"$loader" regsvr32 /s TavrinOcx.dll || fail "regsvr32 failed"
registered=1
"$loader" cscript //nologo "Z:$script" "$path" | tr -d '\r'
rc=${PIPESTATUS[0]}
[ "$rc" = 0 ] || fail "the script reported $rc failures"
"$loader" regsvr32 /s /u TavrinOcx.dll || fail "regsvr32 /u failed"
registered=
exit 0

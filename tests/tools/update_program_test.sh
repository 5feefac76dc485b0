#!/bin/bash
# The tool's firmware update against tavrin-sim as a program, one simulated network device per
# outcome, each set up by the simulator's firmware switches: the update's exit code, its failure
# line, and the image the device saved (--save-firmware) compared with the file.
set -u
SIM=$1 TOOL=$2
# shellcheck source=../support/sim_program.sh
. "$(dirname "$0")/../support/sim_program.sh"

# A firmware file: "udf1", header length 128, the CRC-16 (0x1021 from 0xFFFF) over the header's
# first 128 bits with E3 D8 in its place, then 1000 - 128 bytes of image.
python3 - "$work/fw.udf" <<'PY' || { echo "FAIL: cannot write the firmware file"; exit 1; }
import sys
f = bytearray((i * 31 + 7 ^ i >> 8) & 0xFF for i in range(1000))
f[0:7] = b"udf1" + bytes([128, 0xE3, 0xD8])
crc = 0xFFFF
for i in range(128):
    bit = (f[i // 8] >> (7 - i % 8)) & 1
    top = crc >> 15 & 1
    crc = ((crc << 1) & 0xFFFF) ^ (0x1021 if bit ^ top else 0)
f[5:7] = bytes([crc >> 8, crc & 0xFF])
open(sys.argv[1], "wb").write(f)
PY
tail -c +129 "$work/fw.udf" > "$work/image.bin"

start_sim --device --net 127.0.0.1 --restart-wait 2 --restart-away 100 --fw-busy 2 --fw-busy-wait 2 \
           --save-firmware "$work/saved.bin" \
       --device --net 127.0.0.1 --boot-mode --fw-fault busy-forever --fw-busy-wait 2 \
       --device --net 127.0.0.1 --boot-mode --fw-fault vanish:2 \
       --device --net 127.0.0.1 --boot-mode --fw-fault no-answer:1 \
       --device --net 127.0.0.1 --boot-mode --fw-piece-delay 400 \
       --device --net 127.0.0.1 --connect-status 5 --work-mode-status 1 \
       --device --net 127.0.0.1 --connect-status 5 --boot-mode
path() { awk -v d="$1" '$1 == "device" && $2 == d {print $3}' "$work/sim.out"; }

# device, extra options, exit code, a text the output must hold
check() {
    local device=$1 options=$2 code=$3 text=$4 p rc
    p=$(path "$device")
    # shellcheck disable=SC2086
    "$TOOL" update "$p" "$work/fw.udf" $options > "$work/out" 2> "$work/err"; rc=$?
    [ "$rc" = "$code" ] || { cat "$work/out" "$work/err"; fail "device $device: exit code $rc, not $code"; }
    grep -qF -- "$text" "$work/out" "$work/err" || { cat "$work/out" "$work/err"; fail "device $device: no '$text'"; }
}
check 0 "--restart" 0 "#设 备 重 新 启 动(0)"
cmp -s "$work/saved.bin" "$work/image.bin" || fail "the saved image is not the file's"
check 1 "" 5 "tavrin: the update of $(path 1) failed: PHDL("
grep -qF "#设 备 更 新 失 败(-1)" "$work/err" || fail "device 1: no failure line"
check 2 "" 5 "#发 送 数 据 失 败(-"
check 3 "" 5 "#发 送 数 据 失 败(-1)"
check 4 "--timeout 1000" 6 "did not end within 1000 ms"
check 5 "" 4 "模　式　切　换 失 败 "
check 6 "" 0 "#更 新 完 成 OK..."

exec 3>&-
await_sim_end
wait "$sim"; sim=
grep -q '^device 0 firmware: 872 bytes of image received, update finished$' "$work/sim.out" || fail "no firmware summary"
grep -q '^device 1 firmware: 872 bytes of image received, update not finished$' "$work/sim.out" || fail "device 1 summary"
echo "update program test passed"

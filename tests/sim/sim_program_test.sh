#!/bin/bash
# tavrin-sim as a program beside the tool, as in the README's two terminals: commands on its
# standard input, the saved data, and the summary when it is stopped by SIGTERM or SIGINT
# while standard input stays open.
set -u
SIM=$1 TOOL=$2
work=$(mktemp -d)
export XDG_DATA_HOME=$work/home
cleanup() { [ -n "${sim:-}" ] && kill -KILL "$sim" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- simulator output:"; cat "$work/sim.out"; exit 1; }

for signal in TERM INT; do
  rm -f "$work/in" "$work/sim.out"; mkfifo "$work/in"
  "$SIM" --device --net 127.0.0.1 --save-data "$work/saved" < "$work/in" > "$work/sim.out" 2>&1 &
  sim=$!
  exec 3> "$work/in"  # our end for control commands; it keeps the simulator's standard input open
  for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
  grep -q '^ready' "$work/sim.out" || fail "no ready line"
  path=$(awk '/^device 0 /{print $3}' "$work/sim.out")

  echo "status 0 paper-out" >&3
  for _ in $(seq 50); do grep -q '^ok device 0 status 1' "$work/sim.out" && break; sleep 0.1; done
  grep -q '^ok device 0 status 1' "$work/sim.out" || fail "control command not answered"
  [ "$("$TOOL" status "$path")" = "status: paper out (0x01)" ] || fail "status not seen by the tool"
  printf 'receipt %s\n' "$signal" | "$TOOL" --quiet write "$path" - > /dev/null || fail "write"
  [ "$(cat "$work/saved/device-0.prn")" = "receipt $signal" ] || fail "saved data"

  kill -"$signal" "$sim"
  for _ in $(seq 100); do kill -0 "$sim" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$sim" 2>/dev/null && { kill -KILL "$sim"; fail "SIG$signal did not stop the simulator"; }
  wait "$sim"; rc=$?
  [ "$rc" = 0 ] || fail "exit code $rc after SIG$signal"
  grep -q '^device 0 received 1 command packets and 1[0-9] bytes of raw data$' "$work/sim.out" || fail "no summary after SIG$signal"
  exec 3>&-; sim=
done
echo "tavrin-sim program test passed"

#!/bin/bash
# tavrin-sim as a program beside the tool, as in the README's two terminals: commands on its
# standard input, the saved data, and the summary when it is stopped by SIGTERM or SIGINT
# while standard input stays open.
set -u
SIM=$1 TOOL=$2
# shellcheck source=../support/sim_program.sh
. "$(dirname "$0")/../support/sim_program.sh"

for signal in TERM INT; do
  start_sim --device --net 127.0.0.1 --save-data "$work/saved"
  path=$(awk '/^device 0 /{print $3}' "$work/sim.out")

  echo "status 0 paper-out" >&3
  for _ in $(seq 50); do grep -q '^ok device 0 status 1' "$work/sim.out" && break; sleep 0.1; done
  grep -q '^ok device 0 status 1' "$work/sim.out" || fail "control command not answered"
  [ "$("$TOOL" status "$path")" = "status: paper out (0x01)" ] || fail "status not seen by the tool"
  printf 'receipt %s\n' "$signal" | "$TOOL" --quiet write "$path" - > /dev/null || fail "write"
  [ "$(cat "$work/saved/device-0.prn")" = "receipt $signal" ] || fail "saved data"

  kill -"$signal" "$sim"
  await_sim_end
  kill -0 "$sim" 2>/dev/null && { kill -KILL "$sim"; fail "SIG$signal did not stop the simulator"; }
  wait "$sim"; rc=$?
  [ "$rc" = 0 ] || fail "exit code $rc after SIG$signal"
  grep -q '^device 0 received 1 command packets and 1[0-9] bytes of raw data$' "$work/sim.out" || fail "no summary after SIG$signal"
  exec 3>&-; sim=
done
echo "tavrin-sim program test passed"

# Sourced by the tests that run tavrin-sim as a program ($SIM): a work folder removed at exit with
# the simulator, a failure that shows the simulator's output, and the simulator's start.
work=$(mktemp -d)
export XDG_DATA_HOME=$work/home
cleanup() { [ -n "${sim:-}" ] && kill -KILL "$sim" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- simulator output:"; cat "$work/sim.out"; exit 1; }

# start_sim OPTION...: the simulator ($sim) with its standard input on a fifo that descriptor 3
# holds open for control commands, its output in $work/sim.out; returns once it is ready.
start_sim() {
  rm -f "$work/in" "$work/sim.out"; mkfifo "$work/in"
  "$SIM" "$@" < "$work/in" > "$work/sim.out" 2>&1 &
  sim=$!
  exec 3> "$work/in"
  for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
  grep -q '^ready' "$work/sim.out" || fail "no ready line"
}

# await_sim_end: waits up to 10 s for the simulator to end.
await_sim_end() {
  for _ in $(seq 100); do kill -0 "$sim" 2>/dev/null || break; sleep 0.1; done
}

#!/usr/bin/env bash
# Installs a release build into a temporary prefix and uses it as a user of the SDK would:
#   - builds the README's library example three ways: with pkg-config, with CMake's
#     find_package(Tavrin), and with plain -I/-L/-lTavrin;
#   - runs each against the installed simulator, a network printer on a loopback address;
#   - loads the installed library from Python through the installed module and runs the module's
#     tests with it.
# usage: check-install.sh BUILD_DIR      (a configured and built release tree)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
work=$(mktemp -d /tmp/tavrin-install-XXXXXX)
sim_pid=
cleanup() {
    exec 3>&- 2>/dev/null || true
    [ -z "$sim_pid" ] || wait "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
step() { echo "--- $*"; }

prefix=$work/prefix
step "install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for f in include/tavrin/tavrin.h include/tavrin/tavrin_exports.h lib/libTavrin.so lib/pkgconfig/tavrin.pc \
         lib/cmake/Tavrin/TavrinConfig.cmake bin/tavrin bin/tavrin-sim share/doc/Tavrin/README.md; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
soname=$(readelf -d "$prefix/lib/libTavrin.so" | sed -nE 's/.*\(SONAME\).*\[(.*)\]/\1/p')
[ -e "$prefix/lib/$soname" ] || { echo "the soname link $soname is missing"; exit 1; }
bash "$root/scripts/check-linux-so.sh" "$prefix/lib/libTavrin.so" "$prefix/include/tavrin/tavrin_exports.h"

# The example exactly as the README shows it: the first C block after its marker line.
example=$work/print_receipt.c
awk '/<!-- example: print_receipt.c -->/ { armed = 1; next }
     armed && /^```c$/ { copying = 1; next }
     copying && /^```$/ { exit }
     copying { print }' "$root/README.md" >"$example"
[ -s "$example" ] || { echo "README.md has no example marked print_receipt.c"; exit 1; }

step "build the example with pkg-config"
PKG_CONFIG_PATH=$prefix/lib/pkgconfig
export PKG_CONFIG_PATH
(cd "$work" && cc -o print_receipt-pkgconfig print_receipt.c $(pkg-config --cflags --libs tavrin))
step "build the example with find_package(Tavrin)"
cmake -S "$root/tests/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DTAVRIN_EXAMPLE="$example" >"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; exit 1; }
cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; exit 1; }
cp "$work/consumer/print_receipt" "$work/print_receipt-cmake"
step "build the example with -lTavrin (C11, warnings as errors)"
cc -std=c11 -Wall -Wextra -Wpedantic -Werror -I"$prefix/include" -o "$work/print_receipt-plain" "$example" \
   -L"$prefix/lib" -lTavrin

# The installed simulator: one network printer on a loopback address of this run, a free port.
address=127.0.$((RANDOM % 254 + 1)).$((RANDOM % 253 + 2))
mkfifo "$work/sim-in"
"$prefix/bin/tavrin-sim" --device --net "$address" --model TV-INSTALL <"$work/sim-in" >"$work/sim.out" 2>&1 &
sim_pid=$!
exec 3>"$work/sim-in"
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" && break; sleep 0.1; done
path=$(awk '$1 == "device" && $2 == 0 { print $3 }' "$work/sim.out")
[ -n "$path" ] || { cat "$work/sim.out"; exit 1; }

# The library's user data folder of this run; without settings no log file is written.
export XDG_DATA_HOME=$work/home
for way in pkgconfig cmake plain; do
    step "run the example built with $way against $path"
    out=$(LD_LIBRARY_PATH=$prefix/lib "$work/print_receipt-$way" "$path")
    echo "$out"
    echo "$out" | grep -qx 'model: TV-INSTALL' || { echo "unexpected output"; exit 1; }
    echo "$out" | grep -qE '^sent ([0-9]+) of \1 bytes$' || { echo "unexpected output"; exit 1; }
done
bytes=$(sed -nE 's/^sent ([0-9]+) of .*/\1/p' <<<"$out")
exec 3>&-
wait "$sim_pid" || true
sim_pid=
grep -q "and $((3 * bytes)) bytes of raw data" "$work/sim.out" || { echo "the printer did not get every receipt:"; cat "$work/sim.out"; exit 1; }

step "the installed Python module with the installed library"
python_dir=$(cd "$prefix" && ls -d lib/python3*/*-packages 2>/dev/null | head -n 1)
[ -n "$python_dir" ] && [ -f "$prefix/$python_dir/tavrin/__init__.py" ] || { echo "the Python module is not installed"; exit 1; }
python=/usr/bin/python3
[ -x "$python" ] || python=python3
env -u TAVRIN_LIBRARY PYTHONPATH="$prefix/$python_dir" "$python" -c '
import sys, tavrin
library = tavrin.Library()
print("module", tavrin.__file__)
print("library", library.path)
assert library.path.startswith(sys.argv[1]), "not the installed library"
print(len(library.command_names()), "command names")
library.unload()
' "$prefix/"
bash "$root/scripts/test-python.sh" --module "$prefix/$python_dir" --sim "$prefix/bin/tavrin-sim"
echo "installed SDK: pkg-config, find_package and -lTavrin builds ran against the simulator; Python module and library load from the prefix"

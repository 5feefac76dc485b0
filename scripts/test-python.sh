#!/usr/bin/env bash
# Runs the Python module's tests against the simulator:
#   test-python.sh [--library LIBRARY] [--module DIR] --sim TAVRIN_SIM
# --library names the library to load (else the module finds it: its own install tree, then the
# system's loader); --module is the folder holding the module (default: bindings/python).
# With pytest where a Python 3 of this machine has it (Debian: python3-pytest), else unittest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
module=$root/bindings/python
unset TAVRIN_LIBRARY
while [ $# -gt 0 ]; do
    case $1 in
        --library) TAVRIN_LIBRARY=$(realpath "$2"); export TAVRIN_LIBRARY; shift 2 ;;
        --module) module=$(realpath "$2"); shift 2 ;;
        --sim) TAVRIN_SIM=$(realpath "$2"); export TAVRIN_SIM; shift 2 ;;
        *) echo "usage: test-python.sh [--library LIBRARY] [--module DIR] --sim TAVRIN_SIM" >&2; exit 2 ;;
    esac
done
[ -n "${TAVRIN_SIM:-}" ] || { echo "test-python.sh: --sim is needed" >&2; exit 2; }
export PYTHONPATH="$module${PYTHONPATH:+:$PYTHONPATH}" PYTHONDONTWRITEBYTECODE=1
# From the tests' own folder, so that "import tavrin" finds the module of PYTHONPATH.
cd "$root/bindings/python/tests"
for python in /usr/bin/python3 python3; do
    if command -v "$python" >/dev/null 2>&1 && "$python" -c 'import pytest' 2>/dev/null; then
        exec "$python" -m pytest -q -p no:cacheprovider .
    fi
done
python=$(command -v python3 || command -v /usr/bin/python3) || { echo "no python3 found" >&2; exit 1; }
exec "$python" -m unittest discover -s . -v

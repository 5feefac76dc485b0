#!/usr/bin/env bash
# The browser test: installs playwright-core from the lock file (npm ci; it downloads no browser)
# and runs the test page in Debian's Chromium against the programs of a build tree.
# usage: tests/browser/run.sh BUILD_TREE     exit codes: 0 passed, 1 failed, 77 skipped
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/release}" && pwd)
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    echo "SKIPPED: node and npm are not installed (scripts/install-deps.sh)"
    exit 77
fi
cd "$here"
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error >"$build/browser-npm.log" 2>&1 || {
    cat "$build/browser-npm.log"
    echo "FAILED: npm ci"
    exit 1
}
exec timeout 180 node browser-test.mjs --build "$build" --out "$build/browser-test"

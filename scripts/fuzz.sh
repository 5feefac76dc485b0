#!/usr/bin/env bash
# Builds the libFuzzer programs of the parsers (preset "fuzz": clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60), one after the other:
#
#   scripts/fuzz.sh [SECONDS] [NAME...]      NAME: utf net_address search_reply ini_reader cli packet
#                                             config_description hid_descriptor service_request
#
# Each starts from the inputs kept in tests/fuzz/corpus/NAME/. What it learns goes to
# build/fuzz/corpus/NAME/, never into the tree. An input that breaks a property, trips a sanitizer
# or runs longer than 10 s is saved in build/fuzz/findings/NAME/ and the script exits non-zero;
# once its fault is fixed, keep it in tests/fuzz/corpus/NAME/ (the unit test
# tavrin_fuzz_corpus_tests then replays it in every build).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
case "$seconds" in
    '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [NAME...]" >&2; exit 2 ;;
esac

dir=build/fuzz
mkdir -p build
log=build/fuzz-build.log
if ! { cmake --preset fuzz >"$log" 2>&1 && cmake --build "$dir" -j 2 --target tavrin_fuzzers >>"$log" 2>&1; }; then
    grep -E 'error|FAILED' -A5 "$log" | head -n 40
    tail -n 20 "$log"
    echo "fuzz: build failed (see $log)"
    exit 1
fi

if [ $# -gt 0 ]; then
    names=("$@")
else
    mapfile -t names <"$dir/fuzz-targets.txt"
fi

failed=0
for name in "${names[@]}"; do
    program="$dir/bin/tavrin_fuzz_$name"
    if [ ! -x "$program" ]; then
        echo "fuzz $name: no such target"
        failed=$((failed + 1))
        continue
    fi
    mkdir -p "$dir/corpus/$name" "$dir/findings/$name" "$dir/logs"
    run_log="$dir/logs/$name.log"
    "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$dir/findings/$name/" "$dir/corpus/$name" "tests/fuzz/corpus/$name" >"$run_log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run_log" | tail -n 1)
    if [ $status -eq 0 ]; then
        echo "fuzz $name: ${seconds} s, ${runs:-?} inputs, no findings"
    else
        failed=$((failed + 1))
        echo "fuzz $name: FAILED (status $status), findings in $dir/findings/$name/"
        grep -E 'property does not hold|ERROR|SUMMARY|runtime error' "$run_log" | head -n 10
    fi
done
[ "$failed" -eq 0 ]

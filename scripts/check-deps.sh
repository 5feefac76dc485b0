#!/usr/bin/env bash
# The dependency rule: every folder includes only what lies below it (or beside it in its own
# layer). Reads the quoted #include lines of the C and C++ files and fails on the first folder
# that reaches up. Usage: check-deps.sh [TREE] (default: this repository).
#
#   folder                      may include
#   include/ bindings/          the public headers (tavrin/)
#   platform/                   platform/, the public headers; <windows.h> only in
#                               platform/win32/windows_api.h, and the backends' own headers
#                               (platform/win32/, platform/posix/) only inside platform/
#   devicelib/ports/            devicelib/ports/, platform/, the public headers
#   devicelib/core, config, dfu devicelib/ (the library's logic is one layer), platform/, public
#   sim/                        sim/, platform/, the public headers
#   bridge/                     bridge/, platform/, the public headers
#   tavrinocx/                  tavrinocx/, platform/, the public headers
#   service/                    service/, tavrinocx/, platform/, the public headers
#   tools/tavrin/               tools/, the public headers, and the caller-side libraries:
#                               platform/text_utf.h, console.h, notify_window.h
#   tavrinocx/win32/            as tavrinocx/, and platform/win32/windows_api.h (the control's
#                               Windows files are COM code: they reach <windows.h> through it)
#   tools/demo/, tools/bench/   as tools/tavrin/, and sim/ and platform/ (they stand in for devices)
#   tests/                      anything (a test program may stand where a user's program stands)
set -uo pipefail

tree=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$tree" || exit 2

# The rules, most specific folder first: FOLDER<TAB>allowed prefixes (space separated).
rules=$(cat <<'EOF'
include/	tavrin/
bindings/	tavrin/
platform/	platform/ tavrin/
devicelib/ports/	devicelib/ports/ platform/ tavrin/
devicelib/	devicelib/ platform/ tavrin/
sim/	sim/ platform/ tavrin/
bridge/	bridge/ platform/ tavrin/
tavrinocx/	tavrinocx/ platform/ tavrin/
service/	service/ tavrinocx/ platform/ tavrin/
tools/demo/	tools/ tavrin/ sim/ platform/
tools/bench/	tools/ tavrin/ sim/ platform/
tools/	tools/ tavrin/ platform/text_utf.h platform/console.h platform/notify_window.h
EOF
)

declare -A allowed_cache
allowed_for() {  # allowed_for FILE: sets $allowed to the prefixes its folder may include, "*" for anything
    local file=$1 folder prefixes dir=${1%/*}
    if [ -n "${allowed_cache[$dir]+set}" ]; then allowed=${allowed_cache[$dir]}; return; fi
    allowed="*"
    while IFS=$'\t' read -r folder prefixes; do
        case "$file" in "$folder"*) allowed=$prefixes; break;; esac
    done <<<"$rules"
    allowed_cache[$dir]=$allowed
}

violations=0
report() {  # report FILE LINE TEXT
    echo "$1:$2: $3" >&2
    violations=$((violations + 1))
}

# Every #include line of the sources, as FILE:LINE:TEXT.
while IFS= read -r entry; do
    file=${entry%%:*}
    rest=${entry#*:}
    line=${rest%%:*}
    text=${rest#*:}
    file=${file#./}
    if [[ $text =~ \#[[:space:]]*include[[:space:]]*\<windows\.h\> ]]; then
        case "$file" in platform/win32/windows_api.h | tests/*) ;; *) report "$file" "$line" "only platform/win32/windows_api.h includes <windows.h>";; esac
        continue
    fi
    [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]] || continue
    target=${BASH_REMATCH[1]}
    case "$target" in */*) ;; *) continue;; esac  # a header beside the file
    case "$target" in
    platform/win32/* | platform/posix/*)
        case "$file:$target" in
        platform/*:* | tests/*:* | tavrinocx/win32/*:platform/win32/windows_api.h) ;;
        *) report "$file" "$line" "\"$target\" is a backend's own header";;
        esac
        ;;
    esac
    allowed_for "$file"
    [ "$allowed" = "*" ] && continue
    ok=0
    for prefix in $allowed; do
        case "$target" in "$prefix"*) ok=1; break;; esac
    done
    [ $ok -eq 1 ] || report "$file" "$line" "may not include \"$target\" (its folder may include: $allowed)"
done < <(grep -rnE --exclude-dir=build --exclude-dir=.git --include='*.h' --include='*.hpp' --include='*.c' \
              --include='*.cpp' --include='*.cc' --include='*.inc' '^[[:space:]]*#[[:space:]]*include' . 2>/dev/null)

if [ $violations -ne 0 ]; then
    echo "dependency rule: $violations upward include(s)" >&2
    exit 1
fi
echo "dependency rule: holds"

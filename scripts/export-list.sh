# Sourced by the export checks (check-linux-so.sh, check-win32-dll.sh): their common command line
# and the entries of an export list.

# read_export_check_args USAGE "$@": the optional --prefix PREFIX (default dllFunc_: it precedes
# each entry's name of the list in the exported name), then the positional arguments, of which
# the first two (the library and its export list) must be given. Sets prefix and args.
read_export_check_args() {
    local usage=$1
    shift
    prefix=dllFunc_
    if [ "${1:-}" = "--prefix" ]; then
        [ $# -ge 2 ] || { echo "usage: $usage" >&2; exit 2; }
        prefix=$2
        shift 2
    fi
    [ $# -ge 2 ] || { echo "usage: $usage" >&2; exit 2; }
    args=("$@")
}

# export_entries LIST: one line "NAME BYTES" per entry PREFIXED_FUNCTION(NAME, BYTES, ...) at the
# start of a line of the list, in the list's (the ordinals') order.
export_entries() {
    grep -oE '^[A-Z][A-Z0-9_]*_FUNCTION\([A-Za-z_][A-Za-z0-9_]*, *[0-9]+' "$1" |
        sed -E 's/^[^(]*\(([^,]*), *([0-9]+)$/\1 \2/'
}

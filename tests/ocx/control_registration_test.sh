#!/usr/bin/env bash
# regsvr32 and regsvr32 /u of TavrinOcx.dll under Wine: the keys of the control's class, its
# ProgID and its type library are written, and then removed again.
#   control_registration_test.sh LOADER DLL
# The prefix and its server come from the environment (ctest fixture "wine").
set -u
loader=$1 dll=$2
clsid='{71683840-8C48-40C6-8AD2-209912F35CF2}'
libid='{6E67E637-2D13-4DC5-B19C-0CC40D30DBFD}'
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# reg's own status: 0 when the key (and value) is there.
query() {
    local out rc
    out=$("$loader" reg query "$@" 2>/dev/null)
    rc=$?
    printf '%s\n' "$out" | tr -d '\r'
    return $rc
}
# key, value name (empty: the default value, whose name reg prints in the system's language), the
# data expected (a pattern)
expect_value() {
    local data
    if [ -n "$2" ]; then data=$(query "$1" /v "$2"); else data=$(query "$1" /ve); fi
    data=$(printf '%s\n' "$data" | sed -nE 's/^.*REG_SZ {4}//p')
    [[ "$data" == $3 ]] || fail "$1 ${2:-(default)} is '$data', expected '$3'"
}
keys=("HKCR\\CLSID\\$clsid" "HKCR\\TAVRINOCX.TavrinOcxCtrl.1" "HKCR\\TypeLib\\$libid")

"$loader" regsvr32 /s "$dll" || fail "regsvr32 returned $?"
expect_value "HKCR\\CLSID\\$clsid" "" "TavrinOcx Control"
expect_value "HKCR\\CLSID\\$clsid\\InprocServer32" "" "*TavrinOcx.dll"
expect_value "HKCR\\CLSID\\$clsid\\InprocServer32" ThreadingModel "Apartment"
expect_value "HKCR\\CLSID\\$clsid\\ProgID" "" "TAVRINOCX.TavrinOcxCtrl.1"
expect_value "HKCR\\CLSID\\$clsid\\MiscStatus\\1" "" "131473"
expect_value "HKCR\\CLSID\\$clsid\\ToolboxBitmap32" "" "*TavrinOcx.dll, 1"
expect_value "HKCR\\CLSID\\$clsid\\TypeLib" "" "$libid"
expect_value "HKCR\\CLSID\\$clsid\\Version" "" "1.0"
query "HKCR\\CLSID\\$clsid\\Control" >/dev/null || fail "no Control key"
query "HKCR\\CLSID\\$clsid\\Insertable" >/dev/null && fail "the control is registered as insertable"
expect_value "HKCR\\TAVRINOCX.TavrinOcxCtrl.1" "" "TavrinOcx Control"
expect_value "HKCR\\TAVRINOCX.TavrinOcxCtrl.1\\CLSID" "" "$clsid"
query "HKCR\\TypeLib\\$libid\\1.0" >/dev/null || fail "the type library is not registered"

"$loader" regsvr32 /s /u "$dll" || fail "regsvr32 /u returned $?"
for key in "${keys[@]}"; do
    query "$key" >/dev/null && fail "$key is still there after regsvr32 /u"
done
[ "$failures" = 0 ] && echo "control registration test passed"
exit "$failures"

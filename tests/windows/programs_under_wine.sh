#!/usr/bin/env bash
# The Windows programs under Wine, as a user's shell sees them: one sentence and the documented
# exit status when the HID layer cannot start (hid.dll switched off in Wine) and when it lists
# nothing (Wine's own HID stack, no generator), and standard output byte for byte as on Linux.
#
# Usage: programs_under_wine.sh WINE_RUNNER CTL_EXE PROBE_EXE PLAN_EXE
set -uo pipefail

wine=$1 ctl=$2 probe=$3 plan=$4
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# expect NAME STATUS STREAM TEXT COMMAND...: the exit status, and the whole of stdout or stderr.
expect() {
    local name=$1 status=$2 stream=$3 text=$4
    shift 4
    local got=0
    "$wine" "$@" >"$work/out" 2>"$work/err" || got=$?
    if ((got != status)) || [[ $(cat "$work/$stream") != "$text" ]] || grep -q $'\r' "$work/$stream"; then
        echo "FAIL: $name: exit status $got (expected $status), $stream:"
        od -c "$work/$stream" | head -n 8
        echo "      expected: $text"
        failures=$((failures + 1))
    else
        echo "ok:   $name"
    fi
}

started='The HID layer could not start (resolve DLL functions: (0x0000007E) Module not found), so no clock generator can be found.'
(
    export WINEDLLOVERRIDES="hid=;${WINEDLLOVERRIDES:-mscoree,mshtml=}"
    expect "list, no HID layer" 1 err "quarvel-ctl: $started" "$ctl" list
    expect "status --check, no HID layer" 3 out "QUARVEL UNKNOWN - $started" "$ctl" status --check
    expect "--wait set, no HID layer" 1 err "quarvel-ctl: $started" "$ctl" --wait set 10000000
    expect "probe, no HID layer" 1 out "$started" "$probe"
    exit "$failures"
) || failures=$?

none='No clock generator is attached; connect one and try again.'
expect "list, nothing attached" 1 err "quarvel-ctl: $none" "$ctl" list
expect "status --check, nothing attached" 3 out "QUARVEL UNKNOWN - $none" "$ctl" status --check
expect "probe, nothing attached" 0 out \
    "No device with vendor ID 0x6B4E and product ID 0x3C59 was found." "$probe"
expect "bad usage" 2 err "quarvel-ctl: FREQ and --out2 must be positive numbers of hertz, such as 10000000." \
    "$ctl" set ten
expect "plan, as on Linux" 0 out "10000000 Hz: strict pass, GPS 4687500, N31 5, N2_HS 11, \
N2_LS 512, N1_HS 11, NC1_LS 48, NC2_LS 48, phase step 0, BW 15; output 1 10000000 Hz, \
output 2 10000000 Hz, F3 937500 Hz, Fosc 5.28 GHz" \
    "$plan" 10000000

echo "$failures failed"
exit $((failures > 0))

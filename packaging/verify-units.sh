#!/bin/sh
# verify-units.sh PROGRAM DIR UNIT...: systemd-analyze verify on an instance of each template
# unit, with PROGRAM in place of /usr/bin/quarvel-ctl. Exit 77 (skipped) without systemd,
# except under CI=true, where that is a failure.
set -eu
program=$1 dir=$2
shift 2
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "systemd-analyze is not installed"
    [ "${CI:-}" = true ] && exit 1
    exit 77
fi
rm -rf "$dir" && mkdir -p "$dir"
for unit in "$@"; do
    instance=$(echo "$unit" | sed 's/@\./@0123ABCD./')
    # Quoted: systemd splits a command line at spaces, and a build folder may have one.
    sed "s|/usr/bin/quarvel-ctl|\"$program\"|" "$unit" >"$dir/$unit"
    ln -s "$unit" "$dir/$instance"
    # Warnings count as failures: verify prints them but still exits 0.
    out=$(SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no "$dir/$instance" 2>&1) || {
        echo "$out"
        exit 1
    }
    if [ -n "$out" ]; then
        echo "$out"
        exit 1
    fi
    echo "$instance: verified"
done

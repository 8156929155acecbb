#!/usr/bin/env bash
# scripts/kernel-vm's shares, without a VM: a checkout or build folder under /tmp, which the VM
# mounts afresh, is shared again at its own path, with a space in it or reached through a link.
set -euo pipefail
runner=${1:?usage: kernel_vm_plan_test.sh PATH/TO/scripts/kernel-vm}
plain=$(mktemp -d)
spaced=$(mktemp -d "/tmp/kernel vm plan.XXXXXX")
trap 'rm -rf "$plain" "$spaced"' EXIT

for checkout in "$plain/q" "$spaced/q"; do
    mkdir -p "$checkout/scripts" "$checkout/build-test"
    cp "$runner" "$checkout/scripts/kernel-vm"
done
mkdir "$plain/build"
ln -s "$spaced/q" "$plain/link"

# The folders the VM would mount, as its initramfs reads the plan: one a line, sorted.
mounts() {
    local checkout=$1
    shift
    share() { echo "$2"; }
    eval "$(cd "$checkout" && bash scripts/kernel-vm --plan "$@")" | sort
}

failed=0
while IFS='|' read -r what checkout expected args; do
    eval "args=($args)"
    expected=$(eval "printf '%s\n' $expected" | sort)
    got=$(mounts "$checkout" "${args[@]}")
    if [ "$got" != "$expected" ]; then
        printf '%s: expected\n%s\ngot\n%s\n' "$what" "$expected" "$got"
        failed=1
    fi
done <<EOF
a clone under /tmp|$plain/q|"$plain"|-- scripts/kernel-ctest build-test
a space, the build elsewhere|$spaced/q|"$plain" "$spaced"|-g A1 -- scripts/kernel-ctest "$plain/build"
a link to it|$plain/link|"$plain" "$spaced"|-- scripts/kernel-ctest build-test
EOF
exit "$failed"

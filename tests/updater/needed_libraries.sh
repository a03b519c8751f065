#!/usr/bin/env bash
# Fails when the updater's dynamic section names a library it must not load:
# it swaps executables and restarts programs, nothing more.
set -euo pipefail
needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "$needed"
grep -q '^libQt6Widgets' <<<"$needed" || { echo "no libQt6Widgets: not the updater read?"; exit 1; }
if forbidden=$(grep -E '^lib(crypto|ssl|Qt6Network|hidapi)' <<<"$needed"); then
    echo "the updater loads: $forbidden"
    exit 1
fi

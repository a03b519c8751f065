#!/bin/bash
# Three ufcs processes side by side on three simulated instruments, as three
# programs of a production line: two record and one captures at the same
# time; each later one takes the next free instrument and says which busy
# ones it passed over, and all three keep what they took.
#   several_processes.sh UFCS
set -euo pipefail
ufcs=$1
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
export UFCS_LOCK_DIR=$work/locks
mkdir -m 700 "$UFCS_LOCK_DIR"

# Waits (ten seconds at most) until FILE holds TEXT.
await() {
    for _ in $(seq 200); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "never came in $1: $2" >&2
    cat "$1" >&2
    exit 1
}

"$ufcs" record --simulate=3 --seconds 3 -o "$work/a.osa" 2>"$work/a.err" &
pids+=($!)
await "$work/a.err" samples  # the first holds an instrument and records
"$ufcs" record --simulate=3 --seconds 2 -o "$work/b.osa" 2>"$work/b.err" &
pids+=($!)
await "$work/b.err" samples
"$ufcs" capture --simulate=3 --seconds 1 -o "$work/c.ufcs_stream" >"$work/c.out" 2>"$work/c.err"
for pid in "${pids[@]}"; do wait "$pid"; done
pids=()

grep -q "仪器正被其它程序使用：SIM0001，改用 SIM0002" "$work/b.err"
grep -q "仪器正被其它程序使用：SIM0001、SIM0002，改用 SIM0003" "$work/c.err"
! grep -q "仪器正被其它程序使用" "$work/a.err"
for file in a.osa b.osa; do
    count=$("$ufcs" osa "$work/$file" | sed -n 's/^channel 0: count \([0-9]*\).*/\1/p')
    [ "$count" -gt 10 ] || { echo "$file holds $count samples" >&2; exit 1; }
done
rows=$("$ufcs" rows "$work/c.ufcs_stream" | wc -l)
[ "$rows" -gt 5 ] || { echo "the capture lists $rows rows" >&2; exit 1; }
# All three have let go: every instrument is free again.
[ "$("$ufcs" devices --simulate=3 | grep -c free)" = 3 ]
echo "three processes, three instruments: ok"

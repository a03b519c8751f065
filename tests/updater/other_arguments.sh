#!/usr/bin/env bash
# The updater started with anything but one of its two arguments ends at once
# and leaves its folder as it was. $1: the updater.
set -u
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cp "$1" "$folder/updater"
cd "$folder"
echo old > color
echo new > k512.exe
status=0
for arguments in "" "k512 protocol " "K512 protocol" "k512 Cur_test" "k512 protocol|extra" "|"; do
    IFS='|' read -r -a words <<< "$arguments"
    [[ $arguments == "|" ]] && words=()
    if ! timeout 20 ./updater "${words[@]}"; then
        echo "updater ${words[*]@Q}: did not end at once with status 0" >&2
        status=1
    fi
done
[[ $(cat color) == old && $(cat k512.exe) == new && $(ls | wc -l) == 3 ]] || {
    echo "the folder changed: $(ls)" >&2
    status=1
}
exit $status

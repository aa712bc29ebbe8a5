#!/usr/bin/env bash
# Replays the fuzzer's stored inputs against the Windows module under wine,
# in a wine prefix of its own that is removed afterwards.
#
#   tests/fuzz/wine_replay.sh WINE WINESERVER fuzz_replay.exe DIR...
set -euo pipefail
wine=$1 wineserver=$2 replay=$3
shift 3
dirs=()
for d in "$@"; do
    dirs+=("Z:$(cd "$d" && pwd)")
done
# Wine, above all under qemu-user, now and then loses its server while a
# prefix is set up and never exits; that says nothing about the module, so a
# run that times out is tried again in a fresh prefix (a failed check exits
# at once with its own status and is not retried).
status=0
for attempt in 1 2 3; do
    work=$(mktemp -d /tmp/dovex-wine-replay-XXXXXX)
    export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
    # Headless and quiet: no Mono or Gecko installer, no menu entries, and no
    # debugger left waiting on a program that crashes.
    export WINEDLLOVERRIDES='mscoree,mshtml,winemenubuilder.exe,winedbg.exe='
    status=0
    timeout -k 10 180 "$wine" "$replay" "${dirs[@]}" 2>"$work/err.txt" || status=$?
    "$wineserver" -k >/dev/null 2>&1 || true
    if [ "$status" -ne 0 ]; then
        # The name of the last input, then the failed check.
        tail -n 20 "$work/err.txt" >&2
        echo "fuzz_replay.exe under wine exited with status $status (try $attempt)" >&2
    fi
    rm -rf "$work"
    # 124 and 137: timeout stopped a wine that hung.
    [ "$status" -eq 124 ] || [ "$status" -eq 137 ] || break
done
exit "$status"

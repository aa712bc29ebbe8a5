#!/usr/bin/env bash
# Replays the fuzzer's stored inputs against the Windows module under wine,
# in a wine prefix of its own that is removed afterwards.
#
#   fuzz/wine_replay.sh WINE WINESERVER fuzz_replay.exe DIR...
set -euo pipefail
wine=$1 wineserver=$2 replay=$3
shift 3
dirs=()
for d in "$@"; do
    dirs+=("Z:$(cd "$d" && pwd)")
done
work=$(mktemp -d /tmp/dovex-wine-replay-XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
# Headless and quiet: no Mono or Gecko installer, no menu entries, and no
# debugger left waiting on a program that crashes.
export WINEDLLOVERRIDES='mscoree,mshtml,winemenubuilder.exe,winedbg.exe='
status=0
timeout -k 10 900 "$wine" "$replay" "${dirs[@]}" 2>"$work/err.txt" || status=$?
"$wineserver" -k >/dev/null 2>&1 || true
if [ "$status" -ne 0 ]; then
    # The name of the last input, then the failed check.
    tail -n 20 "$work/err.txt" >&2
    echo "fuzz_replay.exe under wine exited with status $status" >&2
fi
rm -rf "$work"
exit "$status"

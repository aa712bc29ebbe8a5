#!/usr/bin/env bash
# Runs one Windows program under wine the way every wine test here does: in
# a wine prefix of its own, in a temporary folder removed afterwards,
# headless and quiet, within a time limit. Wine, above all under qemu-user,
# now and then hangs or loses its server while it sets a prefix up; that
# says nothing about the program, so such a run is tried again in a fresh
# prefix. Any other outcome, a failed check of the program's included, ends
# at once. What the program printed on its output and error output, in its
# last try, comes out on this script's; the exit status is the program's.
#
#   wine_run.sh ARCH PROGRAM [ARG...]
#     ARCH   win64: 64-bit Windows, run by wine64 natively;
#            win32: 32-bit Windows, run by wine32 (through qemu-user on a
#            kernel that cannot run 32-bit x86 programs itself)
#
# Wine reaches the Linux file system as drive Z:, so an argument naming a
# file is given as Z:/path/to/it. WINE_RUN_SECONDS overrides the time limit
# of a try (180 s).
set -uo pipefail
usage="usage: wine_run.sh win64|win32 PROGRAM [ARG...]"
arch=${1:?$usage}
program=${2:?$usage}
shift 2

# Debian's wine puts wine64 beside wine32's loader, not on the PATH.
case $arch in
win64) wine=$(command -v wine64 || echo /usr/lib/wine/wine64) ;;
win32) wine=$(command -v wine || echo /usr/lib/wine/wine) ;;
*)
    echo "$usage" >&2
    exit 2
    ;;
esac
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
for tool in "$wine" "$wineserver"; do
    [ -x "$tool" ] || {
        echo "wine_run.sh: $tool is missing (tools/test.sh installs wine)" >&2
        exit 2
    }
done
limit=${WINE_RUN_SECONDS:-180}
tries=3

# Wine's helper processes that outlived their server (it happens under
# qemu-user) ignore wineserver -k; they are found by the prefix in their
# environment, which is this run's alone, and stopped by their ids.
stop_leftovers() {
    local prefix=$1 pids=() p
    for p in /proc/[0-9]*; do
        grep -qsxzF "WINEPREFIX=$prefix" "$p/environ" && pids+=("${p#/proc/}")
    done
    [ ${#pids[@]} -eq 0 ] && return 0
    kill "${pids[@]}" 2>/dev/null
    sleep 1
    kill -9 "${pids[@]}" 2>/dev/null
    return 0
}

status=0
for try in $(seq "$tries"); do
    work=$(mktemp -d /tmp/dovex-wine-XXXXXX)
    # Headless and quiet: no Mono or Gecko installer, no menu entries, and no
    # debugger left waiting on a program that crashes. Given to wine alone,
    # so that only wine's processes carry the prefix.
    prefix=$work/prefix
    env=(WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all
        WINEDLLOVERRIDES='mscoree,mshtml,winemenubuilder.exe,winedbg.exe=')
    status=0
    env "${env[@]}" timeout -k 10 "$limit" "$wine" "$program" "$@" >"$work/out" 2>"$work/err" ||
        status=$?
    # End whatever wine left running for the prefix; its status says nothing.
    env "${env[@]}" "$wineserver" -k >/dev/null 2>&1 || true
    stop_leftovers "$prefix"

    why=
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        why="did not finish within $limit s"
    elif [ "$status" -ne 0 ] && grep -q "wine client error" "$work/err"; then
        why="lost its server"
    fi
    if [ -z "$why" ] || [ "$try" -eq "$tries" ]; then
        cat "$work/out"
        cat "$work/err" >&2
        [ -n "$why" ] && echo "wine_run.sh: wine $why in each of $tries tries" >&2
        rm -rf "$work"
        break
    fi
    echo "wine_run.sh: wine $why (try $try of $tries); trying again in a fresh prefix" >&2
    rm -rf "$work"
done
exit "$status"

#!/usr/bin/env bash
# The cross-compiling emulator of the Windows build: runs a Windows program
# under Wine in the build's own private prefix, which the first run makes
# (wineboot -i, quietly; concurrent first runs wait for it). Never touches
# the user's own ~/.wine.
#   wine-run.sh <prefix folder> <program.exe> [arguments...]
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
# No prompts for the .NET and HTML engines while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot -i >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"$prefix.lock"
fi
exec wine "$@"

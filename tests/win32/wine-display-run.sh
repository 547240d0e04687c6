#!/usr/bin/env bash
# Runs a Windows program under Wine on a virtual X display of its own
# (xvfb-run -a), in the build's display prefix (made on first use, as
# wine-run.sh makes its prefix), and waits for that prefix's Wine processes to
# end before the display goes, so none is left tied to a display that is gone.
# Exits 77 (skipped) when xvfb-run is missing.
#   wine-display-run.sh <prefix folder> <program.exe|script.sh> [arguments...]
# A script (.sh) is run with bash on the display instead, with WINEPREFIX set
# and WINE_RUN naming wine-run.sh.
set -euo pipefail
prefix=$1
shift
command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run is not installed"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${WINE_DISPLAY_INNER:-}" ]; then
  export WINE_DISPLAY_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$prefix" "$@"
fi
export WINEPREFIX=$prefix WINE_RUN="$here/wine-run.sh"
status=0
case "$1" in
  *.sh) bash "$@" || status=$? ;;
  *) "$here/wine-run.sh" "$prefix" "$@" || status=$? ;;
esac
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
exit "$status"

#!/usr/bin/env bash
# Calibration.exe where no window can be made (Wine without a display: every
# window and box fails to be created), against the virtual scanner named in
# the prefix's registry. A scanner that never reinitialises or is never ready
# ends the program instead of being retried without a box or prompt for ever;
# a ready one gets its pass all the same.
#   calibration_without_desktop.sh <win32 build> <work folder>
set -uo pipefail
win32=$(cd "$1" && pwd)
work=$2
rm -rf "$work" && mkdir -p "$work"
export WINEPREFIX=$win32/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
failures=0
# Command line (split into words: the program joins its arguments), faults,
# wanted driver operations.
while IFS='|' read -r mode faults want; do
  rm -f "$work/trace"
  VIRTSCAN_TRACE="$work/trace" VIRTSCAN_FAULTS="$faults" \
    timeout 60 wine "$win32/bin/Calibration.exe" $mode >"$work/out" 2>&1 </dev/null
  status=$?
  ops=$( (grep -o '^op=[0-9]*' "$work/trace" 2>/dev/null || true) | cut -d= -f2 |
        grep -xE '0|1|2|3|10|12|29|43|45' | head -n 40 | tr '\n' ' ')
  if [ "$status" != 0 ] || [ "$ops" != "$want" ]; then
    echo "FAIL: \"$mode\" with faults \"$faults\": exit $status, driver operations \"$ops\", wanted \"$want\""
    failures=$((failures + 1))
  fi
done <<'CASES'
Clean|29:*:-5|0 2 29 3 1 
Clean|12:*:-5|0 2 29 10 12 3 1 
Force Calibration|12:*:-5|0 2 29 10 12 3 1 
Clean||0 2 29 10 12 45 3 1 
||0 2 29 10 12 43 3 1 
CASES
echo "Calibration.exe without a desktop: $failures of 5 runs failed"
[ $failures -eq 0 ]

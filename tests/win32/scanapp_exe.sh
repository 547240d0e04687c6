#!/usr/bin/env bash
# scanapp.exe end to end under Wine, against the virtual scanner named in the
# prefix's registry: a scan into each writer's format gives exactly the bytes
# the Linux scanapp gives for the same scan of the same document.
#   scanapp_exe.sh <win32 build> <Linux build> <work folder>
# Exit 77 (skipped) when the Linux build is missing.
set -uo pipefail
win32=$(cd "$1" && pwd)
linux=$2
work=$3
[ -x "$linux/bin/scanapp" ] || { echo "no $linux/bin/scanapp: build the Linux tools first"; exit 77; }
export WINEPREFIX=$win32/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work" && mkdir -p "$work"
failures=0
for job in "bmp" "tif" "tif --compress packbits" "tif --mode lineart --compress g4" \
           "jpg --mode gray" "pcx --mode gray" "png"; do
  set -- $job
  ext=$1; shift
  name=$(echo "$job" | tr ' ' '_')
  wine "$win32/bin/scanapp.exe" scan -o "$work/w-$name.$ext" -q "$@" >"$work/w-$name.log" 2>&1
  wstatus=$?
  "$linux/bin/scanapp" scan -o "$work/l-$name.$ext" -q "$@" >"$work/l-$name.log" 2>&1
  lstatus=$?
  if [ $wstatus -ne 0 ] || [ $lstatus -ne 0 ]; then
    echo "FAIL: $job: exit $wstatus (Windows), $lstatus (Linux)"; cat "$work/w-$name.log"
    failures=$((failures + 1))
  elif ! cmp -s "$work/w-$name.$ext" "$work/l-$name.$ext"; then
    echo "FAIL: $job: the two builds wrote different bytes"; failures=$((failures + 1))
  fi
done
echo "scanapp.exe: $failures of 7 scans differ"
[ $failures -eq 0 ]

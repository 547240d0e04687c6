#!/usr/bin/env bash
# imagehost.exe end to end under Wine.
#   imagehost_exe.sh interrupt <win32 build> <work folder>
#     Ctrl-C mid-conversion (Wine turns SIGINT into the console's CTRL_C_EVENT):
#     once stops the work, twice ends it at once; OUT.part goes, an earlier OUT
#     stays, the exit status is 130.
#   imagehost_exe.sh compare <win32 build> <Linux build> <work folder>
#     Every sample (and images made from them) through every writer and its
#     variants, by imagehost.exe and by the Linux imagehost: exit statuses and
#     bytes must agree. The files written are read back by both, too. Paths
#     reach imagehost.exe in Unix and in Windows form, in turn.
# Exit 77 (skipped) when the Linux build is missing.
set -uo pipefail
mode=$1
win32=$(cd "$2" && pwd)
export WINEPREFIX=$win32/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
here=$(cd "$(dirname "$0")" && pwd)
exe=$win32/bin/imagehost.exe
# The prefix is made by the first run; one server serves every run of this
# script and goes 10 s after the last (other tests may share it: never killed).
"$here/wine-run.sh" "$WINEPREFIX" cmd /c exit 0 >/dev/null 2>&1
wineserver -p10
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

interrupt() {
  local work=$1
  rm -rf "$work" && mkdir -p "$work"
  local scenario signals existed in=$work/in.fak out=$work/out.bmp
  for scenario in stall:1 stall-deaf:2; do
    signals=${scenario#*:}; scenario=${scenario%:*}
    for existed in 1 0; do
      local name="$scenario, earlier OUT: $existed"
      rm -f "$in".* "$out" "$out.part"
      printf 'FAKEIMG %s 40 64 8 1\n' "$scenario" >"$in"
      [ "$existed" = 1 ] && printf earlier >"$out"
      wine "$exe" convert "$in" "$out" --rows 4 --plugins "$win32/tests/fake-plugins" \
        --writer "$win32/bin/wrbmp.DEL" >"$work/run.out" 2>"$work/run.err" &
      local pid=$! waited=0
      while [ ! -e "$in.stalled" ] && [ $waited -lt 600 ]; do sleep 0.1; waited=$((waited + 1)); done
      [ -e "$out.part" ] || fail "$name: no OUT.part while converting"
      for ((sent = 0; sent < signals; sent++)); do kill -INT $pid; sleep 0.3; done
      wait $pid
      local status=$?
      [ $status = 130 ] || fail "$name: exit status $status: $(cat "$work/run.err")"
      [ -e "$out.part" ] && fail "$name: OUT.part left behind"
      if [ "$existed" = 1 ]; then
        [ "$(cat "$out" 2>/dev/null)" = earlier ] || fail "$name: the earlier OUT changed"
        grep -q "was left as it was" "$work/run.err" || fail "$name: $(cat "$work/run.err")"
      else
        [ -e "$out" ] && fail "$name: OUT written"
        grep -q "was not written" "$work/run.err" || fail "$name: $(cat "$work/run.err")"
      fi
      if [ "$signals" = 2 ]; then
        grep -q "interrupted again, stopped at once" "$work/run.err" || fail "$name: $(cat "$work/run.err")"
      fi
    done
  done
}

# Writer variants: output extension, then options; the second list only for
# 1-bit images (the other depths ignore those options).
variants=(
  "bmp" "bmp -O FORWARD=ON" "tif" "tif -O COMPRESS=ON" "jpg" "jpg -O LOSSY_QUALITY=30" "pcx"
)
mono_variants=(
  "tif -O COMPRESS=ON -O TIFF_COMPRESS=MODCCITT" "tif -O COMPRESS=ON -O TIFF_COMPRESS=GROUP3"
  "tif -O COMPRESS=ON -O TIFF_COMPRESS=GROUP4" "tif -O TIFF_FILLORDER=2"
)

jobs=0 agreed=0 converted=0
# One conversion by both builds; $1 input, $2 output name, the rest options.
both() {
  local in=$1 name=$2
  shift 2
  local win_in=$in win_out=$work/win/$name
  if [ $((jobs % 2)) = 1 ]; then  # the Windows form of the paths, every other time
    win_in=$(winepath -w "$in" 2>/dev/null)
    win_out=$(winepath -w "$work/win" 2>/dev/null)\\$name
  fi
  jobs=$((jobs + 1))
  "$linux/bin/imagehost" convert "$in" "$work/linux/$name" --quiet "$@" >/dev/null 2>&1
  local linux_status=$?
  wine "$exe" convert "$win_in" "$win_out" --quiet "$@" >/dev/null 2>"$work/wine.err"
  local wine_status=$?
  if [ $linux_status != $wine_status ]; then
    fail "$name: exit status $linux_status on Linux, $wine_status on Windows $(cat "$work/wine.err")"
  elif [ $linux_status = 0 ] && ! cmp -s "$work/linux/$name" "$work/win/$name"; then
    fail "$name: the two builds wrote different bytes"
  else
    agreed=$((agreed + 1))
    [ $linux_status = 0 ] && converted=$((converted + 1))
  fi
}

compare() {
  linux=$(cd "$1" 2>/dev/null && pwd) || linux=
  work=$2
  if [ -z "$linux" ] || [ ! -x "$linux/bin/imagehost" ] || [ ! -d "$linux/samples" ]; then
    echo "SKIP: no Linux build with imagehost and samples at $1"
    exit 77
  fi
  rm -rf "$work" && mkdir -p "$work/linux" "$work/win" "$work/made"
  [ -e "$linux/bin/wrpng.DEL" ] && [ -e "$win32/bin/wrpng.DEL" ] && variants+=("png")
  local inputs=("$linux"/samples/*.bmp "$linux"/samples/*.img)
  # More reader formats, made by ImageMagick when it is installed.
  if command -v convert >/dev/null; then
    local made
    for made in bmp-rgb-24.gif bmp-palette-4.gif bmp-rgb-24.png bmp-rgb-24.tga bmp-rgb-24.pcx \
                bmp-rgb-24.tif; do
      convert "$linux/samples/${made%.*}.bmp" "$work/made/$made" 2>/dev/null &&
        inputs+=("$work/made/$made")
    done
  fi
  local in variant number=0 ext options
  for in in "${inputs[@]}"; do
    local list=("${variants[@]}")
    case $(basename "$in") in *mono*) list+=("${mono_variants[@]}") ;; esac
    for variant in "${list[@]}"; do
      read -r ext options <<<"$variant"
      number=$((number + 1))
      # shellcheck disable=SC2086
      both "$in" "$(basename "$in").$number.$ext" $options
    done
  done
  # What the writers made, read back (TIFF compressions, JPEG, PCX readers).
  for in in "$work"/linux/bmp-rgb-24.bmp.* "$work"/linux/gem-mono-1.img.*; do
    case $in in *.bmp) continue ;; esac
    number=$((number + 1))
    both "$in" "back.$(basename "$in").$number.bmp"
  done
  echo "$jobs conversions, $agreed agreed ($converted written by both)"
  [ $converted -gt 0 ] || fail "nothing was converted"
}

case $mode in
  interrupt) interrupt "$3" ;;
  compare) compare "$3" "$4" ;;
  *) echo "usage: $0 interrupt|compare ..." >&2; exit 2 ;;
esac
[ $failures = 0 ]

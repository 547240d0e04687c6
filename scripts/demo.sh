#!/usr/bin/env bash
# The suite in one command: installs what is missing, builds into build/, and
# converts the bundled samples through every writer plug-in with
# build/bin/imagehost, into build/demo, reads the written files back through
# the readers, scans a page from the virtual scanner
# with build/bin/scanapp and runs a cleaning pass with build/bin/Calibration
# (in windows when a display is present, else in the terminal); then, when
# Wine and build-win32/ are there, the same scan and cleaning pass with the
# Windows build under Wine.
set -euo pipefail
# The platform layer refuses libraries and registry files that other users could
# change: whatever umask the caller has, what we build and write is not group-writable.
umask 022
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
samples=$root/build/samples
out=$root/build/demo

"$root/scripts/deps.sh"

# Ninja's "[done/total]" lines, shown as one line per tenth of the build (a
# first build takes a few minutes on two cores); the whole output goes to the log.
build_progress() {
  awk -v step=10 '
    match($0, /^\[[0-9]+\/[0-9]+\]/) {
      split(substr($0, 2, RLENGTH - 2), n, "/")
      percent = int(100 * n[1] / n[2])
      if (percent >= shown + step || n[1] == n[2]) {
        shown = percent - percent % step
        printf "  built %d of %d steps (%d%%)\n", n[1], n[2], percent
        fflush()
      }
    }'
}

echo "== building (log: build/build.log)"
log=$(mktemp)
if ! "$root/scripts/build.sh" release 2>&1 | tee "$log" | build_progress; then
  tail -n 30 "$log"
  echo "build failed; the whole log is in $log" >&2
  exit 1
fi
mv "$log" "$root/build/build.log"

echo "== plug-ins in build/bin"
"$bin/imagehost" list

# The default extension of every writer: the text before ';' in its extension text.
mapfile -t extensions < <("$bin/imagehost" list | awk -F'\t' '$2 == "writer" { split($4, e, ";"); print tolower(e[1]) }')

echo "== converting the samples into build/demo"
rm -rf "$out"
mkdir -p "$out"
status=0
for input in "$samples"/*.img "$samples"/*.bmp; do
  name=$(basename "$input")
  facts=$("$bin/imagehost" info "$input" | awk '{ sub("width=", "", $2); sub("height=", "", $3); sub("bits=", "", $4); print $2 "x" $3 " " $4 "-bit, " $1 }')
  for ext in "${extensions[@]}"; do
    output=$out/${name%.*}.$ext
    if "$bin/imagehost" convert "$input" "$output" --quiet; then
      printf '  %-27s %-26s -> demo/%s (%s bytes)\n' "$name" "($facts)" "$(basename "$output")" \
        "$(stat -c %s "$output")"
    else
      status=1
    fi
  done
done
echo "== reading the written files back through the readers"
for output in "$out"/*; do
  case "$output" in *.bmp) continue ;; esac  # BMP files are read by the host itself
  if facts=$("$bin/imagehost" info "$output"); then
    printf '  %-32s %s\n' "demo/$(basename "$output")" "$(cut -d' ' -f1-4 <<<"$facts")"
  else
    status=1
  fi
done
echo "== scanning from the virtual scanner (build/bin/registry.reg names it)"
"$bin/scanapp" info | grep -E '^(product|limits\.(highest|native_x)_resolution)='
for target in scan-colour-150.tif scan-grey-100.bmp; do
  case "$target" in
    *colour*) options=(--mode color --resolution 150) ;;
    *) options=(--mode gray --resolution 100 --brightness 20) ;;
  esac
  if "$bin/scanapp" scan -o "$out/$target" "${options[@]}" --quiet; then
    printf '  scanapp scan %-36s -> demo/%s (%s)\n' "${options[*]}" "$target" \
      "$("$bin/imagehost" info "$out/$target" | cut -d' ' -f2-4)"
  else
    status=1
  fi
done
echo "== a cleaning pass: build/bin/Calibration Clean"
if "$bin/Calibration" Clean </dev/null; then
  echo "  Calibration Clean: the pass ran through FERROX.DLL and the virtual scanner"
else
  status=1
fi

# The Windows build under Wine, in its tests' prefix (build-win32/wineprefix),
# where the build's registry file is imported first; Calibration.exe on the
# display, or on a virtual one when there is none.
win32=$root/build-win32
echo "== the Windows build under Wine: scanapp.exe scan and Calibration.exe Clean"
if ! command -v wine >/dev/null || [ ! -f "$win32/bin/Calibration.exe" ] ||
   [ ! -f "$win32/tests/modules/short_path.exe" ] ||
   { [ -z "${DISPLAY:-}" ] && ! command -v xvfb-run >/dev/null; }; then
  echo "  skipped: needs wine, a display or xvfb-run, and build-win32/ (scripts/build.sh win32)"
  exit $status
fi
wine_run=$root/tests/win32/wine-run.sh
[ -n "${DISPLAY:-}" ] || wine_run=$root/tests/win32/wine-display-run.sh
if ! cmake -DWINE_RUN="$root/tests/win32/wine-run.sh" -DPREFIX="$win32/wineprefix" \
     -DSHORT_PATH="$win32/tests/modules/short_path.exe" -DBIN_DIR="$win32/bin" \
     -DOUTPUT="$win32/registry-short.reg" -P "$root/tests/win32/import_registry.cmake" \
     >"$out/wine-registry.log" 2>&1; then
  echo "  the registry import failed: see build/demo/wine-registry.log"
  exit 1
fi
if "$root/tests/win32/wine-run.sh" "$win32/wineprefix" "$win32/bin/scanapp.exe" scan \
     -o "$out/scan-colour-150-win32.tif" --mode color --resolution 150 --quiet 2>/dev/null; then
  if cmp -s "$out/scan-colour-150-win32.tif" "$out/scan-colour-150.tif"; then
    same="the same bytes as scanapp's"
  else
    same="NOT the same bytes as scanapp's"
    status=1
  fi
  echo "  wine scanapp.exe scan --mode color --resolution 150 -> demo/scan-colour-150-win32.tif ($same)"
else
  status=1
fi
if "$wine_run" "$win32/wineprefix" "$win32/bin/Calibration.exe" Clean </dev/null 2>/dev/null; then
  echo "  wine Calibration.exe Clean: the pass ran through FERROX.DLL and virtscan.dll"
else
  status=1
fi
exit $status

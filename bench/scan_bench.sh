#!/usr/bin/env bash
# Scan benchmark: an A4 colour scan through scanapp to BMP, at 600 dpi (the
# virtual scanner's native resolution) and at 1200 dpi (enhanced by the scanner
# library: the device image is spooled at 600 dpi, then interpolated). Prints
# the wall time and the peak resident memory of each (GNU time).
#
#   bench/scan_bench.sh [BIN_DIR]     BIN_DIR defaults to build/bin
#
# The images are written to a scratch folder (removed at the end); the
# enhanced scan also needs room for its spool file in the temporary folder
# (about 110 MB) besides its 430 MB image.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/bin}
scanapp=$bin/scanapp
[[ -x $scanapp ]] || { echo "scan_bench: no $scanapp (build first)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "scan_bench: needs GNU time (/usr/bin/time)" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A4: 210 x 297 mm, the colour test chart of the virtual scanner.
run() {
  local dpi=$1 label=$2 out=$scratch/a4-$1.bmp
  local report
  if ! report=$( { /usr/bin/time -f '%e %M' "$scanapp" scan -o "$out" --mode color \
                   --resolution "$dpi" -x 210 -y 297 --quiet; } 2>&1 >/dev/null); then
    echo "scan_bench: the $label scan failed: $report" >&2
    exit 1
  fi
  report=$(tail -n 1 <<<"$report")
  awk -v label="$label" -v seconds="${report%% *}" -v kib="${report##* }" \
      -v bytes="$(stat -c %s "$out")" 'BEGIN {
    printf "%-22s %7.2f s  peak %6.1f MiB  output %6.1f MB  %6.1f MB/s\n", label, seconds,
           kib / 1024, bytes / 1e6, bytes / 1e6 / (seconds + 0.001) }'
  rm -f "$out"
}

echo "scanapp A4 colour scan to BMP ($bin)"
run 600 "600 dpi (native)"
run 1200 "1200 dpi (enhanced)"

#!/usr/bin/env bash
# Reader benchmark: one large photo-like picture (default 4000 x 3000, RGB)
# in every format a reader of ours reads, each file decoded to a BMP through
# imagehost and, beside it, by an independent decoder (netpbm's, and
# libjpeg-turbo's djpeg). Prints the best wall time of three runs and the
# peak resident memory (GNU time) of each, as a Markdown table.
#
#   bench/readers_bench.sh [BIN_DIR] [WIDTHxHEIGHT]    BIN_DIR defaults to build/bin
#
# The pictures are made with ImageMagick and netpbm in a scratch folder
# (removed at the end).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/bin}
size=${2:-4000x3000}
imagehost=$bin/imagehost
[[ -x $imagehost ]] || { echo "readers_bench: no $imagehost (build first)" >&2; exit 1; }
for tool in /usr/bin/time convert tiffcp ppmtopcx pcxtoppm pngtopam giftopnm tgatoppm djpeg tifftopnm; do
  command -v "$tool" >/dev/null || { echo "readers_bench: needs $tool" >&2; exit 1; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "making a $size picture in every format..."
convert -size "$size" plasma:fractal -blur 0x2 -depth 8 "$scratch/p.ppm"
convert "$scratch/p.ppm" -compress none "$scratch/p.tif"
tiffcp -c packbits "$scratch/p.tif" "$scratch/p-packbits.tif"
convert "$scratch/p.ppm" "$scratch/p.png"
convert "$scratch/p.ppm" -interlace PNG "$scratch/p-interlaced.png"
convert "$scratch/p.ppm" -quality 90 -sampling-factor 2x2 "$scratch/p.jpg"
convert "$scratch/p.ppm" -colors 256 "$scratch/p.gif"
convert "$scratch/p.ppm" -compress RLE "$scratch/p.tga"
ppmtopcx "$scratch/p.ppm" >"$scratch/p.pcx" 2>/dev/null

# The best of three runs: "seconds peak-KiB".
best_of_three() {
  local best="" report
  for _ in 1 2 3; do
    report=$( { /usr/bin/time -f '%e %M' "$@" >/dev/null; } 2>&1 | tail -n 1)
    if [[ -z $best ]] || awk -v a="${report%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
      best=$report
    fi
  done
  echo "$best"
}

row() {  # label, file, reference command...
  local label=$1 file=$2
  shift 2
  local ours theirs
  if ! "$imagehost" info "$file" >/dev/null 2>&1; then
    printf '| %-22s | no reader of ours takes it |\n' "$label"
    return
  fi
  ours=$(best_of_three "$imagehost" convert "$file" "$scratch/out.bmp" --quiet)
  theirs=$(best_of_three "$@")
  awk -v label="$label" -v mb="$(stat -c %s "$file")" -v o="$ours" -v t="$theirs" \
      -v tool="$(basename "$1")" 'BEGIN {
    split(o, a, " "); split(t, b, " ");
    printf "| %-22s | %7.1f MB | %6.2f s | %6.1f MiB | %-10s %6.2f s | %6.1f MiB |\n",
           label, mb / 1e6, a[1], a[2] / 1024, tool, b[1], b[2] / 1024 }'
}

echo
echo "| file ($size) | size | imagehost -> BMP | peak | reference | time | peak |"
echo "|---|---|---|---|---|---|---|"
row "TIFF uncompressed" "$scratch/p.tif" tifftopnm "$scratch/p.tif"
row "TIFF PackBits" "$scratch/p-packbits.tif" tifftopnm "$scratch/p-packbits.tif"
row "PNG" "$scratch/p.png" pngtopam "$scratch/p.png"
row "PNG interlaced" "$scratch/p-interlaced.png" pngtopam "$scratch/p-interlaced.png"
row "JPEG baseline q90" "$scratch/p.jpg" djpeg -bmp -outfile "$scratch/ref.bmp" "$scratch/p.jpg"
row "GIF 256 colours" "$scratch/p.gif" giftopnm "$scratch/p.gif"
row "Targa RLE" "$scratch/p.tga" tgatoppm "$scratch/p.tga"
row "PCX 24-bit" "$scratch/p.pcx" pcxtoppm "$scratch/p.pcx"

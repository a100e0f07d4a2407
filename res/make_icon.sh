#!/usr/bin/env bash
# Draws the application icon (res/kdr4tose.ico): an old box, an arrow and a new box, at 16, 32
# and 48 pixels. Needs ImageMagick. Run from anywhere; writes beside this script.
set -eu
here=$(cd -- "$(dirname -- "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

# Drawn once at 256 pixels and scaled down.
convert -size 256x256 xc:none \
  -fill '#1f4e8c' -stroke '#0d2a52' -strokewidth 8 -draw 'roundrectangle 8,8 248,248 36,36' \
  -stroke none -fill '#9fb3c8' -draw 'roundrectangle 30,70 104,186 12,12' \
  -fill '#ffd34d' -draw 'roundrectangle 152,70 226,186 12,12' \
  -fill '#ffffff' -draw 'polygon 104,112 140,112 140,88 170,128 140,168 140,144 104,144' \
  "$work/big.png"
for size in 16 32 48; do
  convert "$work/big.png" -filter Lanczos -resize ${size}x${size} "$work/icon-$size.png"
done
convert "$work/icon-16.png" "$work/icon-32.png" "$work/icon-48.png" "$here/kdr4tose.ico"

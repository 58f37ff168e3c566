#!/usr/bin/env bash
# Renders a program's scalable icon to the PNG sizes the desktop's icon theme looks for.
# Usage: scripts/render_icons.sh keytool/aesmoltra.svg keytool/icons
# (needs rsvg-convert from Debian's librsvg2-bin; the PNGs are committed, so builds do not.)
set -euo pipefail
svg=$1
out=$2
name=$(basename "$svg" .svg)
mkdir -p "$out"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$svg" -o "$out/$name-$size.png"
done

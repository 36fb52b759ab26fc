#!/usr/bin/env bash
# Renders the icon's PNG sizes from its SVG (needs rsvg-convert, from
# librsvg2-bin). The PNGs are committed, so a build needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")/../data/icons/hicolor"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}"
  rsvg-convert -w "$size" -h "$size" quillmere.svg -o "${size}x${size}/quillmere.png"
done

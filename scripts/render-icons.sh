#!/usr/bin/env bash
# Renders the icon's PNG sizes (needs rsvg-convert, from librsvg2-bin). The
# small sizes have drawings of their own, NxN/quillmere.svg, aligned to their
# pixel grid; the large ones are the scalable drawing, scaled. The PNGs are
# committed, so a build needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")/../data/icons/hicolor"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}"
  svg=quillmere.svg
  [ -f "${size}x${size}/quillmere.svg" ] && svg=${size}x${size}/quillmere.svg
  rsvg-convert -w "$size" -h "$size" "$svg" -o "${size}x${size}/quillmere.png"
done

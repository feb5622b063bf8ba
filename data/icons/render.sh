#!/usr/bin/env bash
# Renders the application icon's PNG sizes for the hicolor theme from the SVG (librsvg2-bin).
# The PNGs are committed so that building needs no SVG renderer; run this after editing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" org.movarogif.MovaroGif.svg -o "hicolor/${size}x${size}/apps/org.movarogif.MovaroGif.png"
done

#!/usr/bin/env bash
# Renders resources/icons/certwright.svg into the committed PNG icons of the hicolor sizes.
# Run it after changing the SVG; it needs rsvg-convert (Debian librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
for size in 16 32 48 64 128 256; do
    mkdir -p "${size}x${size}"
    rsvg-convert --width "$size" --height "$size" certwright.svg -o "${size}x${size}/certwright.png"
done

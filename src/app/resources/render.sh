#!/bin/sh
# Re-renders the committed PNGs from their SVG sources. Needed only after editing an SVG; the
# build uses the PNGs as they are. Needs rsvg-convert (Debian: librsvg2-bin) and, for the
# lettering of the title, DejaVu Sans Bold (fonts-dejavu-core).
set -eu
cd "$(dirname "$0")"
rsvg-convert -w 300 -h 100 k9_title.svg -o k9_title.png
for size in 256 128 64 48; do
    rsvg-convert -w "$size" -h "$size" k9_icon.svg -o "k9_icon_$size.png"
done
# Below 48 pixels the icon has its own, simpler drawing.
for size in 32 24 16; do
    rsvg-convert -w "$size" -h "$size" k9_icon_small.svg -o "k9_icon_$size.png"
done

#!/usr/bin/env bash
# Renders packaging/kalvora.svg into the PNG sizes the package installs under
# /usr/share/icons/hicolor/SIZExSIZE/apps/. The PNGs are kept in the repository,
# so a build needs no renderer; run this after changing the SVG.
# Needs rsvg-convert (Debian package librsvg2-bin) or, failing that, ImageMagick.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
svg="$here/kalvora.svg"
for size in 48 64 128 256; do
    out="$here/icons/${size}x${size}/kalvora.png"
    mkdir -p "$(dirname "$out")"
    if command -v rsvg-convert >/dev/null; then
        rsvg-convert -w "$size" -h "$size" "$svg" -o "$out"
    elif command -v convert >/dev/null; then
        convert -background none -density 384 "$svg" -resize "${size}x${size}" -strip "PNG32:$out"
    else
        echo "render-icons: neither rsvg-convert (librsvg2-bin) nor convert (imagemagick) is installed" >&2
        exit 1
    fi
    echo "$out"
done

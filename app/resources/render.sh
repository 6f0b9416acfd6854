#!/bin/sh
# Regenerates every PNG in this folder from its hand-written SVG source, at
# each size a screen scaled by 1, 1.5 or 2 draws it at. The PNGs are
# committed, so building the program does not need this script.
# Needs rsvg-convert (Debian package librsvg2-bin) and optipng (package optipng).
set -eu
cd "$(dirname "$0")"

# Application icon: the full drawing from 32 px up, the simplified one below.
for s in 32 48 64 128 256; do
    rsvg-convert -w "$s" -h "$s" velorizer.svg -o "velorizer-$s.png"
done
for s in 16 24; do
    rsvg-convert -w "$s" -h "$s" velorizer-small.svg -o "velorizer-$s.png"
done

# File-list images: drawn on the 16 px grid, shown 16 px wide at every scale.
for s in 16 24 32; do
    rsvg-convert -w "$s" -h "$s" folder.svg -o "folder-$s.png"
    rsvg-convert -w "$s" -h "$s" wave.svg -o "wave-$s.png"
done

# Splash: 400 x 200 at scale 1, RGB without alpha. optipng drops the alpha
# channel that the opaque background leaves unused, and every time stamp, so
# a re-render of an unchanged SVG gives the same bytes.
for w in 400 600 800; do
    h=$((w / 2))
    rsvg-convert -b '#FFFFFF' -w "$w" -h "$h" splash.svg -o "splash-${w}x$h.png"
    optipng -quiet -strip all "splash-${w}x$h.png"
done

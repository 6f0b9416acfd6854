#!/bin/sh
# Regenerates every PNG in this folder from its hand-written SVG source.
# The PNGs are committed, so building the program does not need this script.
# Needs rsvg-convert (Debian package librsvg2-bin) and, to flatten the splash
# picture onto an opaque 24-bit image, ImageMagick's convert (package imagemagick).
set -eu
cd "$(dirname "$0")"

# Application icon: the full drawing from 32 px up, the simplified one below.
for s in 32 48 64 128 256; do
    rsvg-convert -w "$s" -h "$s" velorizer.svg -o "velorizer-$s.png"
done
for s in 16 24; do
    rsvg-convert -w "$s" -h "$s" velorizer-small.svg -o "velorizer-$s.png"
done

# File-list images, drawn at their own size.
rsvg-convert folder.svg -o folder-16.png
rsvg-convert wave.svg -o wave-16.png

# Splash: 400 x 200, RGB without alpha. No time stamps, so a re-render of an
# unchanged SVG gives the same bytes.
rsvg-convert -b '#FFFFFF' splash.svg |
    convert png:- -background '#FFFFFF' -flatten -alpha off -strip \
        -define png:exclude-chunks=date,time PNG24:splash.png

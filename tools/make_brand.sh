#!/usr/bin/env bash
# Draws Kavira's brand images into resources/brand/:
#   mark.png  512 x 512   the mark on a full-bleed blue tile (callers round its corners)
#   icon.png  1024 x 1024 the application icon: the tile with rounded corners on transparent
#   logo.png  1200 x 300  the rounded tile and the word "Kavira" in white, on transparent,
#                         for the dark sign-in and top-bar backgrounds
# The mark is a camera lens seen head-on: a ring, a pupil and a small glint.
# Needs ImageMagick 6 (convert) and the Poppins face in resources/fonts/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/resources/brand"
font="$root/resources/fonts/poppins/Poppins-SemiBold.ttf"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

accent='#3b82f6'
deep='#1d3f9e'

# The glyph on a 512 tile: lens ring, pupil, glint (glint in the tile's deep blue).
glyph=(
  -fill none -stroke white -strokewidth 38 -draw "circle 256,256 256,100"
  -stroke none -fill white -draw "circle 256,256 256,192"
  -fill "$deep" -draw "circle 281,231 281,215"
  -fill white -draw "circle 404,108 404,88"
)

# mark: diagonal gradient tile, a soft light in the upper left, then the glyph.
convert -size 512x512 -define gradient:angle=135 "gradient:#5b9bff-$deep" \
  \( -size 512x512 radial-gradient:"rgba(255,255,255,0.22)-rgba(255,255,255,0)" \
     -crop 512x512+0+0 -roll -128-128 \) -compose over -composite \
  "${glyph[@]}" \
  -strip PNG32:"$out/mark.png"

# icon: the tile inset on a transparent square with rounded corners (about the
# proportions desktop icon grids use), so it sits well beside other icons.
convert -size 824x824 xc:none -fill white -draw "roundrectangle 0,0 823,823 186,186" "$work/mask.png"
convert "$out/mark.png" -resize 824x824 "$work/mask.png" -alpha off -compose copyopacity -composite \
  "$work/tile824.png"
convert -size 1024x1024 xc:none \
  \( "$work/tile824.png" -background 'rgba(0,0,0,0.45)' -shadow 60x14+0+10 \) -gravity center -compose over -composite \
  "$work/tile824.png" -gravity center -compose over -composite \
  -strip PNG32:"$out/icon.png"

# logo: 240 px rounded tile, then the word mark.
convert -size 240x240 xc:none -fill white -draw "roundrectangle 0,0 239,239 56,56" "$work/mask240.png"
convert "$out/mark.png" -resize 240x240 "$work/mask240.png" -alpha off -compose copyopacity -composite \
  "$work/tile240.png"
convert -size 1200x300 xc:none \
  "$work/tile240.png" -geometry +30+30 -compose over -composite \
  -font "$font" -pointsize 184 -fill white -gravity west -annotate +312+14 'Kavira' \
  -trim +repage -background none -gravity center -extent 1060x300 \
  -strip PNG32:"$out/logo.png"

ls -l "$out"

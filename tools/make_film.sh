#!/usr/bin/env bash
# Renders the sign-in window's brand film, resources/brand/login.mp4: ten seconds
# that loop without a seam. Soft lights in the accent blues drift over the dark
# backdrop (#0b0f14) and small out-of-focus specks rise through them. Every
# motion is periodic in the film's length, so the last frame meets the first.
# The picture is worked out at a quarter of the size and scaled up, which keeps
# the render quick and the lights soft. Needs ffmpeg with libx264.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/resources/brand/login.mp4"
mkdir -p "$(dirname "$out")"

T=10          # seconds, one loop
fps=25
w=200; h=225  # render size; the film is 4x that: 800 x 900 (the column crops it)

# Two-pi times the loop phase, for periodic motion.
ph="(2*PI*T/$T)"

# Soft lights: colour (r g b, 0..255 added at the centre), size (fraction of the
# width), path (centre and swing as fractions, frequency multiples of the loop).
lights=(
  # r   g   b    size  cx   ax   fx cy   ay   fy phase
  " 16  48 130   0.22  0.30 0.18 1  0.30 0.14 1  0.0"
  "  8  22  70   0.30  0.72 0.16 1  0.62 0.18 2  1.7"
  " 34  28  96   0.17  0.55 0.22 2  0.85 0.10 1  3.1"
  " 22  56 124   0.11  0.20 0.10 1  0.78 0.12 1  4.4"
)

# Specks: x (fraction), rise speed (screen heights per loop, whole numbers keep
# the loop seamless), start offset, size in render pixels, brightness.
specks=(
  "0.12 1 0.05 1.6 0.55" "0.27 1 0.61 1.2 0.45" "0.41 2 0.33 1.0 0.40"
  "0.58 1 0.82 1.8 0.50" "0.69 2 0.14 1.1 0.35" "0.83 1 0.47 1.4 0.50"
  "0.93 2 0.71 0.9 0.35" "0.05 2 0.90 1.0 0.30" "0.35 1 0.22 2.2 0.35"
  "0.76 1 0.38 1.3 0.45" "0.50 2 0.56 0.9 0.30" "0.20 1 0.95 1.5 0.40"
)

chan() {  # $1 = column of the light colour (1 r, 2 g, 3 b); $2 = backdrop value; $3 = speck tint
  local col=$1 base=$2 tint=$3
  local e="$base"
  for l in "${lights[@]}"; do
    read -r r g b s cx ax fx cy ay fy p <<<"$l"
    local c; c=$(echo "$r $g $b" | cut -d' ' -f"$col")
    local x="W*($cx+$ax*sin($fx*$ph+$p))" y="H*($cy+$ay*cos($fy*$ph+$p))"
    local sig="($s*W)"
    e="$e+$c*exp(-((X-$x)*(X-$x)+(Y-$y)*(Y-$y))/(2*$sig*$sig))"
  done
  for k in "${specks[@]}"; do
    read -r sx v o sz br <<<"$k"
    local f="mod($v*T/$T+$o,1)"                      # 0..1 through its rise
    local x="W*($sx+0.015*sin(2*$ph+$o*6))" y="H*(1.1-1.2*$f)"
    e="$e+$tint*$br*sin(PI*$f)*exp(-((X-$x)*(X-$x)+(Y-$y)*(Y-$y))/(2*$sz*$sz))"
  done
  echo "min(255,$e)"
}

R=$(chan 1 11 150); G=$(chan 2 15 190); B=$(chan 3 20 255)

ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "color=c=black:s=${w}x${h}:r=$fps:d=$T,format=gbrp" \
  -vf "geq=r='$R':g='$G':b='$B',scale=$((w*4)):$((h*4)):flags=bicubic,format=yuv420p" \
  -c:v libx264 -preset veryslow -crf 26 -tune grain -g $((fps*T)) -bf 3 \
  -pix_fmt yuv420p -movflags +faststart -an "$out"

ls -l "$out"

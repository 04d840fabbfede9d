#!/usr/bin/env bash
# Fills resources/fonts/ with the six faces the application compiles in.
#
#   Inter   (OFL 1.1) from Debian's fonts-inter, which ships PostScript-flavoured
#           OpenType only; fontforge converts each face to TrueType outlines.
#   Poppins (OFL 1.1) from the npm package @expo-google-fonts/poppins, which
#           ships the upstream TrueType files unchanged.
#
# Needs: fonts-inter, fontforge (Debian), npm. Run from anywhere; output is
# committed, so this only has to run again to refresh the fonts.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/resources/fonts"
inter_src=/usr/share/fonts/opentype/inter
poppins_pkg=@expo-google-fonts/poppins@0.4.1

mkdir -p "$out/inter" "$out/poppins"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for face in Regular Medium SemiBold; do
  fontforge -quiet -lang=ff \
    -c 'Open($1); SetFontOrder(2); Generate($2, "", 0x84)' \
    "$inter_src/Inter-$face.otf" "$out/inter/Inter-$face.ttf" 2>/dev/null
done

# Inter's licence: the project's copyright line above the OFL text that Poppins
# also carries (both are plain OFL 1.1 with no reserved font name).
(cd "$work" && npm pack --silent "$poppins_pkg" >/dev/null && tar xzf ./*.tgz)
pkg="$work/package"
cp "$pkg/400Regular/Poppins_400Regular.ttf"   "$out/poppins/Poppins-Regular.ttf"
cp "$pkg/500Medium/Poppins_500Medium.ttf"     "$out/poppins/Poppins-Medium.ttf"
cp "$pkg/600SemiBold/Poppins_600SemiBold.ttf" "$out/poppins/Poppins-SemiBold.ttf"
cp "$pkg/LICENSE_FONT" "$out/poppins/OFL.txt"

{
  echo "Copyright (c) 2016 The Inter Project Authors (https://github.com/rsms/inter)"
  sed -n '2,$p' "$pkg/LICENSE_FONT"
} > "$out/inter/OFL.txt"

ls -l "$out"/*/

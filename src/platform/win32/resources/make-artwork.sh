#!/usr/bin/env bash
# Draws the program's own artwork with ImageMagick: a green square frame with
# a white X. Writes the 150 x 144 logo of the picture box and the 32 x 32,
# 256-colour window and file icon. The outputs are committed, so a build does
# not need ImageMagick; run this again only to change the artwork.
set -euo pipefail
out=${1:-$(dirname "$0")}
convert=${CONVERT:-/usr/bin/convert}
green='#2F8F4E'
rim='#1D5E33'

"$convert" -size 150x144 xc:white \
  -fill "$green" -stroke "$rim" -strokewidth 5 -draw "roundrectangle 17,14 133,130 14,14" \
  -stroke white -strokewidth 18 \
  -draw "stroke-linecap round line 50,47 100,97" -draw "stroke-linecap round line 100,47 50,97" \
  -type TrueColor BMP3:"$out/logo.bmp"

"$convert" -size 32x32 xc:none \
  -fill "$green" -stroke "$rim" -strokewidth 2 -draw "roundrectangle 1,1 30,30 4,4" \
  -stroke white -strokewidth 4 \
  -draw "stroke-linecap round line 10,10 21,21" -draw "stroke-linecap round line 21,10 10,21" \
  -colors 256 "$out/vi2zezir.ico"

#!/usr/bin/env bash
# Draws the window's pictures with ImageMagick at a scale: the button glyphs (32 x 32 pixels
# times the scale, hard-edged on fuchsia, the transparent colour) and the start page's logo
# (400 x 134 times the scale). The shipped 1x pictures are kept as they are; the 2x ones
# (name@2x.png) come from this script:
#
#   app/resources/make_pictures.sh 2
set -euo pipefail
scale="${1:-2}"
cd "$(dirname "$0")"
suffix="@${scale}x"
size=$((32 * scale))

# glyph NAME DRAW...: the primitives are given in 32 x 32 coordinates.
glyph() {
  local name="$1"
  shift
  convert -size "${size}x${size}" xc:'#FF00FF' +antialias \
    -draw "scale $scale,$scale $*" -type TrueColor "PNG24:$name$suffix.png"
}

glyph globe \
  "fill #2F6FD0 stroke #12386E stroke-width 1.5 circle 14,14 14,1.5" \
  "fill none stroke #A8C8F0 stroke-width 1 ellipse 14,14 5,12.5 0,360" \
  "line 14,2 14,26 line 2.5,9 25.5,9 line 1.5,14 26.5,14 line 2.5,19 25.5,19" \
  "fill #1E9E3A stroke #0B5E1E stroke-width 1" \
  "polygon 18,20 25,20 25,16.5 30.5,23 25,29.5 25,26 18,26"
glyph forward \
  "fill #1E9E3A stroke #0B5E1E stroke-width 1.5 circle 15.5,15.5 15.5,1.5" \
  "fill white stroke none polygon 11,8 24,15.5 11,23"
glyph backward \
  "fill #1E9E3A stroke #0B5E1E stroke-width 1.5 circle 15.5,15.5 15.5,1.5" \
  "fill white stroke none polygon 20,8 7,15.5 20,23"
glyph circling \
  "fill none stroke #1E9E3A stroke-width 4 path 'M 5,13 Q 14,4 23,10'" \
  "path 'M 27,19 Q 18,28 9,22'" \
  "fill #1E9E3A stroke none polygon 21,4 30,11 20,15 polygon 11,16 2,21 12,28"
glyph cross \
  "stroke #C00000 stroke-width 6 line 8,7 24,25 line 24,7 8,25" \
  "stroke #FF4040 stroke-width 2 line 8,7 24,25 line 24,7 8,25"

s="$scale"
convert -size "$((400 * s))x$((134 * s))" gradient:'#FFFFFF-#DCE7F4' \
  -font DejaVu-Sans-Bold -pointsize $((42 * s)) -fill '#12386E' \
  -gravity north -annotate "+0+$((8 * s))" 'QUORVANT II' \
  -fill '#2F6FD0' -draw "rectangle $((40 * s)),$((74 * s)) $((360 * s - 1)),$((77 * s - 1))" \
  -font DejaVu-Sans -pointsize $((16 * s)) -fill '#1F5A9E' \
  -annotate "+0+$((86 * s))" 'PELTA  /  ORN  /  VESTRAND' \
  -type TrueColor "PNG24:logo$suffix.png"

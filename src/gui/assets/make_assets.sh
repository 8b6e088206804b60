#!/usr/bin/env bash
# Draws the program's own embedded images with ImageMagick: the window icon, the splash,
# the logo, the five button icons and three toast icons; and the program's icon for the
# desktop in the hicolor sizes (../desktop/icons/<N>x<N>/apps/orbelstudio.png, installed with
# the program). Everything is geometry (circles,
# lines, paths); no font and no outside picture is used. The PNGs are committed and the
# build embeds them, so the build itself does not need ImageMagick: run this only to change
# a picture.
#
#   src/gui/assets/make_assets.sh            writes the PNGs next to this script
set -euo pipefail
cd "$(dirname "$0")"

# The real ImageMagick, not a wrapper that might flatten transparency.
im=${IMAGEMAGICK_CONVERT:-/usr/bin/convert}
common=(-depth 8 -define png:exclude-chunks=date,time -strip)

accent='#009ddf'        # the GUI's accent colour (0, 0.6157, 0.8745)
ink='#e6e6e6'           # light strokes on dark ground
ground='#1a1c20'

# The word ORBEL as strokes in a 300 x 100 box (letters 60 wide, 20 apart).
orbit_word() {
    cat <<'PATHS'
ellipse 30,50 24,44 0,360
path 'M 86,100 L 86,6 L 116,6 A 22,22 0 0 1 116,50 L 86,50 M 110,50 L 140,100'
path 'M 166,6 L 166,94 L 198,94 A 22,22 0 0 0 198,50 L 166,50 M 166,50 L 194,50 A 20,20 0 0 0 194,6 L 166,6'
path 'M 296,6 L 246,6 L 246,94 L 296,94 M 246,50 L 284,50'
path 'M 326,0 L 326,94 L 376,94'
PATHS
}

# The orbit mark: a tilted ring around a core, with a satellite on the ring, in a 100 x 100 box.
orbit_mark() {
    cat <<'PATHS'
push graphic-context
  fill none stroke '#009ddf' stroke-width 7
  translate 50,50 rotate -28 ellipse 0,0 44,20 0,360
pop graphic-context
push graphic-context
  fill '#e6e6e6' stroke none circle 50,50 50,66
pop graphic-context
push graphic-context
  fill '#ffffff' stroke '#009ddf' stroke-width 3
  translate 50,50 rotate -28 circle 44,0 44,8
pop graphic-context
PATHS
}

# Window icon (also the toast icon of level 0): the orbit mark on a dark rounded square.
"$im" -size 128x128 xc:none \
    -fill "$ground" -stroke '#3a3f48' -strokewidth 3 -draw 'roundrectangle 3,3 124,124 24,24' \
    -draw "translate 14,14 scale 1,1 $(orbit_mark)" \
    "${common[@]}" PNG32:icon.png

# The desktop's icon: the window icon drawn again at each hicolor size (the same geometry
# scaled, so every size is sharp); 128 x 128 is the window icon itself.
for size in 16 22 24 32 48 64 128 256 512; do
    folder=../desktop/icons/${size}x${size}/apps
    mkdir -p "$folder"
    if [ "$size" -eq 128 ]; then
        cp icon.png "$folder/orbelstudio.png"
        continue
    fi
    scale=$(awk -v s="$size" 'BEGIN { printf "%.6f", s / 128 }')
    "$im" -size "${size}x${size}" xc:none \
        -fill "$ground" -stroke '#3a3f48' -strokewidth 3 -draw "scale $scale,$scale roundrectangle 3,3 124,124 24,24" \
        -draw "scale $scale,$scale translate 14,14 $(orbit_mark)" \
        "${common[@]}" "PNG32:$folder/orbelstudio.png"
done

# Logo (faint placeholder of the views): orbit mark and the word, on transparent ground.
"$im" -size 600x180 xc:none \
    -draw "translate 10,20 scale 1.4,1.4 $(orbit_mark)" \
    -fill none -stroke "$ink" -strokewidth 12 -draw "stroke-linecap round stroke-linejoin round translate 190,40 $(orbit_word)" \
    "${common[@]}" PNG32:logo.png

# Splash, 800 x 391: a dark field of lidar rays and returns above a light band that carries
# the program's black "Powered by" line. The program draws the version text itself.
splash_rays=""
for _ in $(seq -36 4 36); do
    splash_rays+="line 0,0 900,0 rotate 4 "
done
"$im" -size 800x391 xc:none \
    -fill "$ground" -stroke none -draw 'roundrectangle 0,0 799,390 18,18' \
    -stroke '#0c3b52' -strokewidth 1 -fill none \
    -draw "translate 90,150 rotate -36 $splash_rays" \
    -stroke none -fill '#d9dde3' -draw 'path "M 0,292 L 800,292 L 800,372 A 18,18 0 0 1 782,390 L 18,390 A 18,18 0 0 1 0,372 Z"' \
    -stroke none -fill '#2b8fc0' \
    -draw "$(for i in $(seq 0 60); do x=$((330 + (i * 37) % 430)); y=$((40 + (i * 53) % 230)); echo "circle $x,$y $((x + 2)),$y"; done)" \
    -fill '#009ddf' \
    -draw "$(for i in $(seq 0 24); do x=$((520 + (i * 17) % 120)); y=$((120 + (i * 29) % 90)); echo "circle $x,$y $((x + 3)),$y"; done)" \
    -draw "translate 40,100 $(orbit_mark)" \
    -fill none -stroke "$ink" -strokewidth 12 -draw "stroke-linecap round stroke-linejoin round translate 200,110 scale 0.9,0.9 $(orbit_word)" \
    -stroke "$accent" -strokewidth 4 -draw 'line 200,215 540,215' \
    "${common[@]}" PNG32:splash.png

# Button icons: white glyphs on transparent ground, 64 x 64.
glyph() {  # name, draw commands
    "$im" -size 64x64 xc:none -fill none -stroke white -strokewidth 5 \
        -draw "stroke-linecap round stroke-linejoin round $2" "${common[@]}" "PNG32:$1"
}
# 0: camera (the views' export buttons)
glyph button0_camera.png "roundrectangle 6,18 58,54 6,6 path 'M 22,18 L 26,10 L 38,10 L 42,18' circle 32,36 32,46"
# 1: eye (show / hide)
glyph button1_eye.png "path 'M 4,32 Q 32,6 60,32 Q 32,58 4,32 Z' circle 32,32 32,40"
# 2: rotate (a circular arrow)
glyph button2_rotate.png "arc 10,10 54,54 30,330 fill white polygon 54.5,27 43,23.3 56.9,15.3"
# 3: move (four arrows)
glyph button3_move.png "line 32,6 32,58 line 6,32 58,32 path 'M 24,14 L 32,6 L 40,14 M 24,50 L 32,58 L 40,50 M 14,24 L 6,32 L 14,40 M 50,24 L 58,32 L 50,40'"
# 4: grid
glyph button4_grid.png "rectangle 8,8 56,56 line 24,8 24,56 line 40,8 40,56 line 8,24 56,24 line 8,40 56,40"

# Toast icons, 64 x 64: 1 success, 2 warning, 3 failure (level 0 is the window icon).
"$im" -size 64x64 xc:none -fill '#2e9e4f' -stroke none -draw 'circle 32,32 32,4' \
    -fill none -stroke white -strokewidth 6 \
    -draw "path 'M 18,33 L 28,43 L 46,22'" "${common[@]}" PNG32:toast1_success.png
"$im" -size 64x64 xc:none -fill '#e0a020' -stroke '#e0a020' -strokewidth 6 \
    -draw "polygon 32,6 60,56 4,56" \
    -stroke '#1a1c20' -strokewidth 6 -draw 'line 32,24 32,38' \
    -fill '#1a1c20' -stroke none -draw 'circle 32,47 32,50.5' "${common[@]}" PNG32:toast2_warning.png
"$im" -size 64x64 xc:none -fill '#c83232' -stroke none -draw 'circle 32,32 32,4' \
    -fill none -stroke white -strokewidth 6 \
    -draw 'line 21,21 43,43 line 43,21 21,43' "${common[@]}" PNG32:toast3_failure.png

echo "make_assets: wrote $(ls ./*.png | wc -l) images"

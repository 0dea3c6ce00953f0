#!/usr/bin/env bash
# Draws every image of the launcher into resources/. The pictures are ours, made from nothing but
# ImageMagick primitives and the URW/DejaVu fonts, so they can be redrawn on any Debian machine:
#   bash tools/draw_images.sh
# Needs: imagemagick, fonts-urw-base35, fonts-dejavu-core (awk comes with the base system).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="${1:-$here/../resources}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

# /usr/local/bin may hold other tools called "convert"; ImageMagick 6 always installs this name.
if command -v convert-im6.q16 >/dev/null 2>&1; then
    IM=convert-im6.q16
elif [ -x /usr/bin/convert ]; then
    IM=/usr/bin/convert
else
    echo "ImageMagick 6 is missing: apt-get install imagemagick" >&2
    exit 1
fi

fontdir=/usr/share/fonts/opentype/urw-base35
TITLE_FONT="$fontdir/P052-Bold.otf"  # Palatino-like capitals read as carved stone
BUTTON_FONT="$fontdir/C059-Bold.otf" # heavier strokes survive the small buttons
SMALL_FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
for f in "$TITLE_FONT" "$BUTTON_FONT"; do
    [ -f "$f" ] || { echo "missing $f: apt-get install fonts-urw-base35" >&2; exit 1; }
done
[ -f "$SMALL_FONT" ] || { echo "missing $SMALL_FONT: apt-get install fonts-dejavu-core" >&2; exit 1; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Same input, same bytes: no time chunks, no metadata, always 8-bit RGBA.
save() { # save SOURCE NAME.png
    "$IM" "$1" -strip -define png:exclude-chunks=date,time -define png:compression-level=9 \
        "PNG32:$out/$2"
}

# The palette shared by every image.
BRONZE_HI='#f2c27a'
BRONZE='#b8742f'
BRONZE_DK='#5a3414'
EMBER='#ff8a2a'
NIGHT='#07070f'

# awk's own rand() differs between mawk and gawk; this Park-Miller generator gives the same stars
# and ridges everywhere.
AWK_RNG='function rnd() { seed = (seed * 16807) % 2147483647; return seed / 2147483647 }'

# A ridge line as a closed polygon down to the bottom of the picture: a few saw-tooth waves of
# different periods summed, which reads as a chain of sharp peaks rather than soft hills.
ridge() { # ridge BASE_Y AMPLITUDE PERIOD PHASE SEED
    awk -v base="$1" -v amp="$2" -v period="$3" -v phase="$4" -v seed="$5" "$AWK_RNG"'
        function tri(t) { t = t - int(t); return t < 0.5 ? 2 * t : 2 - 2 * t }
        BEGIN {
            printf "polygon 0,600 "
            for (x = -10; x <= 810; x += 6) {
                y = base - amp * tri(x / period + phase) \
                         - amp * 0.45 * tri(x / (period * 0.41) + phase * 1.7) \
                         - amp * 0.18 * tri(x / (period * 0.13) + phase * 2.3) \
                         - amp * 0.06 * rnd()
                printf "%d,%d ", x, y
            }
            printf "800,600"
        }'
}

draw_load() {
    local W=800 H=600

    # Night sky: ink blue at the zenith warming to a smouldering horizon, then the dark ground.
    "$IM" \
        \( -size ${W}x170 gradient:'#03040b-#0c0e24' \) \
        \( -size ${W}x150 gradient:'#0c0e24-#24142e' \) \
        \( -size ${W}x90 gradient:'#24142e-#5a2418' \) \
        \( -size ${W}x190 gradient:'#1a0c10-#050408' \) \
        -append "$tmp/sky.png"

    # Stars, thinning towards the horizon glow.
    "$IM" -size ${W}x${H} xc:black -seed 1187 +noise Random -channel G -separate +channel \
        -threshold 99.55% \
        \( -size ${W}x380 gradient:white-black -size ${W}x220 xc:black -append \) \
        -compose Multiply -composite "$tmp/stars_small.png"
    "$IM" -size ${W}x${H} xc:black -seed 4421 +noise Random -channel R -separate +channel \
        -threshold 99.93% -morphology Dilate Disk:1 -blur 0x0.8 -level 0,60% \
        \( -size ${W}x300 gradient:white-black -size ${W}x300 xc:black -append \) \
        -compose Multiply -composite "$tmp/stars_big.png"

    # A low moon behind the keep, veiled by its own halo.
    "$IM" -size ${W}x${H} xc:black \
        -fill '#3a2a40' -draw 'circle 612,150 612,290' -blur 0x60 \
        -fill '#f6e6c8' -draw 'circle 612,150 612,192' \
        -fill '#d8c4a0' -draw 'circle 600,142 600,150' -draw 'circle 628,166 628,171' \
        -draw 'circle 618,132 618,136' "$tmp/moon.png"

    # The ember glow that the mountains stand against.
    "$IM" -size ${W}x${H} xc:black \
        -fill '#ff6a10' -draw 'ellipse 400,420 330,90 0,360' -blur 0x70 \
        -fill '#ffb050' -draw 'ellipse 470,400 120,35 0,360' -blur 0x40 \
        "$tmp/glow.png"

    "$IM" "$tmp/sky.png" \
        "$tmp/stars_small.png" -compose Screen -composite \
        "$tmp/stars_big.png" -compose Screen -composite \
        "$tmp/moon.png" -compose Screen -composite \
        "$tmp/glow.png" -compose Screen -composite \
        "$tmp/back.png"

    # Three ranges, each darker and nearer than the last; the far one catches a little light.
    "$IM" -size ${W}x${H} xc:none \
        -fill '#2a1a2c' -draw "$(ridge 372 70 260 0.35 11)" \
        "$tmp/range_far.png"
    "$IM" -size ${W}x${H} xc:none \
        -fill '#150d18' -draw "$(ridge 420 60 210 0.8 23)" \
        "$tmp/range_mid.png"
    "$IM" -size ${W}x${H} xc:none \
        -fill '#08060b' -draw "$(ridge 470 38 300 0.15 37)" \
        "$tmp/range_near.png"

    # The keep on its crag, right of centre so the title keeps the middle of the sky.
    local K='#09070c'
    "$IM" -size ${W}x${H} xc:none -fill "$K" \
        -draw 'polygon 470,440 500,336 520,322 560,318 590,330 612,345 650,440' \
        -draw 'rectangle 508,296 598,342' \
        -draw 'rectangle 540,236 566,300' \
        -draw 'polygon 536,238 553,176 570,238' \
        -draw 'rectangle 500,270 518,330' -draw 'polygon 497,272 509,232 521,272' \
        -draw 'rectangle 588,262 606,330' -draw 'polygon 585,264 597,222 609,264' \
        -draw 'rectangle 474,310 490,360' -draw 'polygon 471,312 482,284 493,312' \
        -draw 'rectangle 616,318 630,370' -draw 'polygon 613,320 623,296 633,320' \
        -draw 'rectangle 508,290 514,297' -draw 'rectangle 520,290 526,297' \
        -draw 'rectangle 532,290 538,297' -draw 'rectangle 568,290 574,297' \
        -draw 'rectangle 580,290 586,297' -draw 'rectangle 592,290 598,297' \
        -draw 'line 553,176 553,160' -draw 'polygon 553,160 566,165 553,170' \
        "$tmp/keep.png"
    "$IM" -size ${W}x${H} xc:none -fill '#ffb04a' \
        -draw 'rectangle 550,250 555,258' -draw 'rectangle 507,286 510,292' \
        -draw 'rectangle 595,280 598,286' -draw 'rectangle 528,312 532,318' \
        -draw 'rectangle 560,308 564,315' -draw 'rectangle 580,314 584,320' \
        -draw 'rectangle 480,326 483,331' -draw 'rectangle 621,336 624,341' \
        "$tmp/windows_core.png"
    "$IM" "$tmp/windows_core.png" \( +clone -blur 0x4 -channel A -evaluate Multiply 1.8 +channel \) \
        -compose DstOver -composite "$tmp/windows.png"

    # Mist pooling in the valleys, lit from below by the glow.
    "$IM" -size 200x150 xc:black -seed 905 +noise Random -channel G -separate +channel \
        -blur 0x6 -resize 800x600\! -level 45%,75% \
        \( -size ${W}x330 xc:black -size ${W}x80 gradient:black-white -size ${W}x60 gradient:white-black \
           -size ${W}x130 xc:black -append \) -compose Multiply -composite \
        +level 0,38% "$tmp/mist_mask.png"
    "$IM" -size ${W}x${H} xc:'#c07850' "$tmp/mist_mask.png" -alpha off -compose CopyOpacity -composite \
        "$tmp/mist.png"

    "$IM" "$tmp/back.png" \
        "$tmp/range_far.png" -compose Over -composite \
        "$tmp/range_mid.png" -compose Over -composite \
        "$tmp/keep.png" -compose Over -composite \
        "$tmp/windows.png" -compose Over -composite \
        "$tmp/mist.png" -compose Over -composite \
        "$tmp/range_near.png" -compose Over -composite \
        "$tmp/scene.png"

    # The title: gold leaf on a dark bevel, with the ember light bleeding around it.
    local TW=800 TH=230
    "$IM" -size ${TW}x${TH} xc:black -font "$TITLE_FONT" -pointsize 104 -kerning 9 \
        -fill white -gravity north -annotate +0+42 'VESTRAHAL' "$tmp/title_mask.png"
    local box
    box="$("$IM" "$tmp/title_mask.png" -trim -format '%h %Y' info:)"
    local th ty
    read -r th ty <<<"${box//+/}"
    "$IM" \( -size ${TW}x$((ty)) xc:"#fff0c0" \) \
        \( -size ${TW}x$((th * 45 / 100)) gradient:'#fff2c8-#f0b050' \) \
        \( -size ${TW}x$((th - th * 45 / 100)) gradient:'#c06a1c-#6a3010' \) \
        \( -size ${TW}x$((TH - ty - th)) xc:'#6a3010' \) -append "$tmp/title_grad.png"
    "$IM" "$tmp/title_grad.png" "$tmp/title_mask.png" -alpha off -compose CopyOpacity -composite \
        "$tmp/title_fill.png"
    # A light from the upper left gives the letters their carved edge.
    "$IM" "$tmp/title_mask.png" -blur 0x1.5 -shade 120x35 -normalize -level 20%,100% \
        "$tmp/title_mask.png" -alpha off -compose CopyOpacity -composite "$tmp/title_shade.png"
    "$IM" "$tmp/title_mask.png" -morphology Dilate Disk:3 "$tmp/title_edge_mask.png"
    "$IM" -size ${TW}x${TH} xc:'#1a0a04' "$tmp/title_edge_mask.png" -alpha off \
        -compose CopyOpacity -composite "$tmp/title_edge.png"
    "$IM" "$tmp/title_mask.png" -morphology Dilate Disk:6 -blur 0x14 -level 0,70% \
        "$tmp/title_glow_mask.png"
    "$IM" -size ${TW}x${TH} xc:"$EMBER" "$tmp/title_glow_mask.png" -alpha off \
        -compose CopyOpacity -composite "$tmp/title_glow.png"
    "$IM" "$tmp/title_fill.png" "$tmp/title_shade.png" -compose Overlay -composite \
        "$tmp/title_mask.png" -alpha off -compose CopyOpacity -composite "$tmp/title_lit.png"

    # Tagline flanked by two rows of runes: strokes only, like marks cut with a blade.
    "$IM" -size ${TW}x${TH} xc:none -font "$TITLE_FONT" -pointsize 17 -kerning 5 \
        -fill "$BRONZE_HI" -gravity north -annotate +0+166 'LES ROYAUMES VOUS ATTENDENT' \
        "$tmp/tagline.png"
    local runes="" x0
    for x0 in 150 178 206 234 566 594 622 650; do
        local k=$(((x0 / 28) % 6))
        local y0=170 y1=186
        case $k in
        0) runes+="line $x0,$y0 $x0,$y1 line $x0,$y0 $((x0 + 7)),$((y0 + 5)) line $x0,$((y0 + 6)) $((x0 + 7)),$((y0 + 11)) " ;;
        1) runes+="line $x0,$y0 $x0,$y1 line $((x0 + 8)),$y0 $((x0 + 8)),$y1 line $x0,$y0 $((x0 + 8)),$((y0 + 8)) line $((x0 + 8)),$y0 $x0,$((y0 + 8)) " ;;
        2) runes+="line $((x0 + 4)),$y0 $((x0 + 4)),$y1 line $x0,$((y0 + 4)) $((x0 + 8)),$((y0 + 12)) line $((x0 + 8)),$((y0 + 4)) $x0,$((y0 + 12)) " ;;
        3) runes+="line $x0,$y0 $x0,$y1 line $x0,$y0 $((x0 + 8)),$((y0 + 4)) line $((x0 + 8)),$((y0 + 4)) $x0,$((y0 + 8)) " ;;
        4) runes+="line $((x0 + 4)),$y0 $x0,$((y0 + 8)) line $x0,$((y0 + 8)) $((x0 + 4)),$y1 line $((x0 + 4)),$y0 $((x0 + 8)),$((y0 + 8)) line $((x0 + 8)),$((y0 + 8)) $((x0 + 4)),$y1 " ;;
        5) runes+="line $x0,$y0 $x0,$y1 line $((x0 + 8)),$y0 $((x0 + 8)),$y1 line $x0,$((y0 + 8)) $((x0 + 8)),$((y0 + 8)) line $x0,$y0 $((x0 + 8)),$y1 " ;;
        esac
    done
    "$IM" -size ${TW}x${TH} xc:none -stroke '#ffa040' -strokewidth 1.6 -fill none \
        -draw "$runes" \
        -stroke "$BRONZE" -strokewidth 1 \
        -draw 'line 262,178 290,178 line 510,178 538,178' \
        -draw 'line 120,178 140,178 line 660,178 680,178' \
        -fill "$BRONZE_HI" -stroke none \
        -draw 'polygon 296,178 300,174 304,178 300,182' \
        -draw 'polygon 496,178 500,174 504,178 500,182' \
        "$tmp/runes_core.png"
    "$IM" "$tmp/runes_core.png" \( +clone -channel RGBA -blur 0x3 \) -compose DstOver -composite \
        "$tmp/runes.png"

    "$IM" "$tmp/scene.png" \
        \( "$tmp/title_glow.png" \) -compose Screen -composite \
        \( "$tmp/title_edge.png" -geometry +2+3 \) -compose Over -composite \
        \( "$tmp/title_edge.png" \) -compose Over -composite \
        \( "$tmp/title_lit.png" \) -compose Over -composite \
        \( "$tmp/tagline.png" \) -compose Over -composite \
        \( "$tmp/runes.png" \) -compose Over -composite \
        "$tmp/titled.png"

    # The controls live on the bottom band: keep it calm, dark and quietly framed.
    "$IM" -size ${W}x${H} xc:none \
        \( -size ${W}x440 xc:none -size ${W}x30 gradient:'#00000000-#000000b0' \
           -size ${W}x130 xc:'#000000c8' -append \) -compose Over -composite \
        "$tmp/band.png"
    "$IM" -size ${W}x${H} xc:none -fill none \
        -stroke "$BRONZE_DK" -strokewidth 3 -draw 'line 20,467 780,467' \
        -stroke "$BRONZE" -strokewidth 1 -draw 'line 20,467 780,467' \
        -stroke none -fill "$BRONZE" -draw 'polygon 392,467 400,459 408,467 400,475' \
        -fill "$EMBER" -draw 'polygon 396,467 400,463 404,467 400,471' \
        -fill "$BRONZE" -draw 'polygon 14,467 20,462 26,467 20,472' \
        -draw 'polygon 774,467 780,462 786,467 780,472' \
        "$tmp/band_line.png"

    # Vignette pulls the eye to the centre and hides the hard picture edges.
    "$IM" -size ${W}x${H} radial-gradient:'#ffffff-#000000' -level 0,140% -gamma 0.8 \
        "$tmp/vignette.png"

    "$IM" "$tmp/titled.png" "$tmp/vignette.png" -compose Multiply -composite \
        "$tmp/band.png" -compose Over -composite \
        "$tmp/band_line.png" -compose Over -composite \
        -alpha off "$tmp/load_final.png"
    save "$tmp/load_final.png" load.png
}

draw_load

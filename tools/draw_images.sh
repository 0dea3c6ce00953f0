#!/usr/bin/env bash
# Draws every image of the launcher into resources/. The pictures are ours, made from nothing but
# ImageMagick primitives and the URW fonts, so they can be redrawn on any Debian machine:
#   bash tools/draw_images.sh
# Each picture is drawn twice: NAME.png for ordinary screens and NAME@2x.png, the same drawing
# at twice the pixels, which Qt picks on screens at 150 % and more.
# Needs: imagemagick, fonts-urw-base35 (awk comes with the base system).
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
for f in "$TITLE_FONT" "$BUTTON_FONT"; do
    [ -f "$f" ] || { echo "missing $f: apt-get install fonts-urw-base35" >&2; exit 1; }
done

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Same input, same bytes: no time chunks, no metadata, always 8-bit RGBA. At twice the density
# the file is the @2x twin of NAME.png.
save() { # save SOURCE NAME.png
    local name="$2"
    [ "$Z" = 1 ] || name="${name%.png}@${Z}x.png"
    "$IM" "$1" -strip -define png:exclude-chunks=date,time -define png:compression-level=9 \
        "PNG32:$out/$name"
}

# The scale every picture is drawn at: 1 for the ordinary files, 2 for the @2x twins. Canvas
# sizes, blur radii, font sizes, morphology radii and offsets go through z; the shapes of the
# -draw strings keep their 1x coordinates behind the prefix $A, whose affine transform doubles
# coordinates, radii and stroke widths alike. At scale 1 every value is passed through as
# written, so the ordinary files come out byte for byte as they always have.
Z=1
A=""
scale() { # scale FACTOR
    Z=$1
    if [ "$Z" = 1 ]; then
        A=""
    else
        A="affine $Z,0,0,$Z,0,0 "
    fi
}
z() { # z NUMBER: the number at the current scale
    if [ "$Z" = 1 ]; then
        printf '%s' "$1"
    elif [[ $1 =~ ^-?[0-9]+$ ]]; then
        printf '%d' $(($1 * Z))
    else
        awk -v v="$1" -v z="$Z" 'BEGIN { printf "%g", v * z }'
    fi
}
# A one-pixel dot at 1x, which must stay a square of Z by Z pixels: MVG's point ignores the
# affine transform.
dot() { # dot X Y
    if [ "$Z" = 1 ]; then
        printf 'point %s,%s' "$1" "$2"
    else
        awk -v x="$1" -v y="$2" -v z="$Z" \
            'BEGIN { printf "rectangle %g,%g %g,%g", x, y, x + (z - 1) / z, y + (z - 1) / z }'
    fi
}
# Noise textures are made at the 1x grid and enlarged, so both files show the same stars and
# the same grain; a sharp one (single-pixel stars) is enlarged by repeating its pixels.
enlarge_sharp() {
    [ "$Z" = 1 ] || printf '%s\n' -sample "${Z}00%"
}

# The palette shared by every image.
BRONZE_HI='#f2c27a'
BRONZE='#b8742f'
BRONZE_DK='#5a3414'
EMBER='#ff8a2a'

# awk's own rand() differs between mawk and gawk; this Park-Miller generator gives the same
# ridges everywhere.
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
    local W H
    W=$(z 800) H=$(z 600)

    # Night sky: ink blue at the zenith warming to a smouldering horizon, then the dark ground.
    "$IM" \
        \( -size "${W}x$(z 170)" gradient:'#03040b-#0c0e24' \) \
        \( -size "${W}x$(z 150)" gradient:'#0c0e24-#24142e' \) \
        \( -size "${W}x$(z 90)" gradient:'#24142e-#5a2418' \) \
        \( -size "${W}x$(z 190)" gradient:'#1a0c10-#050408' \) \
        -append "$tmp/sky.png"

    # Stars, thinning towards the horizon glow.
    # shellcheck disable=SC2046 # enlarge_sharp gives zero or two words
    "$IM" -size 800x600 xc:black -seed 1187 +noise Random -channel G -separate +channel \
        -threshold 99.55% $(enlarge_sharp) \
        \( -size "${W}x$(z 380)" gradient:white-black -size "${W}x$(z 220)" xc:black -append \) \
        -compose Multiply -composite "$tmp/stars_small.png"
    # shellcheck disable=SC2046
    "$IM" -size 800x600 xc:black -seed 4421 +noise Random -channel R -separate +channel \
        -threshold 99.93% $(enlarge_sharp) -morphology Dilate Disk:"$(z 1)" -blur "0x$(z 0.8)" \
        -level 0,60% \
        \( -size "${W}x$(z 300)" gradient:white-black -size "${W}x$(z 300)" xc:black -append \) \
        -compose Multiply -composite "$tmp/stars_big.png"

    # A low moon over the western peaks, veiled by its own halo, to balance the keep.
    "$IM" -size "${W}x${H}" xc:black \
        -fill '#40304a' -draw "${A}circle 178,250 178,350" -blur "0x$(z 45)" \
        -fill '#d8c8b0' -draw "${A}circle 178,250 178,276" -blur "0x$(z 0.7)" \
        -fill '#b8a890' -draw "${A}circle 170,244 170,250" -draw "${A}circle 188,258 188,262" \
        -draw "${A}circle 182,238 182,241" "$tmp/moon.png"

    # The ember glow that the mountains stand against.
    "$IM" -size "${W}x${H}" xc:black \
        -fill '#ff6a10' -draw "${A}ellipse 420,400 360,100 0,360" -blur "0x$(z 60)" \
        -fill '#ffb050' -draw "${A}ellipse 470,400 120,35 0,360" -blur "0x$(z 40)" \
        "$tmp/glow.png"

    "$IM" "$tmp/sky.png" \
        "$tmp/stars_small.png" -compose Screen -composite \
        "$tmp/stars_big.png" -compose Screen -composite \
        "$tmp/moon.png" -compose Screen -composite \
        "$tmp/glow.png" -compose Screen -composite \
        "$tmp/back.png"

    # Three ranges, each darker and nearer than the last; the far one catches a little light.
    "$IM" -size "${W}x${H}" xc:none \
        -fill '#3a2232' -draw "${A}$(ridge 372 70 260 0.35 11)" \
        "$tmp/range_far.png"
    "$IM" -size "${W}x${H}" xc:none \
        -fill '#1c1120' -draw "${A}$(ridge 420 60 210 0.8 23)" \
        "$tmp/range_mid.png"
    "$IM" -size "${W}x${H}" xc:none \
        -fill '#08060b' -draw "${A}$(ridge 470 38 300 0.15 37)" \
        "$tmp/range_near.png"

    # The keep on its crag, right of centre so the title keeps the middle of the sky.
    local K='#09070c'
    "$IM" -size "${W}x${H}" xc:none -fill "$K" \
        -draw "${A}polygon 450,480 466,436 480,402 492,372 500,336 520,322 560,318 590,330 612,345 622,372 636,396 646,430 664,480" \
        -draw "${A}rectangle 508,296 598,342" \
        -draw "${A}rectangle 540,236 566,300" \
        -draw "${A}polygon 536,238 553,176 570,238" \
        -draw "${A}rectangle 500,270 518,330" -draw "${A}polygon 497,272 509,232 521,272" \
        -draw "${A}rectangle 588,262 606,330" -draw "${A}polygon 585,264 597,222 609,264" \
        -draw "${A}rectangle 474,310 490,360" -draw "${A}polygon 471,312 482,284 493,312" \
        -draw "${A}rectangle 616,318 630,370" -draw "${A}polygon 613,320 623,296 633,320" \
        -draw "${A}rectangle 508,290 514,297" -draw "${A}rectangle 520,290 526,297" \
        -draw "${A}rectangle 532,290 538,297" -draw "${A}rectangle 568,290 574,297" \
        -draw "${A}rectangle 580,290 586,297" -draw "${A}rectangle 592,290 598,297" \
        -draw "${A}line 553,176 553,160" -draw "${A}polygon 553,160 566,165 553,170" \
        "$tmp/keep.png"
    "$IM" -size "${W}x${H}" xc:none -fill '#ffb04a' \
        -draw "${A}rectangle 550,250 555,258" -draw "${A}rectangle 507,286 510,292" \
        -draw "${A}rectangle 595,280 598,286" -draw "${A}rectangle 528,312 532,318" \
        -draw "${A}rectangle 560,308 564,315" -draw "${A}rectangle 580,314 584,320" \
        -draw "${A}rectangle 480,326 483,331" -draw "${A}rectangle 621,336 624,341" \
        "$tmp/windows_core.png"
    "$IM" "$tmp/windows_core.png" \( +clone -blur "0x$(z 4)" -channel A -evaluate Multiply 1.8 +channel \) \
        -compose DstOver -composite "$tmp/windows.png"

    # Mist pooling in the valleys, lit from below by the glow.
    "$IM" -size 200x150 xc:black -seed 905 +noise Random -channel G -separate +channel \
        -blur 0x6 -resize "${W}x${H}!" -level 45%,75% \
        \( -size "${W}x$(z 330)" xc:black -size "${W}x$(z 80)" gradient:black-white \
           -size "${W}x$(z 60)" gradient:white-black -size "${W}x$(z 130)" xc:black -append \) \
        -compose Multiply -composite \
        +level 0,38% "$tmp/mist_mask.png"
    "$IM" -size "${W}x${H}" xc:'#c07850' "$tmp/mist_mask.png" -alpha off -compose CopyOpacity -composite \
        "$tmp/mist.png"

    # The keep is set lower than drawn so its spire stays clear of the tagline.
    "$IM" "$tmp/back.png" \
        "$tmp/range_far.png" -compose Over -composite \
        "$tmp/range_mid.png" -compose Over -composite \
        \( "$tmp/keep.png" -geometry "+0+$(z 26)" \) -compose Over -composite \
        \( "$tmp/windows.png" -geometry "+0+$(z 26)" \) -compose Over -composite +geometry \
        "$tmp/mist.png" -compose Over -composite \
        "$tmp/range_near.png" -compose Over -composite \
        "$tmp/scene.png"

    # The title: gold leaf on a dark bevel, with the ember light bleeding around it.
    local TW TH
    TW=$(z 800) TH=$(z 230)
    "$IM" -size "${TW}x${TH}" xc:black -font "$TITLE_FONT" -pointsize "$(z 86)" -kerning "$(z 7)" \
        -fill white -gravity north -annotate "+0+$(z 48)" 'VESTRAHAL' "$tmp/title_mask.png"
    local box
    box="$("$IM" "$tmp/title_mask.png" -trim -format '%h %Y' info:)"
    local th ty
    read -r th ty <<<"${box//+/}"
    "$IM" \( -size "${TW}x$((ty))" xc:"#fff0c0" \) \
        \( -size "${TW}x$((th * 45 / 100))" gradient:'#fff2c8-#f0b050' \) \
        \( -size "${TW}x$((th - th * 45 / 100))" gradient:'#d27a26-#8a4616' \) \
        \( -size "${TW}x$((TH - ty - th))" xc:'#8a4616' \) -append "$tmp/title_grad.png"
    "$IM" "$tmp/title_grad.png" "$tmp/title_mask.png" -alpha off -compose CopyOpacity -composite \
        "$tmp/title_fill.png"
    # A light from the upper left gives the letters their carved edge.
    "$IM" "$tmp/title_mask.png" -blur "0x$(z 1.5)" -shade 120x35 -normalize -level 20%,100% \
        "$tmp/title_mask.png" -alpha off -compose CopyOpacity -composite "$tmp/title_shade.png"
    "$IM" "$tmp/title_mask.png" -morphology Dilate Disk:"$(z 3)" "$tmp/title_edge_mask.png"
    "$IM" -size "${TW}x${TH}" xc:'#1a0a04' "$tmp/title_edge_mask.png" -alpha off \
        -compose CopyOpacity -composite "$tmp/title_edge.png"
    "$IM" "$tmp/title_mask.png" -morphology Dilate Disk:"$(z 6)" -blur "0x$(z 14)" -level 0,70% \
        "$tmp/title_glow_mask.png"
    "$IM" -size "${TW}x${TH}" xc:"$EMBER" "$tmp/title_glow_mask.png" -alpha off \
        -compose CopyOpacity -composite "$tmp/title_glow.png"
    "$IM" "$tmp/title_fill.png" "$tmp/title_shade.png" -compose Overlay -composite \
        "$tmp/title_mask.png" -alpha off -compose CopyOpacity -composite "$tmp/title_lit.png"

    # Tagline flanked by two rows of runes: strokes only, like marks cut with a blade.
    "$IM" -size "${TW}x${TH}" xc:none -font "$TITLE_FONT" -pointsize "$(z 16)" -kerning "$(z 4)" \
        -fill "$BRONZE_HI" -gravity north -annotate "+0+$(z 160)" 'LES ROYAUMES VOUS ATTENDENT' \
        "$tmp/tagline.png"
    local runes="" x0
    for x0 in 112 140 168 616 644 672; do
        local k=$(((x0 / 28) % 6))
        local y0=162 y1=178
        case $k in
        0) runes+="line $x0,$y0 $x0,$y1 line $x0,$y0 $((x0 + 7)),$((y0 + 5)) line $x0,$((y0 + 6)) $((x0 + 7)),$((y0 + 11)) " ;;
        1) runes+="line $x0,$y0 $x0,$y1 line $((x0 + 8)),$y0 $((x0 + 8)),$y1 line $x0,$y0 $((x0 + 8)),$((y0 + 8)) line $((x0 + 8)),$y0 $x0,$((y0 + 8)) " ;;
        2) runes+="line $((x0 + 4)),$y0 $((x0 + 4)),$y1 line $x0,$((y0 + 4)) $((x0 + 8)),$((y0 + 12)) line $((x0 + 8)),$((y0 + 4)) $x0,$((y0 + 12)) " ;;
        3) runes+="line $x0,$y0 $x0,$y1 line $x0,$y0 $((x0 + 8)),$((y0 + 4)) line $((x0 + 8)),$((y0 + 4)) $x0,$((y0 + 8)) " ;;
        4) runes+="line $((x0 + 4)),$y0 $x0,$((y0 + 8)) line $x0,$((y0 + 8)) $((x0 + 4)),$y1 line $((x0 + 4)),$y0 $((x0 + 8)),$((y0 + 8)) line $((x0 + 8)),$((y0 + 8)) $((x0 + 4)),$y1 " ;;
        5) runes+="line $x0,$y0 $x0,$y1 line $((x0 + 8)),$y0 $((x0 + 8)),$y1 line $x0,$((y0 + 8)) $((x0 + 8)),$((y0 + 8)) line $x0,$y0 $((x0 + 8)),$y1 " ;;
        esac
    done
    "$IM" -size "${TW}x${TH}" xc:none -stroke '#ffa040' -strokewidth 1.6 -fill none \
        -draw "${A}$runes" \
        -stroke "$BRONZE" -strokewidth 1 \
        -draw "${A}line 190,170 200,170 line 600,170 610,170" \
        -draw "${A}line 40,170 104,170 line 696,170 760,170" \
        -fill "$BRONZE_HI" -stroke none \
        -draw "${A}polygon 32,170 36,166 40,170 36,174" \
        -draw "${A}polygon 760,170 764,166 768,170 764,174" \
        "$tmp/runes_core.png"
    "$IM" "$tmp/runes_core.png" \( +clone -channel RGBA -blur "0x$(z 3)" \) -compose DstOver -composite \
        "$tmp/runes.png"

    "$IM" "$tmp/scene.png" \
        \( "$tmp/title_glow.png" \) -compose Screen -composite \
        \( "$tmp/title_edge.png" -geometry "+$(z 2)+$(z 3)" \) -compose Over -composite +geometry \
        \( "$tmp/title_edge.png" \) -compose Over -composite \
        \( "$tmp/title_lit.png" \) -compose Over -composite \
        \( "$tmp/tagline.png" \) -compose Over -composite \
        \( "$tmp/runes.png" \) -compose Over -composite \
        "$tmp/titled.png"

    # The controls live on the bottom band: keep it calm, dark and quietly framed.
    "$IM" -size "${W}x${H}" xc:none \
        \( -size "${W}x$(z 440)" xc:none -size "${W}x$(z 30)" gradient:'#00000000-#000000b0' \
           -size "${W}x$(z 130)" gradient:'#000000c0-#000000e0' -append \) -compose Over -composite \
        "$tmp/band.png"
    "$IM" -size "${W}x${H}" xc:none -fill none \
        -stroke "$BRONZE_DK" -strokewidth 3 -draw "${A}line 20,467 780,467" \
        -stroke "$BRONZE" -strokewidth 1 -draw "${A}line 20,467 780,467" \
        -stroke none -fill "$BRONZE" -draw "${A}polygon 392,467 400,459 408,467 400,475" \
        -fill "$EMBER" -draw "${A}polygon 396,467 400,463 404,467 400,471" \
        -fill "$BRONZE" -draw "${A}polygon 14,467 20,462 26,467 20,472" \
        -draw "${A}polygon 774,467 780,462 786,467 780,472" \
        "$tmp/band_line.png"

    # Worn dark stone under the controls, with the last of the ember light spilling below the rail.
    "$IM" -size 400x65 xc:gray50 -seed 3301 +noise Gaussian -channel G -separate +channel \
        -blur 0x0.6 -resize "${W}x$(z 130)!" +level 44%,56% "$tmp/grain.png"
    "$IM" -size "${W}x$(z 130)" xc:'#0a0809' \
        \( -size "${W}x$(z 130)" xc:black -fill '#2a120a' -draw "${A}ellipse 400,0 300,26 0,360" \
           -blur "0x$(z 24)" \) \
        -compose Screen -composite "$tmp/grain.png" -compose Overlay -composite \
        -background none -gravity south -extent "${W}x${H}" +gravity "$tmp/band_stone.png"

    # Vignette pulls the eye to the centre and hides the hard picture edges.
    "$IM" -size "${W}x${H}" radial-gradient:'#ffffff-#000000' +level 35%,100% -level 0,75% \
        "$tmp/vignette.png"

    "$IM" "$tmp/titled.png" "$tmp/vignette.png" -compose Multiply -composite \
        "$tmp/band.png" -compose Over -composite \
        "$tmp/band_stone.png" -compose Over -composite \
        "$tmp/band_line.png" -compose Over -composite \
        -alpha off "$tmp/load_final.png"
    save "$tmp/load_final.png" load.png
}


# The helpers below take every size and position at 1x and draw at the current scale.

# White rounded rectangle on black, the cut-out every frame and panel starts from.
rmask() { # rmask W H X0 Y0 X1 Y1 RADIUS OUT
    "$IM" -size "$(z "$1")x$(z "$2")" xc:black -fill white -draw "${A}roundrectangle $3,$4 $5,$6 $7,$7" "$8"
}

# Paints SOURCE only where MASK is white.
clip() { # clip SOURCE MASK OUT
    "$IM" "$1" "$2" -alpha off -compose CopyOpacity -composite "$3"
}

# Polished bronze ring between two masks, lit from the upper left like the title letters.
bronze_ring() { # bronze_ring W H OUTER_MASK INNER_MASK BLUR OUT
    local W H
    W=$(z "$1") H=$(z "$2")
    "$IM" -size "${W}x$((H / 2))" gradient:"$BRONZE_HI-$BRONZE" \
        -size "${W}x$((H - H / 2))" gradient:"$BRONZE-$BRONZE_DK" -append "$tmp/ring_grad.png"
    "$IM" "$3" "$4" -compose Minus_Src -composite "$tmp/ring_mask.png"
    "$IM" "$tmp/ring_mask.png" -blur "0x$(z "$5")" -shade 125x38 -auto-level +level 22%,82% \
        "$tmp/ring_shade.png"
    "$IM" "$tmp/ring_grad.png" "$tmp/ring_shade.png" -compose Overlay -composite \
        "$tmp/ring_lit.png"
    clip "$tmp/ring_lit.png" "$tmp/ring_mask.png" "$6"
}

# Recessed panel: a vertical fill whose edges fall into shadow under the frame.
panel() { # panel W H MASK TOP BOTTOM SHADOW_BLUR SHADOW_DY OUT
    "$IM" -size "$(z "$1")x$(z "$2")" gradient:"$4-$5" \
        \( "$3" -negate -blur "0x$(z "$6")" -roll "+0+$(z "$7")" -level 0,60% -negate \) \
        -compose Multiply -composite "$tmp/panel_fill.png"
    clip "$tmp/panel_fill.png" "$3" "$8"
}

# Greyed, flattened copy for a disabled control: no colour, less contrast, a little transparency.
disable() { # disable IN OUT
    "$IM" "$1" -write mpr:src +delete \
        \( mpr:src -alpha off -colorspace Gray -colorspace sRGB +level 10%,44% \) \
        \( mpr:src -alpha extract -evaluate Multiply 0.85 \) \
        -alpha off -compose CopyOpacity -composite "$2"
}

# A word set in gold with a dark drop shadow; STRETCH compensates for a widget that squashes
# the picture vertically, so the letters end up with their true proportions.
label() { # label W H FONT SIZE KERNING TEXT DX DY STRETCH TOP BOTTOM OUT
    local W H
    W=$(z "$1") H=$(z "$2")
    "$IM" -size "${W}x${H}" xc:black -font "$3" -pointsize "$(z "$4")" -kerning "$(z "$5")" \
        -fill white -gravity center -annotate "+0+0" "$6" -gravity center -resize "100%x$9%" \
        -extent "${W}x${H}" +gravity -roll "+$(z "$7")+$(z "$8")" "$tmp/label_mask.png"
    local box th ty
    box="$("$IM" "$tmp/label_mask.png" -trim -format '%h %Y' info:)"
    read -r th ty <<<"${box//+/}"
    "$IM" -size "${W}x$ty" xc:"${10}" -size "${W}x$th" gradient:"${10}-${11}" \
        -size "${W}x$((H - ty - th))" xc:"${11}" -append "$tmp/label_grad.png"
    clip "$tmp/label_grad.png" "$tmp/label_mask.png" "$tmp/label_fill.png"
    "$IM" "$tmp/label_mask.png" -morphology Dilate Disk:"$(z 1.5)" -blur "0x$(z 1)" \
        -roll "+$(z 1)+$(z 1)" "$tmp/label_shadow_mask.png"
    "$IM" -size "${W}x${H}" xc:'#160802' "$tmp/label_shadow_mask.png" -alpha off \
        -compose CopyOpacity -composite "$tmp/label_fill.png" -compose Over -composite "${12}"
}

draw_play() {
    local W=140 H=111 S s
    S="$(z $W)x$(z $H)"
    rmask $W $H 2 3 137 107 16 "$tmp/play_outer.png"
    rmask $W $H 8 9 131 101 11 "$tmp/play_inner.png"
    "$IM" "$tmp/play_outer.png" -morphology Dilate Disk:"$(z 1.5)" "$tmp/play_edge.png"
    bronze_ring $W $H "$tmp/play_outer.png" "$tmp/play_inner.png" 2.5 "$tmp/play_ring.png"
    "$IM" -size "$S" xc:'#120804' "$tmp/play_edge.png" -alpha off -compose CopyOpacity \
        -composite "$tmp/play_base.png"
    # Studs at the four corners and the gem above the word, so the frame reads as forged metal.
    "$IM" -size "$S" xc:none -fill "$BRONZE_DK" \
        -draw "${A}circle 14,15 14,19 circle 125,15 125,19 circle 14,95 14,99 circle 125,95 125,99" \
        -fill "$BRONZE_HI" \
        -draw "${A}circle 13,14 13,16 circle 124,14 124,16 circle 13,94 13,96 circle 124,94 124,96" \
        "$tmp/play_studs.png"

    for s in on pressed; do
        local top bottom dy gem glow
        if [ $s = on ]; then
            top='#c4501a' bottom='#4a1204' dy=0 gem="$EMBER" glow=1.0
        else
            top='#7a300c' bottom='#2a0a02' dy=2 gem='#c05a18' glow=0.45
        fi
        panel $W $H "$tmp/play_inner.png" "$top" "$bottom" 5 2 "$tmp/play_panel.png"
        # Heat rising from the bottom of the panel, the same ember as the background glow.
        "$IM" -size "$S" xc:black -fill '#ff9a40' -draw "${A}ellipse 70,$((62 + dy)) 52,26 0,360" \
            -blur "0x$(z 14)" -evaluate Multiply $glow "$tmp/play_heat.png"
        "$IM" "$tmp/play_panel.png" \( "$tmp/play_heat.png" \) -compose Screen -composite \
            "$tmp/play_inner.png" -alpha off -compose CopyOpacity -composite "$tmp/play_hot.png"
        label $W $H "$BUTTON_FONT" 27 1.5 'JOUER' 0 $((5 + dy)) 100 '#fff6d8' '#f0b050' \
            "$tmp/play_label.png"
        "$IM" -size "$S" xc:none \
            -stroke "$BRONZE_HI" -strokewidth 1 -fill none \
            -draw "${A}line 36,$((34 + dy)) 62,$((34 + dy)) line 78,$((34 + dy)) 104,$((34 + dy))" \
            -draw "${A}line 36,$((82 + dy)) 104,$((82 + dy))" \
            -stroke none -fill "$BRONZE_HI" -draw "${A}polygon 64,$((34 + dy)) 70,$((28 + dy)) 76,$((34 + dy)) 70,$((40 + dy))" \
            -fill "$gem" -draw "${A}polygon 67,$((34 + dy)) 70,$((31 + dy)) 73,$((34 + dy)) 70,$((37 + dy))" \
            "$tmp/play_orn.png"
        "$IM" "$tmp/play_base.png" "$tmp/play_hot.png" -compose Over -composite \
            "$tmp/play_ring.png" -compose Over -composite \
            "$tmp/play_studs.png" -compose Over -composite \
            "$tmp/play_orn.png" -compose Over -composite \
            "$tmp/play_label.png" -compose Over -composite "$tmp/play_$s.png"
    done
    # Pressed: the whole plate sinks a little into its own shadow.
    "$IM" "$tmp/play_pressed.png" -modulate 82 "$tmp/play_pressed.png"
    disable "$tmp/play_on.png" "$tmp/play_off.png"
    save "$tmp/play_on.png" joueron.png
    save "$tmp/play_pressed.png" jouerpressed.png
    save "$tmp/play_off.png" joueroff.png
}


# Shown as a border-image 3 10 3 10 squeezed to 75x48: the frame stays within the 3-pixel top
# and bottom slices and the corner pieces within the 10-pixel sides, so nothing tears when the
# middle is stretched, and the word is drawn taller to come out right after the squeeze.
draw_options() {
    local W=77 H=57 S s
    S="$(z $W)x$(z $H)"
    rmask $W $H 0 0 76 56 3 "$tmp/opt_outer.png"
    rmask $W $H 3 3 73 53 2 "$tmp/opt_inner.png"
    bronze_ring $W $H "$tmp/opt_outer.png" "$tmp/opt_inner.png" 1 "$tmp/opt_ring.png"
    for s in on pressed; do
        local top bottom dy glow
        if [ $s = on ]; then
            top='#4a2410' bottom='#140804' dy=0 glow=0.8
        else
            top='#1a0a04' bottom='#2e1408' dy=1 glow=0.35
        fi
        panel $W $H "$tmp/opt_inner.png" "$top" "$bottom" 3 1 "$tmp/opt_panel.png"
        "$IM" -size "$S" xc:black -fill '#c85a18' -draw "${A}ellipse 38,$((29 + dy)) 26,12 0,360" \
            -blur "0x$(z 8)" -evaluate Multiply $glow "$tmp/opt_heat.png"
        "$IM" "$tmp/opt_panel.png" "$tmp/opt_heat.png" -compose Screen -composite \
            "$tmp/opt_inner.png" -alpha off -compose CopyOpacity -composite "$tmp/opt_hot.png"
        label $W $H "$TITLE_FONT" 10 0.6 'OPTIONS' 0 $((1 + dy)) 125 '#ffeec0' '#e09840' \
            "$tmp/opt_label.png"
        # Rivets sit in the side slices, which are never stretched sideways.
        "$IM" -size "$S" xc:none -fill "$BRONZE_DK" \
            -draw "${A}circle 6,$((28 + dy)) 6,$((30 + dy)) circle 70,$((28 + dy)) 70,$((30 + dy))" \
            -fill "$BRONZE_HI" -draw "${A}$(dot 6 $((27 + dy))) $(dot 70 $((27 + dy)))" \
            "$tmp/opt_rivets.png"
        "$IM" "$tmp/opt_hot.png" "$tmp/opt_ring.png" -compose Over -composite \
            "$tmp/opt_rivets.png" -compose Over -composite \
            "$tmp/opt_label.png" -compose Over -composite "$tmp/opt_$s.png"
    done
    disable "$tmp/opt_on.png" "$tmp/opt_off.png"
    save "$tmp/opt_on.png" optionson.png
    save "$tmp/opt_pressed.png" optionspressed.png
    save "$tmp/opt_off.png" optionsoff.png
}

# The small panel buttons carry orange text of their own, so they stay dark and quiet.
draw_para_buttons() {
    local W=73 H=23 S
    S="$(z $W)x$(z $H)"
    rmask $W $H 0 0 72 22 4 "$tmp/pb_outer.png"
    rmask $W $H 1 1 71 21 3 "$tmp/pb_ring_out.png"
    rmask $W $H 2 2 70 20 2 "$tmp/pb_inner.png"
    bronze_ring $W $H "$tmp/pb_ring_out.png" "$tmp/pb_inner.png" 0.6 "$tmp/pb_ring.png"
    "$IM" -size "$S" xc:'#0c0604' "$tmp/pb_outer.png" -alpha off -compose CopyOpacity \
        -composite "$tmp/pb_edge.png"
    panel $W $H "$tmp/pb_inner.png" '#2e1a10' '#100806' 2 1 "$tmp/pb_on_panel.png"
    panel $W $H "$tmp/pb_inner.png" '#080403' '#1e100a' 3 2 "$tmp/pb_pr_panel.png"
    # A thin highlight under the top rim makes the raised state read as raised.
    "$IM" -size "$S" xc:none -stroke '#6a4228' -strokewidth 1 -draw "${A}line 5,3 67,3" \
        "$tmp/pb_sheen.png"
    "$IM" "$tmp/pb_edge.png" "$tmp/pb_on_panel.png" -compose Over -composite \
        "$tmp/pb_sheen.png" -compose Over -composite \
        "$tmp/pb_ring.png" -compose Over -composite "$tmp/pb_on.png"
    "$IM" "$tmp/pb_edge.png" "$tmp/pb_pr_panel.png" -compose Over -composite \
        \( "$tmp/pb_ring.png" -modulate 70 \) -compose Over -composite "$tmp/pb_pressed.png"
    save "$tmp/pb_on.png" paraon.png
    save "$tmp/pb_pressed.png" parapressed.png
}

# Check indicators: a small bronze-rimmed socket, lit by an ember rune when checked.
draw_cases() {
    local S
    S="$(z 20)x$(z 21)"
    rmask 20 21 1 1 18 19 3 "$tmp/co_outer.png"
    rmask 20 21 3 3 16 17 2 "$tmp/co_inner.png"
    bronze_ring 20 21 "$tmp/co_outer.png" "$tmp/co_inner.png" 0.6 "$tmp/co_ring.png"
    panel 20 21 "$tmp/co_inner.png" '#1a0c06' '#2a1408' 1.5 1 "$tmp/co_panel.png"
    "$IM" -size "$S" xc:none -fill '#ff7a20' -draw "${A}polygon 9.5,4 15,10 9.5,16 4,10" \
        -channel A -blur "0x$(z 2)" +channel "$tmp/co_glow.png"
    "$IM" -size "$S" xc:none -fill "$EMBER" -draw "${A}polygon 9.5,5.5 13.5,10 9.5,14.5 5.5,10" \
        -fill '#ffe0a0' -draw "${A}polygon 9.5,7.5 11.5,10 9.5,12.5 7.5,10" "$tmp/co_mark.png"
    "$IM" -size "$S" xc:'#0a0503' "$tmp/co_outer.png" -morphology Dilate Disk:"$(z 1)" -alpha off \
        -compose CopyOpacity -composite "$tmp/co_panel.png" -compose Over -composite \
        "$tmp/co_glow.png" -compose Over -composite "$tmp/co_mark.png" -compose Over -composite \
        "$tmp/co_ring.png" -compose Over -composite "$tmp/case_on.png"
    save "$tmp/case_on.png" caseon.png

    rmask 19 20 1 1 17 18 3 "$tmp/cf_outer.png"
    rmask 19 20 3 3 15 16 2 "$tmp/cf_inner.png"
    bronze_ring 19 20 "$tmp/cf_outer.png" "$tmp/cf_inner.png" 0.6 "$tmp/cf_ring.png"
    panel 19 20 "$tmp/cf_inner.png" '#080404' '#1a0e08' 1.5 1 "$tmp/cf_panel.png"
    "$IM" -size "$(z 19)x$(z 20)" xc:'#0a0503' "$tmp/cf_outer.png" -morphology Dilate Disk:"$(z 1)" \
        -alpha off \
        -compose CopyOpacity -composite "$tmp/cf_panel.png" -compose Over -composite \
        \( "$tmp/cf_ring.png" -modulate 80 \) -compose Over -composite "$tmp/case_off.png"
    save "$tmp/case_off.png" caseoff.png
}

draw_bars() {
    local W=434 H=29
    rmask $W $H 0 0 433 28 8 "$tmp/bv_outer.png"
    rmask $W $H 3 3 430 25 6 "$tmp/bv_inner.png"
    bronze_ring $W $H "$tmp/bv_outer.png" "$tmp/bv_inner.png" 1.2 "$tmp/bv_ring.png"
    panel $W $H "$tmp/bv_inner.png" '#050303' '#1c100a' 3 2 "$tmp/bv_groove.png"
    "$IM" "$tmp/bv_groove.png" "$tmp/bv_ring.png" -compose Over -composite "$tmp/bar_empty.png"
    save "$tmp/bar_empty.png" barrevide.png

    W=416 H=15
    local SW
    SW=$(z $W)
    "$IM" -size "${SW}x$(z 4)" gradient:'#ffe6a0-#ffa040' -size "${SW}x$(z 6)" gradient:'#ff8a2a-#d85a14' \
        -size "${SW}x$(z 5)" gradient:'#b8440e-#6a2206' -append "$tmp/bp_fill.png"
    # Slanted molten streaks, so a filling bar visibly moves rather than reading as a flat stripe.
    local streaks="" x
    for ((x = -20; x < W + 20; x += 16)); do
        streaks+="polygon $x,15 $((x + 6)),15 $((x + 14)),0 $((x + 8)),0 "
    done
    "$IM" -size "${SW}x$(z $H)" xc:none -fill '#ffffff' -draw "${A}$streaks" -channel A \
        -evaluate Multiply 0.14 +channel "$tmp/bp_streaks.png"
    rmask $W $H 0 0 415 14 6 "$tmp/bp_mask.png"
    "$IM" "$tmp/bp_fill.png" "$tmp/bp_streaks.png" -compose Over -composite \
        -stroke '#fff4d0' -strokewidth 1 -draw "${A}line 6,1 409,1" "$tmp/bp_lit.png"
    clip "$tmp/bp_lit.png" "$tmp/bp_mask.png" "$tmp/bar_full.png"
    save "$tmp/bar_full.png" barrepleine.png
}

# Dark slate behind the options group: the orange text on it needs a deep, even ground.
draw_parabg() {
    local W=370 H=320 S
    S="$(z $W)x$(z $H)"
    "$IM" -size 185x160 xc:gray50 -seed 7734 +noise Gaussian -channel G -separate +channel \
        -blur 0x0.7 -resize "$S!" "$tmp/pg_grain.png"
    "$IM" -size 46x40 xc:gray50 -seed 1291 +noise Random -channel G -separate +channel \
        -blur 0x2 -resize "$S!" -auto-level "$tmp/pg_cloud.png"
    # Cloudy slate with a fine grain, mapped onto a narrow band of warm near-blacks.
    "$IM" "$tmp/pg_cloud.png" "$tmp/pg_grain.png" -compose Blend -define compose:args=25 -composite \
        -auto-level +level-colors '#0a0807,#2c221b' "$tmp/pg_stone.png"
    "$IM" -size "$S" radial-gradient:'#ffffff-#000000' +level 45%,100% -level 0,70% \
        "$tmp/pg_vig.png"
    rmask $W $H 0 0 369 319 8 "$tmp/pg_outer.png"
    rmask $W $H 5 5 364 314 5 "$tmp/pg_inner.png"
    bronze_ring $W $H "$tmp/pg_outer.png" "$tmp/pg_inner.png" 1.5 "$tmp/pg_ring.png"
    # A second, hair-thin line inside the frame and a rune stud in every corner.
    "$IM" -size "$S" xc:none -fill none -stroke '#6a3e1c' -strokewidth 1 \
        -draw "${A}roundrectangle 10,10 359,309 3,3" \
        -stroke none -fill "$BRONZE_DK" \
        -draw "${A}polygon 12,4 20,12 12,20 4,12" -draw "${A}polygon 357,4 365,12 357,20 349,12" \
        -draw "${A}polygon 12,299 20,307 12,315 4,307" -draw "${A}polygon 357,299 365,307 357,315 349,307" \
        -fill "$BRONZE_HI" \
        -draw "${A}polygon 12,6 18,12 12,18 6,12" -draw "${A}polygon 357,6 363,12 357,18 351,12" \
        -draw "${A}polygon 12,301 18,307 12,313 6,307" -draw "${A}polygon 357,301 363,307 357,313 351,307" \
        -fill '#d8641a' \
        -draw "${A}polygon 12,9 15,12 12,15 9,12" -draw "${A}polygon 357,9 360,12 357,15 354,12" \
        -draw "${A}polygon 12,304 15,307 12,310 9,307" -draw "${A}polygon 357,304 360,307 357,310 354,307" \
        "$tmp/pg_orn.png"
    "$IM" "$tmp/pg_stone.png" "$tmp/pg_vig.png" -compose Multiply -composite \
        "$tmp/pg_outer.png" -alpha off -compose CopyOpacity -composite \
        "$tmp/pg_ring.png" -compose Over -composite \
        "$tmp/pg_orn.png" -compose Over -composite "$tmp/parabg.png"
    save "$tmp/parabg.png" parabg.png
}


# The emblem: a bronze medallion holding an ember-lit V. Tiny icons get a bolder cut of it
# (thicker rim, larger letter, no engraving) drawn big and reduced, so that 16 pixels still
# read as a V in a ring instead of a brown smudge.
medallion() { # medallion full|bold OUT
    local S=128 P rim letter pts
    P="$(z $S)x$(z $S)"
    if [ "$1" = full ]; then
        rim=12 letter=88
    else
        rim=18 letter=104
    fi
    "$IM" -size "$P" xc:black -fill white -draw "${A}circle 63.5,63.5 63.5,1.5" "$tmp/md_outer.png"
    "$IM" -size "$P" xc:black -fill white -draw "${A}circle 63.5,63.5 63.5,$((2 + rim))" \
        "$tmp/md_inner.png"
    bronze_ring $S $S "$tmp/md_outer.png" "$tmp/md_inner.png" 3 "$tmp/md_ring.png"
    "$IM" -size "$P" radial-gradient:'#6a2208-#0a0304' "$tmp/md_core_fill.png"
    clip "$tmp/md_core_fill.png" "$tmp/md_inner.png" "$tmp/md_core.png"

    "$IM" -size "$P" xc:black -font "$TITLE_FONT" -pointsize "$(z $letter)" -fill white \
        -gravity center -annotate "+0+$(z 4)" 'V' "$tmp/md_v_mask.png"
    "$IM" -size "$(z $S)x$(z 48)" gradient:'#fff4cc-#f4b450' \
        -size "$(z $S)x$(z 80)" gradient:'#e08a30-#8a4414' -append "$tmp/md_v_grad.png"
    clip "$tmp/md_v_grad.png" "$tmp/md_v_mask.png" "$tmp/md_v.png"
    "$IM" "$tmp/md_v_mask.png" -morphology Dilate Disk:"$(z 3)" "$tmp/md_v_edge_mask.png"
    "$IM" -size "$P" xc:'#1a0a04' "$tmp/md_v_edge_mask.png" -alpha off \
        -compose CopyOpacity -composite "$tmp/md_v_edge.png"
    "$IM" "$tmp/md_v_mask.png" -morphology Dilate Disk:"$(z 5)" -blur "0x$(z 9)" -level 0,60% \
        "$tmp/md_v_glow_mask.png"
    "$IM" -size "$P" xc:"$EMBER" "$tmp/md_v_glow_mask.png" -alpha off \
        -compose CopyOpacity -composite "$tmp/md_v_glow.png"

    pts=""
    if [ "$1" = full ]; then
        # Engraved ticks around the rim, one every thirty degrees, like a rune dial.
        pts="$(awk 'BEGIN { for (a = 0; a < 360; a += 30) { r = a * 3.14159265 / 180;
            printf "line %.1f,%.1f %.1f,%.1f ", 63.5 + 52 * sin(r), 63.5 - 52 * cos(r),
                63.5 + 58 * sin(r), 63.5 - 58 * cos(r) } }')"
    fi
    "$IM" -size "$P" xc:none -stroke "$BRONZE_DK" -strokewidth 2 -fill none \
        -draw "${A}${pts:-point 0,0}" -draw "${A}circle 63.5,63.5 63.5,$((3 + rim))" \
        "$tmp/md_ticks.png"

    "$IM" "$tmp/md_core.png" \
        "$tmp/md_v_glow.png" -compose Over -composite \
        "$tmp/md_ring.png" -compose Over -composite \
        "$tmp/md_ticks.png" -compose Over -composite \
        \( "$tmp/md_v_edge.png" -geometry "+$(z 2)+$(z 2)" \) -compose Over -composite +geometry \
        "$tmp/md_v_edge.png" -compose Over -composite \
        "$tmp/md_v.png" -compose Over -composite \
        "$tmp/md_outer.png" -alpha off -compose CopyOpacity -composite "$2"
}

draw_icon() {
    medallion full "$tmp/icon_full.png"
    save "$tmp/icon_full.png" iconlauncher.png
    # The .ico needs no twin: it already carries every size up to 128 pixels, from which
    # Windows picks for each density on its own.
    [ "$Z" = 1 ] || return 0
    medallion bold "$tmp/icon_bold.png"
    local n
    for n in 64 48; do
        "$IM" "$tmp/icon_full.png" -filter Lanczos -resize "${n}x${n}" "PNG32:$tmp/icon_$n.png"
    done
    for n in 32 16; do
        "$IM" "$tmp/icon_bold.png" -filter Lanczos -resize "${n}x${n}" -unsharp 0x0.6+0.6 \
            "PNG32:$tmp/icon_$n.png"
    done
    # Windows wants classic DIB entries below 256 pixels: every one 32-bit with its own alpha.
    "$IM" "$tmp/icon_16.png" "$tmp/icon_32.png" "$tmp/icon_48.png" "$tmp/icon_64.png" \
        "$tmp/icon_full.png" "ICO:$out/iconlauncher.ico"
}

# Realm status gems: a bronze-rimmed stone beside each realm's name, lit green when its logon
# server answers, ember red when it does not, ash grey while nothing is known. Cut big and
# reduced, so the rim stays a ring at 12 pixels; the @2x twins serve high-density screens.
draw_realm_status() {
    local S=96 name hi dk
    "$IM" -size "${S}x${S}" xc:black -fill white -draw "${A}circle 47.5,47.5 47.5,3.5" "$tmp/rs_outer.png"
    "$IM" -size "${S}x${S}" xc:black -fill white -draw "${A}circle 47.5,47.5 47.5,15.5" "$tmp/rs_inner.png"
    bronze_ring $S $S "$tmp/rs_outer.png" "$tmp/rs_inner.png" 2 "$tmp/rs_ring.png"
    # A soft highlight up and to the left, where the title's light comes from.
    "$IM" -size "${S}x${S}" xc:none -fill '#ffffffb0' -draw "${A}ellipse 38,34 11,7 0,360" -blur 0x3 \
        "$tmp/rs_shine.png"
    for name in up:'#a8ff90':'#0b4a16' down:'#ff5a40':'#6a0604' unknown:'#d0c8c0':'#38322e'; do
        IFS=: read -r name hi dk <<<"$name"
        "$IM" -size 130x130 radial-gradient:"$hi-$dk" -crop "${S}x${S}+28+30" +repage \
            "$tmp/rs_fill.png"
        clip "$tmp/rs_fill.png" "$tmp/rs_inner.png" "$tmp/rs_gem.png"
        "$IM" -size "${S}x${S}" xc:'#0a0503' "$tmp/rs_outer.png" -morphology Dilate Disk:2 -alpha off \
            -compose CopyOpacity -composite "$tmp/rs_gem.png" -compose Over -composite \
            "$tmp/rs_shine.png" -compose Over -composite "$tmp/rs_ring.png" -compose Over -composite \
            "$tmp/rs_$name.png"
        "$IM" "$tmp/rs_$name.png" -filter Lanczos -resize 12x12 "$tmp/rs_${name}_1.png"
        "$IM" "$tmp/rs_$name.png" -filter Lanczos -resize 24x24 "$tmp/rs_${name}_2.png"
        save "$tmp/rs_${name}_1.png" "realm$name.png"
        save "$tmp/rs_${name}_2.png" "realm$name@2x.png"
    done
}

for factor in 1 2; do
    scale $factor
    draw_load
    draw_play
    draw_options
    draw_para_buttons
    draw_cases
    draw_bars
    draw_parabg
    draw_icon
done
# The gems are reduced from one large drawing, which makes both of their sizes at once.
scale 1
draw_realm_status

#!/usr/bin/env bash
# Builds the Kalvora demo data set into demo/data/:
#   plan.jpg            ward floor plan (1080 x 760)
#   panel.jpg           seamless background tile for the call list
#   bed{0..19}.gif      idle bed pictograms, one per bed kind
#   greenbed{k}.gif     "calling" look, pulsing green halo
#   redbed{k}.gif       "overdue" look, fast blinking red halo
#   bill.gif            bill overlay, 25 x 25, 3 frames x 150 ms
#   call.wav, bill.wav  notification tones
#   fault.wav           lost-link alarm (tools/make-fault-sound.sh)
#   tables.txt          bed file (UTF-8, no BOM, CR LF)
#
# Needs: imagemagick, sox, gifsicle, fonts-dejavu-core (Debian packages).
# The output is deterministic: fixed seeds, no metadata, no timestamps.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$ROOT/demo/data"

FONT_DIR=/usr/share/fonts/truetype/dejavu
FONT="$FONT_DIR/DejaVuSans.ttf"
FONT_BOLD="$FONT_DIR/DejaVuSans-Bold.ttf"

# Keep ImageMagick single-threaded so results never depend on scheduling.
export MAGICK_THREAD_LIMIT=1
export LC_ALL=C.UTF-8

die() { echo "make-demo-data: $*" >&2; exit 1; }

need_tool() { # need_tool COMMAND DEBIAN_PACKAGE
    command -v "$1" >/dev/null 2>&1 || die "'$1' not found; install the Debian package '$2'"
}

check_tools() {
    need_tool convert imagemagick
    need_tool identify imagemagick
    need_tool sox sox
    need_tool gifsicle gifsicle
    local f
    for f in "$FONT" "$FONT_BOLD"; do
        [[ -f "$f" ]] || die "font $f not found; install the Debian package 'fonts-dejavu-core'"
    done
}

WORK=""
cleanup() { [[ -n "$WORK" ]] && rm -rf "$WORK"; }

# ---------------------------------------------------------------------------
# Ward geometry (plan pixels). Shared by the plan drawing and the bed file.
# ---------------------------------------------------------------------------
PLAN_W=1080
PLAN_H=760
BLD_L=20  BLD_R=1060 BLD_T=20 BLD_B=740      # outer wall centre lines
COR_T=330 COR_B=430                          # corridor wall centre lines
ROOM_X=(200 415 630 845 1060)                # room partitions, west to east
NORTH_BED_Y=(110 185 260)                    # bed rows in the north rooms
SOUTH_BED_Y=(500 575 650)                    # bed rows in the south rooms

WALL='#4a4f55'
FLOOR_ROOM='#f6f3ea'
FLOOR_CORRIDOR='#e8edf1'
FLOOR_STATION='#e6f2ea'
FLOOR_TREAT='#eaf0f7'
LABEL='#36404b'

# Room centre x for room column c (0..3).
room_cx() { echo $(( (ROOM_X[$1] + ROOM_X[$1 + 1]) / 2 )); }

# ---------------------------------------------------------------------------
# Plan: an MVG drawing assembled by small helpers, rendered in one go.
# ---------------------------------------------------------------------------
MVG=""
mvg() { MVG+="$*"$'\n'; }

# Filled axis-aligned box.
box() { # box X1 Y1 X2 Y2 FILL
    mvg "fill '$5' stroke none rectangle $1,$2 $3,$4"
}

# Wall along a centre line; T = thickness.
hwall() { local t=$4; box "$1" $(( $3 - t / 2 )) "$2" $(( $3 + t / 2 )) "$WALL"; } # hwall X1 X2 Y T
vwall() { local t=$4; box $(( $1 - t / 2 )) "$2" $(( $1 + t / 2 )) "$3" "$WALL"; } # vwall X Y1 Y2 T

# Window in a horizontal outer wall, centred at X.
window() { # window X Y
    local x=$1 y=$2
    mvg "fill '#d4e9f6' stroke '$WALL' stroke-width 1 rectangle $(( x - 26 )),$(( y - 5 )) $(( x + 26 )),$(( y + 5 ))"
    mvg "stroke '$WALL' stroke-width 1 line $(( x - 26 )),$y $(( x + 26 )),$y"
}

# Door in a horizontal wall at Y: gap from X (hinge) to X+44, leaf swinging
# into the room (DIR=-1 swings north, DIR=1 swings south).
door() { # door X Y DIR FLOOR
    local x=$1 y=$2 dir=$3 floor=$4 w=44
    box $(( x + 1 )) $(( y - 4 )) $(( x + w - 1 )) $(( y + 4 )) "$floor"
    local ey=$(( y + dir * w ))
    local sweep=0
    (( dir > 0 )) && sweep=1
    mvg "fill none stroke '$WALL' stroke-width 2 line $x,$y $x,$ey"
    mvg "fill none stroke '#9aa1a8' stroke-width 1 path 'M $x,$ey A $w,$w 0 0,$sweep $(( x + w )),$y'"
}

# Centred text.
text() { # text X Y SIZE FONT COLOUR STRING
    mvg "stroke none fill '$5' font '$4' font-size $3 text-anchor middle text $1,$2 '$6'"
}

# Faint bed footprint with a bedside table, centred on a marker point.
bed_outline() { # bed_outline X Y
    local x=$1 y=$2
    mvg "fill '#ece6d6' stroke '#cfc6b0' stroke-width 1 roundrectangle $(( x - 36 )),$(( y - 17 )) $(( x + 36 )),$(( y + 17 )) 4,4"
    mvg "fill '#f3efe4' stroke '#cfc6b0' stroke-width 1 roundrectangle $(( x - 33 )),$(( y - 13 )) $(( x - 21 )),$(( y + 13 )) 3,3"
    mvg "fill '#e4dcc8' stroke '#cfc6b0' stroke-width 1 rectangle $(( x + 44 )),$(( y - 9 )) $(( x + 60 )),$(( y + 9 ))"
}

# Wash basin in a room corner.
basin() { # basin X Y
    mvg "fill '#ffffff' stroke '#9aa1a8' stroke-width 1 roundrectangle $(( $1 - 11 )),$(( $2 - 8 )) $(( $1 + 11 )),$(( $2 + 8 )) 5,5"
    mvg "fill none stroke '#9aa1a8' stroke-width 1 circle $1,$2 $(( $1 + 2 )),$2"
}

make_plan() {
    MVG=""
    # Building floor, corridor, nurses' station, treatment room.
    box $BLD_L $BLD_T $BLD_R $BLD_B "$FLOOR_ROOM"
    box $BLD_L $COR_T $BLD_R $COR_B "$FLOOR_CORRIDOR"
    box $BLD_L $BLD_T "${ROOM_X[0]}" $COR_T "$FLOOR_STATION"
    box $BLD_L $COR_B "${ROOM_X[0]}" $BLD_B "$FLOOR_TREAT"

    # Faint floor tiles along the corridor.
    local x
    for (( x = BLD_L + 40; x < BLD_R; x += 40 )); do
        mvg "stroke '#dde3e8' stroke-width 1 line $x,$(( COR_T + 4 )) $x,$(( COR_B - 4 ))"
    done
    mvg "stroke '#dde3e8' stroke-width 1 line $BLD_L,380 $BLD_R,380"

    # Furniture first, walls over it.
    local c cx y
    for c in 0 1 2 3; do
        cx=$(room_cx $c)
        for y in "${NORTH_BED_Y[@]}" "${SOUTH_BED_Y[@]}"; do bed_outline "$cx" "$y"; done
        basin $(( ROOM_X[c + 1] - 22 )) $(( COR_T - 20 ))
        basin $(( ROOM_X[c + 1] - 22 )) $(( COR_B + 20 ))
    done

    # Nurses' station: L-shaped counter facing the corridor, desk chair.
    box 40 250 180 272 '#dcc9a6'
    box 40 200 60 250 '#dcc9a6'
    mvg "fill none stroke '#8c7b5d' stroke-width 1 path 'M 40,200 L 60,200 L 60,250 L 180,250 L 180,272 L 40,272 Z'"
    mvg "fill '#c5d3dc' stroke '#7d8a93' stroke-width 1 circle 120,228 120,238"
    # Medical cross above the label.
    box 104 92 116 124 '#2f7fb5'
    box 94 102 126 114 '#2f7fb5'
    text 110 158 15 "$FONT_BOLD" "$LABEL" 'Пост медсестры'

    # Treatment room: cabinet along the west wall, couch.
    box 30 470 52 640 '#dde4ec'
    mvg "fill none stroke '#8f9aa5' stroke-width 1 rectangle 30,470 52,640"
    mvg "fill '#f4f7fa' stroke '#8f9aa5' stroke-width 1 roundrectangle 110,520 160,640 6,6"
    text 110 712 15 "$FONT_BOLD" "$LABEL" 'Процедурная'

    # Outer walls with windows.
    hwall $(( BLD_L - 5 )) $(( BLD_R + 5 )) $BLD_T 10
    hwall $(( BLD_L - 5 )) $(( BLD_R + 5 )) $BLD_B 10
    vwall $BLD_L $(( BLD_T - 5 )) $(( BLD_B + 5 )) 10
    vwall $BLD_R $(( BLD_T - 5 )) $(( BLD_B + 5 )) 10
    window 110 $BLD_T
    window 110 $BLD_B
    for c in 0 1 2 3; do
        cx=$(room_cx $c)
        window $(( cx - 50 )) $BLD_T; window $(( cx + 50 )) $BLD_T
        window $(( cx - 50 )) $BLD_B; window $(( cx + 50 )) $BLD_B
    done

    # Corridor walls and room partitions.
    hwall $BLD_L $BLD_R $COR_T 6
    hwall $BLD_L $BLD_R $COR_B 6
    local px
    for px in "${ROOM_X[@]:0:4}"; do
        vwall "$px" $BLD_T $COR_T 6
        vwall "$px" $COR_B $BLD_B 6
    done

    # Station opens onto the corridor over most of its width.
    box 36 $(( COR_T - 4 )) 184 $(( COR_T + 4 )) "$FLOOR_STATION"
    # Treatment room door and ward room doors.
    door 34 $COR_B 1 "$FLOOR_TREAT"
    for c in 0 1 2 3; do
        door $(( ROOM_X[c] + 12 )) $COR_T -1 "$FLOOR_ROOM"
        door $(( ROOM_X[c] + 12 )) $COR_B 1 "$FLOOR_ROOM"
    done

    # Exit at the east end of the corridor.
    box $(( BLD_R - 6 )) 352 $(( BLD_R + 6 )) 408 "$FLOOR_CORRIDOR"
    text 1010 386 14 "$FONT_BOLD" '#3f7f52' 'Выход →'
    text 540 386 15 "$FONT" '#7b8792' 'Коридор'

    # Room names.
    for c in 0 1 2 3; do
        cx=$(room_cx $c)
        text "$cx" 56 17 "$FONT_BOLD" "$LABEL" "Палата $(( c + 1 ))"
        text "$cx" 716 17 "$FONT_BOLD" "$LABEL" "Палата $(( c + 5 ))"
    done

    # Ward name at the west end of the corridor.
    text 110 386 12 "$FONT" '#7b8792' 'Отделение, 3 этаж'

    convert -size ${PLAN_W}x${PLAN_H} xc:'#ffffff' -draw "$MVG" \
        -strip -sampling-factor 4:2:0 -quality 88 "$OUT/plan.jpg"
}

# ---------------------------------------------------------------------------
# Panel: a seamless light tile. Tiled blur of fixed-seed noise keeps the
# edges continuous; the grain is kept very faint under a calm tint.
# ---------------------------------------------------------------------------
make_panel() {
    convert -size 64x64 xc:gray50 -seed 4711 +noise Random -colorspace Gray \
        -virtual-pixel tile -blur 0x3 -auto-level +level 94%,100% -colorspace sRGB -type TrueColor \
        \( -size 64x64 xc:'#f1f3ea' \) -compose Multiply -composite \
        -strip -quality 92 "$OUT/panel.jpg"
}

# ---------------------------------------------------------------------------
# Bed pictograms. Drawn at 4x (144 px) and reduced to 36 px.
# Kinds 0..9: filled rounded square in the kind colour, white bed and number.
# Kinds 10..19: white disc ringed in the kind colour, coloured bed and number.
# The 4 px margin around the badge is where the call halos go.
# ---------------------------------------------------------------------------
ICON=36
KIND_COLOURS=('#1f6fb4' '#e8760c' '#8a5236' '#7d4fb3' '#119aa8'
              '#d0509f' '#8d9a12' '#5f6770' '#23406e' '#c99400')

# Bed glyph (side view: headboard, pillow, mattress, footboard) as MVG.
bed_glyph() { # bed_glyph COLOUR
    local c=$1
    echo "fill '$c' stroke none"
    echo "rectangle 34,30 43,80"          # headboard and head leg
    echo "rectangle 101,50 110,80"        # footboard and foot leg
    echo "rectangle 34,58 110,71"         # mattress
    echo "roundrectangle 48,46 70,57 4,4" # pillow
}

kind_badge() { # kind_badge K FILE
    local k=$1 file=$2
    local col=${KIND_COLOURS[$(( k % 10 ))]}
    local draw
    if (( k < 10 )); then
        draw="fill '$col' stroke '#20262c' stroke-width 3 roundrectangle 17,17 126,126 20,20
push graphic-context
$(bed_glyph '#ffffff')
pop graphic-context
fill '#ffffff' stroke none font '$FONT_BOLD' font-size 50 text-anchor middle text 72,117 '$k'"
    else
        draw="fill '#ffffff' stroke '$col' stroke-width 10 circle 72,72 72,17
fill none stroke '#20262c' stroke-width 3 circle 72,72 72,16
push graphic-context
affine 0.8,0,0,0.8,14,6
$(bed_glyph "$col")
pop graphic-context
fill '$col' stroke none font '$FONT_BOLD' font-size 40 kerning -2 text-anchor middle text 71,109 '$k'"
    fi
    convert -size 144x144 xc:none -draw "$draw" "PNG32:$file"
}

# Badge over a two-tone halo grown from its outline (radii in 4x pixels,
# 0 = no ring), reduced to icon size with a hard alpha edge for GIF.
halo_frame() { # halo_frame BADGE OUTER_R OUTER_COL INNER_R INNER_COL OUT.gif
    local badge=$1 ro=$2 co=$3 ri=$4 ci=$5 out=$6
    local layers=()
    if (( ro > 0 )); then
        layers+=( \( "$badge" -alpha extract -morphology Dilate "Disk:$ro" \
                     -background "$co" -alpha shape \) -compose Over -composite )
    fi
    if (( ri > 0 )); then
        layers+=( \( "$badge" -alpha extract -morphology Dilate "Disk:$ri" \
                     -background "$ci" -alpha shape \) -compose Over -composite )
    fi
    convert -size 144x144 xc:none "${layers[@]}" "$badge" -compose Over -composite \
        -resize ${ICON}x${ICON} -channel A -threshold 50% +channel \
        +dither -colors 255 "$out"
}

# Assemble GIF frames into a looping animation (or a still for one frame).
assemble_gif() { # assemble_gif DELAY_CS OUT FRAME...
    local delay=$1 out=$2
    shift 2
    if (( $# == 1 )); then
        gifsicle --no-comments --no-names --no-extensions "$1" -o "$out"
    else
        gifsicle --no-comments --no-names --no-extensions --no-warnings \
            --loopcount=forever --disposal=background --delay="$delay" "$@" -o "$out"
    fi
}

make_beds() {
    local k b f
    for (( k = 0; k < 20; k++ )); do
        b="$WORK/badge$k.png"
        f="$WORK/k$k"
        kind_badge "$k" "$b"

        # Idle: the pictogram alone.
        halo_frame "$b" 0 none 0 none "$f-idle.gif"
        assemble_gif 0 "$OUT/bed$k.gif" "$f-idle.gif"

        # Calling: green halo pulsing wide, mid, narrow, mid at 300 ms.
        halo_frame "$b" 16 '#58e06c' 9 '#0c8a2c' "$f-g0.gif"
        halo_frame "$b" 12 '#58e06c' 6 '#0c8a2c' "$f-g1.gif"
        halo_frame "$b" 0 none 5 '#0c8a2c' "$f-g2.gif"
        assemble_gif 30 "$OUT/greenbed$k.gif" "$f-g0.gif" "$f-g1.gif" "$f-g2.gif" "$f-g1.gif"

        # Overdue: red/maroon halo blinking on and off at 200 ms.
        halo_frame "$b" 17 '#ff3340' 9 '#800014' "$f-r0.gif"
        halo_frame "$b" 0 none 5 '#800014' "$f-r1.gif"
        assemble_gif 20 "$OUT/redbed$k.gif" "$f-r0.gif" "$f-r1.gif"
    done
}

# ---------------------------------------------------------------------------
# Bill overlay: 25 x 25 gold coin with a rouble sign, pulsing over 3 frames
# of 150 ms. Drawn at 4x (100 px) and reduced.
# ---------------------------------------------------------------------------
make_bill() {
    local i r glow frames=()
    local radii=(36 40 44) glows=('#f7d35a' '#ffe27a' '#fff0a8')
    for i in 0 1 2; do
        r=${radii[$i]}
        glow=${glows[$i]}
        convert -size 100x100 xc:none -draw "
fill '$glow' stroke '#8a5a00' stroke-width 4 circle 50,50 $(( 50 + r )),50
fill none stroke '#c88a00' stroke-width 3 circle 50,50 $(( 50 + r - 8 )),50
fill '#6b4300' stroke none font '$FONT_BOLD' font-size $(( r + 14 )) text-anchor middle text 51,$(( 50 + (r + 14) * 36 / 100 )) '₽'" \
            -resize 25x25 -channel A -threshold 50% +channel +dither -colors 255 \
            "$WORK/bill$i.gif"
        frames+=("$WORK/bill$i.gif")
    done
    assemble_gif 15 "$OUT/bill.gif" "${frames[@]}"
}

# ---------------------------------------------------------------------------
# Sounds: 16-bit PCM, 44.1 kHz, mono. Repeatable mode, no dither.
# call.wav: two-tone chime (high, then low), bill.wav: triple short beep,
# fault.wav: two-tone alarm (high-low-high-low).
# ---------------------------------------------------------------------------
SOX_OUT=(-D -r 44100 -e signed-integer -b 16 -c 1)

make_sounds() {
    sox -R -n "${SOX_OUT[@]}" "$WORK/ding.wav" synth 0.26 sine 880 sine 1760 \
        remix 1v0.8,2v0.2 fade q 0.01 0.26 0.12
    sox -R -n "${SOX_OUT[@]}" "$WORK/dong.wav" synth 0.40 sine 659.25 sine 1318.5 \
        remix 1v0.8,2v0.2 fade q 0.01 0.40 0.25
    sox -R "$WORK/ding.wav" "$WORK/dong.wav" "${SOX_OUT[@]}" "$OUT/call.wav" vol 0.45

    sox -R -n "${SOX_OUT[@]}" "$WORK/beep.wav" synth 0.08 square 1400 \
        lowpass 4000 fade q 0.008 0.08 0.015
    sox -R -n "${SOX_OUT[@]}" "$WORK/gap.wav" trim 0 0.06
    sox -R "$WORK/beep.wav" "$WORK/gap.wav" "$WORK/beep.wav" "$WORK/gap.wav" "$WORK/beep.wav" \
        "${SOX_OUT[@]}" "$OUT/bill.wav" vol 0.3

    "$ROOT/tools/make-fault-sound.sh" "$OUT/fault.wav"
}

# ---------------------------------------------------------------------------
# Bed file: code;x;y;kind;name;cancelcode, UTF-8 without BOM, CR LF.
# North rooms (Палата 1..4) hold beds 101..112, south rooms (Палата 5..8)
# hold beds 201..212, three beds per room stacked down the room's centre.
# ---------------------------------------------------------------------------
BED_KINDS=(3 0 7  1 12 5  9 2 14  6 11 4    # 101..112
           8 15 10  13 16 19  17 18 3  0 5 12) # 201..212

make_tables() {
    local file="$OUT/tables.txt"
    : > "$file"
    local side c b n code x y kind name i=0
    for side in 1 2; do
        for c in 0 1 2 3; do
            x=$(room_cx $c)
            for b in 0 1 2; do
                n=$(( c * 3 + b + 1 ))
                code=$(( side * 100 + n ))
                if (( side == 1 )); then y=${NORTH_BED_Y[$b]}; else y=${SOUTH_BED_Y[$b]}; fi
                kind=${BED_KINDS[$i]}
                name="Палата $(( (side - 1) * 4 + c + 1 )), койка $(( b + 1 ))"
                printf '%s;%s;%s;%s;%s;%sC\r\n' "$code" "$x" "$y" "$kind" "$name" "$code" >> "$file"
                i=$(( i + 1 ))
            done
        done
    done
}

main() {
    check_tools
    WORK="$(mktemp -d)"
    trap cleanup EXIT
    mkdir -p "$OUT"
    make_plan
    make_panel
    make_beds
    make_bill
    make_sounds
    make_tables
    echo "demo data written to $OUT"
}

main "$@"

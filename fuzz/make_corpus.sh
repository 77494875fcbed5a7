#!/usr/bin/env bash
# Writes the seed corpus of the fuzz targets: small OBJ files into <folder>/obj, small
# MTL files into <folder>/mtl and small MDD caches into <folder>/mdd (default folder:
# build-fuzz/corpus). The output is
# the same bytes on every run: no clock, no randomness.
#
# fuzz_obj takes four option bytes before the file (fuzz/fuzz_options.h): every OBJ seed
# starts with its option word, written little-endian. A seed may carry a material
# library after the separator line "--- fuzz.mtl ---".
set -euo pipefail
export LC_ALL=C

out=${1:-build-fuzz/corpus}
mkdir -p "$out/obj" "$out/mtl" "$out/mdd"
rm -f "$out"/obj/*.obj "$out"/mtl/*.mtl "$out"/mdd/*.mdd

# Option word bits of fuzz_obj.
SWAP_YZ=$((1 << 0)) NEGATE_Z=$((1 << 1)) NEGATE_X=$((1 << 2)) FLIP_U=$((1 << 3)) FLIP_V=$((1 << 4))
REVERSE=$((1 << 5)) WHOLE_NAMES=$((1 << 6)) REVERSE_NORMALS=$((1 << 7)) LINES=$((1 << 8)) LINES_AS_FACES=$((1 << 9))
MERGE=$((1 << 10)) PER_GROUP=$((1 << 11)) PER_MESH=$((1 << 12)) PER_REGION=$((1 << 13)) PER_MATERIAL=$((1 << 14))
SPLINE_PER_SEGMENT=$((1 << 15))
block() { echo $(($1 << 16)); }  # the text reader's block size, 1..4096

le32() {
  local w=$1
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((w & 255)) $((w >> 8 & 255)) $((w >> 16 & 255)) $((w >> 24 & 255)))"
}

# obj NAME WORD: the option word, then standard input.
obj() {
  { le32 "$2"; cat; } >"$out/obj/$1.obj"
}
# with_mtl OBJ-TEXT MTL-TEXT: one fuzz_obj input of both files.
with_mtl() {
  printf '%s\n--- fuzz.mtl ---\n%s' "$1" "$2"
}
# mtl NAME: standard input.
mtl() {
  cat >"$out/mtl/$1.mtl"
}

square='v 0 0 0
v 1 0 0
v 1 1 0
v 0 1 0
vt 0 0
vt 1 0
vt 1 1
vt 0 1
vn 0 0 1
vn 0 0 1
vn 0 0 1
vn 0 0 1
'

# --- OBJ: statements and face forms ----------------------------------------------------

obj triangle 0 <<'EOF'
v 0 0 0
v 1 0 0
v 0 1 0
f 1 2 3
EOF

obj face_forms 0 <<EOF
${square}f 1 2 3 4
f 1/1 2/2 3/3 4/4
f 1/1/1 2/2/2 3/3/3 4/4/4
f 1//1 2//2 3//3 4//4
f 1/1/ 2/2/ 3/3/ 4/4/
f 1// 2// 3// 4//
f 1/ 2/ 3/ 4/
f 1/1/1 2//2 3 4/4
f 1 2
f
EOF

obj face_forms_small_blocks $(block 7) <<EOF
${square}f 1 2 3
f 1/1 2/2 3/3
f 1/1/1 2/2/2 3/3/3
f 1//1 2//2 3//3
f 1/1/ 2/2/ 3/3/
f 1// 2// 3//
f 1/ 2/ 3/
EOF

obj negative_indices 0 <<EOF
${square}f -4 -3 -2 -1
f -4/-4/-4 -3/-3/-3 -2/-2/-2
f -1//-1 -2//-2 -3//-3
v 2 2 2
f -1 -2 -5
EOF

obj indices_out_of_range 0 <<EOF
${square}f 0 1 2
f 1 2 5
f 1/9/1 2/2/9 3/3/3
f -5 -1 -2
f 99999999999 1 2
f 99999999999999999999999 1 2 3
f -99999999999999999999999 1 2
f 2147483648 1 2
f -2147483649 1 2
EOF

obj face_before_vertices 0 <<'EOF'
f 1 2 3
v 0 0 0
v 1 0 0
v 0 1 0
f 1 2 3 4 5
EOF

obj only_comments 0 <<'EOF'
# nothing but comments
# r not a region without a name
#
EOF

printf '' | obj empty 0
printf 'v 1 2 3' | obj no_final_newline 0
printf 'v 1 2 3\nf 1 1 1' | obj degenerate_no_newline $(block 1)
printf '\0\0\0' >"$out/obj/short_option_word.obj"

obj numbers 0 <<'EOF'
v 1e308 -1e308 1e-320
v nan inf -inf
v 0x1p3 1.5e 2.
v +1 -0 .5
v 1 2
v a b c
v 1 2 3 4 5
vt 0.5
vt 0.5 0.5 0.5 0.5
vt x y
vn 0 0 0
vn 0 0 5
vn 1e-300 1e-300 1e-300
vn 1e300 1e300 1e300
vn 1 2
f 1 2 3
f 4 5 6
EOF

obj transforms $((SWAP_YZ | NEGATE_Z | NEGATE_X | FLIP_U | FLIP_V | REVERSE_NORMALS | REVERSE)) <<EOF
${square}v 1 2 3
f 1/1/1 2/2/2 3/3/3 4/4/4
f 5 1 2 3 4
EOF

obj statements 0 <<EOF
mtllib scene.mtl
mtllib a.mtl b.mtl c.mtl
mtllib C:\\models\\dir/sub:drive\\name.mtl
mtllib
o first object
${square}g front
usemtl red
# r region one
f 1 2 3
o
g
usemtl
# r
f 1 3 4
s 1
s off
vp 0.5
mg 1 0.5
cstype bezier
deg 3
oops this is no statement
gx starts with g
oy starts with o
fo 1 2 3
lo 1 2
EOF

obj group_names 0 <<EOF
${square}g a b c
f 1 2 3
g  a	b   c  
f 1 3 4
g single
f 1 2 4
g a b c
f 2 3 4
EOF

obj group_names_whole $WHOLE_NAMES <<EOF
${square}g a b c
f 1 2 3
g  a	b   c  
f 1 3 4
g c b a
f 1 2 4
g a
f 2 3 4
EOF

obj names_with_blanks 0 <<EOF
${square}usemtl my mat
o my	object  name
# r my region
g my group
f 1 2 3 4
usemtl my mat
o my_object_name
f 1 2 3
EOF

obj regions 0 <<EOF
${square}# r left
f 1 2 3
# r right
f 1 3 4
# r left
f 2 3 4
#r no blank
# rx not a region
# r
EOF

obj many_materials_groups 0 <<EOF
${square}$(for i in 0 1 2 3 4 5 6 7 8 9; do printf 'usemtl m%d\ng g%d\n# r r%d\no o%d\nf 1 2 3\n' $i $((i % 3)) $((i % 2)) $((i % 4)); done)
EOF

obj continuation 0 <<EOF
${square}f 1 2 \\
3 4
v 5 \\
5 5
f 1 \\
 2 \\
 3
g long \\
name
# comment ends in backslash \\
f 1 2 3
f 1 2 3 \\
EOF

obj crlf_pairs 0 < <(printf '%s' "${square}g crlf group
usemtl crlf_mat
f 1/1/1 2/2/2 3/3/3 4/4/4
l 1 2
" | sed 's/$/\r/')

obj cr_only 0 < <(printf '%s' "${square}f 1 2 3
f 1 3 4
" | tr '\n' '\r')

obj tabs_and_blanks 0 <<EOF
   v	0	0	0
	v 1 0 0
v   0   1   0
f	1	2	3
f  1 2   3   
   f 1/1/1	2/2/2	3/3/3
EOF

# --- OBJ: lines ------------------------------------------------------------------------

lines_body="${square}l 1 2
l 1 2 3 4
l 1/1 2/2 3/3
l 1/1/1 2/2/2
l 1// 2// 3//
l 1/ 2/
l -1 -2
l 1
l 0 9
l
"
obj lines_ignored 0 <<<"$lines_body"
obj lines_as_segments $LINES <<<"$lines_body"
obj lines_as_faces $((LINES | LINES_AS_FACES)) <<<"$lines_body"
obj lines_only_faces_bit $LINES_AS_FACES <<<"$lines_body"

# --- OBJ: n-gons -----------------------------------------------------------------------

# A regular polygon of n corners (counter-clockwise), then one face over them.
regular() {
  local n=$1
  awk -v n="$n" 'BEGIN {
    for (i = 0; i < n; i++) printf "v %.6f %.6f 0\n", cos(2 * 3.14159265358979 * i / n), sin(2 * 3.14159265358979 * i / n)
    printf "f"; for (i = 1; i <= n; i++) printf " %d", i; printf "\n" }'
}
regular 5 | obj ngon_5 0
regular 6 | obj ngon_6_reversed $REVERSE
regular 12 | obj ngon_12 0
regular 40 | obj ngon_40 0

# A star of 10 corners: concave.
awk 'BEGIN {
  for (i = 0; i < 10; i++) { r = (i % 2) ? 0.4 : 1.0
    printf "v %.6f %.6f 0\nvt %.6f %.6f\n", r * cos(0.6283185307 * i), r * sin(0.6283185307 * i), i / 10, r }
  printf "vn 0 0 1\nf"; for (i = 1; i <= 10; i++) printf " %d/%d/1", i, i; printf "\n" }' | obj ngon_star_concave 0

# A comb: deeply concave, 20 corners.
awk 'BEGIN {
  for (i = 0; i < 8; i++) printf "v %g %g 0\nv %g %g 0\n", i, (i % 2) ? 1 : 5, i + 0.5, (i % 2) ? 5 : 1
  printf "v 8 0 0\nv 8 -1 0\nv 0 -1 0\nv -0.5 0 0\nf"; for (i = 1; i <= 20; i++) printf " %d", i; printf "\n" }' | obj ngon_comb 0

# A square with a square hole, written as one outline through a bridge (the way holes are
# written in OBJ): outer ring, across, inner ring the other way, back.
obj ngon_holed 0 <<'EOF'
v 0 0 0
v 4 0 0
v 4 4 0
v 0 4 0
v 1 1 0
v 1 3 0
v 3 3 0
v 3 1 0
f 1 2 3 4 1 5 6 7 8 5
EOF
# The same with a hair's gap at the bridge, so no corner repeats.
obj ngon_holed_gap 0 <<'EOF'
v 0 0 0
v 4 0 0
v 4 4 0
v 0 4 0
v 0 0.001 0
v 1 1.001 0
v 1 3 0
v 3 3 0
v 3 1 0
v 1 1 0
f 1 2 3 4 5 6 7 8 9 10
EOF

obj ngon_degenerate 0 <<'EOF'
v 0 0 0
v 1 0 0
v 2 0 0
v 3 0 0
v 4 0 0
v 0 0 0
f 1 2 3 4 5
f 1 1 1 1 1
f 1 6 2 6 3
f 1 2 3 4 5 6
f 1 3 2 4 5
EOF

obj ngon_self_crossing 0 <<'EOF'
v 0 0 0
v 2 2 0
v 2 0 0
v 0 2 0
v 1 3 0
f 1 2 3 4 5
EOF

obj ngon_non_planar 0 <<'EOF'
v 0 0 0
v 1 0 1
v 2 0 0
v 2 1 1
v 1 2 0
v 0 1 1
f 1 2 3 4 5 6
f 1/1 2/2 3/3 4/4 5/5 6/6
f 1//1 2//1 3//1 4//1 5//1 6//1
EOF

# --- OBJ: long input -------------------------------------------------------------------

# A face of 600 corners (more than a face line may hold) and a line longer than the
# reader's line buffer.
regular 600 | obj ngon_600_corners 0
awk 'BEGIN { printf "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3"; for (i = 0; i < 1200; i++) printf " 1 2 3"; printf "\n" }' |
  obj long_face_line 0
awk 'BEGIN { printf "v 0 0 0\nv 1 0 0\nv 0 1 0\ng "; for (i = 0; i < 400; i++) printf "n%03d ", i; printf "\nf 1 2 3\n" }' |
  obj long_group_line $WHOLE_NAMES
awk 'BEGIN { printf "v 0 0 0\nv 1 0 0\nv 0 1 0\n"; for (k = 0; k < 4; k++) {
  printf (k == 0 ? "o " : k == 1 ? "usemtl " : k == 2 ? "# r " : "mtllib ")
  for (i = 0; i < 300; i++) printf "%c", 97 + i % 26; printf "\n" } printf "f 1 2 3\n" }' | obj long_names 0
awk 'BEGIN { for (i = 0; i < 2000; i++) printf "v %d 0 0\n", i; printf "l"; for (i = 1; i <= 2000; i++) printf " %d", i; printf "\n" }' |
  obj long_segment $LINES
awk 'BEGIN { printf "v 1 2 3"; for (i = 0; i < 3000; i++) printf " "; printf "4\nf 1 1 1\n" }' | obj long_blank_run $(block 64)

# At the capacities: faces of 500 and 501 corners, lines of 2040 to 2052 characters
# around the 2047 a line may hold, names of 250 to 262 characters around the 255 kept.
regular 500 | obj ngon_500_corners 0
regular 501 | obj ngon_501_corners 0
awk 'BEGIN { printf "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
  for (k = 2040; k <= 2052; k++) { printf "g "; for (i = 2; i < k; i++) printf "%c", 97 + i % 26; printf "\nf 1 2 3\n" } }' |
  obj line_lengths 0
awk 'BEGIN { printf "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
  for (k = 250; k <= 262; k++) { n = ""; for (i = 0; i < k; i++) n = n sprintf("%c", 97 + (i + k) % 26)
    printf "usemtl %s\no %s\n# r %s\nmtllib %s.mtl\ng %s %s\nf 1 2 3\n", n, n, n, n, n, n } }' |
  obj name_lengths $WHOLE_NAMES
obj index_extremes 0 <<'EOF'
v 0 0 0
v 1 0 0
v 0 1 0
vt 0 0
vn 0 0 1
f 2147483647/2147483647/2147483647 -2147483648/-2147483648/-2147483648 0/0/0
f 9223372036854775807 -9223372036854775808 1
f 1 2 3 -4 -5 -6 99 0
l 2147483647 -2147483648
EOF

# The same small scene at several block sizes, so lines straddle block ends.
for b in 1 2 3 16 100 4096; do
  printf '%s' "${square}g g1
usemtl m1
f 1/1/1 2/2/2 3/3/3 4/4/4
f 1 2 3 \\
4
" | obj "block_$b" "$(block "$b")"
done

# --- OBJ: with its material library ------------------------------------------------------

scene="mtllib fuzz.mtl
${square}usemtl red
f 1 2 3
usemtl red_again
f 1 3 4
usemtl green
f 2 3 4
usemtl not_in_library
f 1 2 4
usemtl red
f 1/1/1 2/2/2 3/3/3 4/4/4
"
library="newmtl red
Kd 1 0 0
Ks 0.5 0.5 0.5
newmtl red_again
Kd 1 0 0
Ks 0.5 0.5 0.5
newmtl green
Kd 0 1 0
map_Kd green.png
bump -bm 2 bump.png
newmtl unused
Kd 0 0 1
d 0.5
newmtl red
Kd 0.9 0 0
"
with_mtl "$scene" "$library" | obj library 0
with_mtl "$scene" "$library" | obj library_merged $MERGE
with_mtl "$scene" "$library" | obj library_merged_small_blocks $((MERGE | $(block 5)))
# A scene with every kind of entry, in each object layout and with one spline per line
# element.
layouts="mtllib fuzz.mtl
${square}v 3 1 0
v 1 3 0
vt 0 0
vt 1 0
vt 1 1
vn 0 0 1
o body
g arm left
usemtl red
# r front
f 1/1/1 2/2/1 3/3/1 4/1/1
f 1 2 5 3 6
g torso
usemtl green
# r back
f 1/1 2/2 3/3
o wire
g torso
l 1 2 3
l 4 5
"
with_mtl "$layouts" "$library" | obj layout_per_group $((PER_GROUP | LINES))
with_mtl "$layouts" "$library" | obj layout_per_mesh $((PER_MESH | LINES | SPLINE_PER_SEGMENT))
with_mtl "$layouts" "$library" | obj layout_per_region $((PER_REGION | REVERSE | LINES))
with_mtl "$layouts" "$library" | obj layout_per_material $((PER_MATERIAL | MERGE | LINES | WHOLE_NAMES))
with_mtl "$scene" "" | obj library_empty $MERGE
obj library_missing $MERGE <<<"$scene"
with_mtl "${scene/mtllib fuzz.mtl/mtllib input.obj}" "" | obj library_is_the_obj $MERGE
with_mtl "${scene/mtllib fuzz.mtl/mtllib ..}" "" | obj library_is_a_folder $MERGE
with_mtl "${scene/mtllib fuzz.mtl/mtllib C:\\textures/fuzz.mtl}" "$library" | obj library_with_folders $MERGE
awk 'BEGIN { printf "mtllib fuzz.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
  for (i = 0; i < 40; i++) printf "usemtl m%d\nf 1 2 3\n", i
  printf "\n--- fuzz.mtl ---\n"
  for (i = 0; i < 40; i++) printf "newmtl m%d\nKd %d 0 0\nNs %d\n", i, i % 3, i % 2 }' | obj library_many_merged $MERGE

# --- MTL -------------------------------------------------------------------------------

mtl full <<'EOF'
# every statement
newmtl full
Ka 0.1 0.2 0.3
Kd 0.4 0.5 0.6
Ks 0.7 0.8 0.9
Ke 0.1 0.1 0.1
Ns 96.078431
Ni 1.5
d 0.75
Tr 0.25
Tf 0.9 0.8 0.7
illum 2
map_Ka ambient.png
map_Kd diffuse.png
map_Ks specular.png
map_Ns shininess.png
map_d alpha.png
map_bump bump.png
map_Bump bump2.png
bump bump3.png
disp displacement.png
decal decal.png
refl -type sphere reflection.png
EOF

mtl several <<'EOF'
newmtl red
Kd 1 0 0
newmtl green
Kd 0 1 0
illum 1
newmtl blue
Kd 0 0 1
d 0.5
newmtl red
Kd 0.9 0 0
EOF

mtl map_options <<'EOF'
newmtl options
map_Kd -s 1 1 1 -o 0 0 0 -bm 0.5 texture.png
map_Kd -clamp on -blendu off tex with blanks.png
bump -bm 2 -imfchan l bump.tga
map_Kd C:\textures\wall.jpg
map_Kd ../relative/path/tex.tif
map_Kd
bump
disp -mm 0 1
EOF

mtl values_bad <<'EOF'
Kd 1 1 1
newmtl
newmtl bad values
Ka
Ka 1
Kd x y z
Ks 1e999 -1e999 nan
Ns -5
Ni
d 2
d -1
Tf 1
illum
illum 99
illum -1
newmtl after
Kd 0.5 0.5 0.5
EOF

mtl names <<'EOF'
newmtl name with blanks
Kd 0.1 0.1 0.1
newmtl	tabbed	name
Kd 0.2 0.2 0.2
newmtl default_Mat
Kd 0.3 0.3 0.3
EOF

printf '' | mtl empty
mtl only_comments <<'EOF'
# a comment
#newmtl not a material
EOF

printf 'newmtl crlf\nKd 0.5 0.5 0.5\nmap_Kd tex.png\nillum 2\n' | sed 's/$/\r/' | mtl crlf
printf 'newmtl no_newline\nKd 1 1 1' | mtl no_final_newline

awk 'BEGIN { printf "newmtl "; for (i = 0; i < 3000; i++) printf "%c", 97 + i % 26
  printf "\nKd 1 1 1\nmap_Kd "; for (i = 0; i < 3000; i++) printf "%c", 65 + i % 26; printf ".png\n" }' | mtl long_lines

awk 'BEGIN { for (i = 0; i < 200; i++) printf "newmtl m%d\nKd %.3f %.3f %.3f\nNs %d\nd %.2f\nillum %d\n", i, i / 200, 1 - i / 200, 0.5, i, (i % 10) / 10, i % 11 }' |
  mtl many

# --- MDD: big-endian caches (fuzz_mdd reads the whole input as the file) -------------

be32() {
  local w=$(( $1 & 0xffffffff ))
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((w >> 24 & 255)) $((w >> 16 & 255)) $((w >> 8 & 255)) $((w & 255)))"
}
# float bits of a few values, written as integers
F0=0 F_HALF=$((0x3f000000)) F1=$((0x3f800000)) F2=$((0x40000000)) F3=$((0x40400000)) F_NEG=$((0xbf800000))
# mdd NAME FRAMES POINTS: the header, a time table 0, 0.5, 1, ... and FRAMES x POINTS vectors.
mdd() {
  local name=$1 frames=$2 points=$3 k i
  {
    be32 "$frames"
    be32 "$points"
    for ((k = 0; k < frames; k++)); do be32 $((k == 0 ? F0 : k == 1 ? F_HALF : k == 2 ? F1 : F2)); done
    for ((k = 0; k < frames; k++)); do
      for ((i = 0; i < points; i++)); do be32 $(((k + i) % 2 ? F1 : F_NEG)); be32 $F2; be32 $((i % 3 ? F3 : F0)); done
    done
  } >"$out/mdd/$name.mdd"
}

mdd one_frame 1 1
mdd two_frames 2 3
mdd four_frames 4 5
mdd wide 2 40
# A file of another writer: times from 1.5 s.
{ be32 2; be32 1; be32 $((0x3fc00000)); be32 $((0x40000000)); be32 $F1; be32 $F2; be32 $F3; be32 $F_NEG; be32 $F0; be32 $F1; } >"$out/mdd/other_writer.mdd"
# Cut short: the header promises 3 frames, the file holds 2 and a half.
mdd short_source 3 2
head -c $((8 + 12 + 24 * 2 + 12)) "$out/mdd/short_source.mdd" >"$out/mdd/short.mdd"
rm -f "$out/mdd/short_source.mdd"
# Headers that cannot be right.
{ be32 -1; be32 4; } >"$out/mdd/negative_frames.mdd"
{ be32 2; be32 0; be32 0; be32 0; } >"$out/mdd/no_points.mdd"
{ be32 $((0x7fffffff)); be32 $((0x7fffffff)); be32 0; } >"$out/mdd/huge_counts.mdd"
printf 'abc' >"$out/mdd/tiny.mdd"
printf '' >"$out/mdd/empty.mdd"

# Scenes for fuzz_scene: the payloads (past the 24-byte header) of scene files the shell
# of the same build writes — the example scenes and the bundled sample imported.
mkdir -p "$out/scene" "$out/export"
rm -f "$out"/scene/*.bin "$out"/export/*.bin
shell="$(dirname "$out")/bin/kelvane"
if [ -x "$shell" ]; then
  tmp=$(mktemp -d)
  run() { ASAN_OPTIONS=detect_leaks=0 KELVANE_SETTINGS_DIR="$tmp/settings" "$shell" --no-progress "$@" >/dev/null 2>&1; }
  for kind in demo cube plane wave; do run scene make "$kind" -o "$tmp/$kind.kscn"; done
  run scene make grid --segments 3 --polygonize -o "$tmp/grid.kscn"
  run scene make demo --polygonize -o "$tmp/flat.kscn"
  run import samples/robot.obj --preset "Default Import Options" -o "$tmp/robot.kscn"
  for scene in "$tmp"/*.kscn; do tail -c +25 "$scene" >"$out/scene/$(basename "$scene" .kscn).bin"; done
  # fuzz_export: the same payloads after an option word (fuzz/fuzz_export.cpp): nothing
  # but the vertices, everything in one file, and everything a file per object.
  for scene in "$out"/scene/*.bin; do
    name=$(basename "$scene" .bin)
    for word in 0 65535 131071; do { le32 "$word"; cat "$scene"; } >"$out/export/$name-$word.bin"; done
  done
  rm -rf "$tmp"
else
  echo "make_corpus: no shell at $shell; fuzz_scene starts without seeds" >&2
fi

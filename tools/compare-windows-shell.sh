#!/usr/bin/env bash
# The README's main job run by the Linux shell and by the Windows shell under wine, in
# the same folders with the same relative paths: the printed text must agree line for
# line (line ends and the timing line aside) and the files written (an MDD cache and an
# OBJ/MTL export of the imported scene) must be byte-identical. The scene file holds the
# document's absolute folder (Z:\... under wine), so where it differs, both scenes are
# read by the Linux shell and must show the same.
# Usage: compare-windows-shell.sh LINUX_BIN WINDOWS_BIN WINE [OUT]   (from the repository
# root; WINEPREFIX set by the caller; OUT defaults to build-windows/compare)
set -uo pipefail
linux_bin=$1 windows_bin=$2 wine=$3
out=${4:-build-windows/compare}
rm -rf "$out"
mkdir -p "$out/linux" "$out/windows" "$out/settings-linux" "$out/settings-windows"

run_both() {  # name, arguments with @OUT@ standing for the side's output folder
  local name=$1
  shift
  local linux_args=() windows_args=()
  for a in "$@"; do
    linux_args+=("${a//@OUT@/$out/linux}")
    windows_args+=("${a//@OUT@/$out/windows}")
  done
  KELVANE_SETTINGS_DIR=$out/settings-linux "$linux_bin/kelvane" --no-progress "${linux_args[@]}" \
    >"$out/linux/$name.txt" 2>&1
  echo "exit $?" >>"$out/linux/$name.txt"
  KELVANE_SETTINGS_DIR=$out/settings-windows "$wine" "$windows_bin/kelvane.exe" --no-progress "${windows_args[@]}" \
    >"$out/windows/$name.raw" 2>&1
  echo "exit $?" >>"$out/windows/$name.raw"
  tr -d '\r' <"$out/windows/$name.raw" >"$out/windows/$name.txt"
}

run_both plugins plugins
run_both import import samples/robot.obj --preset "Default Import Options" -o @OUT@/sample.kscn
run_both show scene show @OUT@/sample.kscn
run_both mdd mdd export @OUT@/sample.kscn --object "robot.obj/robot.obj" -o @OUT@/robot.mdd --frames 0:3
run_both export export @OUT@/sample.kscn -o @OUT@/export/sample.obj

# Both scene files read by the Linux shell show the same.
SameScene() {
  local side
  for side in linux windows; do
    "$linux_bin/kelvane" scene show "$out/$side/$1" >"$out/$side/$1.show" 2>&1 || return 1
    sed -i "s#$out/$side#OUT#g" "$out/$side/$1.show"
  done
  diff "$out/linux/$1.show" "$out/windows/$1.show" >"$out/scene.diff"
}

failed=0
for name in plugins import show mdd export; do
  # The output folder's name and the time taken differ by design; the Windows shell
  # writes its paths with '\'.
  normal() { tr '\\' / <"$1" | sed -e "s#$out/[a-z]*#OUT#g" -e '/^  time: /d'; }
  if diff <(normal "$out/linux/$name.txt") <(normal "$out/windows/$name.txt") >"$out/$name.diff"; then
    echo "  same output on Linux and under wine: kelvane $name"
  else
    echo "  DIFFERENT output under wine: kelvane $name (see $out/$name.diff)"
    head -20 "$out/$name.diff" | sed 's/^/      /'
    failed=1
  fi
done
for file in sample.kscn robot.mdd export/sample.obj export/sample.mtl; do
  if [ -f "$out/linux/$file" ] && cmp -s "$out/linux/$file" "$out/windows/$file"; then
    echo "  byte-identical on Linux and under wine: $file ($(stat -c %s "$out/linux/$file") bytes)"
  elif [ "${file##*.}" = kscn ] && SameScene "$file"; then
    echo "  the same scene on Linux and under wine: $file (read back by the Linux shell; the files hold each system's folder)"
  else
    echo "  DIFFERENT or missing under wine: $file"
    failed=1
  fi
done
exit $failed

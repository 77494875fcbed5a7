#!/usr/bin/env bash
# The README's main job run by the Linux shell and by the Windows shell under wine, in
# the same folders with the same relative paths: the printed text must agree line for
# line (line ends and the timing line aside) and the files written (the imported scene,
# an MDD cache exported from it) must be byte-identical.
# Usage: compare-windows-shell.sh LINUX_BIN WINDOWS_BIN WINE   (from the repository root;
# WINEPREFIX set by the caller)
set -uo pipefail
linux_bin=$1 windows_bin=$2 wine=$3
out=build-windows/compare
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

failed=0
for name in plugins import show mdd; do
  # The output folder's name and the time taken differ by design.
  normal() { sed -e "s#$out/[a-z]*#OUT#g" -e '/^  time: /d' "$1"; }
  if diff <(normal "$out/linux/$name.txt") <(normal "$out/windows/$name.txt") >"$out/$name.diff"; then
    echo "  same output on Linux and under wine: kelvane $name"
  else
    echo "  DIFFERENT output under wine: kelvane $name (see $out/$name.diff)"
    head -20 "$out/$name.diff" | sed 's/^/      /'
    failed=1
  fi
done
for file in sample.kscn robot.mdd; do
  if [ -f "$out/linux/$file" ] && cmp -s "$out/linux/$file" "$out/windows/$file"; then
    echo "  byte-identical on Linux and under wine: $file ($(stat -c %s "$out/linux/$file") bytes)"
  else
    echo "  DIFFERENT or missing under wine: $file"
    failed=1
  fi
done
exit $failed

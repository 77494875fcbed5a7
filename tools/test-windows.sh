#!/usr/bin/env bash
# make test-windows: installs the MinGW-w64 cross compiler and wine32 when missing,
# builds the windows-i686 preset (the shell, the plug-in DLL and the test programs) and
# runs every test program under wine in a fresh wine prefix. Prints the test cases passed
# and failed per program and in total, like ctest, then compares the README's main job
# run by the Linux shell and under wine; fails when anything failed.
# KELVANE_WINDOWS_ARCH=x86_64 (make test-windows64) does the same with the 64-bit build
# and wine64, for machines whose system cannot run 32-bit programs.
# KELVANE_WINE=/path/to/wine uses that wine and installs none.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

arch=${KELVANE_WINDOWS_ARCH:-i686}
case $arch in
  i686) preset=windows-i686 build=build-windows winearch=win32
    compiler=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686) ;;
  x86_64) preset=windows-x86_64 build=build-windows64 winearch=win64
    compiler=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64) ;;
  *) echo "test-windows: KELVANE_WINDOWS_ARCH is i686 or x86_64, not '$arch'" >&2; exit 2 ;;
esac

# --- what the build and the run need ------------------------------------------------
packages=(cmake make "${compiler[@]}" libz-mingw-w64-dev googletest
          uthash-dev libcli11-dev libfast-float-dev cmark)
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ -z "${KELVANE_WINE:-}" ] && [ "$arch" = x86_64 ]; then
  installed wine64 || missing+=(wine64)
elif [ -z "${KELVANE_WINE:-}" ] && ! installed wine32:i386; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture (wine32 runs the 32-bit programs)"
    $sudo dpkg --add-architecture i386
  fi
  missing+=(wine wine32:i386)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq || echo "apt-get update reported errors; installing from the indexes it has"
  if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    echo "test-windows: apt-get could not install ${missing[*]} (its report is above)" >&2
    exit 1
  fi
fi
if [ "$arch" = x86_64 ]; then
  # Debian's wine wrapper takes the 32-bit loader whenever wine32 is installed.
  wine=${KELVANE_WINE:-/usr/lib/wine/wine64}
  [ -x "$wine" ] || wine=""
else
  wine=${KELVANE_WINE:-$(command -v wine || true)}
  [ -z "$wine" ] && [ -x /usr/lib/wine/wine ] && wine=/usr/lib/wine/wine
fi
if [ -z "$wine" ]; then
  echo "test-windows: wine is not installed" >&2
  exit 1
fi

# --- build --------------------------------------------------------------------------
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-$(command -v ccache || true)}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-$CMAKE_CXX_COMPILER_LAUNCHER}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target kelvane windows_tests
bin=$build/bin

# --- run under wine -----------------------------------------------------------------
prefix=$(mktemp -d /tmp/kelvane-wine.XXXXXX)
trap 'wineserver_kill; rm -rf "$prefix"' EXIT
export WINEPREFIX=$prefix WINEARCH=$winearch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
wineserver_kill() { WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; }
echo "Starting a fresh wine prefix in $prefix"
"$wine" wineboot -i >/dev/null 2>&1 || true

logs=$build/wine-logs
rm -rf "$logs"
mkdir -p "$logs"
passed=0 failed=0 programs=0 badprograms=()
start=$(date +%s)
while read -r exe; do
  [ -z "$exe" ] && continue
  name=${exe%.exe}
  programs=$((programs + 1))
  log=$logs/$name.log
  set +e
  timeout 900 "$wine" "$bin/$exe" --gtest_color=no >"$log" 2>&1
  rc=$?
  set -e
  tr -d '\r' <"$log" >"$log.txt" && mv "$log.txt" "$log"
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | tail -1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$log" | tail -1)
  p=${p:-0}
  f=${f:-0}
  if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi  # crashed or timed out before its summary
  passed=$((passed + p))
  failed=$((failed + f))
  if [ "$rc" -eq 0 ] && [ "$f" -eq 0 ]; then
    printf '  %-34s %5d passed\n' "$name" "$p"
  else
    printf '  %-34s %5d passed, %d FAILED (exit %d, log %s)\n' "$name" "$p" "$f" "$rc" "$log"
    grep '^\[  FAILED  \] [A-Za-z]' "$log" | sed 's/^/      /' | head -20 || true
    badprograms+=("$name")
  fi
done <"$bin/windows_tests.txt"
seconds=$(( $(date +%s) - start ))

# --- the shell's main job, Linux against wine ----------------------------------------
echo
echo "The README's main job on Linux and under wine:"
linux_bin=""
for b in build-ci/bin build/bin; do [ -x "$b/kelvane" ] && [ -f "$b/kelvane_plugin.so" ] && linux_bin=$b && break; done
if [ -z "$linux_bin" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target kelvane >/dev/null
  linux_bin=build/bin
fi
compare_ok=1
bash tools/compare-windows-shell.sh "$linux_bin" "$bin" "$wine" "$build/compare" || compare_ok=0

not_built=$(grep -o 'test_[a-z_]*' <<<"$(sed -n '/set(KELVANE_TESTS_NOT_ON_WINDOWS/,/)/p' tests/CMakeLists.txt)" | tr '\n' ' ')
echo
echo "Not built for Windows: test_peer_* (Linux peers) $not_built"
echo "Under wine: $programs test programs, $passed test cases passed, $failed failed (${seconds}s)"
[ $compare_ok -eq 1 ] && echo "Main job: same output, the same scene and byte-identical files on Linux and under wine" ||
  echo "Main job: output or files DIFFER under wine ($build/compare/)"
if [ ${#badprograms[@]} -gt 0 ]; then
  echo "Programs with failures: ${badprograms[*]}"
fi
[ ${#badprograms[@]} -eq 0 ] && [ $compare_ok -eq 1 ]

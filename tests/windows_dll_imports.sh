#!/usr/bin/env bash
# Checks that every DLL the Windows build's programs and libraries import is either part
# of Windows or lies beside them in the bin folder (a missing run-time DLL stops a
# program before main). Exit 77 (skipped) without a Windows build or the MinGW objdump.
set -uo pipefail
bin=$1
if [ ! -f "$bin/kelvane.exe" ]; then
  echo "SKIPPED: no Windows build ($bin/kelvane.exe is missing); make test-windows builds it"
  exit 77
fi
objdump=$(command -v i686-w64-mingw32-objdump || true)
if [ -z "$objdump" ]; then
  echo "SKIPPED: i686-w64-mingw32-objdump not installed (Debian: binutils-mingw-w64-i686)"
  exit 77
fi
# The system DLLs the build may use: the C runtime, the kernel, COM and the imaging component.
system="kernel32.dll msvcrt.dll ole32.dll oleaut32.dll windowscodecs.dll user32.dll advapi32.dll shell32.dll"
fail=0 checked=0
for f in "$bin"/*.exe "$bin"/*.dll; do
  checked=$((checked + 1))
  while read -r dll; do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    [[ " $system " == *" $lower "* ]] && continue
    [ -f "$bin/$dll" ] && continue
    echo "FAILED: $(basename "$f") imports $dll, which is neither a Windows DLL nor beside it"
    fail=1
  done < <("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
[ $fail -eq 0 ] && echo "OK: every DLL imported by the $checked files of $bin is Windows' own or beside them"
exit $fail

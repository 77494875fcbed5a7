#!/usr/bin/env bash
# Checks a DLL of the Windows build with the MinGW objdump: PE32 for i386, and its
# export table names exactly the symbols given (default: c4d_main, the plug-in's one
# entry point). Exit 77 (skipped) when the Windows build or the MinGW binutils are absent.
set -uo pipefail
dll=$1
shift
want=("$@")
[ ${#want[@]} -eq 0 ] && want=(c4d_main)

if [ ! -f "$dll" ]; then
  echo "SKIPPED: no Windows build ($dll is missing); make test-windows builds it"
  exit 77
fi
objdump=$(command -v i686-w64-mingw32-objdump || true)
if [ -z "$objdump" ]; then
  echo "SKIPPED: i686-w64-mingw32-objdump not installed (Debian: binutils-mingw-w64-i686)"
  exit 77
fi

headers=$("$objdump" -p "$dll") || { echo "FAILED: objdump cannot read $dll"; exit 1; }
fail=0
grep -q "file format pei-i386" <<<"$headers" || { echo "FAILED: $dll is not a PE file for i386"; fail=1; }
grep -Eq "^Magic[[:space:]]+010b[[:space:]]+\(PE32\)" <<<"$headers" || { echo "FAILED: $dll is not PE32"; fail=1; }
grep -Eq "^Characteristics .*" <<<"$headers" && ! grep -q "DLL" <<<"$(sed -n '/^Characteristics/,/^$/p' <<<"$headers")" &&
  { echo "FAILED: $dll is not marked as a DLL"; fail=1; }

# The names of the export table: the lines after "[Ordinal/Name Pointer] Table" up to
# the first empty line, each "[ n] name".
mapfile -t names < <(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^[[:space:]]*$/p' <<<"$headers" |
                     sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\([^[:space:]]*\).*/\1/p' | sort)
mapfile -t expected < <(printf '%s\n' "${want[@]}" | sort)
if [ "${names[*]:-}" != "${expected[*]}" ]; then
  echo "FAILED: $dll exports ${#names[@]} names (${names[*]:0:10}), expected exactly: ${expected[*]}"
  fail=1
fi
[ $fail -eq 0 ] && echo "OK: $dll is PE32 for i386 and exports exactly: ${expected[*]}"
exit $fail

#!/bin/sh
# check_windows_program.sh EXE OBJDUMP FORMAT: checks that EXE is what we ship for Windows: a
# PE file of FORMAT, console subsystem, stripped, importing only KERNEL32.dll and msvcrt.dll,
# under 64 KiB, with a version resource.
exe=$1 objdump=$2 format=$3
failed=0
fail() { echo "FAIL: $*"; failed=1; }

headers=$("$objdump" -p "$exe") || { echo "FAIL: $objdump cannot read $exe"; exit 1; }
"$objdump" -f "$exe" | grep -q "file format $format\$" || fail "not $format: $("$objdump" -f "$exe" | grep format)"
echo "$headers" | grep -Eq '^Subsystem[[:space:]]+00000003[[:space:]]+\(Windows CUI\)' || fail "not a console program"
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')
[ "$dlls" = "KERNEL32.dll msvcrt.dll " ] || fail "imports $dlls"
"$objdump" -t "$exe" | grep -q 'no symbols' || fail "not stripped"
size=$(wc -c <"$exe")
[ "$size" -lt 65536 ] || fail "$size bytes, 64 KiB at most"
for key in ProductName FileDescription ProductVersion; do
  strings -e l "$exe" | grep -qx "$key" || fail "no $key in the version resource"
done
[ "$failed" -eq 0 ] && echo "$exe: $format, console, stripped, imports $dlls$size bytes"
exit "$failed"

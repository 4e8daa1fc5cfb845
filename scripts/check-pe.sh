#!/usr/bin/env bash
# Static checks of the Windows binaries that need no Windows: machine type,
# exports, and imports from system libraries only.
set -euo pipefail
dir=$1
objdump=i686-w64-mingw32-objdump
status=0
system_dll='^(kernel32|user32|advapi32|ole32|oleaut32|msvcrt|shell32|shlwapi|gdi32|rpcrt4|version|ucrtbase|api-ms-win-.*)\.dll$'
for dll in "$dir"/Velmora.dll "$dir"/test.dll; do
  [ -f "$dll" ] || continue
  name=$(basename "$dll")
  if ! $objdump -f "$dll" | grep -q 'file format pei-i386'; then
    echo "FAIL $name: not a 32-bit Windows binary"; status=1
  fi
  while read -r imp; do
    if ! printf '%s\n' "$imp" | tr 'A-Z' 'a-z' | grep -Eq "$system_dll"; then
      echo "FAIL $name imports a non-system library: $imp"; status=1
    fi
  done < <($objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p')
  echo "checked $name: $($objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
done
if [ -f "$dir/Velmora.dll" ]; then
  exports=$($objdump -p "$dir/Velmora.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
  for e in DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow DllInstall; do
    if ! printf '%s\n' "$exports" | grep -Eq "\] $e\$"; then
      echo "FAIL Velmora.dll does not export $e"; status=1
    fi
  done
fi
if [ -f "$dir/test.dll" ]; then
  if $objdump -p "$dir/test.dll" | grep -q '\[Ordinal/Name Pointer\] Table'; then
    echo "FAIL test.dll exports functions"; status=1
  fi
fi
exit $status

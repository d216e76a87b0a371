#!/usr/bin/env bash
# Every executable of the Windows build must be PE32+ x86-64 and import only
# DLLs that come with Windows itself.
set -euo pipefail
build=$1
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|ws2_32|crypt32|bcrypt|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|shlwapi|comdlg32|userenv|ntdll|winmm|imm32|version|setupapi|dxgi|xinput1_4|secur32|ncrypt|rpcrt4|dbghelp|iphlpapi)\.dll$'
bad=0
count=0
while IFS= read -r -d '' exe; do
  count=$((count + 1))
  info=$(x86_64-w64-mingw32-objdump -f "$exe")
  if ! grep -q 'file format pei-x86-64' <<<"$info"; then
    echo "not PE32+ x86-64: $exe"; bad=1
  fi
  while read -r dll; do
    if ! grep -qiE "$allowed" <<<"$dll"; then
      echo "$exe imports $dll"; bad=1
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}')
done < <(find "$build" -name '*.exe' -not -path '*/wineprefix/*' -print0)
[ "$count" -gt 0 ] || { echo "no .exe in $build"; exit 1; }
[ $bad -eq 0 ] || exit 1
echo "PE check: $count executables, PE32+ x86-64, system DLLs only"

#!/usr/bin/env bash
# Makes the private Wine prefix: no display needed, no crash debugger, the
# sample companion installed in C:\Program Files\tavrel\KVT and registered
# as "InstallDir" in the registry view that 32-bit programs read.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

wine64=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating Wine prefix $WINEPREFIX (this takes a minute or two)"
  mkdir -p "$WINEPREFIX"
  "$wine64" wineboot -i >/dev/null 2>&1
fi

"$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
for view in 64 32; do
  "$wine64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Auto /t REG_SZ /d 0 /f "/reg:$view" >/dev/null
  "$wine64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /t REG_SZ /d '' /f "/reg:$view" >/dev/null
done

companion_dir="$WINEPREFIX/drive_c/Program Files/tavrel/KVT"
mkdir -p "$companion_dir"
cp "$HDW_BIN/KVT.exe" "$companion_dir/KVT.exe"
"$wine64" reg add 'HKLM\Software\Tavrel\KVT' /v InstallDir /t REG_SZ \
  /d 'C:\Program Files\tavrel\KVT' /f /reg:32 >/dev/null

#!/usr/bin/env bash
# Installs what is missing (Debian packages only) and prepares the Wine prefix.
set -euo pipefail
source "$(dirname "$0")/env.sh"

missing=()
for p in $KM_PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Installing packages needs root: run as root or install sudo." >&2; exit 1; }
    sudo="sudo"
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The marker holds the version of the Wine that made the prefix.
ready="$WINEPREFIX/.kestrelmark-ready"
wine_version="$(km_wine_version)"
if [ ! -f "$ready" ] || [ "$(cat "$ready")" != "$wine_version" ]; then
  echo "Creating the Wine prefix in $WINEPREFIX (Wine $wine_version)"
  rm -rf "$WINEPREFIX"; mkdir -p "$WINEPREFIX"
  DISPLAY= "$KM_WINE" wineboot --init </dev/null >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  # No crash dialog (a crash would hang a test), a virtual desktop (no 2 s
  # waits for a window manager that never answers), fonts Wine cannot find.
  reg=$(mktemp --suffix=.reg)
  printf '%s\r\n' 'REGEDIT4' '' \
    '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1024x768"' '' > "$reg"
  DISPLAY= "$KM_WINE" regedit /S "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1
  rm -f "$reg"
  cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  /usr/lib/wine/wineserver -w
  echo "$wine_version" > "$ready"
fi

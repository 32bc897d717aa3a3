#!/usr/bin/env bash
# Registers ZaPum with the desktop for the current user: a desktop entry that claims zapum: URLs,
# so the browser's sign-in callback (zapum://auth/callback?...) starts `zapum URL`, which hands the
# URL to the running app.
#   scripts/install-desktop-entry.sh [PATH_TO_ZAPUM]   (default: build/src/zapum)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$(realpath "${1:-$root/build/src/zapum}")
[ -x "$binary" ] || { echo "install-desktop-entry: no program at $binary (build first)" >&2; exit 1; }

apps="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
mkdir -p "$apps"
# Exec quotes the path, so spaces are fine; characters that would need escaping there are refused.
case "$binary" in
  *[\"\`\$\\%\|]*) echo "install-desktop-entry: move zapum to a path without \" \` \$ \\ % |" >&2; exit 1 ;;
esac
sed "s|@ZAPUM_EXEC@|\"$binary\"|" "$root/resources/desktop/zapum.desktop.in" > "$apps/zapum.desktop.tmp"
mv "$apps/zapum.desktop.tmp" "$apps/zapum.desktop"
# The entry's icon, for menus and docks (an installed package brings it system-wide).
icons="${XDG_DATA_HOME:-$HOME/.local/share}/icons/hicolor/scalable/apps"
mkdir -p "$icons"
cp "$root/resources/appicon/zapum.svg" "$icons/zapum.svg"
xdg-mime default zapum.desktop x-scheme-handler/zapum
command -v update-desktop-database >/dev/null && update-desktop-database -q "$apps" || true
echo "install-desktop-entry: $apps/zapum.desktop handles zapum: URLs"

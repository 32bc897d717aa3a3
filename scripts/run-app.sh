#!/usr/bin/env bash
# Installs what is missing, builds, and starts ZaPum on the current desktop.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"
"$root/scripts/install-desktop-entry.sh" "$root/build/src/zapum"
exec "$root/build/src/zapum" "$@"

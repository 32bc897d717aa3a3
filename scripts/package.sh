#!/usr/bin/env bash
# Builds the Debian packages zapum and zapum-devserver with CPack from a build tree (building it
# first; an up-to-date tree costs seconds) and prints the path of each .deb.
#   scripts/package.sh [BUILD_DIR]      (default: build)
# Then: sudo apt install ./build/packages/zapum_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$root/build}")

"$root/scripts/build.sh" "$dir"
rm -rf "$dir/packages"
if ! (cd "$dir" && cpack -G DEB -B "$dir/packages" >"$dir/cpack.log" 2>&1); then
  tail -n 30 "$dir/cpack.log" >&2
  echo "package: cpack failed (whole log: $dir/cpack.log)" >&2
  exit 1
fi
ls "$dir"/packages/*.deb

#!/usr/bin/env bash
# Builds the Debian package of Ratemover: installs what building it needs,
# builds both programs in their own build tree (build-package), and prints the
# package file's path as its last line.
# Install it with: sudo apt install ./ratemover_*.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build-package}"
# dpkg-shlibdeps computes the library packages; CPack finds the programs with file.
"$root/scripts/setup.sh" dpkg-dev file qt6-tools-dev qt6-l10n-tools
"$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DRATEMOVER_SYSTEM_INSTALL=ON \
  -DRATEMOVER_TESTS=OFF -DRATEMOVER_BENCH=OFF >&2
rm -f "$dir"/ratemover_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/ratemover_*.deb

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
# Debian's hardening flags, bindnow included: fortified library calls, stack
# protection, read-only relocations resolved at start. CMake takes no CPPFLAGS,
# so the preprocessor's flags go with the compilers'.
flags() { (cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); }
cppflags="$(flags CPPFLAGS)"
"$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release -DRATEMOVER_SYSTEM_INSTALL=ON \
  -DRATEMOVER_TESTS=OFF -DRATEMOVER_BENCH=OFF \
  -DCMAKE_C_FLAGS="$cppflags $(flags CFLAGS)" -DCMAKE_CXX_FLAGS="$cppflags $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >&2
rm -f "$dir"/ratemover_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/ratemover_*.deb

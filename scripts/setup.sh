#!/usr/bin/env bash
# Installs every Debian package that building and testing Ratemover needs and
# that is not installed yet. Runs apt-get update only when something is missing.
# Usage: scripts/setup.sh [extra-package ...]
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libbenchmark-dev
  libgsf-1-dev libxml2-dev zlib1g-dev libdeflate-dev libisal-dev
  qt6-base-dev qt6-svg-dev libqt6sql6-sqlite qt6-translations-l10n qt6-tools-dev qt6-l10n-tools desktop-file-utils libglib2.0-bin
  clang libclang-rt-14-dev
  xvfb dbus at-spi2-core
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

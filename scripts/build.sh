#!/usr/bin/env bash
# Configures and builds one build tree.
# Usage: scripts/build.sh DIR [cmake options...] [-- target...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"; shift
options=()
targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--" ]; then shift; targets=("$@"); break; fi
  options+=("$1"); shift
done
launcher=()
# a compiler cache, where the machine has one, makes rebuilds of other trees cheap
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "${options[@]}" >/dev/null
if [ ${#targets[@]} -gt 0 ]; then
  cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
else
  cmake --build "$dir" -j "$(nproc)"
fi

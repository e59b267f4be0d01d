#!/usr/bin/env bash
# Sets up the machine and runs every test: the test suite in a normal build and
# again with AddressSanitizer and UndefinedBehaviorSanitizer, then a short smoke
# run of each fuzz target on its seeds; the Debian package is built and checked
# between them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

"$root/scripts/setup.sh"

echo "== normal build"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
"$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DRATEMOVER_SANITIZE=ON -DRATEMOVER_BENCH=OFF
# full stacks on allocation, so that the one known leak of the container library
# can be told apart by its function
ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
LSAN_OPTIONS=suppressions="$root/tests/sanitizer/lsan.supp":print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"

echo "== Debian package: lintian, unpacked and run"
"$root/.ci/package-check.sh"

echo "== fuzz smoke runs"
"$root/scripts/fuzz.sh" smoke

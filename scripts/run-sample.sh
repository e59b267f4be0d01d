#!/usr/bin/env bash
# Sets up the machine, builds Ratemover and runs the batch job on the bundled
# sample workbook. The rate file is written beside the workbook.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release -DRATEMOVER_TESTS=OFF -DRATEMOVER_BENCH=OFF
exec "$root/build/app/batch/ratemover-batch" "$root/examples/TECAJI_PAPIRJEV.xls"

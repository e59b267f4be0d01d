#!/usr/bin/env bash
# Sets up the machine, builds Ratemover's batch program and runs it on the
# bundled sample workbook. The rate file is written beside the workbook:
# examples/TECAJI_PAPIRJEV.ztr.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -- ratemover-batch
# no configuration file beside the program: the default profile "TESTNA TEČAJNICA"
# (date in A2, symbols in B, prices in D from row 2) fits the sample
exec "$root/build/app/batch/ratemover-batch" "$root/examples/TECAJI_PAPIRJEV.xls"

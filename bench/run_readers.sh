#!/bin/sh
# Times the whole ratemover-batch process on each benchmark workbook with
# hyperfine, and measures its peak memory with /usr/bin/time -v.
#
#   bench/run_readers.sh BUILD_DIR [RUNS]
#
# BUILD_DIR holds app/batch/ratemover-batch; the workbooks are made (once) by
# bench/make_workbooks.py into BUILD_DIR/bench-workbooks, and the sparse test
# workbooks and bad/bomb_1g.xlsx are copied there, so that the rate files the
# runs write stay out of the source tree. The configuration file named does
# not exist: every run uses the default profile (date A2, symbols B, prices D).
set -eu

build=${1:?usage: bench/run_readers.sh BUILD_DIR [RUNS]}
runs=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
batch="$build/app/batch/ratemover-batch"
work="$build/bench-workbooks"
data="$source_dir/tests/data/workbooks"

# the workbook generator's writers, hyperfine and GNU time
"$source_dir/scripts/setup.sh" hyperfine time python3-openpyxl python3-xlwt python3-odf
[ -x "$batch" ] || { echo "no $batch: build the ratemover-batch target first" >&2; exit 1; }
mkdir -p "$work"
/usr/bin/python3 "$here/make_workbooks.py" "$work" >/dev/null
for f in sparse.xls sparse.xlsx sparse.ods bad/bomb_1g.xlsx text/data3000_libreoffice.html text/data3000_libreoffice.csv; do
  cp -f "$data/$f" "$work/$(basename "$f")"
done

conf="$work/no-such-dir/Ratemover.CONF"
results="$work/results"
mkdir -p "$results"

# mean, min and max of the wall-clock time; cpu_ms is the mean user plus
# system time, which other processes on a busy machine disturb less.
printf '%-16s %9s %9s %9s %9s %12s  %s\n' workbook mean_ms min_ms max_ms cpu_ms peak_rss_kib ztr_lines
for name in rows3000.xls rows3000.xlsx rows3000.ods rows65536.xls rows1m.xlsx \
            sparse.xls sparse.xlsx sparse.ods bomb_1g.xlsx data3000_libreoffice.html data3000_libreoffice.csv; do
  workbook="$work/$name"
  hyperfine --style none --ignore-failure --warmup 3 --runs "$runs" \
            --export-json "$results/$name.json" \
            "$batch --conf '$conf' '$workbook'" >/dev/null 2>&1
  /usr/bin/time -v -o "$results/$name.time" "$batch" --conf "$conf" "$workbook" >/dev/null 2>&1 || true
  peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$results/$name.time")
  # the rate file is named after the workbook, with the extension .ztr
  ztr="${workbook%.*}.ztr"
  lines=$( [ -f "$ztr" ] && wc -l < "$ztr" || echo - )
  /usr/bin/python3 - "$results/$name.json" "$name" "$peak" "$lines" <<'EOF'
import json, sys
result = json.load(open(sys.argv[1]))["results"][0]
print("%-16s %9.2f %9.2f %9.2f %9.2f %12s  %s" % (
    sys.argv[2], result["mean"] * 1000, result["min"] * 1000, result["max"] * 1000,
    (result["user"] + result["system"]) * 1000, sys.argv[3], sys.argv[4]))
EOF
done

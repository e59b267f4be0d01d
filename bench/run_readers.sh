#!/bin/sh
# Times the whole ratemover-batch process on each benchmark workbook with
# hyperfine, measures its peak memory with /usr/bin/time -v, and checks every
# run's outcome: a run that does not end as it must is an error of this
# script, never a figure in its table.
#
#   bench/run_readers.sh BUILD_DIR [RUNS]
#
# BUILD_DIR holds app/batch/ratemover-batch. The workbooks are the committed
# data3000 price list in every form the program reads, the large workbooks
# that bench/make_workbooks.py makes (once) into BUILD_DIR/bench-workbooks,
# the sparse workbooks and bad/bomb_1g.xlsx. Each is copied into a folder of
# its own there, so that the rate files the runs write stay apart and out of
# the source tree. Every run reads the configuration file written there, which
# holds the default profile (date A2, symbols B, prices D, no index column).
set -eu

build=${1:?usage: bench/run_readers.sh BUILD_DIR [RUNS]}
runs=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
batch="$build/app/batch/ratemover-batch"
work="$build/bench-workbooks"
data="$source_dir/tests/data/workbooks"
expected_ztr="$source_dir/tests/data/expected/data3000.ztr"

# the workbook generator's writers, hyperfine and GNU time
"$source_dir/scripts/setup.sh" hyperfine time python3-openpyxl python3-xlwt python3-odf
[ -x "$batch" ] || { echo "no $batch: build the ratemover-batch target first" >&2; exit 1; }
batch=$(cd "$(dirname "$batch")" && pwd)/$(basename "$batch")
mkdir -p "$work"
work=$(cd "$work" && pwd)
/usr/bin/python3 "$here/make_workbooks.py" "$work" >/dev/null

conf="$work/Ratemover.CONF"
printf '[EXCEL_FORMAT]\r\n  DATOTEKA=\r\n  IZBRANA_TECAJNICA=1\r\n  TECAJNICA=TESTNA TE\310AJNICA\r\n' > "$conf"
printf '    START_VRSTICA=2\r\n    DATUM=A\r\n    SIMBOL=B\r\n    TECAJ=D\r\n    INDEKS=\r\n' >> "$conf"

# where and under what load the figures are taken
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

results="$work/results"
rm -rf "$results"
mkdir -p "$results"
table="$results/table.tsv"
: > "$table"

fail() {
  echo "run_readers.sh: $*" >&2
  exit 1
}

# The rate-file lines a generated workbook of COUNT data rows must give.
generated_lines() {
  /usr/bin/python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import make_workbooks; print(make_workbooks.rate_file_lines(int(sys.argv[2])))' "$here" "$1"
}

# bench SOURCE STATUS LINES REFERENCE
#   SOURCE     the workbook
#   STATUS     the exit status every run must end with
#   LINES      the number of lines its rate file must have
#   REFERENCE  a rate file the output must equal byte for byte, or the text
#              the program's error output must hold, or -
bench() {
  source=$1 status=$2 lines=$3 reference=$4
  name=$(basename "$source")
  case_dir="$work/cases/$name"
  rm -rf "$case_dir"
  mkdir -p "$case_dir"
  cp "$source" "$case_dir/$name"
  workbook="$case_dir/$name"
  ztr="${workbook%.*}.ztr"

  # one run that is checked in full, under GNU time for the peak memory
  set +e
  /usr/bin/time -v -o "$results/$name.time" "$batch" --conf "$conf" "$workbook" \
    >"$results/$name.out" 2>"$results/$name.err"
  got=$?
  set -e
  [ "$got" = "$status" ] || fail "$name: exit status $got, not $status: $(cat "$results/$name.err")"
  got_lines=$( [ -f "$ztr" ] && wc -l < "$ztr" || echo none)
  [ "$got_lines" = "$lines" ] || fail "$name: the rate file has $got_lines lines, not $lines"
  case $reference in
    -) ;;
    *.ztr) cmp -s "$ztr" "$reference" || fail "$name: the rate file differs from $reference" ;;
    *) grep -qF "$reference" "$results/$name.err" || fail "$name: no \"$reference\" in: $(cat "$results/$name.err")" ;;
  esac
  peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$results/$name.time")

  # the timed runs; each run's exit status is checked from hyperfine's record
  hyperfine --style none --shell none --ignore-failure --warmup 3 --runs "$runs" \
            --export-json "$results/$name.json" \
            "'$batch' --conf '$conf' '$workbook'" >/dev/null 2>&1 \
    || fail "$name: hyperfine failed"
  /usr/bin/python3 - "$results/$name.json" "$name" "$status" "$peak" "$got_lines" >>"$table" <<'EOF'
import json, sys
result = json.load(open(sys.argv[1]))["results"][0]
name, status = sys.argv[2], int(sys.argv[3])
wrong = [code for code in result["exit_codes"] if code != status]
if wrong:
    sys.exit("run_readers.sh: %s: %d of %d timed runs ended with another status than %d: %s"
             % (name, len(wrong), len(result["exit_codes"]), status, wrong[:5]))
print("%s\t%.3f\t%.3f\t%s\t%s\t%d" % (name, result["median"] * 1000,
      (result["user"] + result["system"]) * 1000, sys.argv[4], sys.argv[5], status))
EOF
  # the last timed run wrote the rate file again: still the same
  [ "$(wc -l < "$ztr")" = "$lines" ] || fail "$name: a timed run left a rate file of another length"
}

# the committed price list in every form: each gives the same rate file
for f in data3000.xls data3000_biff5.xls biff234/data3000_biff2.xls biff234/data3000_biff3.xls \
         biff234/data3000_biff4.xls data3000.xlsx data3000.xlsb data3000.ods xml2003/data3000.xml \
         text/data3000_libreoffice.html text/data3000_libreoffice.csv; do
  bench "$data/$f" 0 "$(wc -l < "$expected_ztr")" "$expected_ztr"
done
# the generated workbooks: rows 2 to 3000 are read, price 0 is left out
bench "$work/rows3000.xls" 0 "$(generated_lines 3000)" -
bench "$work/rows3000.xlsx" 0 "$(generated_lines 3000)" -
bench "$work/rows3000.ods" 0 "$(generated_lines 3000)" -
bench "$work/rows65536.xls" 0 "$(generated_lines 65535)" -
bench "$work/rows1m.xlsx" 0 "$(generated_lines 1000000)" -
# a sheet whose only values are A1 and its last cell: no date in A2, status 2,
# an empty rate file
for f in sparse.xls sparse.xlsx sparse.ods; do
  bench "$data/$f" 2 0 "V celici A2 bi moral biti datum!"
done
# a sheet part that inflates to 1 GiB: refused before it is read
bench "$data/bad/bomb_1g.xlsx" 2 0 "delovni zvezek je prevelik (xl/worksheets/sheet1.xml"

echo "$(date -u '+%Y-%m-%d %H:%M UTC') on $(uname -n), $(nproc) cores, $(uname -m); load average (1, 5, 15 min)" \
     "before $load_before, after $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 - "$table" "$runs" <<'EOF'
import sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])]
figures = {row[0]: row for row in rows}
print("%d timed runs each after 3 warm-up runs; cpu_ms is hyperfine's mean of user+sys per run"
      % int(sys.argv[2]))
print("%-26s %9s %9s %12s %6s %6s" % ("workbook", "wall_ms", "cpu_ms", "peak_rss_kib", "lines", "status"))
for name, wall, cpu, peak, lines, status in rows:
    print("%-26s %9.2f %9.2f %12s %6s %6s" % (name, float(wall), float(cpu), peak, lines, status))


def cpu(name):
    return float(figures[name][2])


def check(text, met):
    print("%-8s %s" % ("met" if met else "NOT MET", text))


print()
print("checks (CPU time, user+sys):")
xls = cpu("data3000.xls")
for name in ("data3000.xlsb", "data3000_biff4.xls"):
    check("%s %.2f ms no slower than data3000.xls %.2f ms + 20%% (%.2f ms)" % (name, cpu(name), xls, xls * 1.2),
          cpu(name) <= xls * 1.2)
xlsx = cpu("data3000.xlsx")
for name in ("data3000.xml", "data3000_libreoffice.html", "data3000_libreoffice.csv"):
    check("%s %.2f ms no slower than data3000.xlsx %.2f ms" % (name, cpu(name), xlsx), cpu(name) <= xlsx)
for name, _, _, _, _, _ in rows:
    if name.startswith("data3000"):
        limit = 6 if name == "data3000.xls" else 10
        check("%s %.2f ms <= %d ms" % (name, cpu(name), limit), cpu(name) <= limit)
EOF

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs them on their seeds.
# Usage: scripts/fuzz.sh smoke            every target for a short while (CI)
#        scripts/fuzz.sh long SECONDS [TARGET...]  longer runs, corpora kept under build-fuzz/
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode="${1:-smoke}"
seconds=20
if [ "$mode" = "long" ]; then seconds="${2:-1200}"; shift 2 || true; else shift || true; fi
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRATEMOVER_FUZZ=ON -DRATEMOVER_GUI=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

seeds_of() {
  local data="$root/tests/data"
  case "$1" in
    biff_fuzz) ls "$data"/workbooks/*.xls "$data"/workbooks/quirks/*.xls "$data"/workbooks/bad/*.xls "$data"/workbooks/foreign/*.xls ;;
    biff234_fuzz) ls "$data"/workbooks/biff234/*.xls ;;
    xlsx_fuzz) ls "$data"/workbooks/*.xlsx "$data"/workbooks/quirks/*.xlsx ;;
    xlsb_fuzz) ls "$data"/workbooks/*.xlsb "$data"/workbooks/bad/*.xlsb ;;
    ods_fuzz) ls "$data"/workbooks/*.ods "$data"/workbooks/bad/*.ods ;;
    # the 3000-row documents would set the mutation length to a megabyte, at
    # a few runs a second: the small files cover the same rules
    html_fuzz) ls "$data"/workbooks/text/*.htm* "$data"/workbooks/text/*.xls | grep -v data3000 ;;
    csv_fuzz) ls "$data"/workbooks/text/*.csv "$data"/workbooks/bad/text.* | grep -v data3000 ;;
    xml2003_fuzz) ls "$data"/workbooks/xml2003/*.xml | grep -v data3000 ;;
    config_fuzz) ls "$data"/config/* 2>/dev/null || true ;;
    xml_scan_fuzz) ;;  # the XML parts under workbooks/fuzz
  esac
  ls "$data"/workbooks/fuzz/"${1%_fuzz}"* 2>/dev/null || true
}

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$build"/fuzz/*_fuzz; do targets+=("$(basename "$exe")"); done
fi

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus-$target"
  seeds="$build/seeds-$target"
  mkdir -p "$corpus" "$seeds"
  seeds_of "$target" | while read -r file; do [ -f "$file" ] && cp -f "$file" "$seeds/"; done
  options=()
  case "$target" in html_fuzz | csv_fuzz | xml2003_fuzz) options=(-max_len=65536) ;; esac
  echo "-- $target: ${seconds}s"
  if ! (cd "$build" && ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/$target" -max_total_time="$seconds" "${options[@]}" \
        -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 "$corpus" "$seeds" 2>"$build/$target.log"); then
    echo "$target found a failure:"; tail -n 60 "$build/$target.log"; status=1
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$build/$target.log" | tail -n 2 || true
  fi
done
exit $status

// The readers inside the process, without its start-up: opening a workbook
// (rows 1 to 3000 of the active sheet) and the cell reads of a 3000-row run.
// The workbooks are those of bench/make_workbooks.py and the sparse and bomb
// test workbooks, taken from the folder that RATEMOVER_BENCH_WORKBOOKS names
// (by default the build folder's bench-workbooks, as bench/run_readers.sh
// fills it).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "spreadsheet/session.h"
#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/workbook_reader.h"

namespace {

using ratemover::spreadsheet::MakeWorkbookFileSession;
using ratemover::spreadsheet::ReadActiveSheetFromFile;
using ratemover::spreadsheet::SheetCells;

std::string WorkbookPath(const char* name) {
  const char* folder = std::getenv("RATEMOVER_BENCH_WORKBOOKS");
  return std::string(folder != nullptr ? folder : RATEMOVER_BENCH_WORKBOOKS) + "/" + name;
}

void OpenWorkbook(benchmark::State& state, const char* name) {
  const std::string path = WorkbookPath(name);
  std::size_t stored = 0;
  for (auto _ : state) {
    SheetCells cells;
    if (!ReadActiveSheetFromFile(path, 3000, cells)) {
      state.SkipWithError(("cannot be opened: " + path).c_str());
      break;
    }
    stored = cells.Size();
    benchmark::DoNotOptimize(stored);
  }
  state.counters["cells"] = static_cast<double>(stored);
}

// What an import run asks of the session: the date cell, then symbol and
// price of every row down to row 3000.
void ImportRunReads(benchmark::State& state, const char* name) {
  const std::string path = WorkbookPath(name);
  for (auto _ : state) {
    auto session = MakeWorkbookFileSession();
    session->OdpriExcel();
    session->OdpriZvezek(path, false);
    benchmark::DoNotOptimize(session->BeriCelico(2, 1));
    for (std::int32_t row = 2; row <= 3000; ++row) {
      benchmark::DoNotOptimize(session->BeriCelico(row, 2));
      benchmark::DoNotOptimize(session->BeriCelico(row, 4));
    }
    session->ZapriExcel();
  }
}

BENCHMARK_CAPTURE(OpenWorkbook, rows3000_xls, "rows3000.xls")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenWorkbook, rows3000_xlsx, "rows3000.xlsx")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenWorkbook, rows3000_ods, "rows3000.ods")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenWorkbook, rows65536_xls, "rows65536.xls")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenWorkbook, rows1m_xlsx, "rows1m.xlsx")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenWorkbook, sparse_xls, "sparse.xls")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenWorkbook, sparse_xlsx, "sparse.xlsx")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenWorkbook, sparse_ods, "sparse.ods")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenWorkbook, bomb_1g_xlsx, "bomb_1g.xlsx")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ImportRunReads, rows3000_xls, "rows3000.xls")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ImportRunReads, rows3000_xlsx, "rows3000.xlsx")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ImportRunReads, rows3000_ods, "rows3000.ods")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

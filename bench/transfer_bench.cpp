// A full transfer of 3000 rows with an index column, rate file included.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "spreadsheet/memory_session.h"
#include "transfer/import_run.h"
#include "transfer/rate_record.h"

namespace {

class QuietView : public ratemover::OperatorView {
 public:
  void ShowMessage(const ratemover::OperatorMessage&) override {}
  void SetProgressVisible(bool) override {}
  void ProcessPendingMessages() override {}
};

std::filesystem::path MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "rm_bench_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  return pattern;
}

void FillSheet(ratemover::spreadsheet::MemorySession& session) {
  session.SetCell(2, 1, "5.3.2024");
  for (std::int32_t row = 2; row <= ratemover::kLastRow; ++row) {
    session.SetCell(row, 2, "SIMBOL " + std::to_string(row));
    session.SetCell(row, 4, std::to_string(row) + "," + std::to_string(row % 1000) + "5");
    session.SetCell(row, 5, row % 3 == 0 ? "x" : "");
  }
}

// What stands where the rate file goes when the run starts.
enum class RateFileBefore {
  None,       // a new rate file, as for a workbook first transferred
  Settled,    // yesterday's rate file, long since on disk: emptied and rewritten
  JustWritten,  // the file the previous iteration closed a moment ago
};

void FullTransfer(benchmark::State& state, RateFileBefore before) {
  const auto dir = MakeTempDir();
  ratemover::spreadsheet::MemorySession session;
  FillSheet(session);
  QuietView view;
  ratemover::ImportRunInput input;
  input.workbookPath = (dir / "tecaji.xls").string();
  input.profile.startRow = 2;
  input.profile.date = "A";
  input.profile.symbol = "B";
  input.profile.price = "D";
  input.profile.index = "E";
  input.currentYear = 2026;
  std::int32_t rows = 0;
  const auto rateFile = dir / "tecaji.ztr";
  for (auto _ : state) {
    if (before != RateFileBefore::JustWritten) {
      state.PauseTiming();
      if (before == RateFileBefore::None) {
        std::filesystem::remove(rateFile);
      } else if (std::filesystem::exists(rateFile)) {
        // on disk before the run starts, as a file written on an earlier day is
        const int fd = ::open(rateFile.c_str(), O_RDONLY);
        if (fd < 0 || ::fsync(fd) != 0) state.SkipWithError("cannot sync the rate file");
        if (fd >= 0) ::close(fd);
      }
      state.ResumeTiming();
    }
    session.ClearReads();
    const auto result = ratemover::ImportIzExcela(input, session, view);
    rows = result.writtenRows;
    benchmark::DoNotOptimize(rows);
  }
  if (rows != ratemover::kLastRow - 1) state.SkipWithError("not every row was written");
  state.counters["rows"] = rows;
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(rateFile));
  std::filesystem::remove_all(dir);
}

// With --benchmark_repetitions, "min" is the least loaded repetition's mean: on
// a shared machine the closest figure to the run's own cost.
double Least(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK_CAPTURE(FullTransfer, new_rate_file, RateFileBefore::None)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Least);
BENCHMARK_CAPTURE(FullTransfer, rewriting_settled_rate_file, RateFileBefore::Settled)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Least);
// Back to back: the file system may still be writing the previous file out
// when the run empties it, and the run waits for that.
BENCHMARK_CAPTURE(FullTransfer, rewriting_just_written_rate_file, RateFileBefore::JustWritten)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Least);

// The same 1 + 3 * 2999 + 1 cell reads without the run: what the in-memory
// session itself costs inside FullTransfer.
void BM_SessionReadsOnly(benchmark::State& state) {
  ratemover::spreadsheet::MemorySession session;
  FillSheet(session);
  session.OdpriExcel();
  std::size_t bytes = 0;
  for (auto _ : state) {
    session.ClearReads();
    bytes += session.BeriCelico(2, 1)->size();
    for (std::int32_t row = 2; row <= ratemover::kLastRow; ++row) {
      bytes += session.BeriCelico(row, 2)->size();
      bytes += session.BeriCelico(row, 4)->size();
      bytes += session.BeriCelico(row, 5)->size();
    }
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_SessionReadsOnly)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Least);

void BM_PriceLine(benchmark::State& state) {
  double price = 1234.5678;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ratemover::VrsticaTecaja("SIMBOL", "INDEKS", price, "05.03.2024"));
    price += 0.000001;
  }
}
BENCHMARK(BM_PriceLine);

void BM_PriceText(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ratemover::DveDecimalki("1234.5678"));
}
BENCHMARK(BM_PriceText);

}  // namespace

BENCHMARK_MAIN();

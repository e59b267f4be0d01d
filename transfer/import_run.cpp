#include "transfer/import_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <memory>
#include <stdexcept>

#include "common/program_dir.h"
#include "common/regional.h"
#include "common/text.h"
#include "transfer/date_text.h"
#include "transfer/rate_record.h"

namespace ratemover {

namespace {

constexpr char kCr = '\r';
constexpr std::int32_t kDefaultDateColumn = 1;
constexpr std::int32_t kDefaultSymbolColumn = 2;
constexpr std::int32_t kDefaultPriceColumn = 4;
constexpr std::int32_t kNoIndexColumn = 0;
constexpr std::string_view kIndexMarker = "INDEKS";

std::int32_t ResolveColumn(std::string_view letter, std::int32_t fallback) {
  const int number = ColumnNumberOf(letter);
  return number == 0 ? fallback : number;
}

// The rate file, written through one buffer. Lines end in CR LF. Every write,
// the final flush and the close are checked; a failure empties the file before
// it is reported, so that ZTR never finds half a price list that looks whole.
class RateFile {
 public:
  explicit RateFile(std::string path) : path_(std::move(path)), native_(NativePath(path_)) {}
  RateFile(const RateFile&) = delete;
  RateFile& operator=(const RateFile&) = delete;
  ~RateFile() {
    if (fd_ >= 0) ::close(fd_);
  }

  // Creates the file, or empties an existing one. A workbook whose own name
  // ends in ".ztr" would be its own rate file; it is never emptied.
  bool Create(const std::string& workbookPath) {
    struct stat target {};
    struct stat workbook {};
    if (::stat(native_.c_str(), &target) == 0 && ::stat(NativePath(workbookPath).c_str(), &workbook) == 0 &&
        target.st_dev == workbook.st_dev && target.st_ino == workbook.st_ino) {
      return false;
    }
    fd_ = ::open(native_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    buffer_.reserve(kFlushSize + 1024);
    return fd_ >= 0;
  }

  void WriteLine(std::string_view line) {
    buffer_.append(line);
    EndLine();
  }

  // The price line is built straight into the buffer, then ended here.
  std::string& Buffer() { return buffer_; }
  void EndLine() {
    buffer_.append("\r\n");
    if (buffer_.size() >= kFlushSize) Flush();
  }

  // Writes what is buffered and closes the file; throws when either fails.
  void Close() {
    Flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) Fail();
  }

  // Leaves an empty file behind and lets it go; used on every failure after the
  // file was created.
  void Discard() noexcept {
    buffer_.clear();
    if (fd_ >= 0) {
      (void)::ftruncate(fd_, 0);
      ::close(fd_);
      fd_ = -1;
    } else {
      (void)::truncate(native_.c_str(), 0);
    }
  }

  bool IsOpen() const { return fd_ >= 0; }

 private:
  static constexpr std::size_t kFlushSize = 1 << 16;

  void Flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
      const ssize_t written = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (written < 0) {
        if (errno == EINTR) continue;
        Fail();
      }
      if (written == 0) Fail();
      done += static_cast<std::size_t>(written);
    }
    buffer_.clear();
  }

  [[noreturn]] void Fail() {
    Discard();
    throw std::runtime_error("Napaka pri pisanju v datoteko " + path_);
  }

  std::string path_;
  std::string native_;
  std::string buffer_;
  int fd_ = -1;
};

std::string NoDateMessage(const ImportRunInput& input, const std::string& dateText) {
  std::string text = "Excel datoteka '" + input.workbookPath + "' ni v pravem formatu!";
  text += kCr;
  text += "V celici " + input.profile.datum + DecimalText(input.profile.startRow) + " bi moral biti datum!";
  text += kCr;
  text += "Datum: '" + dateText + "'";
  return text;
}

std::string NothingWrittenMessage() {
  std::string text = "Podatki niso bili prepisani!";
  text += kCr;
  text += "Preveri v parametrih, \xE8" "e je te\xE8" "aj nastavljen v pravi koloni!";
  return text;
}

std::string SummaryMessage(const ImportRunInput& input, const RunResult& result) {
  std::string text = "Podatki uspe\x9Ano prepisani!";
  text += kCr;
  text += kCr;
  text += "Prepisanih vrstic: " + DecimalText(result.writtenRows);
  text += kCr;
  text += "Vhodna datoteka:  " + input.workbookPath;
  text += kCr;
  text += "Izhodna datoteka: " + result.outputPath;
  text += kCr;
  return text;
}

}  // namespace

RunResult ImportIzExcela(const ImportRunInput& input, spreadsheet::Session& session, OperatorView& view) {
  RunResult result;
  view.SetProgressVisible(true);
  view.ProcessPendingMessages();

  // Every failure that leaves the run as an exception empties the rate file,
  // hides the label and closes the session on its way out.
  std::unique_ptr<RateFile> file;
  try {
    if (!session.OdpriExcel()) {
      view.ShowMessage("Verjetno ni instaliran EXCEL");
      view.SetProgressVisible(false);
      result.outcome = RunOutcome::SessionUnavailable;
      return result;
    }
    session.OdpriZvezek(input.workbookPath, input.show);

    result.outputPath = OutputFileName(input.workbookPath);
    const Tecajnica& profile = input.profile;
    const std::int32_t dateColumn = ResolveColumn(profile.datum, kDefaultDateColumn);
    const std::int32_t symbolColumn = ResolveColumn(profile.simbol, kDefaultSymbolColumn);
    const std::int32_t priceColumn = ResolveColumn(profile.tecaj, kDefaultPriceColumn);
    const std::int32_t indexColumn = ResolveColumn(profile.indeks, kNoIndexColumn);

    file = std::make_unique<RateFile>(result.outputPath);
    if (!file->Create(input.workbookPath)) {
      file.reset();
      view.ShowMessage("Ne morem pisati v datoteko " + result.outputPath);
      view.SetProgressVisible(false);
      result.outcome = RunOutcome::FileNotCreated;
      return result;
    }

    const std::int32_t startRow = profile.startRow;
    const spreadsheet::CellText dateCell = session.BeriCelico(startRow, dateColumn);
    // rows are counted from 1: a session that answers for row 0 does not make it a date
    if (!dateCell || startRow < 1) {
      throw std::runtime_error("Celice v vrstici " + DecimalText(startRow) + ", stolpcu " + DecimalText(dateColumn) +
                               " ni mogo\xE8" "e prebrati");
    }
    const int currentYear = input.currentYear != 0 ? input.currentYear : CurrentYear();
    const auto date = ParseDateText(PrvaBeseda(*dateCell), Regional(), currentYear);
    if (!date) {
      view.ShowMessage(NoDateMessage(input, *dateCell));
      file->Close();
      file.reset();
      view.SetProgressVisible(false);
      session.ZapriExcel();
      result.outcome = RunOutcome::NoDate;
      return result;
    }

    const std::string formattedDate = FormattedDate(date->day, date->month, date->year);
    file->WriteLine(VrsticaDatuma(formattedDate));

    std::int32_t written = 0;
    for (std::int32_t row = startRow; row <= kLastRow; ++row) {
      // an unreadable symbol or price counts as an empty one
      const std::string symbol = session.BeriCelico(row, symbolColumn).value_or(std::string());
      if (IsBlank(symbol)) break;
      const std::string priceText = session.BeriCelico(row, priceColumn).value_or(std::string());
      std::string_view marker;
      if (indexColumn >= 1) {
        const spreadsheet::CellText indexCell = session.BeriCelico(row, indexColumn);
        if (indexCell && !IsBlank(*indexCell)) marker = kIndexMarker;
      }
      double price = 0;
      try {
        price = DveDecimalki(priceText);
      } catch (const ConversionError&) {
        price = 0;
      }
      if (price != 0) {
        ++written;
        AppendVrsticaTecaja(file->Buffer(), symbol, marker, price, formattedDate);
        file->EndLine();
      }
    }
    file->Close();
    file.reset();
    result.writtenRows = written;
    result.outcome = written == 0 ? RunOutcome::NothingWritten : RunOutcome::Written;

    if (written == 0) view.ShowMessage(NothingWrittenMessage());
    if (!input.startedWithArguments) view.ShowMessage(SummaryMessage(input, result));
    view.SetProgressVisible(false);
    view.ProcessPendingMessages();
    return result;
  } catch (...) {
    if (file) file->Discard();
    view.SetProgressVisible(false);
    session.ZapriExcel();
    throw;
  }
}

}  // namespace ratemover

#include "transfer/import_run.h"

#include <array>
#include <exception>
#include <optional>
#include <stdexcept>

#include "common/regional.h"
#include "common/text.h"
#include "transfer/date_text.h"
#include "transfer/rate_file.h"
#include "transfer/rate_record.h"

namespace ratemover {

namespace {

constexpr char kCr = '\r';
constexpr std::string_view kIndexMarker = "INDEKS";

// The column numbers the run reads, in the order of the column table: each
// profile letter's number, or the column's fallback when the letter names none.
class Columns {
 public:
  explicit Columns(const Tecajnica& profile) {
    for (const ProfileColumn& column : kProfileColumns) {
      const int number = ColumnNumberOf(profile.*column.letter);
      numbers_[static_cast<std::size_t>(column.column)] = number == 0 ? column.fallbackNumber : number;
    }
  }
  // 0 for a column that is not read
  std::int32_t operator[](Column column) const { return numbers_[static_cast<std::size_t>(column)]; }

 private:
  std::array<std::int32_t, kProfileColumns.size()> numbers_{};
};

// The date cell of the start row; a cell that cannot be read is thrown.
std::string ReadDateCell(spreadsheet::Session& session, std::int32_t startRow, std::int32_t dateColumn) {
  const spreadsheet::CellText dateCell = session.BeriCelico(startRow, dateColumn);
  // rows are counted from 1: a session that answers for row 0 does not make it a date
  if (!dateCell || startRow < 1) {
    throw std::runtime_error("Celice v vrstici " + DecimalText(startRow) + ", stolpcu " + DecimalText(dateColumn) +
                             " ni mogo\xE8" "e prebrati");
  }
  return *dateCell;
}

// Writes a price line for every row with a price, from the start row down to the
// first blank symbol or the row limit; returns how many were written.
std::int32_t WritePriceLines(spreadsheet::Session& session, const Columns& columns, std::int32_t startRow,
                             const std::string& formattedDate, RateFile& file) {
  std::int32_t written = 0;
  for (std::int32_t row = startRow; row <= kLastRow; ++row) {
    // an unreadable symbol or price counts as an empty one
    const std::string symbol = session.BeriCelico(row, columns[Column::Symbol]).value_or(std::string());
    if (IsBlank(symbol)) break;
    const std::string priceText = session.BeriCelico(row, columns[Column::Price]).value_or(std::string());
    std::string_view marker;
    if (columns[Column::Index] >= 1) {
      const spreadsheet::CellText indexCell = session.BeriCelico(row, columns[Column::Index]);
      if (indexCell && !IsBlank(*indexCell)) marker = kIndexMarker;
    }
    // a price text that is not a number counts as 0
    const double price = DveDecimalki(priceText).value_or(0);
    if (price != 0) {
      ++written;
      file.WritePriceLine({symbol, marker, price, formattedDate});
    }
  }
  return written;
}

// A workbook that could not be opened was read as an empty sheet, so the date
// message alone would blame the date cell: the reason follows on a line of its own.
OperatorMessage NoDateMessage(const ImportRunInput& input, const std::string& dateText,
                              const std::optional<spreadsheet::WorkbookError>& openFailure) {
  OperatorMessage message;
  message.Text("Excel datoteka '").Name(input.workbookPath).Text("' ni v pravem formatu!");
  std::string text(1, kCr);
  text += "V celici " + input.profile.date + DecimalText(input.profile.startRow) + " bi moral biti datum!";
  text += kCr;
  text += "Datum: '" + dateText + "'";
  if (openFailure) {
    text += kCr;
    text += spreadsheet::OpenFailureSentence(openFailure->Reason());
  }
  return message.Text(text);
}

std::string NothingWrittenMessage() {
  std::string text = "Podatki niso bili prepisani!";
  text += kCr;
  text += "Preveri v parametrih, \xE8" "e je te\xE8" "aj nastavljen v pravi koloni!";
  return text;
}

OperatorMessage SummaryMessage(const ImportRunInput& input, const RunResult& result) {
  std::string text = "Podatki uspe\x9Ano prepisani!";
  text += kCr;
  text += kCr;
  text += "Prepisanih vrstic: " + DecimalText(result.writtenRows);
  text += kCr;
  text += "Vhodna datoteka:  ";
  OperatorMessage message(text);
  message.Name(input.workbookPath).Text("\rIzhodna datoteka: ").Name(result.outputPath).Text("\r");
  return message;
}

}  // namespace

RunResult ImportIzExcela(const ImportRunInput& input, spreadsheet::Session& session, OperatorView& view) {
  RunResult result;
  view.SetProgressVisible(true);
  view.ProcessPendingMessages();

  // Every failure that leaves the run as an exception puts an empty rate file in
  // place (once the new one was begun), hides the label and closes the session.
  std::optional<RateFile> file;
  try {
    if (!session.OdpriExcel()) {
      view.ShowMessage("Verjetno ni instaliran EXCEL");
      view.SetProgressVisible(false);
      result.outcome = RunOutcome::SessionUnavailable;
      return result;
    }
    session.OdpriZvezek(input.workbookPath, input.show);
    result.outputPath = OutputFileName(input.workbookPath);
    const Columns columns(input.profile);

    file.emplace(result.outputPath);
    if (!file->Create(input.workbookPath)) {
      file.reset();
      view.ShowMessage(OperatorMessage("Ne morem pisati v datoteko ").Name(result.outputPath));
      view.SetProgressVisible(false);
      result.outcome = RunOutcome::FileNotCreated;
      return result;
    }

    const std::int32_t startRow = input.profile.startRow;
    const std::string dateCell = ReadDateCell(session, startRow, columns[Column::Date]);
    const int currentYear = input.currentYear != 0 ? input.currentYear : CurrentYear();
    const auto date = ParseDateText(PrvaBeseda(dateCell), Regional(), currentYear);
    if (!date) {
      // nothing written: an empty file takes the rate file's place before the operator is told
      file->Close();
      file.reset();
      view.ShowMessage(NoDateMessage(input, dateCell, session.OpenFailureOf()));
      view.SetProgressVisible(false);
      session.ZapriExcel();
      result.outcome = RunOutcome::NoDate;
      return result;
    }

    const std::string formattedDate = FormattedDate(date->day, date->month, date->year);
    file->WriteDateLine(formattedDate);
    const std::int32_t written = WritePriceLines(session, columns, startRow, formattedDate, *file);
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

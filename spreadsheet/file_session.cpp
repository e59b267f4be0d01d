// The session that reads the workbook file itself, in place of a spreadsheet
// application driven by automation.
#include <stdexcept>

#include "common/program_dir.h"
#include "common/tecajnica.h"
#include "spreadsheet/cell_text.h"
#include "spreadsheet/session.h"
#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/workbook_reader.h"

namespace ratemover::spreadsheet {

namespace {

class WorkbookFileSession : public Session {
 public:
  bool OdpriExcel() override {
    open_ = true;
    return true;
  }

  void OdpriZvezek(const std::string& path, bool /*show: there is no window to show*/) override {
    if (!open_) throw std::runtime_error("Seja z delovnim zvezkom ni odprta.");
    CloseWorkbook();
    failure_.reset();
    format_.reset();
    // The workbook file stays open for as long as the workbook is: rows read
    // later come from the same file, and are refused if it changed meanwhile.
    SheetRead read;
    try {
      file_ = std::make_unique<WorkbookFile>(path);
      read = ReadActiveSheet(*file_, kLastRow, cells_);
    } catch (const WorkbookError& failure) {
      read.failure = failure;
    }
    if (read) {
      rowsRead_ = kLastRow;
      size_ = read.size;
      format_ = read.format;
      // A chart, macro or dialog sheet is active: the workbook is open, but
      // there is no worksheet whose cells could be read.
      if (!read.activeIsWorksheet) {
        noWorksheet_ = true;
        file_.reset();
      }
    } else {
      // The workbook cannot be opened: go on, silently, with an empty
      // workbook of one sheet; the reason is kept for whoever asks.
      failure_ = read.failure;
      cells_.Clear();
      file_.reset();
      size_ = kLargeSheet;
    }
    workbookOpen_ = true;
  }

  CellText BeriCelico(std::int32_t row, std::int32_t column) override {
    if (!open_ || !workbookOpen_ || noWorksheet_) return std::nullopt;
    if (row < 1 || column < 1 || row > size_.rows || column > size_.columns) return std::nullopt;
    if (file_ && row > rowsRead_ && !ReadFurther(row)) return std::nullopt;
    const std::optional<CellValue> value = cells_.Find(row, column);
    if (!value) return std::string();
    return TextOfCell(*value, cells_.GetDateSystem());
  }

  void ZapriExcel() noexcept override {
    CloseWorkbook();
    open_ = false;
  }

  std::optional<WorkbookError> OpenFailureOf() const override { return failure_; }
  std::optional<WorkbookFormat> FormatOf() const override { return format_; }

 private:
  // A cell below the rows read: read the sheet again, far enough down. The
  // limit at least doubles, so that walking down row by row costs a bounded
  // number of passes. A sheet that cannot be read that far (damaged further
  // down) gives read failures below the rows already read; those keep their
  // texts.
  bool ReadFurther(std::int32_t row) {
    if (furtherUnreadable_) return false;
    std::int32_t limit = rowsRead_ <= size_.rows / 2 ? rowsRead_ * 2 : size_.rows;
    if (limit < row) limit = row;
    SheetCells further;
    // The rows already read came from the file as opened: the rest must too,
    // though a newer file may have taken its name meanwhile.
    const SheetRead read = ReadActiveSheet(*file_, limit, further, /*contentOnly=*/true);
    if (!read) {
      failure_ = read.failure;
      furtherUnreadable_ = true;
      return false;
    }
    cells_ = std::move(further);
    rowsRead_ = limit;
    return true;
  }

  void CloseWorkbook() noexcept {
    cells_.Clear();
    cells_.SetDateSystem(DateSystem::Base1900);
    file_.reset();
    workbookOpen_ = false;
    noWorksheet_ = false;
    furtherUnreadable_ = false;
    rowsRead_ = 0;
    size_ = kLargeSheet;
  }

  bool open_ = false;
  bool workbookOpen_ = false;
  bool furtherUnreadable_ = false;
  bool noWorksheet_ = false;  // the active sheet has no cells: every read fails
  std::unique_ptr<WorkbookFile> file_;  // none for the empty workbook
  std::optional<WorkbookError> failure_;  // kept past ZapriExcel, for whoever asks after the run
  std::optional<WorkbookFormat> format_;  // likewise
  SheetCells cells_;
  std::int32_t rowsRead_ = 0;
  SheetSize size_ = kLargeSheet;
};

}  // namespace

std::unique_ptr<Session> MakeWorkbookFileSession() { return std::make_unique<WorkbookFileSession>(); }

}  // namespace ratemover::spreadsheet

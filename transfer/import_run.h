#pragma once
// The import run: one workbook in, one rate file out, every outcome told to the
// operator.
#include <cstdint>
#include <string>

#include "common/operator_view.h"
#include "common/tecajnica.h"
#include "spreadsheet/session.h"

namespace ratemover {

struct ImportRunInput {
  std::string workbookPath;           // as typed, as the file system names it
  Tecajnica profile;                  // the current profile as the run starts
  bool show = false;                  // make the spreadsheet visible (always false here)
  bool startedWithArguments = false;  // suppresses the summary message
  int currentYear = 0;                // for two-digit and missing years; 0 means today's
};

enum class RunOutcome {
  SessionUnavailable,  // "Verjetno ni instaliran EXCEL"
  FileNotCreated,      // "Ne morem pisati v datoteko ...", also when it would be the workbook itself
  NoDate,              // "... ni v pravem formatu! ..."
  NothingWritten,      // "Podatki niso bili prepisani! ..."
  Written,             // at least one price line
};

struct RunResult {
  RunOutcome outcome = RunOutcome::SessionUnavailable;
  std::int32_t writtenRows = 0;
  std::string outputPath;  // as the file system names it
};

// Runs one transfer. Failures at the unguarded places (the date cell read, a
// write to the rate file, the session's fallback) are thrown; the rate file is
// left empty, the progress label hidden and the session closed before the
// exception leaves.
RunResult ImportIzExcela(const ImportRunInput& input, spreadsheet::Session& session, OperatorView& view);

}  // namespace ratemover

#pragma once
// One transfer request as the transfer button makes it: close the session, check
// that the workbook exists, run the import, close the session again.
#include "transfer/import_run.h"

namespace ratemover {

struct RequestResult {
  bool workbookMissing = false;  // "Datoteka ne obstaja!" was shown; no run
  RunResult run;                 // the run's result when the run returned
};

// Throws what the run throws; then the closing steps after the run do not happen.
RequestResult TransferRequest(const ImportRunInput& input, spreadsheet::Session& session, OperatorView& view);

}  // namespace ratemover

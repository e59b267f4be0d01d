#include "transfer/transfer_request.h"

#include "common/program_dir.h"

namespace ratemover {

RequestResult TransferRequest(const ImportRunInput& input, spreadsheet::Session& session, OperatorView& view) {
  RequestResult result;
  session.ZapriExcel();
  view.ProcessPendingMessages();
  // the path is taken exactly as typed; a directory is no workbook
  if (!IsExistingFile(input.workbookPath)) {
    view.ShowMessage(OperatorMessage("Datoteka ne obstaja!\r").Name(input.workbookPath));
    result.workbookMissing = true;
    return result;
  }
  result.run = ImportIzExcela(input, session, view);
  session.ZapriExcel();
  view.ProcessPendingMessages();
  return result;
}

}  // namespace ratemover

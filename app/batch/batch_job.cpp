#include "app/batch/batch_job.h"

#include <exception>

#include "app/batch/batch_options.h"
#include "app/batch/cell_listing.h"
#include "app/batch/stream_operator_view.h"
#include "common/cp1250.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "config/config_file.h"
#include "config/name_folding.h"
#include "spreadsheet/session.h"
#include "transfer/transfer_request.h"

#ifndef RATEMOVER_VERSION
#define RATEMOVER_VERSION "3.4.0.0"
#endif

namespace ratemover::batch {

namespace {

// The first listed profile (a slot in use with a name that is not blank) whose
// name equals the given one, or nullptr.
const Tecajnica* FindListedProfile(const ProfileState& state, const std::string& name) {
  for (std::int32_t n = 1; n <= state.table.count; ++n) {
    const Tecajnica& slot = state.table.Slot(n);
    if (!IsBlank(slot.name) && EnakaImena(slot.name, name)) return &slot;
  }
  return nullptr;
}

// Why a configuration named with --conf cannot be used, or empty when it can.
std::string ConfigFileComplaint(const std::string& configPath, const std::string& shownName) {
  switch (CheckConfigFile(configPath)) {
    case ConfigFileProblem::None:
      return std::string();
    case ConfigFileProblem::Missing:
      return "datoteka z nastavitvami " + shownName + " ne obstaja";
    case ConfigFileProblem::NotAFile:
      return shownName + " ni navadna datoteka z nastavitvami";
    case ConfigFileProblem::Unreadable:
      return "datoteke z nastavitvami " + shownName + " ni mogoče brati";
    case ConfigFileProblem::NoSection:
      return "v datoteki z nastavitvami " + shownName + " ni vrstice [EXCEL_FORMAT]";
  }
  return std::string();
}

// "ratemover-batch: delovnega zvezka ni mogoče odpreti: " and the reason in
// Slovene; the reader's detail follows in brackets. The detail may name a part
// of the file, so it is escaped like a file name before it reaches a terminal.
std::string OpenFailureLine(const spreadsheet::WorkbookError& failure) {
  std::string line = "ratemover-batch: delovnega zvezka ni mogoče odpreti: ";
  line += Utf8FromCp1250(spreadsheet::OpenFailureWords(failure.Reason()));
  if (!failure.Detail().empty()) line += " (" + EscapedName(failure.Detail()) + ")";
  return line;
}

int StatusOfRun(const RunResult& run) {
  switch (run.outcome) {
    case RunOutcome::Written:
      return kExitWritten;
    case RunOutcome::NothingWritten:
      return kExitNothingWritten;
    case RunOutcome::SessionUnavailable:
    case RunOutcome::FileNotCreated:
    case RunOutcome::NoDate:
      break;
  }
  return kExitNotTransferred;
}

}  // namespace

int RunBatchJob(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  const ParsedOptions parsed = ParseBatchOptions(arguments);
  if (!parsed.options) {
    err << "ratemover-batch: " << parsed.error << "\n\n" << UsageText();
    return kExitUsage;
  }
  const BatchOptions& options = *parsed.options;
  if (options.help) {
    out << UsageText();
    return kExitWritten;
  }
  if (options.version) {
    out << "ratemover-batch " << RATEMOVER_VERSION << "\n";
    return kExitWritten;
  }
  if (options.cells) {
    try {
      const auto session = spreadsheet::MakeWorkbookFileSession();
      return ListCells(*session, *options.workbook, options.rows, out);
    } catch (const std::exception& failure) {
      err << "ratemover-batch: " << failure.what() << "\n";
      return kExitFailure;
    }
  }

  StreamOperatorView view(err);
  try {
    // Paths from the command line are used as given: the file system's own bytes.
    const std::string configPath = options.configFile ? *options.configFile : ConfigFilePath();
    // Settings asked for by name must be there: a job that silently ran with
    // none would write with the wrong columns. Missing beside the program means none.
    if (options.configFile) {
      const std::string complaint = ConfigFileComplaint(configPath, EscapedName(configPath));
      if (!complaint.empty()) {
        err << "ratemover-batch: " << complaint << "\n";
        return kExitConfig;
      }
    }
    ConfigReading reading = BeriIniDatoteko(configPath, ProgramDir());

    Tecajnica profile = reading.state.current;
    if (options.profileName) {
      const Tecajnica* named = FindListedProfile(reading.state, Cp1250FromUtf8(*options.profileName));
      if (named == nullptr) {
        err << "ratemover-batch: v nastavitvah ni tečajnice " << EscapedName(*options.profileName) << "\n";
        return kExitUsage;
      }
      profile = *named;
    }

    ImportRunInput input;
    input.workbookPath = options.workbook ? *options.workbook : reading.workbookPath;
    input.profile = profile;
    input.show = false;
    input.startedWithArguments = true;

    const auto session = spreadsheet::MakeWorkbookFileSession();
    const RequestResult result = TransferRequest(input, *session, view);
    // The run itself goes on with an empty sheet; the operator of a batch job
    // is told why in one line as well, with what the reader hit in brackets.
    if (const auto failure = session->OpenFailureOf()) err << OpenFailureLine(*failure) << "\n";
    if (result.workbookMissing) return kExitNotTransferred;

    const int status = StatusOfRun(result.run);
    if (result.run.outcome == RunOutcome::Written || result.run.outcome == RunOutcome::NothingWritten) {
      out << "Prepisanih vrstic: " << result.run.writtenRows << "\n"
          << "Izhodna datoteka: " << EscapedName(result.run.outputPath) << "\n";
    }
    return status;
  } catch (const NamedFailure& failure) {
    view.ShowMessage(failure.Message());
    return kExitFailure;
  } catch (const std::exception& failure) {
    view.ShowMessage(failure.what());
    return kExitFailure;
  }
}

}  // namespace ratemover::batch

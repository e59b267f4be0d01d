#pragma once
// One scheduled transfer without a display: read the configuration, pick the
// profile and the workbook, run the transfer request, map its outcome to an
// exit status.
#include <ostream>
#include <string>
#include <vector>

namespace ratemover::batch {

enum ExitStatus : int {
  kExitWritten = 0,         // the rate file holds at least one price line
  kExitFailure = 1,         // any other failure (the general error report)
  kExitNotTransferred = 2,  // workbook missing, no session, rate file not creatable, no date
  kExitNothingWritten = 3,  // the run wrote no price line
  kExitUsage = 64,          // wrong command line
  kExitConfig = 78,         // the configuration named with --conf cannot be used
};

// Runs the job for the arguments after the program's name. Messages the
// operator would see go to err (UTF-8, one line per line break); the summary to out.
int RunBatchJob(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace ratemover::batch

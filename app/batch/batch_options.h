#pragma once
// The command line of ratemover-batch.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/tecajnica.h"

namespace ratemover::batch {

struct BatchOptions {
  std::optional<std::string> configFile;   // --conf FILE (as given: the file system's bytes)
  std::optional<std::string> profileName;  // --profile NAME (UTF-8, as given)
  std::optional<std::string> workbook;     // WORKBOOK (as given: the file system's bytes)
  bool cells = false;                      // --cells: print what is read, transfer nothing
  std::int32_t rows = kLastRow;            // --rows N, with --cells: rows 1 to N
  bool help = false;
  bool version = false;
};

struct ParsedOptions {
  std::optional<BatchOptions> options;  // no value: a usage error
  std::string error;                    // what was wrong, for the usage message
};

// The arguments after the program's own name.
ParsedOptions ParseBatchOptions(const std::vector<std::string>& arguments);

std::string UsageText();

}  // namespace ratemover::batch

#pragma once
// The regional settings of the program: one value, used wherever numbers and
// dates are read or written in the user's regional form. The process locale is
// never consulted.
#include <string>

namespace ratemover {

struct RegionalSettings {
  char decimalSeparator = ',';
  std::string shortDateFormat = "d.M.yyyy";  // day, month, year
  char dateSeparator = '.';
  std::string timeFormat = "H:mm:ss";
};

const RegionalSettings& Regional();

}  // namespace ratemover

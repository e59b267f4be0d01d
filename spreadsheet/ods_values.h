#pragma once
// The value attributes of OpenDocument cells: numbers, ISO dates, ISO
// durations and booleans as the .ods reader finds them in content.xml.
#include <optional>
#include <string_view>

namespace ratemover::spreadsheet {

// office:value: a decimal number ("42", "-0.1234567", "1E+020"); never the
// process locale. No value for anything else, infinities and NaN included.
std::optional<double> ParseOdfNumber(std::string_view text);

// office:time-value: an ISO duration "PT14H30M00S" (also with days and
// fractions, "P1DT2H", "PT0.5S", "-PT1H") as a number of days.
std::optional<double> ParseOdfDuration(std::string_view text);

// office:boolean-value: "true" or "false" (also "1" and "0").
std::optional<bool> ParseOdfBoolean(std::string_view text);

}  // namespace ratemover::spreadsheet

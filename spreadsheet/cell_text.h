#pragma once
// A stored cell turned into the text that the import run reads, under the
// program's regional settings.
#include <string>

#include "spreadsheet/cell_value.h"
#include "spreadsheet/session.h"

namespace ratemover::spreadsheet {

// The cell's text; no value for an error (a read failure).
CellText TextOfCell(const CellValue& value, DateSystem system);

// The general form of a number: up to 15 significant digits, the regional
// decimal separator, no trailing zeros, no grouping; scientific form only below
// 0.00001 or with more than 15 integer digits.
std::string GeneralNumberText(double value);

// A date serial of the given system as the regional short date, followed by one
// blank and the time when the time of day is not midnight.
std::string DateTimeText(double serial, DateSystem system);

// The serial that a calendar date and a time of day (seconds since midnight)
// have in a date system; DateTimeText gives them back.
double SerialOfDateTime(int year, int month, int day, double secondsOfDay, DateSystem system);

}  // namespace ratemover::spreadsheet

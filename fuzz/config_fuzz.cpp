// Feeds arbitrary bytes to the configuration reader as the content of
// "Ratemover.CONF", then writes the table back and reads it again.
//
// Invariants checked (a violation aborts):
//  - the count stays within the table, the current profile is the selected entry
//    or the default profile, and the label shows its name;
//  - the same bytes handed out a few at a time give the same state;
//  - writing and reading back keeps every non-blank entry (blanks at the end of
//    a value are lost, as the reader trims lines), the selection and the path;
//  - a second round trip gives back the same text;
//  - entries left out for want of slots are counted, and only from a full
//    table, the same in pieces, never from a file the writer wrote;
//  - name comparison is symmetric and folding keeps the length.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/tecajnica.h"
#include "common/text.h"
#include "config/config_file.h"
#include "config/name_folding.h"

namespace {

using ratemover::ProfileState;
using ratemover::Tecajnica;

// Hands out the bytes in pieces of 1 to 7, so that line ends fall across reads.
class PieceBuffer : public std::streambuf {
 public:
  explicit PieceBuffer(std::string bytes) : bytes_(std::move(bytes)) { setg(bytes_.data(), bytes_.data(), bytes_.data()); }

 protected:
  int_type underflow() override {
    char* const end = bytes_.data() + bytes_.size();
    if (egptr() == end) return traits_type::eof();
    const std::size_t piece = 1 + (step_++ % 7);
    char* const next = egptr() + std::min<std::size_t>(piece, static_cast<std::size_t>(end - egptr()));
    setg(egptr(), egptr(), next);
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::string bytes_;
  std::size_t step_ = 0;
};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

std::string RightTrimmed(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(0, end);
}

Tecajnica AsWritten(const Tecajnica& entry) {
  return Tecajnica{RightTrimmed(entry.name), entry.startRow, RightTrimmed(entry.date), RightTrimmed(entry.symbol),
                   RightTrimmed(entry.price), RightTrimmed(entry.index)};
}

// The states are kept from input to input (a fresh table of 3000 slots per read
// costs more than the read); only the slots that a read can touch are cleared.
ProfileState& Fresh(ProfileState& state) {
  for (std::int32_t n = 1; n <= state.table.count; ++n) state.table.Slot(n) = Tecajnica{};
  state.table.count = 0;
  state.table.selected = 0;
  state.current = ratemover::ProfileAtProgramStart();
  return state;
}

ratemover::ConfigReading& Scratch(int which) {
  static ratemover::ConfigReading readings[4];
  ratemover::ConfigReading& reading = readings[which];
  Fresh(reading.state);
  reading.workbookPath = "start.xls";
  reading.profileChosen = false;
  return reading;
}

void ReadInto(const std::string& text, ratemover::ConfigReading& reading) {
  std::istringstream in(text);
  ratemover::ReadConfigFrom(in, reading, "fuzz");
}

void CheckState(const ratemover::ConfigReading& reading) {
  const ProfileState& state = reading.state;
  const auto& table = state.table;
  Check(table.count >= 0 && table.count <= ratemover::kProfileSlots, "count within the table");
  const Tecajnica expected = table.SelectsEntry() ? table.Slot(table.selected) : ratemover::DefaultProfile();
  Check(state.current == expected, "current profile is the selected entry or the default");
  Check(reading.profileChosen, "a read chooses the current profile");
  const auto& leftOut = reading.leftOut;
  Check(leftOut.names.size() <= ratemover::LeftOutProfiles::kNamesKept &&
            static_cast<std::size_t>(leftOut.count) >= leftOut.names.size(),
        "left-out names within their bound and counted");
  Check(leftOut.count == 0 || table.count == ratemover::kProfileSlots, "entries left out only from a full table");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  ratemover::ConfigReading& firstReading = Scratch(0);
  ReadInto(bytes, firstReading);
  CheckState(firstReading);
  const ProfileState& first = firstReading.state;

  {
    PieceBuffer pieces(bytes);
    std::istream in(&pieces);
    ratemover::ConfigReading& againReading = Scratch(1);
    ratemover::ReadConfigFrom(in, againReading, "fuzz");
    const ProfileState& again = againReading.state;
    Check(again.table.count == first.table.count && again.table.selected == first.table.selected,
          "pieces: same count and selection");
    for (std::int32_t n = 1; n <= first.table.count; ++n) {
      Check(again.table.Slot(n) == first.table.Slot(n), "pieces: same entries");
    }
    Check(againReading.workbookPath == firstReading.workbookPath, "pieces: same workbook");
    Check(againReading.leftOut.count == firstReading.leftOut.count &&
              againReading.leftOut.names == firstReading.leftOut.names,
          "pieces: same entries left out");
  }

  // Write and read back.
  const std::string text1 = ratemover::ConfigFileText(first.table, firstReading.workbookPath);
  ratemover::ConfigReading& secondReading = Scratch(2);
  ReadInto(text1, secondReading);
  CheckState(secondReading);
  const ProfileState& second = secondReading.state;

  std::int32_t written = 0;
  for (std::int32_t n = 1; n <= first.table.count; ++n) {
    const Tecajnica& entry = first.table.Slot(n);
    if (ratemover::IsBlank(entry.name)) continue;
    ++written;
    Check(written <= second.table.count, "every written entry read back");
    Check(second.table.Slot(written) == AsWritten(entry), "entry read back as written");
  }
  Check(second.table.count == written, "no extra entries");
  Check(secondReading.leftOut.count == 0, "a written file fits the table");
  Check(second.table.selected == ratemover::SelectedIndexToWrite(first.table), "selection written");
  if (first.table.SelectsEntry() && !ratemover::IsBlank(first.current.name)) {
    Check(second.current == AsWritten(first.current), "the same profile is current after the round trip");
  }
  Check(secondReading.workbookPath == RightTrimmed(firstReading.workbookPath), "workbook path read back");

  const std::string text2 = ratemover::ConfigFileText(second.table, secondReading.workbookPath);
  ratemover::ConfigReading& thirdReading = Scratch(3);
  ReadInto(text2, thirdReading);
  Check(ratemover::ConfigFileText(thirdReading.state.table, thirdReading.workbookPath) == text2,
        "second round trip is stable");

  // Name folding on the names read.
  if (first.table.count >= 2) {
    const std::string& a = first.table.Slot(1).name;
    const std::string& b = first.table.Slot(2).name;
    Check(ratemover::EnakaImena(a, b) == ratemover::EnakaImena(b, a), "name comparison is symmetric");
    Check(ratemover::EnakaImena(a, a), "a name equals itself");
    const std::string folded = ratemover::BrezSumnikov(a);
    Check(folded.size() == a.size() && ratemover::BrezSumnikov(folded) == folded, "folding keeps length, is stable");
  }
  return 0;
}

// The record cursor that every BIFF reader walks its stream with: where a
// stream ends cleanly, where a record breaks off, and how long a record may
// be in the versions with and without CONTINUE records.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "spreadsheet/biff_records.h"
#include "spreadsheet/open_failure.h"

namespace ratemover::spreadsheet::biff {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RecordOf(std::uint16_t type, std::size_t length) {
  Bytes bytes = {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8),
                 static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)};
  bytes.resize(4 + length, 0x5A);
  return bytes;
}

Bytes Joined(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Cut(Bytes bytes) {
  bytes.pop_back();
  return bytes;
}

TEST(RecordCursor, StepsThroughRecordsToTheEndOrWhereOneBreaksOff) {
  using Step = RecordCursor::Step;
  struct Case {
    const char* what;
    Bytes bytes;
    std::uint16_t maxLength;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"an empty stream", {}, kMaxRecordLength, {Step::End}},
      {"two records", Joined({RecordOf(0x0809, 16), RecordOf(0x000A, 0)}), kMaxRecordLength,
       {Step::Record, Step::Record, Step::End}},
      {"a header cut short", Joined({RecordOf(0x0809, 16), {0x0A, 0x00, 0x00}}), kMaxRecordLength,
       {Step::Record, Step::Broken}},
      {"data that runs past the end", Cut(RecordOf(0x0203, 14)), kMaxRecordLength, {Step::Broken}},
      {"a record longer than CONTINUE allows", RecordOf(0x00FC, kMaxRecordLength + 1), kMaxRecordLength,
       {Step::Broken}},
      {"the same record where no CONTINUE exists", RecordOf(0x00FC, kMaxRecordLength + 1), 0xFFFF,
       {Step::Record, Step::End}},
  };
  for (const Case& c : cases) {
    Stream stream(c.bytes.data(), c.bytes.size());
    RecordCursor cursor(stream, 0, c.maxLength);
    std::uint64_t expectedOffset = 4;
    for (const Step expected : c.steps) {
      Record record;
      const Step step = cursor.Next(record);
      ASSERT_EQ(step, expected) << c.what;
      if (step != Step::Record) continue;
      EXPECT_EQ(record.offset, expectedOffset) << c.what;
      EXPECT_EQ(cursor.Position(), record.offset + record.length) << c.what;
      EXPECT_EQ(c.bytes[record.offset - 4], static_cast<std::uint8_t>(record.type)) << c.what;
      expectedOffset = cursor.Position() + 4;
    }
  }
}

TEST(RecordCursor, APartThatMustReachItsEofSaysWhereItEnded) {
  const Bytes bytes = RecordOf(0x0809, 16);
  Stream stream(bytes.data(), bytes.size());
  RecordCursor cursor(stream, 0);
  EXPECT_EQ(cursor.Expect("the globals").type, 0x0809);
  try {
    cursor.Expect("the globals");
    FAIL() << "no record after the last";
  } catch (const WorkbookError& error) {
    EXPECT_EQ(error.Reason(), OpenFailure::Damaged);
    EXPECT_EQ(error.Detail(), "the globals ends at offset 20 without its EOF record");
  }
}

TEST(RecordCursor, PeekingLeavesTheRecordToNext) {
  const Bytes bytes = Joined({RecordOf(0x0006, 2), RecordOf(0x0207, 3)});
  Stream stream(bytes.data(), bytes.size());
  RecordCursor cursor(stream, 6);
  std::uint16_t type = 0;
  ASSERT_TRUE(cursor.PeekType(type));
  EXPECT_EQ(type, 0x0207);
  Record record;
  ASSERT_EQ(cursor.Next(record), RecordCursor::Step::Record);
  EXPECT_EQ(record.type, 0x0207);
  EXPECT_FALSE(cursor.PeekType(type));
}

}  // namespace
}  // namespace ratemover::spreadsheet::biff

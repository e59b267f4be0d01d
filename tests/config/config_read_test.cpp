// Reading the configuration file: line ends, trimming, the section, the keys and
// their values, the choice of the current profile.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "common/tecajnica.h"
#include "config/config_file.h"
#include "config_test_support.h"

namespace ratemover {
namespace {

using testing::ReadInto;
using testing::ReadStream;
using testing::Shown;
using testing::Line;
using testing::TempDir;
using testing::WriteBytes;
using namespace std::string_literals;

const std::string kDefaultName = "TESTNA TE\xC8" "AJNICA";

struct ReadOutcome {
  ProfileState state;
  Shown fields;
  std::string programDir;
};

// Writes the bytes as the configuration file of a fresh program folder and reads it.
ReadOutcome ReadText(const std::string& bytes, ProfileState initial = {}) {
  TempDir dir;
  WriteBytes(dir.File("Ratemover.CONF"), bytes);
  ReadOutcome outcome{std::move(initial), {}, dir.path()};
  outcome.fields.label = "label before";
  ReadInto(outcome.state, outcome.fields, dir.File("Ratemover.CONF"), dir.path());
  return outcome;
}

Tecajnica Entry(std::string name, std::int32_t startRow, std::string date, std::string symbol, std::string price,
                std::string index) {
  return Tecajnica{std::move(name), startRow, std::move(date), std::move(symbol), std::move(price),
                   std::move(index)};
}

const std::string kHeader = Line("[EXCEL_FORMAT]");

std::string EntryLines(const std::string& name, const std::string& row, const std::string& datum = "A",
                       const std::string& simbol = "B", const std::string& tecaj = "C",
                       const std::string& indeks = "") {
  return Line("  TECAJNICA=" + name) + Line("    START_VRSTICA=" + row) + Line("    DATUM=" + datum) +
         Line("    SIMBOL=" + simbol) + Line("    TECAJ=" + tecaj) + Line("    INDEKS=" + indeks);
}

const std::string kThreeEntries =
    EntryLines("PRVA", "2", "A", "B", "D") + EntryLines("DRUGA", "5", "C", "D", "E", "F") + EntryLines("TRETJA", "7");

TEST(ConfigRead, NoFileGivesStartValuesAndLeavesTheTable) {
  TempDir dir;
  ProfileState state;
  state.table.count = 2;
  state.table.selected = 7;
  state.table.Slot(1).name = "OSTANE";
  state.current = Entry("PREJ", 9, "X", "Y", "W", "V");
  Shown fields;
  fields.label = "label before";
  ReadInto(state, fields, dir.File("Ratemover.CONF"), dir.path());

  EXPECT_EQ(fields.workbook, dir.path() + "Ratemover.xls");
  EXPECT_EQ(state.current, Entry("", 2, "A", "B", "D", ""));
  EXPECT_EQ(fields.label, "label before");
  EXPECT_EQ(state.table.count, 2);
  EXPECT_EQ(state.table.selected, 7);
  EXPECT_EQ(state.table.Slot(1).name, "OSTANE");
}

TEST(ConfigRead, AFolderInPlaceOfTheFileCountsAsNoFile) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("Ratemover.CONF").c_str(), 0755), 0);
  ProfileState state;
  Shown fields;
  EXPECT_NO_THROW(ReadInto(state, fields, dir.File("Ratemover.CONF"), dir.path()));
  EXPECT_EQ(state.table.selected, 0);
  EXPECT_FALSE(fields.label.has_value());
  EXPECT_EQ(fields.workbook, dir.path() + "Ratemover.xls");
}

struct ReadCase {
  const char* what;
  std::string text;
  std::function<void(const ReadOutcome&)> check;
};

void RunCases(const std::vector<ReadCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.check(ReadText(c.text));
  }
}

TEST(ConfigRead, SelectionAndCurrentProfile) {
  RunCases({
      {"no selection line: the first entry", kHeader + kThreeEntries,
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 3);
         EXPECT_EQ(o.state.table.selected, 1);
         EXPECT_EQ(o.state.current, Entry("PRVA", 2, "A", "B", "D", ""));
         EXPECT_EQ(o.fields.label, "PRVA");
       }},
      {"second selected", kHeader + Line("  IZBRANA_TECAJNICA=2") + kThreeEntries,
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.selected, 2);
         EXPECT_EQ(o.state.current, Entry("DRUGA", 5, "C", "D", "E", "F"));
         EXPECT_EQ(o.fields.label, "DRUGA");
       }},
      {"letters leave 1", kHeader + Line("  IZBRANA_TECAJNICA=dve") + kThreeEntries,
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.selected, 1);
         EXPECT_EQ(o.fields.label, "PRVA");
       }},
      {"an invalid line keeps an earlier valid one",
       kHeader + Line("IZBRANA_TECAJNICA=3") + Line("IZBRANA_TECAJNICA=3a") + kThreeEntries,
       [](const ReadOutcome& o) { EXPECT_EQ(o.state.table.selected, 3); }},
      {"a later valid line wins", kHeader + Line("IZBRANA_TECAJNICA=3") + kThreeEntries + Line("IZBRANA_TECAJNICA=2"),
       [](const ReadOutcome& o) { EXPECT_EQ(o.fields.label, "DRUGA"); }},
      {"5 of 3: the default profile, the index kept", kHeader + Line("  IZBRANA_TECAJNICA=5") + kThreeEntries,
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.selected, 5);
         EXPECT_EQ(o.state.current, DefaultProfile());
         EXPECT_EQ(o.fields.label, kDefaultName);
       }},
      {"0: the default profile", kHeader + Line("  IZBRANA_TECAJNICA=0") + kThreeEntries,
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.selected, 0);
         EXPECT_EQ(o.state.current, DefaultProfile());
       }},
      {"negative: the default profile", kHeader + Line("  IZBRANA_TECAJNICA=-1") + kThreeEntries,
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.selected, -1);
         EXPECT_EQ(o.fields.label, kDefaultName);
       }},
      {"an empty file: selected 1 of none, the default profile", "",
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 0);
         EXPECT_EQ(o.state.table.selected, 1);
         EXPECT_EQ(o.state.current, DefaultProfile());
         EXPECT_EQ(o.fields.label, kDefaultName);
       }},
      {"the workbook line", kHeader + Line("  DATOTEKA=/home/ana/te\xE8" "aji dan.xls"),
       [](const ReadOutcome& o) { EXPECT_EQ(o.fields.workbook, "/home/ana/te\u010Daji dan.xls"); }},
      {"no workbook line: the program folder's default", kHeader + kThreeEntries,
       [](const ReadOutcome& o) { EXPECT_EQ(o.fields.workbook, o.programDir + "Ratemover.xls"); }},
  });
}

TEST(ConfigRead, WholeNumbers) {
  struct Case {
    const char* value;
    std::int32_t selected;  // what "IZBRANA_TECAJNICA=" gives (1 when not a number)
    std::int32_t startRow;  // what "START_VRSTICA=" gives
  };
  const Case cases[] = {
      {"2", 2, 2},          {"  3", 3, 3},   {"+4", 4, 4},     {"-7", -7, -7},       {"$10", 16, 16},
      {"0x1f", 31, 31},     {"", 1, 1},      {"12abc", 1, 1},  {"2147483647", 2147483647, 2147483647},
      {"2147483648", 1, 1}, {"1.5", 1, 1},   {"1,5", 1, 1},    {"-2147483648", -2147483648, -2147483648},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const auto o = ReadText(kHeader + Line(std::string("IZBRANA_TECAJNICA=") + c.value) + Line("TECAJNICA=X") +
                            Line(std::string("START_VRSTICA=") + c.value));
    EXPECT_EQ(o.state.table.selected, c.selected);
    EXPECT_EQ(o.state.table.Slot(1).startRow, c.startRow);
  }
}

TEST(ConfigRead, KeysAndValues) {
  RunCases({
      {"an entry without a start row line has start row 0", kHeader + Line("TECAJNICA=X") + Line("DATUM=A"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.Slot(1), Entry("X", 0, "A", "", "", ""));
       }},
      {"keys in lower or mixed case are ignored",
       kHeader + Line("TECAJNICA=X") + Line("datum=A") + Line("Simbol=B") + Line("tecajnica=Y") +
           Line("izbrana_tecajnica=5"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 1);
         EXPECT_EQ(o.state.table.selected, 1);
         EXPECT_EQ(o.state.table.Slot(1), Entry("X", 0, "", "", "", ""));
       }},
      {"column values are upper-cased whole, ASCII only",
       kHeader + Line("TECAJNICA=x") + Line("DATUM=c") + Line("SIMBOL=ab") + Line("TECAJ=\xE8") + Line("INDEKS=z1"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.Slot(1), Entry("x", 0, "C", "AB", "\xE8", "Z1"));
       }},
      {"attribute lines in any order; a repeated key overwrites",
       kHeader + Line("TECAJNICA=X") + Line("INDEKS=e") + Line("TECAJ=d") + Line("START_VRSTICA=4") +
           Line("TECAJ=f") + Line("SIMBOL=b") + Line("DATUM=a"),
       [](const ReadOutcome& o) { EXPECT_EQ(o.state.table.Slot(1), Entry("X", 4, "A", "B", "F", "E")); }},
      {"lines before the section and after another one are ignored",
       Line("TECAJNICA=PREJ") + Line("IZBRANA_TECAJNICA=2") + kHeader + Line("TECAJNICA=V") + Line("[DRUGO]") +
           Line("TECAJNICA=PO") + Line("DATUM=Q"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 1);
         EXPECT_EQ(o.state.table.selected, 1);
         EXPECT_EQ(o.state.table.Slot(1), Entry("V", 0, "", "", "", ""));
       }},
      {"the section opens again; its lines go on with the latest entry",
       kHeader + Line("TECAJNICA=V") + Line("[X]") + Line("DATUM=Q") + kHeader + Line("SIMBOL=s") +
           Line("TECAJNICA=W"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 2);
         EXPECT_EQ(o.state.table.Slot(1), Entry("V", 0, "", "S", "", ""));
       }},
      {"the section line is exact and case-sensitive, but trimmed",
       Line("[excel_format]") + Line("TECAJNICA=A") + Line("[EXCEL_FORMAT] x") + Line("TECAJNICA=B") +
           Line(" \t[EXCEL_FORMAT]\t ") + Line("TECAJNICA=C"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 1);
         EXPECT_EQ(o.state.table.Slot(1).name, "C");
       }},
      {"blanks after = belong to the value, those at the end are lost",
       kHeader + Line("\tTECAJNICA=  Ime  z  presledki \t ") + Line("DATUM= a "),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.Slot(1).name, "  Ime  z  presledki");
         EXPECT_EQ(o.state.table.Slot(1).date, " A");
       }},
      {"a value keeps its = signs", kHeader + Line("TECAJNICA=a=b="),
       [](const ReadOutcome& o) { EXPECT_EQ(o.state.table.Slot(1).name, "a=b="); }},
      {"a workbook path of 400 characters is cut to 300",
       kHeader + Line("DATOTEKA=" + std::string(300, 'p') + std::string(100, 'q')),
       [](const ReadOutcome& o) { EXPECT_EQ(o.fields.workbook, std::string(300, 'p')); }},
      {"an empty name takes its number",
       kHeader + Line("IZBRANA_TECAJNICA=2") + Line("TECAJNICA=") + Line("DATUM=E") + Line("TECAJNICA=DRUGA"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 2);
         EXPECT_EQ(o.state.table.Slot(1), Entry("", 0, "E", "", "", ""));
         EXPECT_EQ(o.fields.label, "DRUGA");
       }},
      {"a name of blanks only is empty", kHeader + Line("TECAJNICA=   \t"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 1);
         EXPECT_EQ(o.state.table.Slot(1).name, "");
       }},
      {"two entries of the same name are both kept",
       kHeader + Line("IZBRANA_TECAJNICA=2") + EntryLines("ISTA", "3", "A") + EntryLines("ISTA", "4", "E"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 2);
         EXPECT_EQ(o.state.current, Entry("ISTA", 4, "E", "B", "C", ""));
       }},
      {"attribute lines before the first entry belong to none",
       kHeader + Line("DATUM=Q") + Line("START_VRSTICA=9") + Line("TECAJNICA=X"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 1);
         EXPECT_EQ(o.state.table.Slot(1), Entry("X", 0, "", "", "", ""));
       }},
      {"unknown keys and stray text are ignored",
       kHeader + Line("TECAJ") + Line("=A") + Line("KOMENTAR=x") + Line("TECAJNICA=X") + Line("TECAJNICAX=Y"),
       [](const ReadOutcome& o) {
         EXPECT_EQ(o.state.table.count, 1);
         EXPECT_EQ(o.state.table.Slot(1), Entry("X", 0, "", "", "", ""));
       }},
  });
}

TEST(ConfigRead, TheSlotsAreNotCleared) {
  ProfileState initial;
  initial.table.count = 3;
  initial.table.Slot(1) = Entry("STARA", 8, "Q", "R", "S", "T");
  initial.table.Slot(2) = Entry("DRUGA", 9, "E", "F", "G", "H");
  const auto o = ReadText(kHeader + Line("TECAJNICA=NOVA") + Line("DATUM=a"), initial);
  EXPECT_EQ(o.state.table.count, 1);
  EXPECT_EQ(o.state.table.Slot(1), Entry("NOVA", 8, "A", "R", "S", "T"));
  EXPECT_EQ(o.state.table.Slot(2), Entry("DRUGA", 9, "E", "F", "G", "H"));
}

// Hands out its bytes `piece` at a time.
class PieceBuffer : public std::streambuf {
 public:
  PieceBuffer(std::string bytes, std::size_t piece) : bytes_(std::move(bytes)), piece_(piece) {
    setg(bytes_.data(), bytes_.data(), bytes_.data());
  }

 protected:
  int_type underflow() override {
    char* const end = bytes_.data() + bytes_.size();
    if (egptr() == end) return traits_type::eof();
    setg(egptr(), egptr(), egptr() + std::min(piece_, static_cast<std::size_t>(end - egptr())));
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::string bytes_;
  std::size_t piece_;
};

TEST(ConfigRead, LineEndsAndControlBytes) {
  const std::string expectedName = "Ime";
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"CR LF", "[EXCEL_FORMAT]\r\nTECAJNICA=Ime\r\nDATUM=b\r\nTECAJNICA=Dva\r\n"},
      {"lone LF", "[EXCEL_FORMAT]\nTECAJNICA=Ime\nDATUM=b\nTECAJNICA=Dva\n"},
      {"lone CR", "[EXCEL_FORMAT]\rTECAJNICA=Ime\rDATUM=b\rTECAJNICA=Dva\r"},
      {"mixed, CR CR LF, LF CR", "[EXCEL_FORMAT]\r\r\nTECAJNICA=Ime\n\rDATUM=b\rTECAJNICA=Dva"},
      {"the last line without an end", "[EXCEL_FORMAT]\r\nTECAJNICA=Ime\r\nDATUM=b\r\nTECAJNICA=Dva"},
      {"NUL and control bytes trimmed at both ends",
       "\0[EXCEL_FORMAT]\0\r\n\x01TECAJNICA=Ime\x1F\0\r\n\0DATUM=b\0\r\n\x7F\r\nTECAJNICA=Dva"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto o = ReadText(c.text);
    EXPECT_EQ(o.state.table.count, 2);
    EXPECT_EQ(o.state.table.Slot(1).name, expectedName);
    EXPECT_EQ(o.state.table.Slot(1).date, "B");
    EXPECT_EQ(o.state.table.Slot(2).name, "Dva");
    // The same bytes arriving a few at a time: a CR LF pair split between two
    // reads is still one line end.
    for (std::size_t piece = 1; piece <= 3; ++piece) {
      SCOPED_TRACE(piece);
      PieceBuffer buffer(c.text, piece);
      std::istream in(&buffer);
      ProfileState state;
      Shown fields;
      ReadStream(in, state, fields, "conf");
      EXPECT_EQ(state.table.count, 2);
      EXPECT_EQ(state.table.Slot(1), o.state.table.Slot(1));
      EXPECT_EQ(state.table.Slot(2), o.state.table.Slot(2));
    }
  }
}

TEST(ConfigRead, NulInsideAValueIsKept) {
  const auto o = ReadText(kHeader + Line("TECAJNICA=a\0b"s));
  EXPECT_EQ(o.state.table.Slot(1).name, "a\0b"s);
}

// Only the start of a line is held; the value must still come out as if the
// whole line had been trimmed and cut.
TEST(ConfigRead, LongLines) {
  struct Case {
    const char* what;
    std::string line;
    std::string name;
  };
  const std::string a295(295, 'a');
  const Case cases[] = {
      {"a 1 MB name is cut to 300", "TECAJNICA=" + std::string(1 << 20, 'x'), std::string(300, 'x')},
      {"blanks inside the cut stay when text follows them", "TECAJNICA=" + a295 + std::string(10, ' ') + "b",
       a295 + std::string(5, ' ')},
      {"blanks inside the cut stay when text follows far beyond",
       "TECAJNICA=" + a295 + std::string(1 << 20, ' ') + "b", a295 + std::string(5, ' ')},
      {"blanks to the end of a long line are trimmed", "TECAJNICA=" + a295 + std::string(1 << 20, ' '), a295},
      {"1 MB of leading blanks", std::string(1 << 20, ' ') + "TECAJNICA=ok", "ok"},
      {"a value of exactly 300", "TECAJNICA=" + std::string(300, 'y') + "   ", std::string(300, 'y')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto o = ReadText(kHeader + Line(c.line) + Line("DATUM=k") + Line("TECAJNICA=next"));
    ASSERT_EQ(o.state.table.count, 2);
    EXPECT_EQ(o.state.table.Slot(1).name, c.name);
    EXPECT_EQ(o.state.table.Slot(1).date, "K");
    EXPECT_EQ(o.state.table.Slot(2).name, "next");
  }
}

TEST(ConfigRead, ASelectedIndexCutInsideBlanksIsNoNumber) {
  EXPECT_EQ(ReadText(kHeader + Line("IZBRANA_TECAJNICA=2" + std::string(400, ' ') + "x")).state.table.selected, 1);
  EXPECT_EQ(ReadText(kHeader + Line("IZBRANA_TECAJNICA=2" + std::string(400, ' '))).state.table.selected, 2);
}

TEST(ConfigRead, EntriesBeyondTheTableAreLeftOut) {
  std::string text = kHeader;
  for (int n = 1; n <= 3005; ++n) {
    text += Line("TECAJNICA=T" + std::to_string(n)) + Line("START_VRSTICA=" + std::to_string(n));
  }
  for (const auto& [selected, name] : {std::pair{3000, std::string("T3000")}, std::pair{3001, kDefaultName}}) {
    SCOPED_TRACE(selected);
    const auto o = ReadText(text + Line("IZBRANA_TECAJNICA=" + std::to_string(selected)));
    EXPECT_EQ(o.state.table.count, 3000);
    EXPECT_EQ(o.state.table.Slot(3000), Entry("T3000", 3000, "", "", "", ""));
    EXPECT_EQ(o.fields.label, name);
  }
}

// Named entries beyond the table's slots are gone at the next save: the read
// keeps their names, and the operator is told which they are.
TEST(ConfigRead, EntriesBeyondTheTableAreToldByName) {
  const struct {
    const char* what;
    int entries;
    std::vector<int> blank;  // entry numbers written with a blank name
    std::int32_t leftOut;
    std::string message;  // empty: nothing to tell
  } cases[] = {
      {"a full table", 3000, {}, 0, ""},
      {"four more, one of them blank", 3004, {3003}, 3,
       "Te\xE8" "ajnic nad 3000 ni mogo\xE8" "e shraniti v Ratemover.CONF:\rT3001\rT3002\rT3004\r"
       "Seznam te\xE8" "ajnic je poln."},
      {"more than are named", 3025, {}, 25,
       "Te\xE8" "ajnic nad 3000 ni mogo\xE8" "e shraniti v Ratemover.CONF:\rT3001\rT3002\rT3003\rT3004\rT3005\r"
       "T3006\rT3007\rT3008\rT3009\rT3010\rin \x9a" "e 15\rSeznam te\xE8" "ajnic je poln."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = kHeader;
    for (int n = 1; n <= c.entries; ++n) {
      const bool blank = std::find(c.blank.begin(), c.blank.end(), n) != c.blank.end();
      text += Line(blank ? std::string("TECAJNICA= ") : "TECAJNICA=T" + std::to_string(n));
    }
    TempDir dir;
    WriteBytes(dir.File("Ratemover.CONF"), text);
    const ConfigReading reading = BeriIniDatoteko(dir.File("Ratemover.CONF"), dir.path());
    EXPECT_EQ(reading.state.table.count, 3000);
    EXPECT_EQ(reading.leftOut.count, c.leftOut);
    if (!c.message.empty()) {
      EXPECT_EQ(LeftOutProfilesMessage(reading.leftOut).PlainText(), c.message);
    }
  }
}

// Entries beyond the table's 3000 slots are passed over; how fast a long file
// reads is measured by the benchmarks, not here.
TEST(ConfigRead, HundredThousandEntriesFillTheTableAndNoMore) {
  std::string text = kHeader + Line("  IZBRANA_TECAJNICA=2");
  for (int n = 1; n <= 100000; ++n) text += EntryLines("PROFIL " + std::to_string(n), std::to_string(n));
  TempDir dir;
  WriteBytes(dir.File("Ratemover.CONF"), text);
  ProfileState state;
  Shown fields;
  ReadInto(state, fields, dir.File("Ratemover.CONF"), dir.path());
  EXPECT_EQ(state.table.count, 3000);
  EXPECT_EQ(state.table.Slot(3000).name, "PROFIL 3000");
  EXPECT_EQ(fields.label, "PROFIL 2");
}

// A stream that hands out some bytes and then fails as a broken disk would.
class FailingBuffer : public std::streambuf {
 public:
  explicit FailingBuffer(std::string bytes) : bytes_(std::move(bytes)) {
    setg(bytes_.data(), bytes_.data(), bytes_.data() + bytes_.size());
  }

 protected:
  int_type underflow() override { throw std::ios_base::failure("read error"); }

 private:
  std::string bytes_;
};

TEST(ConfigRead, AReadErrorIsThrownAndKeepsWhatWasRead) {
  FailingBuffer buffer(kHeader + Line("IZBRANA_TECAJNICA=2") + kThreeEntries + "TECAJNICA=NEDOKON");
  std::istream in(&buffer);
  ProfileState state;
  state.current = Entry("PREJ", 3, "", "", "", "");
  Shown fields;
  EXPECT_THROW(ReadStream(in, state, fields, "conf"), std::runtime_error);
  EXPECT_EQ(state.table.count, 3);  // the unfinished line is not taken
  EXPECT_EQ(state.table.Slot(3).name, "TRETJA");
  EXPECT_EQ(state.table.selected, 2);
  EXPECT_EQ(state.current, Entry("PREJ", 3, "", "", "", ""));
  EXPECT_FALSE(fields.label.has_value());
}

TEST(ConfigRead, AReadErrorOfARealFileIsThrownWithItsName) {
  // The kernel reports this file as a plain one, but reading it fails.
  try {
    (void)BeriIniDatoteko("/proc/self/mem", "/opt/x/");
    FAIL() << "no error";
  } catch (const NamedFailure& error) {
    EXPECT_EQ(std::string(error.what()), "Napaka pri branju datoteke /proc/self/mem");
    ASSERT_EQ(error.Message().Pieces().size(), 2u);
    EXPECT_TRUE(error.Message().Pieces()[1].isName);
    EXPECT_EQ(error.Message().Pieces()[1].bytes, "/proc/self/mem");
  }
}

TEST(ConfigRead, StreamEntryPointReadsLikeTheFile) {
  std::istringstream in(kHeader + Line("IZBRANA_TECAJNICA=3") + kThreeEntries);
  ProfileState state;
  Shown fields;
  ReadStream(in, state, fields, "conf");
  EXPECT_EQ(state.table.count, 3);
  EXPECT_EQ(fields.label, "TRETJA");
}

}  // namespace
}  // namespace ratemover

namespace ratemover {
namespace {

// Serves `total` bytes: the start text, then blanks, then the end text, without
// ever holding them all.
class LongLineBuffer : public std::streambuf {
 public:
  LongLineBuffer(std::string start, std::size_t blanks, std::string end)
      : start_(std::move(start)), end_(std::move(end)), blanksLeft_(blanks), block_(64 * 1024, ' ') {
    setg(start_.data(), start_.data(), start_.data() + start_.size());
  }

 protected:
  int_type underflow() override {
    if (blanksLeft_ > 0) {
      const std::size_t n = std::min(blanksLeft_, block_.size());
      blanksLeft_ -= n;
      setg(block_.data(), block_.data(), block_.data() + n);
    } else if (!endServed_) {
      endServed_ = true;
      setg(end_.data(), end_.data(), end_.data() + end_.size());
    } else {
      return traits_type::eof();
    }
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::string start_;
  std::string end_;
  std::size_t blanksLeft_;
  std::string block_;
  bool endServed_ = false;
};

long PeakResidentKb() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(ConfigRead, AHugeLineIsNotHeldInMemory) {
  const std::size_t blanks = std::size_t{512} << 20;  // 512 MB inside one line
  LongLineBuffer buffer("[EXCEL_FORMAT]\r\nTECAJNICA=ime", blanks, "konec\r\nDATUM=b\r\n");
  std::istream in(&buffer);
  ProfileState state;
  Shown fields;
  const long before = PeakResidentKb();
  ReadStream(in, state, fields, "conf");
  EXPECT_LT(PeakResidentKb() - before, 32 * 1024);
  ASSERT_EQ(state.table.count, 1);
  EXPECT_EQ(state.table.Slot(1).name, "ime" + std::string(297, ' '));
  EXPECT_EQ(state.table.Slot(1).date, "B");
}

}  // namespace
}  // namespace ratemover

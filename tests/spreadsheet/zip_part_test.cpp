// ZipPartReader: a member comes out whole, in any size of pieces, or not at
// all; every way in which a member can disagree with the central directory is
// refused with the check that caught it.
#include "spreadsheet/zip_part.h"

#include <gsf/gsf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "spreadsheet/open_failure.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/support/zip_writer.h"

namespace ratemover::spreadsheet {
namespace {

using testsupport::ZipMember;

// An archive held in memory, opened as a package.
class Archive {
 public:
  explicit Archive(const std::vector<ZipMember>& members) : bytes_(testsupport::ZipOf(members)) {
    gsf_init();
    input_ = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes_.data()),
                                  static_cast<gsf_off_t>(bytes_.size()), FALSE);
    GError* error = nullptr;
    zip_ = gsf_infile_zip_new(input_, &error);
    g_clear_error(&error);
  }
  ~Archive() {
    if (zip_ != nullptr) g_object_unref(zip_);
    g_object_unref(input_);
  }
  GsfInfile* Zip() const { return zip_; }
  // The archive's bytes, to damage before opening.
  std::string& Bytes() { return bytes_; }

 private:
  std::string bytes_;
  GsfInput* input_ = nullptr;
  GsfInfile* zip_ = nullptr;
};

// What reading a member in pieces of pieceSize gave: its bytes, or why not.
struct Outcome {
  std::string data;
  std::optional<OpenFailure> reason;
  std::string detail;
};

Outcome ReadPart(GsfInfile* zip, const std::string& name, std::size_t pieceSize) {
  Outcome outcome;
  try {
    ZipPartReader part(zip, name);
    std::vector<std::uint8_t> buffer(pieceSize);
    while (const std::size_t n = part.Read(buffer.data(), buffer.size())) {
      outcome.data.append(reinterpret_cast<const char*>(buffer.data()), n);
    }
  } catch (const WorkbookError& failure) {
    outcome.reason = failure.Reason();
    outcome.detail = failure.Detail();
  }
  return outcome;
}

std::string Text(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i) text += "<row r=\"" + std::to_string(i) + "\"/>";
  text.resize(size);
  return text;
}

TEST(ZipPartReader, MembersComeOutWholeInAnySizeOfPieces) {
  const std::string small = "<a/>";
  const std::string large = Text(300000);  // several chunks, inflated and raw
  for (const bool stored : {true, false}) {
    Archive archive({{"empty.xml", "", stored}, {"x/small.xml", small, stored}, {"x/large.xml", large, stored}});
    ASSERT_NE(archive.Zip(), nullptr);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{65536}, std::size_t{1} << 20}) {
      SCOPED_TRACE(std::string(stored ? "stored, " : "deflated, ") + std::to_string(piece));
      EXPECT_EQ(ReadPart(archive.Zip(), "empty.xml", piece).data, "");
      EXPECT_EQ(ReadPart(archive.Zip(), "x/small.xml", piece).data, small);
      const Outcome outcome = ReadPart(archive.Zip(), "x/large.xml", piece);
      EXPECT_FALSE(outcome.reason.has_value()) << outcome.detail;
      EXPECT_EQ(outcome.data, large);
    }
    // letter case of part names does not count
    EXPECT_EQ(ReadPart(archive.Zip(), "X/Small.XML", 64).data, small);
  }
}

TEST(ZipPartReader, MembersThatDisagreeWithTheDirectoryAreRefused) {
  const std::string data = Text(100000);
  const auto size = static_cast<std::uint32_t>(data.size());
  struct Case {
    const char* what;
    ZipMember member;
    std::string name;  // the part asked for
    OpenFailure reason;
    std::string detail;
  };
  const std::vector<Case> cases = {
      {"missing", {"a.xml", data}, "b.xml", OpenFailure::Damaged, "b.xml: part missing"},
      {"a folder", {"a/", ""}, "a/", OpenFailure::Damaged, "a/: part missing"},
      {"deflated, wrong CRC-32", {"a.xml", data, false, true}, "a.xml", OpenFailure::Damaged, "a.xml: CRC-32 differs"},
      {"stored, wrong CRC-32", {"a.xml", data, true, true}, "a.xml", OpenFailure::Damaged, "a.xml: CRC-32 differs"},
      {"inflates to more than declared", {"a.xml", data, false, false, size - 1}, "a.xml", OpenFailure::Damaged,
       "a.xml: inflates to more than its declared size"},
      {"inflates to less than declared", {"a.xml", data, false, false, size + 1}, "a.xml", OpenFailure::Damaged,
       "a.xml: shorter than its declared size"},
      {"stored, sizes disagree", {"a.xml", data, true, false, size + 1}, "a.xml", OpenFailure::Damaged,
       "a.xml: stored size differs"},
      {"declares just above 256 MiB", {"a.xml", data, false, false, (256u << 20) + 1}, "a.xml", OpenFailure::TooLarge,
       "a.xml: 268435457 bytes, more than the 268435456 bytes (256 MiB) that may be read"},
      {"declares 4 GiB less one", {"a.xml", data, false, false, 0xFFFFFFFEu}, "a.xml", OpenFailure::TooLarge,
       "a.xml: 4294967294 bytes, more than the 268435456 bytes (256 MiB) that may be read"},
      // exactly 256 MiB is allowed; this one inflates to less, which the end shows
      {"declares exactly 256 MiB", {"a.xml", data, false, false, 256u << 20}, "a.xml", OpenFailure::Damaged,
       "a.xml: shorter than its declared size"},
  };
  for (const auto& c : cases) {
    Archive archive({c.member});
    ASSERT_NE(archive.Zip(), nullptr) << c.what;
    for (const std::size_t piece : {std::size_t{100}, std::size_t{65536}}) {
      const Outcome outcome = ReadPart(archive.Zip(), c.name, piece);
      ASSERT_TRUE(outcome.reason.has_value()) << c.what;
      EXPECT_EQ(OpenFailureText(*outcome.reason), OpenFailureText(c.reason)) << c.what;
      EXPECT_EQ(outcome.detail, c.detail) << c.what;
    }
  }
}

// Damage to the compressed bytes themselves, made by editing the archive.
TEST(ZipPartReader, BrokenCompressedDataIsRefused) {
  const std::string data = Text(100000);
  const std::string compressed = testsupport::RawDeflate(data);
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    std::string detail;
  };
  const std::vector<Case> cases = {
      // the block header of the deflate stream turned into the reserved block type
      {"broken deflate stream", [](std::string& zip) { zip[30 + 5] = static_cast<char>(0x07); },
       "a.xml: deflate stream broken"},
      // the compressed size in both headers one fifth of the real one
      {"compressed data ends early",
       [&compressed](std::string& zip) {
         const std::string real = testsupport::Le32(static_cast<std::uint32_t>(compressed.size()));
         const std::string cut = testsupport::Le32(static_cast<std::uint32_t>(compressed.size() / 5));
         for (std::size_t at = zip.find(real); at != std::string::npos; at = zip.find(real, at + 4)) {
           zip.replace(at, 4, cut);
         }
       },
       "a.xml: compressed data ends early"},
  };
  for (const auto& c : cases) {
    std::string bytes = testsupport::ZipOf({{"a.xml", data}});
    c.damage(bytes);
    GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                           static_cast<gsf_off_t>(bytes.size()), FALSE);
    GError* error = nullptr;
    GsfInfile* zip = gsf_infile_zip_new(input, &error);
    g_clear_error(&error);
    ASSERT_NE(zip, nullptr) << c.what;
    const Outcome outcome = ReadPart(zip, "a.xml", 4096);
    ASSERT_TRUE(outcome.reason.has_value()) << c.what;
    EXPECT_EQ(outcome.detail, c.detail) << c.what;
    g_object_unref(zip);
    g_object_unref(input);
  }
}

// Finish reads the rest of a member unkept, and checks it all the same.
TEST(ZipPartReader, FinishChecksWhatWasNotRead) {
  const std::string data = Text(200000);
  for (const bool wrongCrc : {false, true}) {
    for (const bool stored : {true, false}) {
      Archive archive({{"a.xml", data, stored, wrongCrc}});
      ZipPartReader part(archive.Zip(), "a.xml");
      EXPECT_EQ(part.DeclaredSize(), data.size());
      std::uint8_t head[10];
      ASSERT_EQ(part.Read(head, sizeof head), sizeof head);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(head), sizeof head), data.substr(0, sizeof head));
      if (wrongCrc) {
        EXPECT_THROW(part.Finish(), WorkbookError) << stored;
      } else {
        EXPECT_NO_THROW(part.Finish()) << stored;
        EXPECT_EQ(part.Read(head, sizeof head), 0u);
      }
    }
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet

// The XML of package parts as the readers receive it: character and entity
// references, CDATA and line ends reach a cell's text exactly as the document
// means them, and a part that is not a well-formed namespaced document, or
// that carries a document type declaration, makes the workbook one that
// cannot be opened. Observed through small .xlsx packages (stored members).
#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/xml_stream.h"
#include "tests/support/xml_differential.h"
#include "tests/support/zip_writer.h"

namespace ratemover::spreadsheet {
namespace {

using testsupport::StoredZip;

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

// A workbook whose one sheet is the part sheetPart, reached through the
// relationship target sheetTarget (written into the XML as it stands).
std::optional<SheetCells> Read(const std::string& sheetXml, const std::string& sheetTarget = "worksheets/sheet1.xml",
                               const std::string& sheetPart = "xl/worksheets/sheet1.xml") {
  const std::string relNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  const std::vector<std::pair<std::string, std::string>> members = {
      {"_rels/.rels", rels + "<Relationship Id=\"rId1\" Type=\"" + relNs +
                          "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml", "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + relNs +
                              "\"><sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels", rels + "<Relationship Id=\"rId1\" Type=\"" + relNs + "/worksheet\" Target=\"" +
                                         sheetTarget + "\"/></Relationships>"},
      {sheetPart, sheetXml},
  };
  static int counter = 0;
  // the process id keeps tests that run side by side off each other's files
  const std::string path = testing::TempDir() + "xml_stream_test_" + std::to_string(getpid()) + "_" +
                           std::to_string(++counter) + ".xlsx";
  const std::string bytes = StoredZip(members);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  SheetCells cells;
  const bool ok = static_cast<bool>(ReadActiveSheetFromFile(path, 3000, cells));
  std::remove(path.c_str());
  if (!ok) return std::nullopt;
  return cells;
}

std::string Sheet(const std::string& sheetData) {
  return "<worksheet xmlns=\"" + kMain + "\"><sheetData>" + sheetData + "</sheetData></worksheet>";
}

std::string InlineCell(const std::string& ref, const std::string& text) {
  return "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

std::string TextAt(const SheetCells& cells, int row, int column) {
  const std::optional<CellValue> value = cells.Find(row, column);
  const CellText text = TextOfCell(value.value_or(CellValue::Empty()), cells.GetDateSystem());
  return text ? *text : std::string("<read failure>");
}

TEST(XmlStream, ReferencesCdataAndLineEndsReachTheTextAsMeant) {
  struct Case {
    const char* what;
    std::string xml;       // the text element's content
    std::string expected;  // cp1250
  };
  const std::vector<Case> cases = {
      {"predefined entities", "A &amp; B &lt;C&gt; &quot;&apos;", "A & B <C> \"'"},
      {"character references", "&#38;&#x26;&#x10D;&#269;&#x4E2D;", "&&\xE8\xE8?"},
      {"a reference spelled out as text", "&amp;#38;", "&#38;"},
      {"CDATA section", "a<![CDATA[<b>&amp;]]>c", "a<b>&amp;c"},
      {"line ends become line feeds", "a\r\nb\rc\nd", "a\nb\nc\nd"},
      {"blanks only", "  \t ", "  \t "},
  };
  for (const auto& c : cases) {
    const auto cells = Read(Sheet("<row r=\"1\">" + InlineCell("A1", c.xml) + "</row>"));
    ASSERT_TRUE(cells.has_value()) << c.what;
    EXPECT_EQ(TextAt(*cells, 1, 1), c.expected) << c.what;
  }
}

TEST(XmlStream, AttributeValuesKeepAnAmpersandExactly) {
  // The relationship's target names the sheet part; the part exists only
  // under the name the decoded target gives.
  const std::string sheet = Sheet("<row r=\"1\">" + InlineCell("A1", "found") + "</row>");
  const struct {
    const char* what;
    std::string target;
    std::string part;
  } cases[] = {
      {"entity", "worksheets/R&amp;D.xml", "xl/worksheets/R&D.xml"},
      {"character reference", "worksheets/R&#38;D.xml", "xl/worksheets/R&D.xml"},
      {"hexadecimal reference", "worksheets/R&#x26;D.xml", "xl/worksheets/R&D.xml"},
      {"a reference spelled out", "worksheets/R&amp;#38;D.xml", "xl/worksheets/R&#38;D.xml"},
      {"two ampersands and a blank", "worksheets/a&amp;&amp;&#32;b.xml", "xl/worksheets/a&& b.xml"},
  };
  for (const auto& c : cases) {
    const auto cells = Read(sheet, c.target, c.part);
    ASSERT_TRUE(cells.has_value()) << c.what;
    EXPECT_EQ(TextAt(*cells, 1, 1), "found") << c.what;
  }
}

TEST(XmlStream, DocumentsThatAreNotWellFormedCannotBeOpened) {
  const std::string ns = "xmlns=\"" + kMain + "\"";
  const std::string row = "<row r=\"1\">" + InlineCell("A1", "x") + "</row>";
  const struct {
    const char* what;
    std::string xml;
  } cases[] = {
      {"document type declaration", "<!DOCTYPE worksheet [<!ENTITY e \"1\">]>" + Sheet(row)},
      {"external document type", "<!DOCTYPE worksheet SYSTEM \"file:///etc/passwd\">" + Sheet(row)},
      {"undeclared entity in text", Sheet("<row r=\"1\">" + InlineCell("A1", "&e;") + "</row>")},
      {"undeclared entity in an attribute", Sheet("<row r=\"1&e;\">" + InlineCell("A1", "x") + "</row>")},
      {"element prefix without namespace", "<worksheet " + ns + "><sheetData><x:row r=\"1\"/></sheetData></worksheet>"},
      {"attribute prefix without namespace", Sheet("<row x:r=\"1\">" + InlineCell("A1", "x") + "</row>")},
      {"one attribute twice through two prefixes",
       "<worksheet " + ns + " xmlns:a=\"urn:x\" xmlns:b=\"urn:x\"><sheetData><row a:q=\"1\" b:q=\"2\"/></sheetData>"
       "</worksheet>"},
      {"mismatched end tag", "<worksheet " + ns + "><sheetData>" + row + "</sheetdata></worksheet>"},
      {"breaks off inside a tag", Sheet(row).substr(0, Sheet(row).size() - 5)},
      {"breaks off after the sheet data", "<worksheet " + ns + "><sheetData>" + row + "</sheetData>"},
      {"second root element", Sheet(row) + "<worksheet/>"},
      {"malformed UTF-8", Sheet("<row r=\"1\">" + InlineCell("A1", "\xC3(") + "</row>")},
      {"character that XML excludes", Sheet("<row r=\"1\">" + InlineCell("A1", "&#1;") + "</row>")},
      {"empty part", ""},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Read(c.xml).has_value()) << c.what;
  }
  // The same package with a well-formed sheet reads.
  ASSERT_TRUE(Read(Sheet(row)).has_value());
}

TEST(XmlStream, DeclaredEncodingsAreDecoded) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"UTF-8 with a byte order mark", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>" +
                                           Sheet("<row r=\"1\">" + InlineCell("A1", "\xC5\xBE") + "</row>")},
      {"ISO-8859-2", "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>" +
                         Sheet("<row r=\"1\">" + InlineCell("A1", "\xBE") + "</row>")},
  };
  for (const auto& c : cases) {
    const auto cells = Read(c.bytes);
    ASSERT_TRUE(cells.has_value()) << c.what;
    EXPECT_EQ(TextAt(*cells, 1, 1), "\x9E") << c.what;  // ž
  }
}

TEST(XmlStream, PartsOfManyChunksReadWhole) {
  // A text far longer than one chunk arrives whole; rows beyond the limit are read but not kept.
  const std::string longText(200000, 'x');
  std::string rows = "<row r=\"1\">" + InlineCell("A1", longText) + "</row>";
  for (int r = 2; r <= 4000; ++r) {
    rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"B" + std::to_string(r) + "\"><v>" + std::to_string(r) +
            ".5</v></c></row>";
  }
  const auto whole = Read(Sheet(rows));
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(TextAt(*whole, 1, 1), longText);
  EXPECT_EQ(TextAt(*whole, 3000, 2), "3000,5");
  EXPECT_FALSE(whole->Find(3001, 2).has_value());

  // Broken well past row 3000: the whole part is read, so the damage counts.
  EXPECT_FALSE(Read(Sheet(rows + "<row r=\"4001\"><oops></row>")).has_value());

  // Broken before row 3000 in a later chunk: cannot be opened.
  std::string early = rows;
  early.insert(early.find("<row r=\"2999\">"), "<row r=\"2998\"><oops></row>");
  EXPECT_FALSE(Read(Sheet(early)).has_value());
}

// A handler that throws at its third start tag, or at the text after it.
class ThrowingHandler : public XmlHandler {
 public:
  explicit ThrowingHandler(bool outOfMemory, bool inText = false) : outOfMemory_(outOfMemory), inText_(inText) {}
  void StartElement(std::string_view, std::string_view, const std::vector<XmlAttribute>&) override {
    if (++starts_ == 3 && !inText_) Throw();
  }
  void EndElement(std::string_view, std::string_view) override { ++ends_; }
  void Text(std::string_view) override {
    if (starts_ == 3 && inText_) Throw();
  }
  int Starts() const { return starts_; }

 private:
  void Throw() const {
    if (outOfMemory_) throw std::bad_alloc();
    throw WorkbookError(OpenFailure::TooLarge, "more than it holds");
  }
  bool outOfMemory_;
  bool inText_;
  int starts_ = 0;
  int ends_ = 0;
};

// What a handler throws ends the reading and comes out as it was thrown,
// whether the quick scanner or the XML parser (which is C code) called it; a
// workbook error names the document first, as the handler's failures do.
TEST(XmlStream, WhatTheHandlerThrowsComesOutOfEitherReading) {
  const std::string plain = "<a><b/><c>text</c><d/></a>";
  // a declared encoding other than UTF-8 leaves the document to the parser
  const std::string latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>" + plain;
  struct Case {
    const char* what;
    const std::string& document;
    bool parserAlone;
  };
  const std::vector<Case> cases = {
      {"scanned", plain, false},
      {"left to the parser by the scanner", latin, false},
      {"parsed", plain, true},
  };
  for (const auto& c : cases) {
    for (const bool inText : {false, true}) {
      const std::string what = std::string(c.what) + (inText ? ", in text" : ", at a start");
      testsupport::StringSource source(c.document, 5);
      ThrowingHandler handler(false, inText);
      try {
        c.parserAlone ? ParseXml(source, handler) : StreamXml(source, handler);
        ADD_FAILURE() << what << ": nothing thrown";
      } catch (const WorkbookError& e) {
        EXPECT_EQ(e.Reason(), OpenFailure::TooLarge) << what;
        EXPECT_EQ(e.Detail(), "p.xml: more than it holds") << what;
      }
      EXPECT_EQ(handler.Starts(), 3) << what << ": the handler heard more after it threw";

      testsupport::StringSource again(c.document, 5);
      ThrowingHandler outOfMemory(true, inText);
      EXPECT_THROW(c.parserAlone ? ParseXml(again, outOfMemory) : StreamXml(again, outOfMemory), std::bad_alloc)
          << what;
    }
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet

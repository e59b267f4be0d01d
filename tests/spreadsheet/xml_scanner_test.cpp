// The quick scanner that reads every part first: wherever it vouches for a
// document, the XML parser takes it too and reports the same elements and
// text; it reads the same in any size of pieces; the reading every part gets
// (the scanner, and the parser again where the scanner is unsure) hands a
// handler exactly what the parser alone would, or refuses what the parser
// refuses; and a workbook is refused for every fault the parser would refuse
// it for, and read the same where the scanner leaves the decision to the parser.
#include <unistd.h>

#include <gsf/gsf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/support/cpu_time.h"
#include "tests/support/xml_differential.h"
#include "tests/support/zip_writer.h"

namespace ratemover::spreadsheet {
namespace {

using testsupport::ParserEvents;
using testsupport::ScannerEvents;
using testsupport::StreamEvents;

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

// Every member of a ZIP package whose name ends in .xml or .rels, with its bytes.
void CollectParts(GsfInfile* folder, const std::string& prefix, std::vector<std::pair<std::string, std::string>>& out) {
  for (int i = 0; i < gsf_infile_num_children(folder); ++i) {
    GsfInput* child = gsf_infile_child_by_index(folder, i);
    const std::string name = prefix + gsf_input_name(child);
    if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
      CollectParts(GSF_INFILE(child), name + "/", out);
    } else if (name.ends_with(".xml") || name.ends_with(".rels")) {
      const gsf_off_t size = gsf_input_size(child);
      const guint8* data = size > 0 ? gsf_input_read(child, static_cast<std::size_t>(size), nullptr) : nullptr;
      out.emplace_back(name, data != nullptr ? std::string(reinterpret_cast<const char*>(data), size) : "");
    }
    g_object_unref(child);
  }
}

std::vector<std::pair<std::string, std::string>> PartsOf(const std::filesystem::path& path) {
  gsf_init();
  std::vector<std::pair<std::string, std::string>> parts;
  GError* error = nullptr;
  GsfInput* input = gsf_input_stdio_new(path.c_str(), &error);
  g_clear_error(&error);
  if (input == nullptr) return parts;
  if (GsfInfile* zip = gsf_infile_zip_new(input, &error)) {
    CollectParts(zip, "", parts);
    g_object_unref(zip);
  }
  g_clear_error(&error);
  g_object_unref(input);
  return parts;
}

// The test workbooks in the given folders whose names end in one of the
// given extensions.
std::vector<std::filesystem::path> TestFiles(std::initializer_list<const char*> folders,
                                             std::initializer_list<const char*> extensions) {
  std::vector<std::filesystem::path> files;
  for (const char* folder : folders) {
    for (const auto& entry : std::filesystem::directory_iterator(std::string(RATEMOVER_TEST_DATA) + "/workbooks/" + folder)) {
      const auto ext = entry.path().extension();
      for (const char* wanted : extensions) {
        if (ext == wanted) files.push_back(entry.path());
      }
    }
  }
  return files;
}

// The writers' packages among the test workbooks.
std::vector<std::filesystem::path> Packages() { return TestFiles({"", "quirks"}, {".xlsx", ".ods"}); }

struct Verdicts {
  bool vouched = false;  // by the scanner
  bool parsed = false;   // by the parser
};

// The scanner in pieces of every size agrees with itself (tiny pieces cut
// every construct somewhere); where it vouches, the parser reads the same; and
// the reading every part gets is the parser's reading the same pieces.
Verdicts CheckAgainstParser(const std::string& document, const std::string& what, bool tinyPieces = true) {
  const auto whole = ScannerEvents(document, document.size() + 1);
  const auto parsed = ParserEvents(document);
  std::vector<std::size_t> pieces = {7, document.size() + 1};
  if (tinyPieces) pieces.insert(pieces.end(), {1, 4096});
  for (const std::size_t piece : pieces) {
    EXPECT_EQ(ScannerEvents(document, piece), whole) << what << " in pieces of " << piece;
    // The parser reading the same pieces: where a document does not declare
    // UTF-8, its verdict may depend on them.
    const auto parsedInPieces = piece > document.size() ? parsed : ParserEvents(document, piece);
    EXPECT_EQ(StreamEvents(document, piece), parsedInPieces) << what << " streamed in pieces of " << piece;
  }
  if (whole) {
    EXPECT_EQ(parsed, whole) << what;
  }
  return {whole.has_value(), parsed.has_value()};
}

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The plain XML documents among the test files: XML Spreadsheet 2003 and flat
// OpenDocument files, and the XML seeds of the fuzz targets.
std::vector<std::filesystem::path> PlainDocuments() { return TestFiles({"xml2003", "fuzz"}, {".xml", ".fods"}); }

TEST(XmlScanner, VouchesForThePartsTheWritersMadeAndReadsThemAsTheParserDoes) {
  std::size_t parts = 0;
  for (const auto& package : Packages()) {
    const bool writersOwn = package.parent_path().filename() == "workbooks";
    for (const auto& [name, data] : PartsOf(package)) {
      const std::string what = package.filename().string() + ":" + name;
      const Verdicts verdicts = CheckAgainstParser(data, what);
      // Where it would leave such a part to the parser, it would save nothing.
      if (writersOwn && verdicts.parsed) {
        EXPECT_TRUE(verdicts.vouched) << what;
      }
      ++parts;
    }
  }
  EXPECT_GT(parts, 50u);
}

TEST(XmlScanner, ReadsThePlainDocumentsAsTheParserDoes) {
  std::size_t vouched = 0;
  const auto documents = PlainDocuments();
  for (const auto& path : documents) {
    const std::string data = FileBytes(path);
    vouched += CheckAgainstParser(data, path.filename().string(), data.size() < (256u << 10)).vouched;
  }
  EXPECT_GT(documents.size(), 8u);
  EXPECT_GT(vouched, 6u);
}

// Damage of every kind at many places of real parts: never vouched for where
// the parser refuses it, and where vouched for, read the same.
TEST(XmlScanner, DamagedVariantsOfRealPartsAreNeverVouchedForAgainstTheParser) {
  const std::vector<std::string> inserts = {
      "<", ">", "&", "\"", "'", "/", "=", " ", ":", std::string(1, '\0'), "\x01", "\xC3", "\xFF", "\xEF\xBF\xBE",
      "]]>", "--", "&bogus;", "&#0;", "&#x41;", "&#X41;", "&#xD800;", "<!DOCTYPE a>", "<?xml version=\"1.0\"?>",
      "<![CDATA[x]]>", "<!-- c -->", "<?pi x?>", " xmlns:q=\"\"", " q:a=\"1\"", " a=\"1\" a=\"2\"", "</x>", "<x>",
      "\r\n", "\t", "&#38;", "<ž/>", "xmlns", "\r", "]", "]]", "\r\r\n", "&#13;", "<![CDATA[a\r\nb\rc]]>",
      "<![CDATA[", "&#x10D;&amp;&lt;", "\xC5\xBE", "\xE2\x82", " \n "};
  std::size_t refused = 0, vouched = 0;
  // Every part of some packages, and some plain documents, by name.
  std::vector<std::pair<std::string, std::string>> documents;
  for (const char* file : {"types.xlsx", "types.ods", "sparse.xlsx", "types_gnumeric.xlsx", "types_openpyxl.xlsx"}) {
    for (auto& [name, data] : PartsOf(std::string(RATEMOVER_TEST_DATA) + "/workbooks/" + file)) {
      documents.emplace_back(std::string(file) + ":" + name, std::move(data));
    }
  }
  for (const char* file : {"xml2003/types_sheetjs.xml", "xml2003/features_libreoffice.xml"}) {
    documents.emplace_back(file, FileBytes(std::string(RATEMOVER_TEST_DATA) + "/workbooks/" + file));
  }
  for (const auto& [name, data] : documents) {
    if (data.size() > 64 * 1024 || data.empty()) continue;
    for (std::size_t k = 0; k < 6; ++k) {
      const std::size_t at = data.size() * (2 * k + 1) / 12 + k;  // spread over the part
      for (std::size_t m = 0; m < inserts.size(); ++m) {
        std::string variant = data;
        if (m % 3 == 0) {
          variant.replace(at, 1, inserts[m]);
        } else {
          variant.insert(at, inserts[m]);
        }
        const std::string what = name + " at " + std::to_string(at) + " #" + std::to_string(m);
        const Verdicts verdicts = CheckAgainstParser(variant, what, false);
        vouched += verdicts.vouched;
        refused += !verdicts.parsed;
      }
      CheckAgainstParser(data.substr(0, at), name + " cut at " + std::to_string(at), false);
    }
  }
  // Both kinds occur, so both directions were tried.
  EXPECT_GT(refused, 500u);
  EXPECT_GT(vouched, 500u);
}

// Attributes a0="0" a1="1" ... of the given count, from the given number on.
std::string Attributes(std::size_t count, std::size_t from = 0) {
  std::string out;
  for (std::size_t k = from; k < from + count; ++k) out += " a" + std::to_string(k) + "=\"" + std::to_string(k) + "\"";
  return out;
}

// A document, and whether the scanner vouches for it.
struct Case {
  const char* what;
  std::string document;
  bool vouched;
};

TEST(XmlScanner, ConstructsItVouchesForAndThoseItLeavesToTheParser) {
  const std::string ns = "<r xmlns=\"urn:a\" xmlns:p=\"urn:p\" xmlns:q=\"urn:p\">";
  const std::vector<Case> cases = {
      {"declaration, byte-order mark, comments and a PI about the root",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone='yes'?>\n<!-- a --><?go x?><r/>\n<!--b-->",
       true},
      {"references in text and values, normalized blanks",
       ns + "<p:a p:x=\"&lt;&#38;&#x10D;\" y=\"a\tb\r\nc\rd\ne\">&amp;&#x10FFFF;<![CDATA[<&]]></p:a></r>", true},
      {"line ends in text", "<r>a\r\nb\rc\r\r\nd<a/>\r<![CDATA[e\nf]]>\r</r>", true},
      {"line ends in CDATA, which the parser hands on as they stand", "<r><![CDATA[e\r\nf\rg]]></r>", false},
      {"brackets in text, an empty CDATA section", "<r>a]b]]c]<![CDATA[]]>]]</r>", true},
      {"text about elements, comments and instructions", "<r> a <b>c</b>d<!-- e -->f<?g h?>i<c/> </r>", true},
      {"two prefixes, different local names", ns + "<a p:x=\"1\" q:y=\"2\"/></r>", true},
      {"a default namespace undone", "<r xmlns=\"urn:a\"><a xmlns=\"\"/></r>", true},
      {"xml prefix without declaration", "<r><t xml:space=\"preserve\"> a </t></r>", true},
      {"a declaration whose value runs into its end", "<?xml version=\"1.0\" encoding=\"?>\n<r/>", false},
      {"a declaration with a name but no value", "<?xml version=\"1.0\" standalone?><r/>", false},
      {"another encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?><r>\xE8</r>", false},
      {"leading blanks", " <r/>", false},
      {"document type", "<!DOCTYPE r><r/>", false},
      {"an entity never declared", "<r>&nbsp;</r>", false},
      {"a null character reference", "<r>&#0;</r>", false},
      {"a surrogate by reference", "<r a=\"&#xD800;\"/>", false},
      {"a control character", std::string("<r>\x01</r>"), false},
      {"not UTF-8", "<r>\xE8</r>", false},
      {"a non-character", "<r>\xEF\xBF\xBE</r>", false},
      {"end of CDATA in text", "<r>]]></r>", false},
      {"double hyphen in a comment", "<r><!-- a -- b --></r>", false},
      {"a hyphen before the end of a comment", "<r><!-- a ---></r>", false},
      {"a PI named xml", "<r><?xml version=\"1.0\"?></r>", false},
      {"an undeclared prefix", "<r><p:a/></r>", false},
      {"one attribute twice by two prefixes", ns + "<a p:x=\"1\" q:x=\"2\"/></r>", false},
      {"one attribute twice", "<r a=\"1\" a=\"2\"/>", false},
      {"a prefix unbound", "<r xmlns:p=\"\"/>", false},
      {"attributes not set apart", "<r a=\"1\"b=\"2\"/>", false},
      {"less-than in a value", "<r a=\"<\"/>", false},
      {"end tag of another element", "<r><a></b></r>", false},
      {"text after the root", "<r/>x", false},
      {"a second root", "<r/><r/>", false},
      {"no root", "<!-- -->", false},
      {"unfinished", "<r><a>", false},
      {"a name that is not ASCII", "<r><\xC5\xBE/></r>", false},
      {"a colon too many", "<r><a:b:c/></r>", false},
      // more attributes than are compared pair by pair
      {"many attributes, each once", "<r" + Attributes(40) + "/>", true},
      {"many attributes, the first again last", "<r" + Attributes(40) + " a0=\"x\"/>", false},
      {"many attributes, one again in the middle", "<r" + Attributes(20) + " a7=\"x\"" + Attributes(20, 20) + "/>",
       false},
      {"many prefixed attributes, each once", ns + "<a p:x=\"1\" y=\"2\" p:y=\"3\"" + Attributes(20) + "/></r>", true},
      {"many attributes, one twice by two prefixes", ns + "<a p:x=\"1\"" + Attributes(20) + " q:x=\"2\"/></r>",
       false},
      {"many attributes, one local name in two namespaces",
       ns + "<a xmlns:z=\"urn:z\" p:x=\"1\"" + Attributes(20) + " z:x=\"2\"/></r>", true},
      {"many attributes, a prefix declared with the local name of another",
       ns + "<a xmlns:x=\"urn:x\" p:x=\"1\"" + Attributes(20) + "/></r>", false},
      {"as many attributes as a tag may carry", "<r" + Attributes(kMaxXmlAttributes) + "/>", true},
      {"one attribute more", "<r" + Attributes(kMaxXmlAttributes + 1) + "/>", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckAgainstParser(c.document, c.what).vouched, c.vouched) << c.what;
  }
}

// The scanner's reading of a document in two pieces, cut before byte `at`.
std::optional<std::vector<std::string>> ScannerEventsCutAt(const std::string& document, std::size_t at) {
  XmlScanner scanner;
  testsupport::RecordingHandler handler;
  scanner.Deliver(&handler);
  const auto* data = reinterpret_cast<const std::uint8_t*>(document.data());
  if (!scanner.Feed(data, at) || !scanner.Feed(data + at, document.size() - at) || !scanner.Finish()) {
    return std::nullopt;
  }
  return handler.Events();
}

// The end of a piece may fall on any byte: a document cut in two anywhere,
// after a long first piece or before a long rest, reads as it does whole,
// sound or not.
TEST(XmlScanner, ADocumentCutInTwoAtAnyByteReadsAsItDoesWhole) {
  const std::string rows = "<r xmlns=\"urn:a\" xmlns:p=\"urn:p\"><p:a p:x=\"&lt;&#38;&#x10D;\" y=\"a\tb\r\nc\" z='\xC5\xBE'/>"
                           "<t xml:space=\"preserve\">a&amp;b&#x10FFFF;\r\nc\rd\xC4\x8D\xF0\x9F\x98\x80]x]]y</t >"
                           "<!-- a < b --><?go c<d?><![CDATA[<e>&]]><e/>";
  const std::vector<Case> cases = {
      {"every construct the scanner vouches for",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!--x--><?y z?>" + rows + "</r>\r\n<!--w-->\n", true},
      {"a comment of many '<' across the cut", "<r><!--" + std::string(600, '<') + "--><a/></r>", true},
      {"a second root after blanks", "<r/>  <r/>", false},
      {"text after the root", "<r/> x", false},
      {"an end tag of another name", rows + "</s>", false},
      {"an end tag whose name goes on", rows + "</rr>", false},
      {"an unfinished comment", rows + "<!-- a", false},
      {"a reference never ended", "<r>&amp</r>", false},
      {"a cut character that stays cut", "<r>\xC5</r>", false},
      {"the end of a CDATA section in text", "<r>a]]>b</r>", false},
      {"unfinished", rows, false},
  };
  for (const auto& [what, document, vouched] : cases) {
    const auto whole = ScannerEvents(document, document.size() + 1);
    EXPECT_EQ(whole.has_value(), vouched) << what;
    for (std::size_t at = 0; at <= document.size(); ++at) {
      EXPECT_EQ(ScannerEventsCutAt(document, at), whole) << what << ", cut before byte " << at;
    }
  }
}

// Runs of text, attribute values and names are taken many bytes at a time:
// every byte value, and the sequences that end or change a run, at every
// place in and after such a step, are judged as the parser judges them; and
// where the parser takes an ASCII byte, the scanner vouches for it.
TEST(XmlScanner, EveryByteInLongRunsOfTextValuesAndNamesIsJudgedAsByTheParser) {
  constexpr std::size_t kRun = 40;
  struct Place {
    const char* what;
    std::string before, after;
  };
  const std::vector<Place> places = {
      {"text", "<r><t>", "</t></r>"},
      {"attribute value", "<r><t v=\"", "\"/></r>"},
      {"element name", "<r><", "/></r>"},
      {"attribute name", "<r><t ", "=\"1\"/></r>"},
  };
  std::vector<std::string> insertions;
  for (int b = 0; b < 256; ++b) insertions.emplace_back(1, static_cast<char>(b));
  for (const char* sequence : {"]]>", "\r\n", "&lt;", "&#x10D;", "\xC5\xBE", "'\"", "a:b"}) insertions.emplace_back(sequence);
  for (const auto& place : places) {
    for (std::size_t at = 0; at < 34; ++at) {
      for (const std::string& insertion : insertions) {
        std::string run(kRun, 'a');
        run.replace(at, insertion.size(), insertion);
        const std::string document = place.before + run + place.after;
        const auto byte = static_cast<unsigned char>(insertion[0]);
        const std::string what = std::string(place.what) + ", bytes from " + std::to_string(byte) + " at " + std::to_string(at);
        const Verdicts verdicts = CheckAgainstParser(document, what, false);
        if (insertion.size() == 1 && byte < 0x80 && verdicts.parsed) {
          EXPECT_TRUE(verdicts.vouched) << what;
        }
      }
    }
  }
}

// A workbook of one sheet with rowCount rows of four cells each, the text of
// row `at` replaced by `special` (when given), and `afterData` after the rows.
std::string SheetXml(int rowCount, int at = 0, const std::string& special = "", const std::string& afterData = "") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet xmlns=\"" + kMain + "\"><sheetData>";
  for (int r = 1; r <= rowCount; ++r) {
    if (r == at) {
      xml += special;
      continue;
    }
    const std::string n = std::to_string(r);
    xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"inlineStr\"><is><t>S" + n + "</t></is></c><c r=\"B" + n +
           "\"><v>" + n + ".5</v></c><c r=\"C" + n + "\" t=\"inlineStr\"><is><t>Dru&#382;ba</t></is></c><c r=\"D" + n +
           "\" s=\"0\"><v>1</v></c></row>";
  }
  return xml + "</sheetData>" + afterData + "</worksheet>";
}

// Reads a package of that sheet with the row limit 3000; nullopt when it cannot be opened.
std::optional<SheetCells> ReadSheet(const std::string& sheetXml) {
  const std::string relNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  const std::string bytes = testsupport::ZipOf({
      {"_rels/.rels",
       rels + "<Relationship Id=\"rId1\" Type=\"" + relNs + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml", "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + relNs +
                              "\"><sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       rels + "<Relationship Id=\"rId1\" Type=\"" + relNs + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml", sheetXml},
  });
  static int counter = 0;
  const std::string path = testing::TempDir() + "xml_scanner_test_" + std::to_string(getpid()) + "_" +
                           std::to_string(++counter) + ".xlsx";
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  SheetCells cells;
  const bool ok = static_cast<bool>(ReadActiveSheetFromFile(path, 3000, cells));
  std::remove(path.c_str());
  if (!ok) return std::nullopt;
  return cells;
}

std::string TextAt(const SheetCells& cells, int row, int column) {
  const std::optional<CellValue> value = cells.Find(row, column);
  const CellText text = TextOfCell(value.value_or(CellValue::Empty()), cells.GetDateSystem());
  return text ? *text : std::string("<read failure>");
}

// Rows well past the limit in a part of some MiB (as the scanner takes over
// only in large parts), where the scanner has taken over from the parser.
TEST(XmlScanner, WorkbooksCheckedPastTheLimitAreRefusedForEveryFaultAndReadTheSameOtherwise) {
  constexpr int kRows = 17000;
  constexpr int kAt = 5000;
  const std::string row = "<row r=\"5000\"><c r=\"A5000\"><v>1</v></c></row>";
  const struct {
    const char* what;
    std::string special;    // row 5000
    std::string afterData;  // after the sheet's data
    bool opens;
  } cases[] = {
      {"sound", row, "", true},
      {"a row out of order", "<row r=\"4000\"/>", "", false},
      {"a row again", "<row r=\"4999\"/>", "", false},
      {"cells out of order", "<row r=\"5000\"><c r=\"B5000\"/><c r=\"A5000\"/></row>", "", false},
      {"a cell outside its row", "<row r=\"5000\"><c r=\"A5001\"/></row>", "", false},
      {"a row number that is none", "<row r=\"x\"/>", "", false},
      {"an element left open", "<row r=\"5000\"><c r=\"A5000\"></row>", "", false},
      {"an undeclared entity", "<row r=\"5000\"><c r=\"A5000\"><v>&x;</v></c></row>", "", false},
      {"a document type", "<!DOCTYPE x>", "", false},
      {"a second sheet data", row, "<sheetData/>", false},
      {"sound, with what only the parser vouches for", "<row r=\"5000\"><\xC5\xBE/></row>", "<\xC5\xBE/>", true},
      {"what only the parser vouches for, then rows out of order",
       "<row r=\"5000\"><\xC5\xBE/></row><row r=\"4000\"/>", "", false},
      {"what only the parser vouches for, then damage", "<row r=\"5000\"><\xC5\xBE/></row><row r=\"5001\">", "", false},
  };
  for (const auto& c : cases) {
    const std::string sheet = SheetXml(kRows, kAt, c.special, c.afterData);
    ASSERT_GT(sheet.size(), 3u << 20);
    const auto cells = ReadSheet(sheet);
    ASSERT_EQ(cells.has_value(), c.opens) << c.what;
    if (!cells) continue;
    EXPECT_EQ(TextAt(*cells, 1, 1), "S1") << c.what;
    EXPECT_EQ(TextAt(*cells, 3000, 3), "Dru\x9E" "ba") << c.what;
    EXPECT_FALSE(cells->Find(3001, 1).has_value()) << c.what;
  }
}

// The reason a reading every part gets refuses a document for, or nothing.
std::optional<std::string> RefusalOf(const std::string& document) {
  testsupport::StringSource source(document, 64 * 1024);
  testsupport::RecordingHandler handler;
  try {
    StreamXml(source, handler);
  } catch (const WorkbookError& e) {
    EXPECT_EQ(e.Reason(), OpenFailure::Damaged) << e.what();
    return e.what();
  }
  return std::nullopt;
}

// Start tags with many attributes take time in proportion to their size,
// whoever reads them: the scanner sorts what it cannot compare pair by pair,
// and a tag with more attributes than a tag may carry is refused before the
// parser compares them pair by pair. The bounds are some ten times what the
// reading takes, in CPU time.
TEST(XmlScanner, TagsWithManyAttributesCostTimeInProportionToTheirSize) {
  const std::string many = Attributes(kMaxXmlAttributes);
  const std::string tooMany = Attributes(5000);
  const std::string latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>";
  // a document the scanner leaves to the parser by its first bytes
  const auto utf16 = [](const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) out += {c, '\0'};
    return out;
  };
  const auto rows = [](const std::string& attributes, std::size_t bytes) {
    std::string out = "<r>";
    while (out.size() < bytes) out += "<row" + attributes + "/>\n";
    return out + "</r>";
  };
  const struct {
    const char* what;
    std::string document;
    bool opens;
    double bound;  // seconds of CPU time
  } cases[] = {
      {"tags of as many attributes as may be, for the scanner", rows(many, 4u << 20), true, 1.5},
      {"tags of as many attributes as may be, for the parser", latin + rows(many, 4u << 20), true, 2.6},
      {"tags of too many attributes, for the scanner", rows(tooMany, 4u << 20), false, 0.3},
      {"tags of too many attributes, for the parser", latin + rows(tooMany, 4u << 20), false, 0.3},
      {"tags of too many attributes, for the parser, in UTF-16", utf16(rows(tooMany, 2u << 20)), false, 0.3},
      {"one tag of too many, after a comment, an instruction and a section holding markup",
       latin + "<r><!-- <a b='>' --><?p <a b='>' ?><![CDATA[<a b='>']]><row" + tooMany + "/></r>", false, 0.3},
  };
  for (const auto& c : cases) {
    const std::clock_t start = std::clock();
    const auto refusal = RefusalOf(c.document);
    const double seconds = testsupport::CpuSecondsSince(start);
    EXPECT_EQ(!refusal.has_value(), c.opens) << c.what << ": " << refusal.value_or("");
    if (refusal) {
      EXPECT_NE(refusal->find("a start tag with too many attributes"), std::string::npos) << c.what << ": " << *refusal;
    }
    EXPECT_LT(seconds, c.bound * testsupport::kCpuSlowdown) << c.what;
  }
  // Markup inside comments, instructions and sections is no start tag.
  const std::string inside = "<!-- <a" + tooMany + "> --><?p <a" + tooMany + "> ?><![CDATA[<a" + tooMany + ">]]>";
  EXPECT_FALSE(RefusalOf(latin + "<r>" + inside + "</r>").has_value());
  EXPECT_FALSE(RefusalOf(utf16("<r>" + inside + "</r>")).has_value());
}

}  // namespace
}  // namespace ratemover::spreadsheet

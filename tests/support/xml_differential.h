#pragma once
// One XML document read two ways, for the tests and the fuzz target that hold
// the quick scanner to the XML parser: the elements each reports (names,
// namespaces, attributes), or that it refuses the document (the parser) or
// cannot vouch for it (the scanner).
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/open_failure.h"
#include "spreadsheet/xml_scanner.h"
#include "spreadsheet/xml_stream.h"
#include "tests/support/zip_writer.h"

namespace ratemover::testsupport {

// Writes down every start and end of an element, with its attributes.
class RecordingHandler : public spreadsheet::XmlHandler {
 public:
  void StartElement(std::string_view ns, std::string_view name,
                    const std::vector<spreadsheet::XmlAttribute>& attributes) override {
    std::string line = "<{" + std::string(ns) + "}" + std::string(name);
    for (const auto& a : attributes) {
      line += " {" + std::string(a.ns) + "}" + std::string(a.name) + "=[" + std::string(a.value) + "]";
    }
    events.push_back(line);
  }
  void EndElement(std::string_view ns, std::string_view name) override {
    events.push_back("</{" + std::string(ns) + "}" + std::string(name));
  }
  void Text(std::string_view) override {}

  std::vector<std::string> events;
};

// The parser's reading of a document (as the one part of a package), or
// nullopt when it refuses it.
inline std::optional<std::vector<std::string>> ParserEvents(const std::string& document) {
  const std::string bytes = StoredZip({{"p.xml", document}});
  gsf_init();
  GsfInput* input =
      gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()), static_cast<gsf_off_t>(bytes.size()), FALSE);
  GError* error = nullptr;
  GsfInfile* zip = gsf_infile_zip_new(input, &error);
  g_clear_error(&error);
  std::optional<std::vector<std::string>> result;
  if (zip != nullptr) {
    try {
      const spreadsheet::ZipPackage package(zip);
      RecordingHandler handler;
      package.Stream("p.xml", handler);
      result = std::move(handler.events);
    } catch (const spreadsheet::WorkbookError&) {
    }
    g_object_unref(zip);
  }
  g_object_unref(input);
  return result;
}

// The scanner's reading of a document fed in pieces of pieceSize bytes, or
// nullopt when it cannot vouch for it.
inline std::optional<std::vector<std::string>> ScannerEvents(const std::string& document, std::size_t pieceSize) {
  spreadsheet::XmlScanner scanner;
  RecordingHandler handler;
  scanner.Deliver(&handler, 0, 0, ~std::size_t{0});
  const auto* data = reinterpret_cast<const std::uint8_t*>(document.data());
  for (std::size_t at = 0; at < document.size(); at += pieceSize) {
    if (!scanner.Feed(data + at, std::min(pieceSize, document.size() - at))) return std::nullopt;
  }
  if (!scanner.Finish()) return std::nullopt;
  return std::move(handler.events);
}

}  // namespace ratemover::testsupport

#pragma once
// One XML document read three ways, for the tests and the fuzz target that
// hold the quick scanner to the XML parser: the elements and text each reports
// (names, namespaces, attributes, the text between), or that it refuses the
// document (the parser, and the reading every part gets) or cannot vouch for
// it (the scanner).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/open_failure.h"
#include "spreadsheet/xml_scanner.h"
#include "spreadsheet/xml_stream.h"

namespace ratemover::testsupport {

// Writes down every start and end of an element, with its attributes, and
// the text between them, however the reader cuts it.
class RecordingHandler : public spreadsheet::XmlHandler {
 public:
  void StartElement(std::string_view ns, std::string_view name,
                    const std::vector<spreadsheet::XmlAttribute>& attributes) override {
    FlushText();
    std::string line = "<{" + std::string(ns) + "}" + std::string(name);
    for (const auto& a : attributes) {
      line += " {" + std::string(a.ns) + "}" + std::string(a.name) + "=[" + std::string(a.value) + "]";
    }
    events.push_back(line);
  }
  void EndElement(std::string_view ns, std::string_view name) override {
    FlushText();
    events.push_back("</{" + std::string(ns) + "}" + std::string(name));
  }
  void Text(std::string_view utf8) override { text_.append(utf8); }

  std::vector<std::string> Events() {
    FlushText();
    return std::move(events);
  }

  std::vector<std::string> events;

 private:
  void FlushText() {
    if (!text_.empty()) events.push_back("T[" + text_ + "]");
    text_.clear();
  }
  std::string text_;
};

// A document in memory, handed out in pieces of pieceSize bytes.
class StringSource : public spreadsheet::XmlByteSource {
 public:
  StringSource(const std::string& document, std::size_t pieceSize) : document_(document), pieceSize_(pieceSize) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t size) override {
    const std::size_t n = std::min({size, pieceSize_, document_.size() - position_});
    std::copy_n(document_.data() + position_, n, buffer);
    position_ += n;
    return n;
  }
  const std::string& Name() const override { return name_; }
  void Restart() override { position_ = 0; }

 private:
  const std::string& document_;
  std::size_t pieceSize_;
  std::size_t position_ = 0;
  std::string name_ = "p.xml";
};

// The events of one reading (ParseXml or StreamXml) of a document fed in
// pieces of pieceSize bytes, or nullopt when the reading refuses it.
template <typename Reading>
std::optional<std::vector<std::string>> EventsOf(Reading read, const std::string& document, std::size_t pieceSize) {
  StringSource source(document, pieceSize);
  RecordingHandler handler;
  try {
    read(source, handler);
  } catch (const spreadsheet::WorkbookError&) {
    return std::nullopt;
  }
  return handler.Events();
}

// The parser's reading of a document fed in pieces of pieceSize bytes (whole
// when not given), or nullopt when it refuses it. Where a document does not
// declare UTF-8, the parser's verdict may depend on the pieces.
inline std::optional<std::vector<std::string>> ParserEvents(const std::string& document, std::size_t pieceSize = 0) {
  return EventsOf([](auto& source, auto& handler) { spreadsheet::ParseXml(source, handler); }, document,
                  pieceSize == 0 ? document.size() + 1 : pieceSize);
}

// The reading every part gets (the scanner first, the parser where the
// scanner is unsure) of a document in pieces of pieceSize bytes, or nullopt
// when it is refused.
inline std::optional<std::vector<std::string>> StreamEvents(const std::string& document, std::size_t pieceSize) {
  return EventsOf([](auto& source, auto& handler) { spreadsheet::StreamXml(source, handler); }, document, pieceSize);
}

// The scanner's reading of a document fed in pieces of pieceSize bytes, or
// nullopt when it cannot vouch for it.
inline std::optional<std::vector<std::string>> ScannerEvents(const std::string& document, std::size_t pieceSize) {
  spreadsheet::XmlScanner scanner;
  RecordingHandler handler;
  scanner.Deliver(&handler);
  const auto* data = reinterpret_cast<const std::uint8_t*>(document.data());
  for (std::size_t at = 0; at < document.size(); at += pieceSize) {
    if (!scanner.Feed(data + at, std::min(pieceSize, document.size() - at))) return std::nullopt;
  }
  if (!scanner.Finish()) return std::nullopt;
  return handler.Events();
}

}  // namespace ratemover::testsupport

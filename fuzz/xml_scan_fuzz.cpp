// Arbitrary bytes as the XML of a package part, read by the quick scanner, by
// the XML parser, and as every part is read (the scanner first, the parser
// again where the scanner is unsure): the scanner reads the same in any size
// of pieces; where it vouches for a document, the parser takes it too and
// reports the same elements, namespaces, attribute values and text; and the
// reading every part gets is exactly the parser's reading the same pieces.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/support/xml_differential.h"

namespace {

void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    g_log_set_default_handler(Quiet, nullptr);
    return true;
  }();
  (void)quiet;
  if (size > (1u << 20)) return 0;
  const std::string document(reinterpret_cast<const char*>(data), size);
  const auto whole = ratemover::testsupport::ScannerEvents(document, document.size() + 1);
  const std::size_t piece = 1 + (size == 0 ? 0 : data[size - 1] % 7);
  if (ratemover::testsupport::ScannerEvents(document, piece) != whole) std::abort();
  const auto parsed = ratemover::testsupport::ParserEvents(document);
  if (whole && parsed != whole) std::abort();
  if (ratemover::testsupport::StreamEvents(document, piece) != ratemover::testsupport::ParserEvents(document, piece)) {
    std::abort();
  }
  return 0;
}

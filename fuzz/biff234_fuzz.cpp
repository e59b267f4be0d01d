// Feeds arbitrary bytes to the reader of Excel 2.x to 4.0 files, as the bare
// record stream that such a file is.
//
// Checked (a violation aborts): no crash, leak or undefined behaviour; the
// row limit never decides whether a stream is refused (rows past it are
// checked all the same), and a reading with the larger limit holds every cell
// of the one with the smaller; every stored cell of the first rows turns into
// a text or a read failure.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/sheet_checks.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gsf_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ratemover::fuzz::CheckRowLimitIsNoVerdict(ratemover::fuzz::ReadFromMemory, data, size, 65536, 256);
  return 0;
}

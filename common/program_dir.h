#pragma once
// Where the program lives, and the edge between the program's text and the
// file system's names.
//
// A path is kept as the file system has it: a std::string of the name's own
// bytes (UTF-8 by convention, but any bytes but NUL), from where it enters (the
// picker, the workbook field, the command line, the configuration) to every use
// as a file. Windows-1250 text is made of it only where a text is Windows-1250
// by design: the configuration file and the messages' own texts.
#include <string>
#include <string_view>

namespace ratemover {

// The directory of the running executable, as the file system names it, ending in "/".
std::string ProgramDir();

// The path that a Windows-1250 text names (the configuration's "DATOTEKA=").
std::string PathFromText(std::string_view cp1250Text);

// A path as Windows-1250 text: each character the code page lacks, and each
// byte of a name that is not valid UTF-8, becomes '?'.
std::string TextOfPath(std::string_view path);

// True when Windows-1250 text can hold the path: the text of the path names the
// same path again.
bool TextHoldsPath(std::string_view path);

// The path as a person reads it, in UTF-8: a name that is valid UTF-8 as it
// is, each byte of one that is not as "\xHH". A backslash that would read as
// the start of such an escape is written "\x5C" itself, so that the readable
// form always names one path.
std::string ReadablePath(std::string_view path);

// The path that a person typed in the readable form: each "\xHH" (two hex
// digits, either case) is the byte HH, everything else is as typed.
std::string PathFromReadable(std::string_view readable);

// True when the path names an existing file (a directory does not count).
bool IsExistingFile(std::string_view path);

}  // namespace ratemover

#include "spreadsheet/open_failure.h"

#include "common/text.h"

namespace ratemover::spreadsheet {

std::string_view OpenFailureText(OpenFailure reason) {
  switch (reason) {
    case OpenFailure::NotReadable: return "not readable";
    case OpenFailure::NotAWorkbook: return "not a workbook";
    case OpenFailure::UnknownFormat: return "unknown format";
    case OpenFailure::Encrypted: return "encrypted";
    case OpenFailure::Damaged: return "damaged";
    case OpenFailure::TooLarge: return "too large";
    case OpenFailure::Changed: return "changed while it was read";
  }
  return "cannot be opened";
}

std::string_view OpenFailureWords(OpenFailure reason) {
  switch (reason) {
    case OpenFailure::NotReadable: return "datoteke ni mogo\xE8" "e prebrati";
    case OpenFailure::NotAWorkbook: return "datoteka ni delovni zvezek";
    case OpenFailure::UnknownFormat: return "delovni zvezek je v obliki, ki je program ne bere";
    case OpenFailure::Encrypted: return "delovni zvezek je \x9Aifriran z geslom";
    case OpenFailure::Damaged: return "delovni zvezek je po\x9Akodovan";
    case OpenFailure::TooLarge: return "delovni zvezek je prevelik";
    case OpenFailure::Changed: return "datoteka se je med branjem spremenila";
  }
  return "delovnega zvezka ni mogo\xE8" "e odpreti";
}

std::string OpenFailureSentence(OpenFailure reason) {
  std::string sentence(OpenFailureWords(reason));
  // every phrase begins with an ASCII letter
  if (!sentence.empty()) sentence.front() = AsciiUpper(sentence.front());
  sentence += '.';
  return sentence;
}

}  // namespace ratemover::spreadsheet

#pragma once
// Temporary folders, file contents and a stand-in for the main window's fields.
#include <optional>
#include <string>
#include <string_view>

#include "config/config_file.h"

namespace ratemover::testing {

// A fresh folder under the system's temporary folder, removed with everything in
// it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }     // ends in "/"
  std::string File(std::string_view name) const { return path_ + std::string(name); }

 private:
  std::string path_;
};

void WriteBytes(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);

// The names in a folder, "." and ".." left out, sorted.
std::string Listing(const std::string& folder);

class FakeFields : public ConfigFields {
 public:
  std::string workbook;
  std::optional<std::string> label;  // unset until the reader shows a name

  std::string WorkbookPath() const override { return workbook; }
  void SetWorkbookPath(const std::string& path) override { workbook = path; }
  void SetProfileLabel(const std::string& name) override { label = name; }
};

// One line of a configuration file with its CR LF.
inline std::string Line(std::string_view text) { return std::string(text) + "\r\n"; }

}  // namespace ratemover::testing

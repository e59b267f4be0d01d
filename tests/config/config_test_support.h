#pragma once
// Temporary folders, file contents and what the main window shows of a read.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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

// Kills this process (SIGKILL) just before the step-th write, flush or truncate
// call on a file other than standard output and error; 0 disarms. For a child
// process that a test forks to be killed midway through a write.
void KillAtWriteStep(int step);

// The names in a folder, "." and ".." left out, sorted.
std::string Listing(const std::string& folder);

// What the main window shows after a read: the workbook path, and the current
// profile's name once the read has chosen one.
struct Shown {
  std::string workbook;
  std::optional<std::string> label;  // unset until the reader chooses a profile
};

// Reads the file starting from `state` and puts what the read gives back into
// `state` and `shown`, as the main window does.
inline void ReadInto(ProfileState& state, Shown& shown, const std::string& configPath, const std::string& programDir) {
  ConfigReading reading = BeriIniDatoteko(configPath, programDir, std::move(state));
  state = std::move(reading.state);
  shown.workbook = reading.workbookPath;
  if (reading.profileChosen) shown.label = state.current.name;
}

// The same for a stream; after a read error `state` keeps what was read.
inline void ReadStream(std::istream& in, ProfileState& state, Shown& shown, const std::string& sourceName) {
  ConfigReading reading;
  reading.state = std::move(state);
  reading.workbookPath = shown.workbook;
  try {
    ReadConfigFrom(in, reading, sourceName);
  } catch (...) {
    state = std::move(reading.state);
    shown.workbook = reading.workbookPath;
    throw;
  }
  state = std::move(reading.state);
  shown.workbook = reading.workbookPath;
  if (reading.profileChosen) shown.label = state.current.name;
}

// One line of a configuration file with its CR LF.
inline std::string Line(std::string_view text) { return std::string(text) + "\r\n"; }

}  // namespace ratemover::testing

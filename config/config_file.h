#pragma once
// The configuration file "Ratemover.CONF": reading it into the profile state and
// writing it back.
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

#include "config/profile_table.h"

namespace ratemover {

inline constexpr std::string_view kConfigFileName = "Ratemover.CONF";

// The workbook that the workbook field names when the file does not say.
inline constexpr std::string_view kDefaultWorkbookName = "Ratemover.xls";

// A value is cut to this many characters when it is read.
inline constexpr std::size_t kConfigValueLimit = 300;

// The two things of the main window that the configuration reaches.
class ConfigFields {
 public:
  virtual ~ConfigFields() = default;
  virtual std::string WorkbookPath() const = 0;                // the workbook field
  virtual void SetWorkbookPath(const std::string& path) = 0;   // the workbook field
  virtual void SetProfileLabel(const std::string& name) = 0;   // the profile label
};

// What keeps a configuration file that was asked for by name from being read.
enum class ConfigFileProblem {
  None,
  Missing,      // nothing under that name, or a folder on the way missing
  NotAFile,     // a folder, a pipe, a device: never read, never waited on
  Unreadable,   // it cannot be opened or read
  NoSection,    // it holds no "[EXCEL_FORMAT]" line, so no setting in it would count
};

// Checks the file at configPath (Windows-1250 text) the way the reader will take it.
ConfigFileProblem CheckConfigFile(const std::string& configPath);

// ProgramDir followed by the file name.
std::string ConfigFilePath();

// Reads the configuration file at configPath (Windows-1250 text) into the state
// and the fields; the default workbook is programDir followed by "Ratemover.xls".
// A missing or unopenable file leaves the table as it is. A read error in the
// middle of the file is thrown as std::runtime_error (Windows-1250 text); the
// table then keeps what was read, and neither the current profile nor the label
// is chosen.
void BeriIniDatoteko(ProfileState& state, ConfigFields& fields, const std::string& configPath,
                     const std::string& programDir);

// The part of BeriIniDatoteko that follows the opening of the file: resets the
// count to 0 and the selected index to 1, takes every line of `in`, then chooses
// the current profile and shows its name. The slots are not cleared. A read error
// of the stream is thrown as std::runtime_error naming `sourceName`.
void ReadConfigFrom(std::istream& in, ProfileState& state, ConfigFields& fields, const std::string& sourceName);

// The selected index as the writer stores it: the selected entry's position among
// the entries that are written (blank-named ones are left out), 0 when the selected
// slot itself is blank, and the value unchanged when it names no slot in use.
std::int32_t SelectedIndexToWrite(const SeznamTecajnic& table);

// The whole text that PisiIniDatoteko writes, CR LF after every line.
std::string ConfigFileText(const SeznamTecajnic& table, const std::string& workbookPath);

// Writes the whole file from the table, the selected index and the workbook
// path. The new content replaces the old file only once it is complete on disk,
// and a killed write leaves no temporary file that a later write would not
// remove. A file the process may write in a folder it may not is rewritten in
// place, and its old bytes are written back when that fails. Any failure is
// thrown (std::runtime_error, Windows-1250 text) and leaves the old file whole;
// a folder, a pipe or a read-only file under the name is such a failure.
void PisiIniDatoteko(const ProfileState& state, const std::string& workbookPath, const std::string& configPath);

}  // namespace ratemover

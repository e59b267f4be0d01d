#pragma once
// The configuration file "Ratemover.CONF": reading it into the profile state and
// writing it back.
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "common/operator_view.h"
#include "config/profile_table.h"

namespace ratemover {

inline constexpr std::string_view kConfigFileName = "Ratemover.CONF";

// The workbook that the workbook field names when the file does not say.
inline constexpr std::string_view kDefaultWorkbookName = "Ratemover.xls";

// A value is cut to this many characters when it is read.
inline constexpr std::size_t kConfigValueLimit = 300;

// The named entries of a file that the table had no slot for: the next save
// loses them, and the operator is told.
struct LeftOutProfiles {
  static constexpr std::size_t kNamesKept = 10;  // the rest are counted
  std::int32_t count = 0;
  std::vector<std::string> names;  // the first kNamesKept, as read
};

// What reading the configuration gives: the profile state and the workbook
// path, which the front end then shows.
struct ConfigReading {
  ProfileState state;
  std::string workbookPath;    // as the file system names it
  bool profileChosen = false;  // the file was read and the current profile chosen: its name is shown
  LeftOutProfiles leftOut;
};

// What keeps a configuration file that was asked for by name from being read.
enum class ConfigFileProblem {
  None,
  Missing,      // nothing under that name, or a folder on the way missing
  NotAFile,     // a folder, a pipe, a device: never read, never waited on
  Unreadable,   // it cannot be opened or read
  NoSection,    // it holds no "[EXCEL_FORMAT]" line, so no setting in it would count
};

// Checks the file at configPath the way the reader will take it.
ConfigFileProblem CheckConfigFile(const std::string& configPath);

// ProgramDir followed by the file name.
std::string ConfigFilePath();

// Reads the configuration file at configPath, starting from the profile state
// `before`; the workbook path is programDir followed by "Ratemover.xls" unless
// the file names one (the file's Windows-1250 text taken as the name it spells).
// A missing or unopenable file leaves the table as it is and chooses no profile.
// A read error in the middle of the file is thrown (NamedFailure).
ConfigReading BeriIniDatoteko(const std::string& configPath, const std::string& programDir,
                              ProfileState before = {});

// The part of BeriIniDatoteko that follows the opening of the file: resets the
// count to 0 and the selected index to 1, takes every line of `in`, then chooses
// the current profile. The slots are not cleared. A read error of the stream is
// thrown as NamedFailure naming `sourceName`; `reading` then keeps what was read,
// and no profile is chosen.
void ReadConfigFrom(std::istream& in, ConfigReading& reading, const std::string& sourceName);

// True when the configuration file keeps the workbook path: read back, it names
// the same file. It cannot keep a name with a character that Windows-1250 lacks,
// a name that is not valid UTF-8, a line break, blanks at its end, or more than
// the value limit.
bool ConfigKeepsPath(std::string_view workbookPath);

// Tells the operator that the configuration could not keep the workbook path.
OperatorMessage UnkeptPathMessage(const std::string& workbookPath);

// Tells the operator which entries of the file the configuration could not
// keep because the table was full.
OperatorMessage LeftOutProfilesMessage(const LeftOutProfiles& leftOut);

// The selected index as the writer stores it: the selected entry's position among
// the entries that are written (blank-named ones are left out), 0 when the selected
// slot itself is blank, and the value unchanged when it names no slot in use.
std::int32_t SelectedIndexToWrite(const SeznamTecajnic& table);

// The whole text that PisiIniDatoteko writes, CR LF after every line. The
// workbook path is written as Windows-1250 text, '?' for what that lacks.
std::string ConfigFileText(const SeznamTecajnic& table, const std::string& workbookPath);

// Writes the whole file from the table, the selected index and the workbook
// path. The new content replaces the old file only once it is complete on disk,
// and a killed write leaves no temporary file that a later write would not
// remove. A file the process may write in a folder it may not is rewritten in
// place, and its old bytes are written back when that fails. Any failure is
// thrown (NamedFailure) and leaves the old file whole;
// a folder, a pipe or a read-only file under the name is such a failure.
void PisiIniDatoteko(const ProfileState& state, const std::string& workbookPath, const std::string& configPath);

}  // namespace ratemover

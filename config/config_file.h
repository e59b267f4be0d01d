#pragma once
// The configuration file "Ratemover.CONF": reading it into the profile state and
// writing it back.
#include <string>
#include <string_view>

#include "config/profile_table.h"

namespace ratemover {

inline constexpr std::string_view kConfigFileName = "Ratemover.CONF";

// The two things of the main window that the configuration reaches.
class ConfigFields {
 public:
  virtual ~ConfigFields() = default;
  virtual std::string WorkbookPath() const = 0;                // the workbook field
  virtual void SetWorkbookPath(const std::string& path) = 0;   // the workbook field
  virtual void SetProfileLabel(const std::string& name) = 0;   // the profile label
};

// ProgramDir followed by the file name.
std::string ConfigFilePath();

// Reads the configuration file at configPath (Windows-1250 text) into the state
// and the fields; the default workbook is programDir followed by "Ratemover.xls".
// A missing or unopenable file leaves the table as it is. A read error in the
// middle of the file is thrown.
void BeriIniDatoteko(ProfileState& state, ConfigFields& fields, const std::string& configPath,
                     const std::string& programDir);

// Writes the whole file from the table, the selected index and the workbook
// path. The new content replaces the old file only once it is complete on disk;
// any failure is thrown and leaves the old file whole.
void PisiIniDatoteko(const ProfileState& state, const std::string& workbookPath, const std::string& configPath);

}  // namespace ratemover

#include "config/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "common/file_replacement.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "config/sharing_group.h"

namespace ratemover {

namespace {

constexpr std::string_view kSectionLine = "[EXCEL_FORMAT]";

// The keys of the file's own lines and of a profile's name and start row; the
// profile's columns have theirs in the column table. All the keys differ within
// their first characters, so a line matches at most one.
enum class Key { Workbook, SelectedIndex, Profile, StartRow };

struct KeyText {
  std::string_view text;
  Key key;
};

constexpr std::array<KeyText, 4> kKeys = {{
    {"DATOTEKA=", Key::Workbook},
    {"IZBRANA_TECAJNICA=", Key::SelectedIndex},
    {"TECAJNICA=", Key::Profile},
    {"START_VRSTICA=", Key::StartRow},
}};

constexpr std::size_t LongestKey() {
  std::size_t longest = 0;
  for (const auto& k : kKeys) longest = std::max(longest, k.text.size());
  for (const ProfileColumn& column : kProfileColumns) longest = std::max(longest, column.key.size());
  return longest;
}

// Of a line, only the start of its trimmed text can matter: the longest key and
// a value cut to its limit. The rest of a line, however long, is not held.
constexpr std::size_t kKeptLineBytes = LongestKey() + kConfigValueLimit;

bool IsTrimmable(char c) { return static_cast<unsigned char>(c) <= 32; }

// The start values of the current profile when the configuration is read.
Tecajnica ProfileBeforeReading() { return WithStartLetters(ProfileAtProgramStart()); }

// Cuts a configuration text into lines (ended by CR LF, a lone CR or a lone LF)
// and takes each line into the profile state.
class LineTaker {
 public:
  explicit LineTaker(ConfigReading& reading)
      : table_(reading.state.table), workbookPath_(reading.workbookPath), leftOut_(reading.leftOut) {
    kept_.reserve(kKeptLineBytes);
  }

  // A CR or an LF ends a line. A CR LF pair thus ends a line and then an empty
  // one, and empty lines are skipped, so CR LF, a lone CR and a lone LF all come
  // out as one line end, wherever the pieces of the stream are cut.
  void Feed(const char* data, std::size_t size) {
    std::size_t pos = 0;
    while (pos < size) {
      std::size_t end = pos;
      while (end < size && data[end] != '\r' && data[end] != '\n') ++end;
      Append(data + pos, end - pos);
      if (end == size) return;
      EndLine();
      pos = end + 1;
    }
  }

  // The last line counts even without a line end.
  void Finish() { EndLine(); }

 private:
  void Append(const char* data, std::size_t size) {
    std::size_t pos = 0;
    if (!started_) {
      while (pos < size && IsTrimmable(data[pos])) ++pos;
      if (pos == size) return;
      started_ = true;
    }
    const std::size_t room = kKeptLineBytes - kept_.size();
    const std::size_t take = std::min(room, size - pos);
    kept_.append(data + pos, take);
    pos += take;
    if (!moreBeyond_) {
      for (; pos < size; ++pos) {
        if (!IsTrimmable(data[pos])) {
          moreBeyond_ = true;
          break;
        }
      }
    }
  }

  void EndLine() {
    if (started_) {
      std::string_view line = kept_;
      // When nothing but blanks follows what is kept, the blanks at its end are
      // the line's own end and are trimmed; otherwise the kept text stands
      // inside the line and keeps them.
      if (!moreBeyond_) {
        while (!line.empty() && IsTrimmable(line.back())) line.remove_suffix(1);
      }
      TakeLine(line, !moreBeyond_);
    }
    kept_.clear();
    started_ = false;
    moreBeyond_ = false;
  }

  void TakeLine(std::string_view line, bool whole) {
    if (whole && line == kSectionLine) {
      sectionOpen_ = true;
      return;
    }
    if (line.front() == '[') {
      sectionOpen_ = false;
      return;
    }
    if (!sectionOpen_) return;
    for (const auto& k : kKeys) {
      if (line.starts_with(k.text)) {
        TakeValue(k.key, line.substr(k.text.size(), kConfigValueLimit));
        return;
      }
    }
    for (const ProfileColumn& column : kProfileColumns) {
      if (line.starts_with(column.key)) {
        TakeLetter(column, line.substr(column.key.size(), kConfigValueLimit));
        return;
      }
    }
  }

  // An attribute line before any entry, or of an entry left out, has no slot.
  // A letter is upper-cased whole, not only its first character.
  void TakeLetter(const ProfileColumn& column, std::string_view value) {
    if (entryOpen_) table_.Slot(table_.count).*column.letter = AsciiUpper(value);
  }

  void TakeValue(Key key, std::string_view value) {
    switch (key) {
      case Key::Workbook:
        workbookPath_ = PathFromText(value);
        return;
      case Key::SelectedIndex:
        if (const auto number = ReadWholeNumber(value)) table_.selected = *number;
        return;
      case Key::Profile:
        // The table has a fixed number of slots: an entry beyond them is left
        // out, and so are its attribute lines.
        entryOpen_ = table_.count < kProfileSlots;
        if (entryOpen_) {
          ++table_.count;
          table_.Slot(table_.count).name = std::string(value);
        } else if (!IsBlank(value)) {
          ++leftOut_.count;
          if (leftOut_.names.size() < LeftOutProfiles::kNamesKept) leftOut_.names.emplace_back(value);
        }
        return;
      case Key::StartRow:
        if (entryOpen_) table_.Slot(table_.count).startRow = ReadWholeNumber(value).value_or(1);
        return;
    }
  }

  SeznamTecajnic& table_;
  std::string& workbookPath_;
  LeftOutProfiles& leftOut_;
  std::string kept_;         // the start of the current line, leading blanks skipped
  bool started_ = false;     // a byte above 32 has been seen in the current line
  bool moreBeyond_ = false;  // a byte above 32 stands beyond what is kept
  bool sectionOpen_ = false;
  bool entryOpen_ = false;  // the most recent "TECAJNICA=" line has a slot
};

std::string ReasonText(int error) {
  if (const std::string_view cause = WriteFailureCause(error); !cause.empty()) return std::string(cause);
  switch (error) {
    case EACCES:
    case EPERM:
      return "dostop ni dovoljen";
    case EROFS:
      return "disk je samo za branje";
    case EFBIG:
      return "datoteka je prevelika";
    case ENOENT:
    case ENOTDIR:
      return "mapa ne obstaja";
    case EISDIR:
      return "na tem mestu je mapa";
    case EINVAL:
      return "na tem mestu ni navadna datoteka";
    case ENAMETOOLONG:
      return "ime je predolgo";
    default:
      return "sistemska napaka " + DecimalText(error);
  }
}

[[noreturn]] void ThrowWriteError(const std::string& configPath, int error) {
  throw NamedFailure(OperatorMessage().Text("Napaka pri pisanju datoteke ").Name(configPath).Text(": " + ReasonText(error)));
}

// An operator outside the group that shares the settings' folder may read the
// settings but not save them: the refusal says how to get in.
[[noreturn]] void ThrowWriteError(const std::string& configPath, int error, const FileReplacement& replacement) {
  if (error == EACCES || error == EPERM) {
    if (const auto group = SharingGroupOutside(replacement.Folder())) {
      throw NamedFailure(OperatorMessage()
                             .Text("Napaka pri pisanju datoteke ")
                             .Name(configPath)
                             .Text(": " + ReasonText(error) + "\rNastavitve si delijo operaterji v skupini ")
                             .Name(*group)
                             .Text(". Da jih lahko shranite, vas mora skrbnik dodati v to skupino; nato se znova "
                                   "prijavite."));
    }
  }
  ThrowWriteError(configPath, error);
}

// A line break inside a value would end its line early and let the rest pass
// for a line of its own: a value is written up to its first CR or LF.
std::string_view OneLine(std::string_view value) {
  const auto end = value.find_first_of("\r\n");
  return end == std::string_view::npos ? value : value.substr(0, end);
}

void AppendLine(std::string& out, std::string_view key, std::string_view value) {
  out.append(key);
  out.append(OneLine(value));
  out.append("\r\n");
}

}  // namespace

std::string ConfigFilePath() { return ProgramDir() + std::string(kConfigFileName); }

void ReadConfigFrom(std::istream& in, ConfigReading& reading, const std::string& sourceName) {
  ProfileState& state = reading.state;
  state.table.count = 0;
  state.table.selected = 1;
  reading.leftOut = {};
  LineTaker taker(reading);
  std::vector<char> buffer(16 * 1024);
  std::streambuf* source = in.rdbuf();
  // The bytes are taken as the stream's buffer holds them, one refill at a time,
  // so that a read error loses none of the lines that came before it.
  while (source != nullptr) {
    std::streamsize got = 0;
    bool atEnd = false;
    bool failed = false;
    try {
      if (std::streambuf::traits_type::eq_int_type(source->sgetc(), std::streambuf::traits_type::eof())) {
        atEnd = true;
      } else {
        const std::streamsize buffered = std::max<std::streamsize>(source->in_avail(), 1);
        got = source->sgetn(buffer.data(), std::min(buffered, static_cast<std::streamsize>(buffer.size())));
      }
    } catch (const std::exception&) {
      failed = true;
    }
    if (got > 0) taker.Feed(buffer.data(), static_cast<std::size_t>(got));
    if (failed) throw NamedFailure(OperatorMessage().Text("Napaka pri branju datoteke ").Name(sourceName));
    if (atEnd || got <= 0) break;
  }
  taker.Finish();
  state.current = state.table.SelectsEntry() ? state.table.Slot(state.table.selected) : DefaultProfile();
  reading.profileChosen = true;
}

ConfigFileProblem CheckConfigFile(const std::string& configPath) {
  const std::string& native = configPath;
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? ConfigFileProblem::Missing : ConfigFileProblem::Unreadable;
  }
  if (!S_ISREG(info.st_mode)) return ConfigFileProblem::NotAFile;
  // Not blocking: should a pipe have taken the file's place since, opening and
  // reading it returns at once.
  const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return ConfigFileProblem::Unreadable;
  ConfigFileProblem problem = ConfigFileProblem::NoSection;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) problem = ConfigFileProblem::NotAFile;
  // The section line, trimmed, among lines ended by CR, LF or both.
  std::string line;
  bool tooLong = false;
  const auto endLine = [&] {
    if (!tooLong && Trimmed(line) == kSectionLine) problem = ConfigFileProblem::None;
    line.clear();
    tooLong = false;
  };
  std::vector<char> buffer(16 * 1024);
  while (problem == ConfigFileProblem::NoSection) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = ConfigFileProblem::Unreadable;
      break;
    }
    if (got == 0) {
      endLine();
      break;
    }
    for (ssize_t i = 0; i < got && problem == ConfigFileProblem::NoSection; ++i) {
      const char c = buffer[static_cast<std::size_t>(i)];
      if (c == '\r' || c == '\n') {
        endLine();
      } else if (line.empty() && IsTrimmable(c)) {
        continue;  // indentation
      } else if (line.size() < 64) {
        line.push_back(c);
      } else {
        tooLong = !IsTrimmable(c) || tooLong;
      }
    }
  }
  ::close(fd);
  return problem;
}

ConfigReading BeriIniDatoteko(const std::string& configPath, const std::string& programDir, ProfileState before) {
  // the table is taken over, not built a second time only to be replaced
  ConfigReading reading{.state = std::move(before), .workbookPath = {}, .profileChosen = false, .leftOut = {}};
  reading.state.current = ProfileBeforeReading();
  reading.workbookPath = programDir + std::string(kDefaultWorkbookName);
  // Something that is not a plain file (a folder, a pipe) counts as no file.
  if (!IsExistingFile(configPath)) return reading;
  std::ifstream in(configPath, std::ios::in | std::ios::binary);
  if (!in.is_open()) return reading;
  ReadConfigFrom(in, reading, configPath);
  return reading;
}

bool ConfigKeepsPath(std::string_view workbookPath) {
  const std::string text = TextOfPath(workbookPath);
  // what the reader gives back: one line, trimmed at its end, cut to the limit
  if (OneLine(text).size() != text.size() || text.size() > kConfigValueLimit) return false;
  if (!text.empty() && IsTrimmable(text.back())) return false;
  return PathFromText(text) == workbookPath;
}

OperatorMessage UnkeptPathMessage(const std::string& workbookPath) {
  return OperatorMessage()
      .Text("Poti do datoteke ni mogo\xE8" "e shraniti v Ratemover.CONF:\r")
      .Name(workbookPath)
      .Text("\rOb naslednjem zagonu bo treba datoteko izbrati znova.");
}

OperatorMessage LeftOutProfilesMessage(const LeftOutProfiles& leftOut) {
  OperatorMessage message;
  message.Text("Te\xE8" "ajnic nad " + DecimalText(kProfileSlots) + " ni mogo\xE8" "e shraniti v Ratemover.CONF:");
  for (const std::string& name : leftOut.names) message.Text("\r").Text(name);
  const auto unnamed = leftOut.count - static_cast<std::int32_t>(leftOut.names.size());
  if (unnamed > 0) message.Text("\rin \x9a" "e " + DecimalText(unnamed));
  message.Text("\rSeznam te\xE8" "ajnic je poln.");
  return message;
}

std::int32_t SelectedIndexToWrite(const SeznamTecajnic& table) {
  const std::int32_t inUse = std::min(table.count, kProfileSlots);
  if (table.selected < 1 || table.selected > inUse) return table.selected;
  // A deleted selected entry leaves nothing selected.
  if (IsBlank(table.Slot(table.selected).name)) return 0;
  std::int32_t position = 0;
  for (std::int32_t n = 1; n <= table.selected; ++n) {
    if (!IsBlank(table.Slot(n).name)) ++position;
  }
  return position;
}

std::string ConfigFileText(const SeznamTecajnic& table, const std::string& workbookPath) {
  std::string out;
  AppendLine(out, kSectionLine, "");
  AppendLine(out, "  DATOTEKA=", TextOfPath(workbookPath));
  AppendLine(out, "  IZBRANA_TECAJNICA=", DecimalText(SelectedIndexToWrite(table)));
  const std::int32_t inUse = std::min(table.count, kProfileSlots);
  for (std::int32_t n = 1; n <= inUse; ++n) {
    const Tecajnica& entry = table.Slot(n);
    if (IsBlank(entry.name)) continue;
    AppendLine(out, "  TECAJNICA=", entry.name);
    AppendLine(out, "    START_VRSTICA=", DecimalText(entry.startRow));
    for (const ProfileColumn& column : kProfileColumns) {
      out.append("    ");
      AppendLine(out, column.key, entry.*column.letter);
    }
  }
  return out;
}

void PisiIniDatoteko(const ProfileState& state, const std::string& workbookPath, const std::string& configPath) {
  const std::string text = ConfigFileText(state.table, workbookPath);

  // The new text goes to a new file beside the old one and replaces it only when
  // it is wholly on disk: a crash or a full disk midway keeps the old profiles.
  FileReplacement replacement(configPath);
  const int refused = replacement.Begin();
  if (refused != 0) {
    // A folder the operator may not write, holding a file the operator may:
    // the file itself is rewritten, and restored when that fails.
    if (!replacement.FolderRefused()) ThrowWriteError(configPath, refused, replacement);
    if (const int error = replacement.WriteInPlace(text)) ThrowWriteError(configPath, error, replacement);
    return;
  }
  if (!WriteAll(replacement.Descriptor(), text)) ThrowWriteError(configPath, errno, replacement);
  if (const int error = replacement.Commit()) ThrowWriteError(configPath, error, replacement);
}

}  // namespace ratemover

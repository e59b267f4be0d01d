#include "app/batch/batch_options.h"

namespace ratemover::batch {

namespace {

ParsedOptions UsageError(std::string error) {
  ParsedOptions parsed;
  parsed.error = std::move(error);
  return parsed;
}

// "--name=value" or "--name value"; true when the argument is that option.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::optional<std::string>& target, std::string& error) {
  const std::string& arg = args[i];
  if (arg == name) {
    if (i + 1 >= args.size()) {
      error = "manjka vrednost za " + name;
      return true;
    }
    target = args[++i];
    return true;
  }
  if (arg.rfind(name + "=", 0) == 0) {
    target = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

// A row count for --rows: decimal digits alone, 1 to the last row of the
// largest sheet.
std::optional<std::int32_t> RowCount(const std::string& text) {
  constexpr std::int32_t kMaxRows = 1048576;
  if (text.empty() || text.size() > 7) return std::nullopt;
  std::int32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMaxRows) return std::nullopt;
  return value;
}

}  // namespace

ParsedOptions ParseBatchOptions(const std::vector<std::string>& arguments) {
  BatchOptions options;
  std::optional<std::string> rows;
  bool onlyOperands = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    std::string error;
    if (!onlyOperands && arg == "--") {
      onlyOperands = true;
      continue;
    }
    if (!onlyOperands && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--help" || arg == "-h") {
        options.help = true;
      } else if (arg == "--version") {
        options.version = true;
      } else if (arg == "--cells") {
        options.cells = true;
      } else if (TakeValue(arguments, i, "--conf", options.configFile, error) ||
                 TakeValue(arguments, i, "--profile", options.profileName, error) ||
                 TakeValue(arguments, i, "--rows", rows, error)) {
        if (!error.empty()) return UsageError(error);
      } else {
        return UsageError("neznana izbira " + arg);
      }
      continue;
    }
    if (options.workbook) return UsageError("podana je lahko le ena delovna datoteka");
    options.workbook = arg;
  }
  if (options.configFile && options.configFile->empty()) return UsageError("prazno ime datoteke za --conf");
  if (rows) {
    if (!options.cells) return UsageError("--rows velja le z --cells");
    const std::optional<std::int32_t> count = RowCount(*rows);
    if (!count) return UsageError("--rows potrebuje število od 1 do 1048576");
    options.rows = *count;
  }
  if (options.cells && !options.help && !options.version) {
    if (options.configFile || options.profileName) return UsageError("--cells ne bere nastavitev: brez --conf in --profile");
    if (!options.workbook) return UsageError("--cells potrebuje delovni zvezek");
  }
  ParsedOptions parsed;
  parsed.options = std::move(options);
  return parsed;
}

std::string UsageText() {
  return "Uporaba: ratemover-batch [--conf DATOTEKA] [--profile IME] [DELOVNI_ZVEZEK]\n"
         "        ratemover-batch --cells [--rows N] DELOVNI_ZVEZEK\n"
         "\n"
         "Prepiše tečaje iz delovnega zvezka\n"
         "(" RATEMOVER_FORMS_READ ")\n"
         "v datoteko ZTR (format 111) z imenom zvezka in končnico ztr.\n"
         "\n"
         "  --cells           izpiše celice A do Y aktivnega lista, kot jih prebere prepis,\n"
         "                    in ne prepiše ničesar\n"
         "  --rows N          z --cells: vrstice 1 do N (privzeto 3000, največ 1048576)\n"
         "  --conf DATOTEKA   nastavitve iz DATOTEKA namesto Ratemover.CONF ob programu\n"
         "  --profile IME     tečajnica z imenom IME namesto izbrane v nastavitvah\n"
         "  DELOVNI_ZVEZEK    zvezek namesto tistega iz nastavitev\n"
         "  --help            ta pomoč\n"
         "  --version         različica\n"
         "\n"
         "Izhodna koda: 0 prepisana vsaj ena vrstica, 3 nobena vrstica, 2 zvezek manjka ali ni v\n"
         "pravem formatu ali izhodne datoteke ni mogoče pisati, 1 druga napaka, 64 napačna uporaba,\n"
         "78 datoteke z nastavitvami iz --conf ni ali ni uporabna. Z --cells: 0 celice izpisane,\n"
         "2 zvezka ni ali ga ni mogoče odpreti.\n";
}

}  // namespace ratemover::batch

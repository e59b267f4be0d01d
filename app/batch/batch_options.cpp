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

}  // namespace

ParsedOptions ParseBatchOptions(const std::vector<std::string>& arguments) {
  BatchOptions options;
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
      } else if (TakeValue(arguments, i, "--conf", options.configFile, error) ||
                 TakeValue(arguments, i, "--profile", options.profileName, error)) {
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
  ParsedOptions parsed;
  parsed.options = std::move(options);
  return parsed;
}

std::string UsageText() {
  return "Uporaba: ratemover-batch [--conf DATOTEKA] [--profile IME] [DELOVNI_ZVEZEK]\n"
         "\n"
         "Prepiše tečaje iz delovnega zvezka (.xls, .xlsx, .ods) v datoteko ZTR (format 111)\n"
         "z imenom zvezka in končnico ztr.\n"
         "\n"
         "  --conf DATOTEKA   nastavitve iz DATOTEKA namesto Ratemover.CONF ob programu\n"
         "  --profile IME     tečajnica z imenom IME namesto izbrane v nastavitvah\n"
         "  DELOVNI_ZVEZEK    zvezek namesto tistega iz nastavitev\n"
         "  --help            ta pomoč\n"
         "  --version         različica\n"
         "\n"
         "Izhodna koda: 0 prepisana vsaj ena vrstica, 3 nobena vrstica, 2 zvezek manjka ali ni v\n"
         "pravem formatu ali izhodne datoteke ni mogoče pisati, 1 druga napaka, 64 napačna uporaba,\n"
         "78 datoteke z nastavitvami iz --conf ni ali ni uporabna.\n";
}

}  // namespace ratemover::batch

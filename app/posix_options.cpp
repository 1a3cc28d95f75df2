#include "app/posix_options.h"

#include <string_view>

namespace fwu {

namespace {

ParsedOptions usage_error(std::string error) {
  ParsedOptions parsed;
  parsed.action = OptionsAction::kUsageError;
  parsed.error = std::move(error);
  return parsed;
}

// The log path is taken as the user gave it: a POSIX path may hold any byte but the zero, and a
// blank, a minus sign or a slash in it is part of the name.
bool set_log_path(std::string_view path, ProgramSettings* settings, std::string* error) {
  if (path.empty()) {
    *error = "--log needs a file name";
    return false;
  }
  if (path.size() > kMaxLogPath) {
    *error = "the log file's path is longer than " + std::to_string(kMaxLogPath) + " bytes";
    return false;
  }
  settings->log_path = std::string(path);
  settings->log_enabled = true;
  return true;
}

}  // namespace

ParsedOptions parse_posix_options(int argc, const char* const* argv) {
  ParsedOptions parsed;
  constexpr std::string_view kLogEquals = "--log=";
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-s" || arg == "--silent") {
      parsed.settings.silent = true;
      parsed.settings.notice = false;
    } else if (arg == "-h" || arg == "--help") {
      parsed.action = OptionsAction::kHelp;
      return parsed;
    } else if (arg == "--version") {
      parsed.action = OptionsAction::kVersion;
      return parsed;
    } else if (arg == "--log" || arg.starts_with(kLogEquals)) {
      std::string_view path;
      if (arg == "--log") {
        if (i + 1 == argc) return usage_error("--log needs a file name");
        path = argv[++i];
      } else {
        path = arg.substr(kLogEquals.size());
      }
      std::string error;
      if (!set_log_path(path, &parsed.settings, &error)) return usage_error(error);
    } else if (arg == "--") {
      if (i + 1 < argc)
        return usage_error("unexpected argument '" + std::string(argv[i + 1]) + "'");
      break;
    } else if (arg.starts_with("-")) {
      return usage_error("unknown option '" + std::string(arg) + "'");
    } else {
      return usage_error("unexpected argument '" + std::string(arg) + "'");
    }
  }
  return parsed;
}

int posix_exit_status(int result_code) {
  return result_code & 0xFF;
}

const char* posix_usage() {
  return "Usage: fwupdate [-s|--silent] [--log FILE]\n"
         "Updates the firmware of the Talvex touchpad. Run as root.\n"
         "\n"
         "  -s, --silent    ask nothing and show nothing; the update goes ahead when due\n"
         "      --log FILE  append what happens to FILE, creating it and missing directories\n"
         "  -h, --help      show this help and exit\n"
         "      --version   show the program's and the firmware's versions and exit\n"
         "\n"
         "Without a terminal and without --silent, every question is answered No.\n"
         "Exit status (the result code in parentheses):\n"
         "  0 updated, 1 updated and a restart advised, 233 (1001) update failed,\n"
         "  235 (1003) no usable touchpad, 236 (1004) same version, 237 (1005) newer version\n"
         "  on the touchpad, 239 (1007) declined, 2 wrong usage (nothing done).\n";
}

}  // namespace fwu

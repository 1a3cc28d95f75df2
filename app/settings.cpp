#include "app/settings.h"

namespace fwu {

namespace {

ProgramSettings g_settings;

bool has_silent_switch(std::string_view text) {
  for (std::string_view needle : {"/S", "-S", "/s", "-s"}) {
    if (text.find(needle) != std::string_view::npos) return true;
  }
  return false;
}

// The path behind the log switch, or an empty view when there is no switch or no path.
std::string_view cut_log_path(std::string_view text) {
  size_t at = text.find("/vLOGFILE=");
  if (at == std::string_view::npos) at = text.find("/v LOGFILE=");
  if (at == std::string_view::npos) return {};
  size_t start = text.find_first_not_of("=:\" ", text.find('=', at));
  if (start == std::string_view::npos) return {};
  size_t end = text.find_first_of(", \"-/", start);
  if (end == std::string_view::npos) end = text.size();
  return text.substr(start, end - start);
}

}  // namespace

const ProgramSettings& settings() {
  return g_settings;
}

void read_command_line(std::string_view argument_text) {
  if (has_silent_switch(argument_text)) {
    g_settings.silent = true;
    g_settings.notice = false;
  }
  std::string_view path = cut_log_path(argument_text);
  // A path that does not fit the path buffer would be a different file than the one named;
  // writing no log is the safe reading.
  if (!path.empty() && path.size() <= kMaxLogPath) {
    g_settings.log_path = std::string(path);
    g_settings.log_enabled = true;
  }
}

void use_settings(const ProgramSettings& settings) {
  g_settings = settings;
}

std::string_view argument_text(std::string_view command_line) {
  size_t pos = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    size_t close = command_line.find('"', 1);
    pos = close == std::string_view::npos ? command_line.size() : close + 1;
  } else {
    pos = command_line.find_first_of(" \t");
    if (pos == std::string_view::npos) pos = command_line.size();
  }
  pos = command_line.find_first_not_of(" \t", pos);
  return pos == std::string_view::npos ? std::string_view() : command_line.substr(pos);
}

void reset_settings_for_test() {
  g_settings = ProgramSettings{};
}

}  // namespace fwu

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/posix_options.h"
#include "app/program.h"
#include "app/settings.h"
#include "resources/version.h"

namespace {

constexpr int kExitUsage = 2;

// The command line for the log's header, as the shell handed it over.
std::string command_line(int argc, const char* const* argv) {
  std::string text;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) text += ' ';
    text += argv[i];
  }
  return text;
}

// An update cut short leaves the touchpad in its bootloader. Like the Windows program, which
// nothing but a forced end stops, the run is not broken off by the keyboard, a closed terminal or
// an ordinary request to end; a question is declined with n or the end of input instead. A closed
// output loses what is printed, never the run.
void keep_running_to_the_end() {
  for (int signal_number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) {
    signal(signal_number, SIG_IGN);
  }
}

}  // namespace

int main(int argc, char** argv) {
  fwu::ParsedOptions parsed = fwu::parse_posix_options(argc, argv);
  switch (parsed.action) {
    case fwu::OptionsAction::kHelp:
      std::fputs(fwu::posix_usage(), stdout);
      return 0;
    case fwu::OptionsAction::kVersion:
      std::printf("fwupdate %s (touchpad firmware %s)\n", FWU_VERSION_TEXT,
                  FWU_FIRMWARE_VERSION_TEXT);
      return 0;
    case fwu::OptionsAction::kUsageError:
      std::fprintf(stderr, "fwupdate: %s\nTry 'fwupdate --help'.\n", parsed.error.c_str());
      return kExitUsage;
    case fwu::OptionsAction::kRun:
      break;
  }
  keep_running_to_the_end();
  if (geteuid() != 0 && !parsed.settings.silent) {
    std::fprintf(stderr, "fwupdate: not running as root; the touchpad may not be reachable.\n");
  }
  fwu::use_settings(parsed.settings);
  std::string line = command_line(argc, argv);
  // The settings are fixed: an empty argument text leaves them as they are.
  return fwu::posix_exit_status(fwu::run_program("", line.c_str()));
}

#include "app/program.h"

#include "app/settings.h"
#include "log/log_file.h"

namespace fwu {

int run_program(std::string_view argument_text, const char* command_line) {
  read_command_line(argument_text);
  log_line("Running program\n\t %s", command_line);
  start_stamp();
  // The device check, the update and the inventory record take their place here as they land.
  int exit_code = kExitNoDevice;
  end_stamp();
  log_line("%s", "");
  return exit_code;
}

}  // namespace fwu

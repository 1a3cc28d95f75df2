#include <windows.h>

#include "app/program.h"
#include "app/settings.h"
#include "platform/process.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* command_line = platform::command_line();
  return fwu::run_program(fwu::argument_text(command_line), command_line);
}

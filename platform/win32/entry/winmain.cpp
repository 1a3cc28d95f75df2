#include <windows.h>

#include "app/program.h"
#include "app/settings.h"
#include "platform/process.h"
#include "platform/win32/system_dlls.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a DLL: nothing this process loads from now on comes from the folder
  // the program was started from.
  platform::win32::system_dll::restrict_search_to_system32();
  const char* command_line = platform::command_line();
  return fwu::run_program(fwu::argument_text(command_line), command_line);
}

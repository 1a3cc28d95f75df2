#include <windows.h>

#include "app/program.h"
#include "app/settings.h"
#include "platform/process.h"
#include "platform/win32/system_dlls.h"

namespace {

// Where the system offers it (recent releases of Windows 11 and Windows Server), the process
// follows no junction or mount point that a user without administrator rights made: a link
// planted on the way to the log file or mup.xml then leads nowhere, even if it appears between
// the program's check of a path and its use. Elsewhere the call fails and the checks of the
// path stand alone.
void refuse_links_of_standard_users() {
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
  policy.EnforceRedirectionTrust = 1;
  SetProcessMitigationPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof policy);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a DLL: nothing this process loads from now on comes from the folder
  // the program was started from.
  platform::win32::system_dll::restrict_search_to_system32();
  platform::win32::system_dll::refuse_remote_and_low_label_images();
  refuse_links_of_standard_users();
  const char* command_line = platform::command_line();
  return fwu::run_program(fwu::argument_text(command_line), command_line);
}

// Keeps Wine's own processes (the desktop, the service manager and the drivers it starts) up for
// as long as it runs. Started before the program's runs, without the stand-ins, it makes sure
// that none of those processes is started from a run's process, whose environment selects the
// stand-ins: they would load them in place of Wine's own DLLs.
//
// Prints "ready" once both are up, then waits until it is ended.
#include <windows.h>

#include <cstdio>

int main() {
  GetDesktopWindow();
  // Connecting waits until the service manager has started.
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    std::printf("no service manager (error %lu)\n", GetLastError());
    return 1;
  }
  CloseServiceHandle(manager);
  std::printf("ready\n");
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}

/* A DLL planted beside the program under the name of a system DLL. If anything loads it, it
   writes its own path to C:\planted.txt and ends the process with status 66, so the run fails
   visibly instead of going on with a stranger's code. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH] = "";
  DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  HANDLE marker = CreateFileA("C:\\planted.txt", FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
  if (marker != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(marker, path, length, &written, NULL);
    WriteFile(marker, "\r\n", 2, &written, NULL);
    CloseHandle(marker);
  }
  ExitProcess(66);
  return FALSE;
}

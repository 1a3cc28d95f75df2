/* The control for the planted DLLs: loads the DLL named on the command line the ordinary way
   (LoadLibraryW, default search order). Under a Wine that takes DLLs from the program's folder,
   a planted one ends this process with status 66; status 0 means the plant would prove nothing. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HMODULE module = LoadLibraryW(argv[1]);
  return module != NULL ? 0 : 1;
}

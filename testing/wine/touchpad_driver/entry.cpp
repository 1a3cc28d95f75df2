// The image entry point of both drivers. Wine loads a driver like a DLL, calling its entry point
// as DllMain, and then ntoskrnl calls the same entry point as DriverEntry; only the first call
// passes the image's own base address. The DllMain call runs the C++ runtime's start-up (static
// objects, the runtime's own state), which the emulated touchpad's sources need.
#include "testing/wine/touchpad_driver/kernel.h"

extern "C" {
extern char __ImageBase;
int WINAPI DllMainCRTStartup(void* module, unsigned long reason, void* reserved);
NTSTATUS WINAPI driver_image_entry(void* first, void* second, void* third);
}

NTSTATUS WINAPI driver_image_entry(void* first, void* second, void* third) {
  if (first == &__ImageBase) {
    return DllMainCRTStartup(first, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(second)),
                             third);
  }
  return driver_main(static_cast<DRIVER_OBJECT*>(first), static_cast<UNICODE_STRING*>(second));
}

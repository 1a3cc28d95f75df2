// The touchpad's HID minidriver, service "hidi2c": the part of a HID-over-I2C stack that sits
// between the HID class driver and the touchpad's transport device. It registers with Wine's own
// HID class driver and hands every request down to the device below it, the transport device
// that the bus driver (bus_driver.cpp) made; that device answers the HID requests itself.
#include "testing/wine/touchpad_driver/kernel.h"

namespace {

DEVICE_OBJECT* device_below(DEVICE_OBJECT* device) {
  return static_cast<kernel::HidDeviceExtension*>(device->DeviceExtension)->next_device_object;
}

NTSTATUS WINAPI pass_down(DEVICE_OBJECT* device, IRP* irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(device_below(device), irp);
}

NTSTATUS WINAPI add_device(DRIVER_OBJECT* /*driver*/, DEVICE_OBJECT* device) {
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS driver_main(DRIVER_OBJECT* driver, UNICODE_STRING* registry_path) {
  driver->DriverExtension->AddDevice = add_device;
  driver->MajorFunction[IRP_MJ_PNP] = pass_down;
  driver->MajorFunction[IRP_MJ_POWER] = pass_down;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = pass_down;
  kernel::HidMinidriverRegistration registration;
  registration.driver_object = driver;
  registration.registry_path = registry_path;
  return HidRegisterMinidriver(&registration);
}

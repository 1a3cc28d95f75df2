// The virtual touchpad's bus driver, service "fwu_e2e_bus", on a root-enumerated device of its
// own. It holds the simulated machine (platform/sim: the emulated touchpad and its device tree)
// and makes the touchpad's transport device real for Wine: while the simulated transport device
// "ACPI\TPD0001\1" is started, the bus has a child device of that ID, over which Wine installs
// the touchpad's HID minidriver (hid_minidriver.cpp, service "hidi2c") and its own HID class
// driver. The child answers the HID requests: its report descriptor declares feature report 7 of
// 531 bytes, and every feature report goes to the emulated touchpad.
//
// A control device (control.h) lets the test set up the machine, read the record and the flash,
// and carry out the configuration manager's calls on the simulated device nodes. When a node
// stops or starts, the child is unplugged or plugged again, as a real transport device leaves
// and comes back: Wine removes the HID device above it and, at the next start, the touchpad
// appears with the product ID of the mode it boots into.
//
// A machine with a stale HID-over-I2C device ("--stale") has a second child, "ACPI\SNS0001\1",
// of the same compatible ID and so of service hidi2c, while the machine has it. Wine never starts
// it: its start fails, as a device with a problem runs no driver and has no HID device above it.
// Its problem, and whether a disable and enable repair it, are the simulated node's, which the
// configuration manager's calls read and change through the control device.
//
// A machine whose touchpad takes its time ("--appear-ms") plugs the child in only that long
// after the call that started the simulated transport device has returned, from a thread of the
// bus's own: the configuration manager's call does not wait for the touchpad's interfaces.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/devnode.h"
#include "platform/sim/device_tree.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_internal.h"
#include "platform/sim/touchpad.h"
#include "testing/wine/standins/machine_text.h"
#include "testing/wine/standins/record.h"
#include "testing/wine/touchpad_driver/control.h"
#include "testing/wine/touchpad_driver/kernel.h"

namespace {

namespace control = touchpad_control;

constexpr wchar_t kTransportDeviceId[] = L"ACPI\\TPD0001";
constexpr wchar_t kTransportInstanceId[] = L"1";
constexpr wchar_t kStaleDeviceId[] = L"ACPI\\SNS0001";
// HID-over-I2C devices are compatible with this ID; the INF installs the minidriver on it.
constexpr wchar_t kHidOverI2cId[] = L"ACPI\\PNP0C50";
constexpr USHORT kVersionNumber = 0x0100;

// The feature report's data, the report without its ID byte, as a two-byte report count.
constexpr uint32_t kFeatureBytes = sim::kReportLength - 1;
static_assert(kFeatureBytes <= 0xFFFF);
constexpr UCHAR kFeatureBytesLow = kFeatureBytes & 0xFF;
constexpr UCHAR kFeatureBytesHigh = kFeatureBytes >> 8;

// Usage page 0xFF00 (vendor), application collection: an input report and feature report 7 of
// 530 data bytes, one feature value capability. One item a line, kept so by hand:
// clang-format off
constexpr UCHAR kReportDescriptor[] = {
    0x06, 0x00, 0xFF,                           // usage page (vendor 0xFF00)
    0x09, 0x01,                                 // usage 1
    0xA1, 0x01,                                 // collection (application)
    0x85, 0x07,                                 //   report ID 7
    0x15, 0x00,                                 //   logical minimum 0
    0x26, 0xFF, 0x00,                           //   logical maximum 255
    0x75, 0x08,                                 //   report size 8
    0x09, 0x02,                                 //   usage 2
    0x95, 0x01,                                 //   report count 1
    0x81, 0x02,                                 //   input (data, variable, absolute)
    0x09, 0x03,                                 //   usage 3
    0x96, kFeatureBytesLow, kFeatureBytesHigh,  //   report count 530
    0xB1, 0x02,                                 //   feature (data, variable, absolute)
    0xC0,                                       // end collection
};
// clang-format on

enum class Kind { kControl, kBus, kTransport };

// The device extension of every device object of this driver starts with its kind.
struct Extension {
  Kind kind;
};

struct TransportExtension {
  Extension base;
  bool stale;         // the stale device, not the touchpad's transport device
  unsigned machine;   // the machine set-up it belongs to (Bus::machine)
  USHORT product_id;  // decided when the device appeared
  bool reported;      // given to Wine in the bus's relations: Wine removes it in its own time
  bool unplugged;     // no longer reported to Wine; deleted at its removal
  bool started;       // Wine has started it
};

// What the bus driver has made and seen since the machine was set up.
struct Record {
  std::vector<USHORT> appearances;  // the product ID of each appearance of the transport device
  unsigned starts = 0;              // IRP_MN_START_DEVICE on the transport device
  unsigned removals = 0;            // IRP_MN_REMOVE_DEVICE on the transport device
  unsigned sets = 0;                // feature reports handed to the touchpad, and asked of it
  unsigned gets = 0;
  std::vector<std::string> refused;  // feature requests that the touchpad never saw
};

struct Bus {
  unsigned machine = 0;  // counts the set-ups; the record tells of the last one
  // The simulated machine and the record. Held only for moments, never across a call into
  // Wine's Plug and Play manager, which calls back into the bus from a thread of its own.
  KSPIN_LOCK lock;
  DEVICE_OBJECT* root = nullptr;       // the root-enumerated device below the bus
  DEVICE_OBJECT* fdo = nullptr;        // the bus on it
  DEVICE_OBJECT* transport = nullptr;  // the child while it is plugged in
  DEVICE_OBJECT* leaving = nullptr;    // the child unplugged, until Wine has removed it
  bool plugging = false;               // a child is being made
  LIST_ENTRY pending_reads;            // IOCTL_HID_READ_REPORT requests, under the cancel spin lock
  // The stale device while the machine has one, the one leaving, and one being made.
  DEVICE_OBJECT* stale = nullptr;
  DEVICE_OBJECT* stale_leaving = nullptr;
  bool stale_plugging = false;
  Record record;
};

Bus* g_bus = nullptr;

Kind kind_of(DEVICE_OBJECT* device) {
  return static_cast<Extension*>(device->DeviceExtension)->kind;
}

TransportExtension* transport_of(DEVICE_OBJECT* device) {
  return static_cast<TransportExtension*>(device->DeviceExtension);
}

class Locked {
 public:
  Locked() { KeAcquireSpinLock(&g_bus->lock, &irql_); }
  ~Locked() { KeReleaseSpinLock(&g_bus->lock, irql_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  KIRQL irql_ = 0;
};

NTSTATUS complete(IRP* irp, NTSTATUS status, ULONG_PTR information = 0) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// ---- Pending input reads ----------------------------------------------------------------------
// The touchpad sends no input reports: the HID class driver's read waits until the device goes.

void WINAPI cancel_read(DEVICE_OBJECT* /*device*/, IRP* irp) {
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  IoReleaseCancelSpinLock(irp->CancelIrql);
  complete(irp, STATUS_CANCELLED);
}

NTSTATUS keep_read(IRP* irp) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  if (irp->Cancel) {
    IoReleaseCancelSpinLock(irql);
    return complete(irp, STATUS_CANCELLED);
  }
  IoSetCancelRoutine(irp, cancel_read);
  IoMarkIrpPending(irp);
  InsertTailList(&g_bus->pending_reads, &irp->Tail.Overlay.ListEntry);
  IoReleaseCancelSpinLock(irql);
  return STATUS_PENDING;
}

void end_reads() {
  LIST_ENTRY ending;
  InitializeListHead(&ending);
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  while (!IsListEmpty(&g_bus->pending_reads)) {
    LIST_ENTRY* entry = RemoveHeadList(&g_bus->pending_reads);
    IRP* irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    IoSetCancelRoutine(irp, nullptr);
    InsertTailList(&ending, entry);
  }
  IoReleaseCancelSpinLock(irql);
  while (!IsListEmpty(&ending)) {
    complete(CONTAINING_RECORD(RemoveHeadList(&ending), IRP, Tail.Overlay.ListEntry),
             STATUS_DELETE_PENDING);
  }
}

// ---- Plugging the transport device in and out -------------------------------------------------
// Wine adds and removes children on a thread of its own, after the bus has invalidated its
// relations. A device of the same instance ID must not appear before the last one is gone, so a
// child is plugged in only while none is leaving; the removal of the one leaving plugs in the
// next, if the machine wants one.

// Called with Bus::plugging set by the caller, which only one caller can have set at a time. The
// child belongs to the machine of the moment it is plugged in, with that machine's product ID; a
// machine set up meanwhile that has no transport device started gets none.
void plug_in() {
  DEVICE_OBJECT* child = nullptr;
  // Wine, as Windows, names the device itself.
  NTSTATUS status =
      IoCreateDevice(g_bus->fdo->DriverObject, sizeof(TransportExtension), nullptr,
                     FILE_DEVICE_UNKNOWN, FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &child);
  bool wanted = false;
  {
    Locked locked;
    g_bus->plugging = false;
    if (!NT_SUCCESS(status)) return;
    wanted = sim::touchpad_interfaces_started();
    if (wanted) {
      USHORT product_id = sim::product_id_for_mode();
      *transport_of(child) = TransportExtension{
          {Kind::kTransport}, false, g_bus->machine, product_id, false, false, false};
      child->Flags &= ~DO_DEVICE_INITIALIZING;
      g_bus->transport = child;
      g_bus->record.appearances.push_back(product_id);
    }
  }
  if (!wanted) IoDeleteDevice(child);
}

// Makes the child follow the simulated transport device: there while it is started, gone
// otherwise. `again`: unplug it in any case (the machine was set up afresh).
void follow_machine(bool again) {
  bool leave = false;
  bool plug = false;
  DEVICE_OBJECT* unknown_to_wine = nullptr;
  {
    Locked locked;
    if (g_bus->fdo == nullptr) return;
    bool started = sim::touchpad_interfaces_started();
    if (g_bus->transport != nullptr && (again || !started)) {
      DEVICE_OBJECT* child = g_bus->transport;
      g_bus->transport = nullptr;
      transport_of(child)->unplugged = true;
      // Wine removes a child it saw in the relations; one it never saw goes now.
      if (transport_of(child)->reported) {
        g_bus->leaving = child;
      } else {
        unknown_to_wine = child;
      }
      leave = true;
    }
    plug = started && g_bus->transport == nullptr && g_bus->leaving == nullptr && !g_bus->plugging;
    g_bus->plugging = g_bus->plugging || plug;
  }
  if (leave) end_reads();
  if (unknown_to_wine != nullptr) IoDeleteDevice(unknown_to_wine);
  if (plug) plug_in();
  if (leave || plug) IoInvalidateDeviceRelations(g_bus->root, BusRelations);
}

// How long until the touchpad's interfaces appear: 0 unless its transport device is started and
// its interfaces are still to come. Called with the lock held.
uint64_t appear_in_ms() {
  sim::refresh_interfaces();
  return sim::touchpad_interfaces_due_in_ms();
}

void WINAPI appear_later(void* /*context*/) {
  for (;;) {
    uint64_t wait_ms = 0;
    {
      Locked locked;
      wait_ms = appear_in_ms();
    }
    if (wait_ms == 0) break;
    LARGE_INTEGER interval;
    interval.QuadPart = -static_cast<LONGLONG>(wait_ms) * 10000;  // relative, in 100 ns
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
  }
  follow_machine(false);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

// After a call that may have started the touchpad's transport device: when its interfaces are
// still to come, a thread plugs the child in once they are due.
void follow_machine_later() {
  {
    Locked locked;
    if (appear_in_ms() == 0) return;
  }
  HANDLE thread = nullptr;
  if (NT_SUCCESS(PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                      appear_later, nullptr))) {
    ZwClose(thread);
  }
}

// The stale device: plugged in while the machine has one, and only while none is leaving (the
// removal of the one leaving calls this again).
void follow_stale() {
  DEVICE_OBJECT* unknown_to_wine = nullptr;
  bool plug = false;
  bool leave = false;
  {
    Locked locked;
    if (g_bus->fdo == nullptr) return;
    bool wanted = sim::stale_device() != 0;
    if (!wanted && g_bus->stale != nullptr) {
      DEVICE_OBJECT* child = std::exchange(g_bus->stale, nullptr);
      transport_of(child)->unplugged = true;
      (transport_of(child)->reported ? g_bus->stale_leaving : unknown_to_wine) = child;
      leave = true;
    }
    plug = wanted && g_bus->stale == nullptr && g_bus->stale_leaving == nullptr &&
           !g_bus->stale_plugging;
    g_bus->stale_plugging = g_bus->stale_plugging || plug;
  }
  if (unknown_to_wine != nullptr) IoDeleteDevice(unknown_to_wine);
  if (plug) {
    DEVICE_OBJECT* child = nullptr;
    NTSTATUS status =
        IoCreateDevice(g_bus->fdo->DriverObject, sizeof(TransportExtension), nullptr,
                       FILE_DEVICE_UNKNOWN, FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &child);
    Locked locked;
    g_bus->stale_plugging = false;
    if (NT_SUCCESS(status)) {
      *transport_of(child) =
          TransportExtension{{Kind::kTransport}, true, g_bus->machine, 0, false, false, false};
      child->Flags &= ~DO_DEVICE_INITIALIZING;
      g_bus->stale = child;
    }
  }
  if (leave || plug) IoInvalidateDeviceRelations(g_bus->root, BusRelations);
}

// ---- The transport device: Plug and Play --------------------------------------------------

// A copy in paged pool, which the caller of the query frees; `multi`: a list of one string.
wchar_t* pool_string(const wchar_t* text, bool multi) {
  size_t chars = std::wcslen(text) + (multi ? 2 : 1);
  auto* copy = static_cast<wchar_t*>(ExAllocatePool(PagedPool, chars * sizeof(wchar_t)));
  if (copy == nullptr) return nullptr;
  std::memset(copy, 0, chars * sizeof(wchar_t));
  std::wcscpy(copy, text);
  return copy;
}

NTSTATUS answer_string(IRP* irp, const wchar_t* text, bool multi) {
  wchar_t* copy = pool_string(text, multi);
  if (copy == nullptr) return complete(irp, STATUS_NO_MEMORY);
  return complete(irp, STATUS_SUCCESS, reinterpret_cast<ULONG_PTR>(copy));
}

NTSTATUS query_id(IRP* irp, BUS_QUERY_ID_TYPE type, bool stale) {
  const wchar_t* device_id = stale ? kStaleDeviceId : kTransportDeviceId;
  switch (type) {
    case BusQueryDeviceID:
      return answer_string(irp, device_id, false);
    case BusQueryInstanceID:
      return answer_string(irp, kTransportInstanceId, false);
    case BusQueryHardwareIDs:
      return answer_string(irp, device_id, true);
    case BusQueryCompatibleIDs:
      return answer_string(irp, kHidOverI2cId, true);
    default:
      return complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
  }
}

NTSTATUS self_relation(DEVICE_OBJECT* device, IRP* irp) {
  auto* relations =
      static_cast<DEVICE_RELATIONS*>(ExAllocatePool(PagedPool, sizeof(DEVICE_RELATIONS)));
  if (relations == nullptr) return complete(irp, STATUS_NO_MEMORY);
  ObReferenceObject(device);
  relations->Count = 1;
  relations->Objects[0] = device;
  return complete(irp, STATUS_SUCCESS, reinterpret_cast<ULONG_PTR>(relations));
}

NTSTATUS transport_pnp(DEVICE_OBJECT* device, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      if (transport_of(device)->stale) return complete(irp, STATUS_DEVICE_NOT_READY);
      {
        Locked locked;
        if (transport_of(device)->machine == g_bus->machine) ++g_bus->record.starts;
        transport_of(device)->started = true;
      }
      return complete(irp, STATUS_SUCCESS);
    }
    case IRP_MN_SURPRISE_REMOVAL:
      end_reads();
      return complete(irp, STATUS_SUCCESS);
    case IRP_MN_REMOVE_DEVICE: {
      end_reads();
      bool unplugged = false;
      bool stale = transport_of(device)->stale;
      {
        Locked locked;
        if (!stale && transport_of(device)->machine == g_bus->machine) ++g_bus->record.removals;
        unplugged = transport_of(device)->unplugged;
        if (g_bus->leaving == device) g_bus->leaving = nullptr;
        if (g_bus->stale_leaving == device) g_bus->stale_leaving = nullptr;
      }
      complete(irp, STATUS_SUCCESS);
      // Still reported by the bus: Wine removes it only while the bus itself goes.
      if (!unplugged) return STATUS_SUCCESS;
      IoDeleteDevice(device);
      if (stale) {
        follow_stale();
      } else {
        follow_machine(false);
      }
      return STATUS_SUCCESS;
    }
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
      return complete(irp, STATUS_SUCCESS);
    case IRP_MN_QUERY_ID:
      return query_id(irp, stack->Parameters.QueryId.IdType, transport_of(device)->stale);
    case IRP_MN_QUERY_CAPABILITIES: {
      DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
      caps->Removable = TRUE;
      caps->SilentInstall = TRUE;
      caps->SurpriseRemovalOK = TRUE;
      return complete(irp, STATUS_SUCCESS);
    }
    case IRP_MN_QUERY_DEVICE_TEXT:
      if (stack->Parameters.QueryDeviceText.DeviceTextType != DeviceTextDescription) break;
      return answer_string(irp, L"Virtual touchpad transport", false);
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (stack->Parameters.QueryDeviceRelations.Type != TargetDeviceRelation) break;
      return self_relation(device, irp);
    default:
      break;
  }
  return complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
}

// ---- The transport device: the HID requests ---------------------------------------------------

NTSTATUS copy_out(IRP* irp, const void* data, ULONG size) {
  ULONG room = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
  if (room < size) return complete(irp, STATUS_BUFFER_TOO_SMALL);
  std::memcpy(irp->UserBuffer, data, size);
  return complete(irp, STATUS_SUCCESS, size);
}

NTSTATUS hid_string(IRP* irp) {
  ULONG_PTR which = reinterpret_cast<ULONG_PTR>(
      IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.Type3InputBuffer);
  const wchar_t* text = nullptr;
  switch (which & 0xFFFF) {
    case HID_STRING_ID_IMANUFACTURER:
      text = L"Talvex";
      break;
    case HID_STRING_ID_IPRODUCT:
      text = L"Touchpad (virtual)";
      break;
    case HID_STRING_ID_ISERIALNUMBER:
      text = L"0001";
      break;
    default:
      return complete(irp, STATUS_INVALID_PARAMETER);
  }
  return copy_out(irp, text, static_cast<ULONG>((std::wcslen(text) + 1) * sizeof(wchar_t)));
}

// A feature report on its way to the emulated touchpad. The HID class driver hands the whole
// report, ID byte first; one that is not report 7 of 531 bytes never reaches the device, and the
// record keeps it.
NTSTATUS feature(IRP* irp, bool set) {
  auto* packet = static_cast<HID_XFER_PACKET*>(irp->UserBuffer);
  if (packet == nullptr || packet->reportBuffer == nullptr) {
    return complete(irp, STATUS_INVALID_PARAMETER);
  }
  NTSTATUS status = STATUS_INVALID_PARAMETER;
  {
    Locked locked;
    bool right = packet->reportId == sim::kReportId &&
                 packet->reportBufferLen == sim::kReportLength &&
                 packet->reportBuffer[0] == sim::kReportId;
    if (right) {
      ++(set ? g_bus->record.sets : g_bus->record.gets);
      bool done = set ? sim::touchpad_set_feature(packet->reportBuffer, packet->reportBufferLen)
                      : sim::touchpad_get_feature(packet->reportBuffer, packet->reportBufferLen);
      // A device that does not answer: the request fails as a transfer error would.
      status = done ? STATUS_SUCCESS : STATUS_IO_DEVICE_ERROR;
    } else {
      char text[96];
      std::snprintf(text, sizeof text, "refused %s id %u first-byte %u length %lu",
                    set ? "set" : "get", packet->reportId,
                    packet->reportBufferLen > 0 ? packet->reportBuffer[0] : 0u,
                    static_cast<unsigned long>(packet->reportBufferLen));
      g_bus->record.refused.push_back(text);
    }
  }
  return complete(irp, status, status == STATUS_SUCCESS ? packet->reportBufferLen : 0);
}

NTSTATUS transport_hid_request(DEVICE_OBJECT* device, IRP* irp) {
  if (transport_of(device)->unplugged) return complete(irp, STATUS_DELETE_PENDING);
  if (transport_of(device)->stale) return complete(irp, STATUS_DEVICE_NOT_READY);
  ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
  switch (code) {
    case kernel::kHidGetDeviceDescriptor: {
      kernel::HidDescriptor descriptor = {sizeof(kernel::HidDescriptor), 0x21, 0x0100, 0, 1, 0x22,
                                          sizeof kReportDescriptor};
      return copy_out(irp, &descriptor, sizeof descriptor);
    }
    case kernel::kHidGetReportDescriptor:
      return copy_out(irp, kReportDescriptor, sizeof kReportDescriptor);
    case kernel::kHidGetDeviceAttributes: {
      kernel::HidDeviceAttributes attributes = {};
      attributes.size = sizeof attributes;
      attributes.vendor_id = sim::kTouchpadVendorId;
      attributes.product_id = transport_of(device)->product_id;
      attributes.version_number = kVersionNumber;
      return copy_out(irp, &attributes, sizeof attributes);
    }
    case kernel::kHidGetString:
      return hid_string(irp);
    case kernel::kHidActivateDevice:
    case kernel::kHidDeactivateDevice:
      return complete(irp, STATUS_SUCCESS);
    case kernel::kHidReadReport:
      return keep_read(irp);
    case kernel::kHidSetFeature:
      return feature(irp, true);
    case kernel::kHidGetFeature:
      return feature(irp, false);
    default:
      return complete(irp, STATUS_NOT_SUPPORTED);
  }
}

// ---- The bus ----------------------------------------------------------------------------------

NTSTATUS pass_down(IRP* irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(g_bus->root, irp);
}

NTSTATUS bus_relations(IRP* irp) {
  // Room for both children.
  auto* relations = static_cast<DEVICE_RELATIONS*>(
      ExAllocatePool(PagedPool, sizeof(DEVICE_RELATIONS) + sizeof(DEVICE_OBJECT*)));
  if (relations == nullptr) return complete(irp, STATUS_NO_MEMORY);
  relations->Count = 0;
  {
    Locked locked;
    for (DEVICE_OBJECT* child : {g_bus->transport, g_bus->stale}) {
      if (child == nullptr) continue;
      ObReferenceObject(child);
      transport_of(child)->reported = true;
      relations->Objects[relations->Count++] = child;
    }
  }
  irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
  irp->IoStatus.Status = STATUS_SUCCESS;
  return pass_down(irp);
}

NTSTATUS bus_pnp(DEVICE_OBJECT* device, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      NTSTATUS status = pass_down(irp);
      follow_machine(false);
      follow_stale();
      return status;
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (stack->Parameters.QueryDeviceRelations.Type != BusRelations) break;
      return bus_relations(irp);
    case IRP_MN_REMOVE_DEVICE: {
      // Wine has sent its removal to every child it knew of, which let go of the unplugged ones:
      // what the bus still holds it deletes itself.
      DEVICE_OBJECT* children[4] = {};
      {
        Locked locked;
        children[0] = std::exchange(g_bus->transport, nullptr);
        children[1] = std::exchange(g_bus->leaving, nullptr);
        children[2] = std::exchange(g_bus->stale, nullptr);
        children[3] = std::exchange(g_bus->stale_leaving, nullptr);
      }
      end_reads();
      for (DEVICE_OBJECT* child : children) {
        if (child != nullptr) IoDeleteDevice(child);
      }
      NTSTATUS status = pass_down(irp);
      IoDetachDevice(g_bus->root);
      g_bus->fdo = nullptr;
      g_bus->root = nullptr;
      IoDeleteDevice(device);
      return status;
    }
    default:
      break;
  }
  return pass_down(irp);
}

NTSTATUS WINAPI add_bus(DRIVER_OBJECT* driver, DEVICE_OBJECT* root) {
  if (g_bus->fdo != nullptr) return STATUS_DEVICE_ALREADY_ATTACHED;
  DEVICE_OBJECT* fdo = nullptr;
  NTSTATUS status =
      IoCreateDevice(driver, sizeof(Extension), nullptr, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &fdo);
  if (!NT_SUCCESS(status)) return status;
  static_cast<Extension*>(fdo->DeviceExtension)->kind = Kind::kBus;
  g_bus->root = root;
  g_bus->fdo = fdo;
  IoAttachDeviceToDeviceStack(fdo, root);
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

// ---- The control device -----------------------------------------------------------------------

// The nodes of the simulated machine that the bus makes real.
bool made_real(const sim::Node& node) {
  return &node == &sim::node(sim::touchpad_transport()) ||
         (sim::stale_device() != 0 && &node == &sim::node(sim::stale_device()));
}

std::string record_text() {
  std::string text = e2e::touchpad_record_lines(made_real);
  const Record& r = g_bus->record;
  text += "appearances";
  for (USHORT product_id : r.appearances) {
    char id[16];
    std::snprintf(id, sizeof id, " 0x%04X", product_id);
    text += id;
  }
  text += "\ntransport-starts " + std::to_string(r.starts) + "\n";
  text += "transport-removals " + std::to_string(r.removals) + "\n";
  text += "feature-sets " + std::to_string(r.sets) + "\n";
  text += "feature-gets " + std::to_string(r.gets) + "\n";
  for (const std::string& each : r.refused) text += each + "\n";
  // What a careful host never does, judged against the real time the program waited in.
  for (const std::string& each : sim::touchpad().irregularities) {
    text += "irregularity " + each + "\n";
  }
  return text;
}

// Copies `size` bytes of answer into the request's buffer (METHOD_BUFFERED).
NTSTATUS answer(IRP* irp, const void* data, size_t size) {
  ULONG room = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
  if (room < size) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  if (size > 0) std::memcpy(irp->AssociatedIrp.SystemBuffer, data, size);
  return complete(irp, STATUS_SUCCESS, size);
}

NTSTATUS set_up(IRP* irp) {
  const auto& parameters = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl;
  std::string text(static_cast<const char*>(irp->AssociatedIrp.SystemBuffer),
                   parameters.InputBufferLength);
  sim::MachineSetup setup;
  std::string why;
  control::SetUpAnswer result;
  {
    Locked locked;
    result.accepted = e2e::machine_from_text(text, &setup, &why);
    // The device world's faults live in the simulated device tree, which Wine's own
    // configuration manager does not consult: only the stand-ins' world makes them real.
    if (result.accepted && !setup.breakages.empty()) {
      result.accepted = false;
      why = "--break: the device world's faults are not made real by the bus";
    }
    if (result.accepted) {
      sim::set_up_machine(setup);
      g_bus->record = Record{};
      ++g_bus->machine;
    }
  }
  if (result.accepted) {
    follow_machine(true);
    follow_stale();
  }
  if (parameters.OutputBufferLength < sizeof result) return complete(irp, STATUS_BUFFER_TOO_SMALL);
  // The reason is for a person to read: cut to the room the caller gave rather than lost.
  why.resize(std::min<size_t>(why.size(), parameters.OutputBufferLength - sizeof result));
  std::string reply(reinterpret_cast<const char*>(&result), sizeof result);
  reply += why;
  return answer(irp, reply.data(), reply.size());
}

NTSTATUS flash(IRP* irp) {
  std::vector<uint8_t> bytes;
  control::FlashHeader header;
  {
    Locked locked;
    bytes = e2e::programmed_flash(&header.base);
  }
  header.length = static_cast<uint32_t>(bytes.size());
  bytes.insert(bytes.begin(), reinterpret_cast<const uint8_t*>(&header),
               reinterpret_cast<const uint8_t*>(&header) + sizeof header);
  return answer(irp, bytes.data(), bytes.size());
}

// DiUninstallDevice on the node, selected in the list the program takes it from: the present
// ACPI HID-class devices. False when the node is not among them, and nothing was uninstalled.
bool uninstall(sim::DevNode node) {
  platform::devnode::AcpiHidDevices devices = platform::devnode::AcpiHidDevices::present();
  platform::devnode::DevNode each = 0;
  for (uint32_t i = 0; devices.select(i, &each); ++i) {
    if (each == node) {
      devices.uninstall();
      return true;
    }
  }
  return false;
}

// One configuration manager call on the simulated node of the instance ID.
control::NodeAnswer node_call(const control::NodeRequest& request) {
  namespace devnode = platform::devnode;
  control::NodeAnswer result;
  std::u16string id(request.instance_id, std::char_traits<char16_t>::length(request.instance_id));
  sim::DevNode node = sim::find_node(id);
  if (node == 0) return result;
  result.result = control::NodeResult::kNotPresent;
  if (!sim::node(node).present) return result;
  result.result = control::NodeResult::kDone;
  bool ok = true;
  switch (request.call) {
    case control::NodeCall::kStatus: {
      bool problem = false;
      ok = devnode::status(node, &problem);
      result.has_problem = problem;
      break;
    }
    case control::NodeCall::kDisable:
      switch (devnode::disable(node)) {
        case devnode::Disable::kDisabled:
          break;
        case devnode::Disable::kNotDisableable:
          result.result = control::NodeResult::kNotDisableable;
          break;
        case devnode::Disable::kFailed:
          ok = false;
          break;
      }
      break;
    case control::NodeCall::kEnable:
      ok = devnode::enable(node);
      break;
    case control::NodeCall::kReenumerate:
      ok = devnode::reenumerate(node);
      break;
    case control::NodeCall::kUninstall:
      ok = uninstall(node);
      break;
  }
  if (!ok) result.result = control::NodeResult::kFailed;
  result.disabled = sim::node(node).disabled;
  return result;
}

NTSTATUS node(IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.InputBufferLength != sizeof(control::NodeRequest)) {
    return complete(irp, STATUS_INVALID_PARAMETER);
  }
  control::NodeRequest request;
  std::memcpy(&request, irp->AssociatedIrp.SystemBuffer, sizeof request);
  request.instance_id[control::kInstanceIdChars - 1] = u'\0';
  control::NodeAnswer result;
  {
    Locked locked;
    result = node_call(request);
  }
  follow_machine(false);
  follow_machine_later();
  return answer(irp, &result, sizeof result);
}

NTSTATUS control_request(IRP* irp) {
  switch (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode) {
    case control::kSetUp:
      return set_up(irp);
    case control::kRecord: {
      std::string text;
      {
        Locked locked;
        text = record_text();
      }
      return answer(irp, text.data(), text.size());
    }
    case control::kFlash:
      return flash(irp);
    case control::kNode:
      return node(irp);
    case control::kState: {
      control::TransportState state;
      {
        Locked locked;
        bool wanted = sim::touchpad_interfaces_started();
        bool appearing = appear_in_ms() != 0;
        DEVICE_OBJECT* transport = g_bus->transport;
        state.plugged = transport != nullptr;
        state.product_id = state.plugged ? transport_of(transport)->product_id : 0;
        bool started = state.plugged && transport_of(transport)->started;
        state.settling = g_bus->leaving != nullptr || g_bus->plugging || wanted != state.plugged ||
                         state.plugged != started || appearing;
      }
      return answer(irp, &state, sizeof state);
    }
    default:
      return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

// ---- Dispatch ---------------------------------------------------------------------------------

NTSTATUS WINAPI dispatch_pnp(DEVICE_OBJECT* device, IRP* irp) {
  switch (kind_of(device)) {
    case Kind::kBus:
      return bus_pnp(device, irp);
    case Kind::kTransport:
      return transport_pnp(device, irp);
    case Kind::kControl:
      break;
  }
  return complete(irp, STATUS_NOT_SUPPORTED);
}

NTSTATUS WINAPI dispatch_internal_control(DEVICE_OBJECT* device, IRP* irp) {
  if (kind_of(device) == Kind::kTransport) return transport_hid_request(device, irp);
  return complete(irp, STATUS_NOT_SUPPORTED);
}

NTSTATUS WINAPI dispatch_control(DEVICE_OBJECT* device, IRP* irp) {
  if (kind_of(device) == Kind::kControl) return control_request(irp);
  return complete(irp, STATUS_NOT_SUPPORTED);
}

NTSTATUS WINAPI dispatch_open_close(DEVICE_OBJECT* /*device*/, IRP* irp) {
  return complete(irp, STATUS_SUCCESS);
}

NTSTATUS WINAPI dispatch_power(DEVICE_OBJECT* device, IRP* irp) {
  if (kind_of(device) == Kind::kBus) return pass_down(irp);
  return complete(irp, STATUS_SUCCESS);
}

}  // namespace

NTSTATUS driver_main(DRIVER_OBJECT* driver, UNICODE_STRING* /*registry_path*/) {
  // Made once, for as long as the driver is loaded: the touchpad keeps its flash while its
  // transport device comes and goes.
  g_bus = new Bus;
  KeInitializeSpinLock(&g_bus->lock);
  InitializeListHead(&g_bus->pending_reads);
  sim::set_up_machine(sim::MachineSetup{});

  UNICODE_STRING name;
  RtlInitUnicodeString(&name, control::kDeviceName);
  DEVICE_OBJECT* control_device = nullptr;
  NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE,
                                   &control_device);
  if (!NT_SUCCESS(status)) return status;
  static_cast<Extension*>(control_device->DeviceExtension)->kind = Kind::kControl;
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, control::kLinkName);
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(control_device);
    return status;
  }
  control_device->Flags &= ~DO_DEVICE_INITIALIZING;

  driver->DriverExtension->AddDevice = add_bus;
  driver->MajorFunction[IRP_MJ_PNP] = dispatch_pnp;
  driver->MajorFunction[IRP_MJ_POWER] = dispatch_power;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = dispatch_internal_control;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_control;
  driver->MajorFunction[IRP_MJ_CREATE] = dispatch_open_close;
  driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_open_close;
  return STATUS_SUCCESS;
}

// kernel-touchpad: the emulated touchpad (platform/sim/touchpad.cpp) behind a real kernel's HID
// stack. It creates a uhid device with the touchpad's identity on the I2C bus and answers the
// kernel's feature report requests for report 7 with the emulated touchpad's own code, so a
// program that talks to /dev/hidrawN drives the same device the simulated machine has.
//
//   kernel-touchpad [MACHINE OPTIONS as fwupdate-sim takes them] --state FOLDER
//
// It writes FOLDER/ready once its hidraw node is there, and on SIGTERM writes FOLDER/record.txt
// and FOLDER/flash.bin as fwupdate-sim --state does, FOLDER/saw.txt (the irregularities the
// touchpad saw, one a line), prints how often its transport started it, and removes the device. A
// machine whose difference lies in the platform's device management (a transport that fails its
// restart, stale devices, a transport that needs a repair, a broken configuration manager) has no
// counterpart here: it is refused with exit status 3 and the reason, never approximated.
//
// The device restarts as an I2C HID device does when its transport starts it again: when the HID
// driver is unbound (UHID_STOP) and bound again (UHID_START), the touchpad boots; if it now runs
// the other mode, the device is removed and created again under that mode's product ID, because
// an I2C HID device's identity is read only when its transport starts. A reset or an entry into
// the bootloader alone changes nothing the host can see but the status.
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/sim/touchpad.h"
#include "tools/sim_options.h"
#include "tools/touchpad_state.h"

namespace {

constexpr uint16_t kBusI2c = 0x18;
constexpr uint16_t kHidVersion = 0x0100;
constexpr int kRefused = 3;

// A touchpad collection (one finger: tip switch, X, Y, so the kernel makes an input device of
// it) and the vendor collection with feature report 7 of 530 data bytes.
constexpr uint8_t kReportDescriptor[] = {
    0x05, 0x0D,        // Usage Page (Digitizer)
    0x09, 0x05,        // Usage (Touch Pad)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID (1)
    0x09, 0x22,        //   Usage (Finger)
    0xA1, 0x02,        //   Collection (Logical)
    0x09, 0x42,        //     Usage (Tip Switch)
    0x15, 0x00,        //     Logical Minimum (0)
    0x25, 0x01,        //     Logical Maximum (1)
    0x75, 0x01,        //     Report Size (1)
    0x95, 0x01,        //     Report Count (1)
    0x81, 0x02,        //     Input (Data, Variable, Absolute)
    0x95, 0x07,        //     Report Count (7)
    0x81, 0x03,        //     Input (Constant)
    0x05, 0x01,        //     Usage Page (Generic Desktop)
    0x09, 0x30,        //     Usage (X)
    0x09, 0x31,        //     Usage (Y)
    0x26, 0xFF, 0x0F,  //     Logical Maximum (4095)
    0x75, 0x10,        //     Report Size (16)
    0x95, 0x02,        //     Report Count (2)
    0x81, 0x02,        //     Input (Data, Variable, Absolute)
    0xC0,              //   End Collection
    0xC0,              // End Collection
    0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x07,        //   Report ID (7)
    0x09, 0x02,        //   Usage (2)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x96, 0x12, 0x02,  //   Report Count (530)
    0xB1, 0x02,        //   Feature (Data, Variable, Absolute)
    0xC0,              // End Collection
};

struct World {
  int uhid = -1;
  bool created = false;
  uint16_t product = 0;
  bool stopped = false;     // the HID driver let go of the device
  bool recreating = false;  // a removal and creation of our own is under way
  std::string state;
  bool ready = false;
  int transport_starts = 0;  // starts by the driver's bind after an unbind
};

uint64_t monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

// The emulated touchpad keeps its times on the simulated clock: here that clock is real time.
void sync_clock(uint64_t start_ms) {
  sim::clock().now_ms = monotonic_ms() - start_ms;
}

bool send(const World& world, const uhid_event& event) {
  ssize_t n = write(world.uhid, &event, sizeof event);
  if (n != static_cast<ssize_t>(sizeof event)) {
    std::fprintf(stderr, "kernel-touchpad: uhid write: %s\n", std::strerror(errno));
    return false;
  }
  return true;
}

bool create(World* world) {
  uhid_event event{};
  event.type = UHID_CREATE2;
  uhid_create2_req& create = event.u.create2;
  std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "TPD0001 touchpad");
  create.rd_size = sizeof kReportDescriptor;
  create.bus = kBusI2c;
  create.vendor = sim::kTouchpadVendorId;
  create.product = sim::product_id_for_mode();
  create.version = kHidVersion;
  std::memcpy(create.rd_data, kReportDescriptor, sizeof kReportDescriptor);
  if (!send(*world, event)) return false;
  world->created = true;
  world->product = create.product;
  world->ready = false;
  return true;
}

bool destroy(World* world) {
  uhid_event event{};
  event.type = UHID_DESTROY;
  world->created = false;
  return send(*world, event);
}

// The answer to a feature report request: the emulated touchpad's, for report 7 of its length.
void answer_get(const World& world, const uhid_get_report_req& request) {
  uhid_event reply{};
  reply.type = UHID_GET_REPORT_REPLY;
  reply.u.get_report_reply.id = request.id;
  uint8_t report[sim::kReportLength] = {sim::kReportId};
  if (request.rtype == UHID_FEATURE_REPORT && request.rnum == sim::kReportId &&
      sim::touchpad_get_feature(report, sim::kReportLength)) {
    reply.u.get_report_reply.size = sim::kReportLength;
    std::memcpy(reply.u.get_report_reply.data, report, sim::kReportLength);
  } else {
    reply.u.get_report_reply.err = EIO;
  }
  send(world, reply);
}

void answer_set(const World& world, const uhid_set_report_req& request) {
  uhid_event reply{};
  reply.type = UHID_SET_REPORT_REPLY;
  reply.u.set_report_reply.id = request.id;
  // The touchpad reads every byte of a whole report: a shorter one never reaches it.
  bool whole = request.rtype == UHID_FEATURE_REPORT && request.rnum == sim::kReportId &&
               request.size == sim::kReportLength && request.data[0] == sim::kReportId;
  if (!whole || !sim::touchpad_set_feature(request.data, request.size)) {
    reply.u.set_report_reply.err = EIO;
  }
  send(world, reply);
}

// The driver let go of the device and took it again: the transport started the touchpad.
void transport_started(World* world) {
  if (world->recreating) {
    world->recreating = false;
    world->stopped = false;
    return;
  }
  if (!world->stopped) return;
  world->stopped = false;
  ++world->transport_starts;
  sim::touchpad_boot();
  if (sim::product_id_for_mode() != world->product) {
    world->recreating = true;
    if (destroy(world)) create(world);
  }
}

// True once the kernel has made the hidraw node of our device.
bool hidraw_present(uint16_t product) {
  char id[64];
  std::snprintf(id, sizeof id, "HID_ID=%04X:%08X:%08X", kBusI2c, sim::kTouchpadVendorId, product);
  DIR* dir = opendir("/sys/class/hidraw");
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream uevent(std::string("/sys/class/hidraw/") + entry->d_name + "/device/uevent");
    std::string line;
    while (std::getline(uevent, line)) found = found || line == id;
  }
  closedir(dir);
  return found;
}

// The end state as fwupdate-sim --state writes it, and what the touchpad saw.
void write_state(const std::string& folder) {
  fwu::tools::write_touchpad_state(folder);
  std::ofstream saw(folder + "/saw.txt", std::ios::binary);
  for (const std::string& what : sim::touchpad().irregularities) saw << what << "\n";
}

// The reason this world cannot make the machine real, or null when it can.
const char* refusal(const sim::MachineSetup& machine) {
  if (machine.device == sim::DeviceStart::kAfterRepair) {
    return "a transport device that needs a repair is the I2C and ACPI side of a laptop";
  }
  if (machine.restart_fails) return "a transport device that fails its restart";
  if (machine.stale != sim::Stale::kNone) return "stale HID-over-I2C devices";
  if (!machine.breakages.empty()) return "a breakage of the platform's device management";
  return nullptr;
}

int run(World* world, uint64_t start_ms) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (signal_fd < 0) return 2;
  bool present = sim::touchpad().powered && world->uhid >= 0;
  if (present && !create(world)) return 2;
  if (!present) std::ofstream(world->state + "/ready") << "no device\n";
  for (;;) {
    pollfd fds[2] = {{signal_fd, POLLIN, 0}, {world->uhid, POLLIN, 0}};
    int waiting = world->created && !world->ready ? 5 : -1;
    if (poll(fds, world->uhid >= 0 ? 2 : 1, waiting) < 0 && errno != EINTR) return 2;
    if (fds[0].revents & POLLIN) break;
    if (world->created && !world->ready && hidraw_present(world->product)) {
      world->ready = true;
      std::ofstream(world->state + "/ready") << "hidraw\n";
    }
    if (!(fds[1].revents & POLLIN)) continue;
    uhid_event event{};
    if (read(world->uhid, &event, sizeof event) <= 0) continue;
    sync_clock(start_ms);
    switch (event.type) {
      case UHID_GET_REPORT:
        answer_get(*world, event.u.get_report);
        break;
      case UHID_SET_REPORT:
        answer_set(*world, event.u.set_report);
        break;
      case UHID_STOP:
        if (!world->recreating) world->stopped = true;
        break;
      case UHID_START:
        transport_started(world);
        break;
      default:
        break;
    }
  }
  write_state(world->state);
  std::printf("transport starts %d\n", world->transport_starts);
  if (world->created) destroy(world);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // --state FOLDER is ours; everything else is the machine, as fwupdate-sim takes it.
  std::vector<const char*> machine_args{argv[0]};
  World world;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--state") == 0 && i + 1 < argc) {
      world.state = argv[++i];
    } else {
      machine_args.push_back(argv[i]);
    }
  }
  fwu::tools::SimOptions options;
  std::string error;
  if (world.state.empty() ||
      !fwu::tools::parse_sim_options(static_cast<int>(machine_args.size()), machine_args.data(),
                                     &options, &error)) {
    std::fprintf(stderr,
                 "kernel-touchpad: %s\nusage: kernel-touchpad [MACHINE OPTIONS] --state "
                 "FOLDER\n",
                 error.empty() ? "--state FOLDER is needed" : error.c_str());
    return 2;
  }
  if (const char* reason = refusal(options.machine)) {
    std::printf("refused: %s\n", reason);
    return kRefused;
  }
  sim::reset();
  sim::set_up_machine(options.machine);
  uint64_t start_ms = monotonic_ms();
  sync_clock(start_ms);
  bool present = options.machine.device != sim::DeviceStart::kNone;
  if (present) {
    world.uhid = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (world.uhid < 0) {
      std::fprintf(stderr, "kernel-touchpad: /dev/uhid: %s\n", std::strerror(errno));
      return 2;
    }
  }
  int status = run(&world, start_ms);
  if (world.uhid >= 0) close(world.uhid);
  return status;
}

// A laptop's touchpad as sysfs and /dev show it, mocked with umockdev for the Linux program as it
// is built (its dynamically linked twin, which a preload library can reach), and the kernel's
// answers to the driver-core writes the program makes. Each case lays out the tree, runs
// `fwupdate --silent --log FILE` against it and checks what the program did and left behind.
//
// The shapes, each from the kernel's own documentation or source:
// - The I2C controller and its client "i2c-<ACPI name>" on the i2c bus, with /sys/bus/i2c/devices
//   links: drivers/i2c/i2c-core-base.c (i2c_dev_set_name) and
//   Documentation/i2c/instantiating-devices.rst (ACPI enumeration).
// - The client's ACPI companion: Documentation/ABI/testing/sysfs-devices-firmware_node (the
//   firmware_node link) and Documentation/ABI/testing/sysfs-bus-acpi (hid, modalias
//   "acpi:HID:CID...:", path).
// - Binding: Documentation/ABI/testing/sysfs-bus-pci (drivers/.../bind, unbind and the bus's
//   drivers_probe, whose form every bus shares) with drivers/base/bus.c (bind_store,
//   unbind_store, drivers_probe_store) and Documentation/driver-api/driver-model/binding.rst;
//   the driver link of a bound device: Documentation/ABI/stable/sysfs-devices.
// - The HID device "BBBB:VVVV:PPPP.NNNN" below its transport and its hidraw node:
//   Documentation/ABI/testing/sysfs-driver-hid (/sys/class/hidraw/hidraw<num>/device), the
//   HID_ID line of drivers/hid/hid-core.c (hid_uevent), Documentation/hid/hidraw.rst (the ioctls).
// - /sys/dev/char/<major>:<minor>: Documentation/ABI/testing/sysfs-dev.
// - A HID device whose parent no driver holds: uhid's, under /sys/devices/virtual/misc/uhid
//   (Documentation/hid/uhid.rst).
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/sim/touchpad.h"

namespace fs = std::filesystem;

// The touchpad's timing runs on the real clock here, as the program's waits do.
sim::Clock& sim::clock() {
  static Clock made;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  static const uint64_t start = static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  made.now_ms = static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - start;
  return made;
}

// Power never fails in these cases; the bind brings the interfaces back instead.
void sim::reappear_touchpad_interfaces() {}

namespace {

constexpr char kTouchpadClient[] = "i2c-TLVX0001:00";
constexpr char kSensorClient[] = "i2c-BOSC0200:00";
constexpr char kAdapter[] = "/sys/devices/pci0000:00/0000:00:15.1/i2c_designware.1/i2c-1";
constexpr char kAcpiBus[] = "/sys/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0A08:00/device:10";
constexpr char kDriver[] = "/sys/bus/i2c/drivers/i2c_hid_acpi";
constexpr char kUhid[] = "/sys/devices/virtual/misc/uhid";
constexpr char kHidrawNumber[] = "244:0";

// Vendor page, feature report 7 of 530 data bytes: the touchpad's bootloader collection.
constexpr uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x07, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75,
    0x08, 0x09, 0x02, 0x95, 0x01, 0x81, 0x02, 0x09, 0x03, 0x96, 0x12, 0x02, 0xB1, 0x02, 0xC0,
};

struct Case {
  const char* name;
  const char* shape;  // what the case shows, for the figures
  // The laptop at the start.
  const char* touchpad_acpi_hid = "PNP0C50";
  const char* touchpad_modalias = "acpi:PNP0C50:";
  bool touchpad_bound = true;
  bool under_uhid = false;  // the touchpad hangs below uhid, and the I2C controller has no touchpad
  bool driver_loaded = true;
  // The kernel's answers: an error number for every such write, 0 to act on it.
  int unbind_error = 0;
  int probe_error = 0;  // i2c_hid_acpi's probe: a bind fails with it, drivers_probe binds nothing
  // What must follow.
  int exit_status;
  std::vector<std::string> writes;  // "ATTRIBUTE NAME", in order
  bool bound_after;
  bool node_after;
  uint16_t version_after;  // the touchpad's running firmware
  const char* log_text;    // a line the log file must hold
};

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : ", ") + line;
  return "[" + text + "]";
}

class World {
 public:
  explicit World(const Case& c) : case_(c) {}

  bool set_up(std::string* problem);
  void stop_serving();
  void tear_down();
  // The kernel's answer to a write of `text` to `sys_path`: 0, or a negative error number.
  int driver_core_write(const std::string& sys_path, const std::string& text);
  int hidraw_ioctl(unsigned long request, uint8_t* data, size_t size);

  std::string real(const std::string& sys_path) const { return root_ + sys_path; }
  std::string root() const { return root_; }
  bool bound(const char* client) const { return fs::exists(real(client_path(client) + "/driver")); }
  bool node_present() const { return fs::exists(real("/sys/class/hidraw/hidraw0")); }

  // The ioctl handler's thread and the write server's thread share the world while it serves.
  std::mutex lock;
  std::vector<std::string> writes;
  std::vector<std::string> faults;  // what the world saw that the kernel would not allow

 private:
  static std::string client_path(const char* client) {
    return std::string(kAdapter) + "/" + client;
  }
  void file(const std::string& sys_path, const std::string& text);
  void link(const std::string& sys_path, const std::string& target_sys_path);
  void add_acpi_companion(const char* client, const char* acpi_name, const char* hid,
                          const char* modalias);
  void add_client(const char* client, const char* acpi_name, const char* modalias);
  void bind_client(const char* client);
  void unbind_client(const char* client);
  bool matches_driver(const char* client) const;
  void add_touchpad_hid(const std::string& parent, const char* bus);
  void remove_touchpad_hid();
  void serve_writes();

  const Case& case_;
  UMockdevTestbed* testbed_ = nullptr;
  UMockdevIoctlBase* handler_ = nullptr;
  std::string root_;
  std::string hid_;  // the touchpad's HID device, while it is there
  int hid_sequence_ = 0;
  int listener_ = -1;
  std::thread server_;
};

void World::file(const std::string& sys_path, const std::string& text) {
  std::error_code error;
  fs::create_directories(fs::path(real(sys_path)).parent_path(), error);
  FILE* out = fopen(real(sys_path).c_str(), "w");
  if (out == nullptr) return;
  fputs(text.c_str(), out);
  fclose(out);
}

// Links are relative, as sysfs makes them, so that they resolve inside the testbed.
void World::link(const std::string& sys_path, const std::string& target_sys_path) {
  std::error_code error;
  fs::create_directories(fs::path(real(sys_path)).parent_path(), error);
  fs::create_symlink(fs::path(target_sys_path).lexically_relative(fs::path(sys_path).parent_path()),
                     real(sys_path), error);
}

void World::add_acpi_companion(const char* client, const char* acpi_name, const char* hid,
                               const char* modalias) {
  std::string acpi = std::string(kAcpiBus) + "/" + acpi_name;
  file(acpi + "/hid", std::string(hid) + "\n");
  file(acpi + "/modalias", std::string(modalias) + "\n");
  file(acpi + "/path", std::string("\\_SB_.PCI0.I2C1.") + (hid[0] == 'B' ? "ACC0" : "TPD0") + "\n");
  file(acpi + "/status", "15\n");
  file(acpi + "/uevent", std::string("MODALIAS=") + modalias + "\n");
  link(acpi + "/subsystem", "/sys/bus/acpi");
  link(acpi + "/physical_node", client_path(client));
  link(std::string("/sys/bus/acpi/devices/") + acpi_name, acpi);
}

void World::add_client(const char* client, const char* acpi_name, const char* modalias) {
  std::string device = client_path(client);
  file(device + "/name", std::string(acpi_name) + "\n");
  file(device + "/modalias", std::string(modalias) + "\n");
  file(device + "/uevent", std::string("MODALIAS=") + modalias + "\n");
  link(device + "/subsystem", "/sys/bus/i2c");
  link(device + "/firmware_node", std::string(kAcpiBus) + "/" + acpi_name);
  link(std::string("/sys/bus/i2c/devices/") + client, device);
}

// i2c_hid_acpi matches an ACPI companion whose _HID or a _CID is PNP0C50 or ACPI0C50.
bool World::matches_driver(const char* client) const {
  std::string hid;
  std::string modalias;
  std::error_code error;
  fs::path acpi = fs::canonical(real(client_path(client) + "/firmware_node"), error);
  if (error) return false;
  for (auto [name, text] : {std::pair{"/hid", &hid}, std::pair{"/modalias", &modalias}}) {
    if (FILE* in = fopen((acpi.string() + name).c_str(), "r")) {
      char line[256] = {};
      if (fgets(line, sizeof line, in) != nullptr) *text = line;
      fclose(in);
    }
  }
  for (const char* id : {"PNP0C50", "ACPI0C50"}) {
    if (hid.starts_with(id) || modalias.find(std::string(":") + id + ":") != std::string::npos) {
      return true;
    }
  }
  return false;
}

// The HID device that i2c-hid (or uhid) registers, its input device and its hidraw node; the
// node through umockdev, which makes /dev/hidraw0, /sys/dev/char/244:0 and the class link.
void World::add_touchpad_hid(const std::string& parent, const char* bus) {
  if (!hid_.empty()) {
    faults.push_back("the touchpad was registered a second time");
    return;
  }
  char name[32];
  snprintf(name, sizeof name, "%s:%04X:%04X.%04X", bus, sim::kTouchpadVendorId,
           sim::product_id_for_mode(), ++hid_sequence_);
  hid_ = parent + "/" + name;
  char uevent[256];
  snprintf(uevent, sizeof uevent,
           "DRIVER=hid-generic\nHID_ID=%s:0000%04X:0000%04X\nHID_NAME=TLVX0001:00 %04X:%04X\n"
           "HID_PHYS=%s\nMODALIAS=hid:b%sg0001v0000%04Xp0000%04X\n",
           bus, sim::kTouchpadVendorId, sim::product_id_for_mode(), sim::kTouchpadVendorId,
           sim::product_id_for_mode(), kTouchpadClient, bus, sim::kTouchpadVendorId,
           sim::product_id_for_mode());
  file(hid_ + "/uevent", uevent);
  link(hid_ + "/subsystem", "/sys/bus/hid");
  file("/sys/bus/hid/drivers/hid-generic/uevent", "");
  link(hid_ + "/driver", "/sys/bus/hid/drivers/hid-generic");
  file(hid_ + "/input/input12/id/version", "0100\n");
  std::string hidraw = hid_ + "/hidraw/hidraw0";
  std::string relative = hidraw.substr(strlen("/sys/devices/"));
  g_free(umockdev_testbed_add_device(testbed_, "hidraw", relative.c_str(), nullptr, "dev",
                                     kHidrawNumber, nullptr, "DEVNAME", "/dev/hidraw0", "MAJOR",
                                     "244", "MINOR", "0", nullptr));
  link(hidraw + "/device", hid_);
  // umockdev records the node's number; the node itself is a file its preload opens.
  FILE* node = fopen((root_ + "/dev/hidraw0").c_str(), "w");
  if (node != nullptr) fclose(node);
}

void World::remove_touchpad_hid() {
  if (hid_.empty()) return;
  umockdev_testbed_remove_device(testbed_, (hid_ + "/hidraw/hidraw0").c_str());
  std::error_code error;
  fs::remove_all(real(hid_), error);
  hid_.clear();
}

// A successful probe of i2c_hid_acpi: the driver links, the device powered up and its HID
// device registered.
void World::bind_client(const char* client) {
  link(client_path(client) + "/driver", kDriver);
  link(std::string(kDriver) + "/" + client, client_path(client));
  if (strcmp(client, kTouchpadClient) == 0) {
    sim::touchpad_boot();
    add_touchpad_hid(client_path(client), "0018");
  }
}

void World::unbind_client(const char* client) {
  std::error_code error;
  fs::remove(real(client_path(client) + "/driver"), error);
  fs::remove(real(std::string(kDriver) + "/" + client), error);
  if (strcmp(client, kTouchpadClient) == 0) remove_touchpad_hid();
}

int World::driver_core_write(const std::string& sys_path, const std::string& text) {
  std::lock_guard<std::mutex> hold(lock);
  std::string attribute = sys_path.substr(sys_path.find_last_of('/') + 1);
  writes.push_back(attribute + " " + text);
  // bus_find_device_by_name: the name as written, a trailing line end allowed (sysfs_streq).
  std::string name = text.ends_with('\n') ? text.substr(0, text.size() - 1) : text;
  const char* client = name == kTouchpadClient ? kTouchpadClient
                       : name == kSensorClient ? kSensorClient
                                               : nullptr;
  bool known = client != nullptr && fs::exists(real("/sys/bus/i2c/devices/" + name));
  if (sys_path == std::string(kDriver) + "/unbind") {
    if (case_.unbind_error != 0) return -case_.unbind_error;
    // unbind_store: only a device this driver holds.
    if (!known || !bound(client)) return -ENODEV;
    unbind_client(client);
    return 0;
  }
  if (sys_path == std::string(kDriver) + "/bind") {
    if (known && strcmp(client, kTouchpadClient) == 0 && node_present()) {
      faults.push_back("the hidraw node was still there when the client was bound again");
    }
    // bind_store: a device the driver matches and no driver holds; a failed probe is the
    // write's error.
    if (!known || !matches_driver(client)) return -ENODEV;
    if (bound(client)) return -EBUSY;
    if (case_.probe_error != 0) return -case_.probe_error;
    bind_client(client);
    return 0;
  }
  if (sys_path == "/sys/bus/i2c/drivers_probe") {
    // drivers_probe_store: the bus looks for a driver for a device none holds; the write
    // succeeds whether one is found or not, and a failing probe leaves the device unbound.
    if (!known) return -ENODEV;
    if (!bound(client) && case_.driver_loaded && matches_driver(client) && case_.probe_error == 0) {
      bind_client(client);
    }
    return 0;
  }
  faults.push_back("a write the kernel has no such attribute for: " + sys_path);
  return -EACCES;
}

// hidraw's ioctls (drivers/hid/hidraw.c) on the touchpad's node, answered by the emulated
// touchpad as i2c-hid would carry them.
int World::hidraw_ioctl(unsigned long request, uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> hold(lock);
  if (_IOC_TYPE(request) != 'H') return -ENOTTY;
  if (hid_.empty()) return -ENODEV;  // a node whose HID device is gone
  switch (_IOC_NR(request)) {
    case _IOC_NR(HIDIOCGRDESCSIZE):
      if (size != sizeof(int)) return -EINVAL;
      *reinterpret_cast<int*>(data) = static_cast<int>(sizeof kReportDescriptor);
      return 0;
    case _IOC_NR(HIDIOCGRDESC): {
      auto* descriptor = reinterpret_cast<hidraw_report_descriptor*>(data);
      if (size != sizeof *descriptor || descriptor->size > HID_MAX_DESCRIPTOR_SIZE) return -EINVAL;
      memcpy(descriptor->value, kReportDescriptor,
             std::min<size_t>(descriptor->size, sizeof kReportDescriptor));
      return 0;
    }
    case 0x06:  // HIDIOCSFEATURE(len)
      if (size != sim::kReportLength || data[0] != sim::kReportId) return -EINVAL;
      return sim::touchpad_set_feature(data, static_cast<uint32_t>(size)) ? static_cast<int>(size)
                                                                          : -EIO;
    case 0x07:  // HIDIOCGFEATURE(len)
      if (size != sim::kReportLength || data[0] != sim::kReportId) return -EINVAL;
      return sim::touchpad_get_feature(data, static_cast<uint32_t>(size)) ? static_cast<int>(size)
                                                                          : -EIO;
    default:
      return -ENOTTY;
  }
}

gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer world_pointer) {
  World* world = static_cast<World*>(world_pointer);
  unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  GError* error = nullptr;
  UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, _IOC_SIZE(request), &error);
  if (data == nullptr) {
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return TRUE;
  }
  int result = world->hidraw_ioctl(request, data->data, static_cast<size_t>(data->data_len));
  g_object_unref(data);
  umockdev_ioctl_client_complete(client, result < 0 ? -1 : result, result < 0 ? -result : 0);
  return TRUE;
}

void World::serve_writes() {
  for (;;) {
    int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return;  // the listener was shut down
    std::string request;
    char buffer[512];
    ssize_t got = 0;
    while ((got = read(connection, buffer, sizeof buffer)) > 0)
      request.append(buffer, static_cast<size_t>(got));
    size_t end = request.find('\0');
    int32_t answer = -EINVAL;
    if (end != std::string::npos) {
      std::string text = request.substr(end + 1);
      int result = driver_core_write(request.substr(0, end), text);
      answer = result < 0 ? result : static_cast<int32_t>(text.size());
    }
    if (write(connection, &answer, sizeof answer) != sizeof answer) {
      std::lock_guard<std::mutex> hold(lock);
      faults.push_back("an answer to the program was lost");
    }
    close(connection);
  }
}

bool World::set_up(std::string* problem) {
  testbed_ = umockdev_testbed_new();
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  root_ = root;
  g_free(root);

  // The touchpad's companion names it by _HID or by _CID; a sensor on the same controller
  // is HID over I2C by neither and no driver of ours takes it.
  if (!case_.under_uhid) {
    add_acpi_companion(kTouchpadClient, "TLVX0001:00", case_.touchpad_acpi_hid,
                       case_.touchpad_modalias);
    add_client(kTouchpadClient, "TLVX0001:00", case_.touchpad_modalias);
  }
  add_acpi_companion(kSensorClient, "BOSC0200:00", "BOSC0200", "acpi:BOSC0200:");
  file(std::string(kAdapter) + "/name", "Synopsys DesignWare I2C adapter\n");
  link(std::string(kAdapter) + "/subsystem", "/sys/bus/i2c");
  link("/sys/bus/i2c/devices/i2c-1", kAdapter);
  add_client(kSensorClient, "BOSC0200:00", "acpi:BOSC0200:");
  file("/sys/bus/i2c/drivers_probe", "");
  file("/sys/bus/i2c/drivers_autoprobe", "1\n");
  if (case_.driver_loaded) {
    file(std::string(kDriver) + "/bind", "");
    file(std::string(kDriver) + "/unbind", "");
    file(std::string(kDriver) + "/uevent", "");
  }
  if (case_.under_uhid) {
    // The touchpad is no I2C device here: the controller holds the sensor alone.
    file(std::string(kUhid) + "/dev", "10:239\n");
    file(std::string(kUhid) + "/uevent", "MAJOR=10\nMINOR=239\nDEVNAME=uhid\n");
    link(std::string(kUhid) + "/subsystem", "/sys/class/misc");
    add_touchpad_hid(kUhid, "0003");
  } else if (case_.touchpad_bound) {
    link(client_path(kTouchpadClient) + "/driver", kDriver);
    link(std::string(kDriver) + "/" + kTouchpadClient, client_path(kTouchpadClient));
    add_touchpad_hid(client_path(kTouchpadClient), "0018");
  }

  handler_ = umockdev_ioctl_base_new();
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(on_ioctl), this);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed_, "/dev/hidraw0", handler_, &error)) {
    *problem = std::string("attach_ioctl: ") + (error != nullptr ? error->message : "?");
    g_clear_error(&error);
    return false;
  }

  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = root_ + "/sysfs-writes";
  if (listener_ < 0 || path.size() >= sizeof address.sun_path) {
    *problem = "no socket for the driver-core writes";
    return false;
  }
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 4) != 0) {
    *problem = "cannot listen on " + path;
    return false;
  }
  server_ = std::thread([this] { serve_writes(); });
  return true;
}

// After this only the calling thread touches the world.
void World::stop_serving() {
  if (listener_ >= 0) {
    shutdown(listener_, SHUT_RDWR);
    if (server_.joinable()) server_.join();
    close(listener_);
    listener_ = -1;
  }
  if (handler_ != nullptr) {
    GError* error = nullptr;
    umockdev_testbed_detach_ioctl(testbed_, "/dev/hidraw0", &error);
    g_clear_error(&error);
    g_object_unref(handler_);
    handler_ = nullptr;
  }
}

void World::tear_down() {
  stop_serving();
  if (testbed_ != nullptr) g_object_unref(testbed_);
  testbed_ = nullptr;
}

// The program in a mount namespace of its own, where /run and /var/lib are empty: its run lock
// and its store stay out of the machine's. Its output goes to `output`.
int run_program(const std::string& program, const std::string& preload, const std::string& log,
                const std::string& output) {
  pid_t child = fork();
  if (child == 0) {
    bool root = geteuid() == 0;
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWNS | (root ? 0 : CLONE_NEWUSER)) != 0) _exit(120);
    if (!root) {
      auto put = [](const char* file_name, const std::string& text) {
        int fd = open(file_name, O_WRONLY | O_CLOEXEC);
        bool ok =
            fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (fd >= 0) close(fd);
        return ok;
      };
      if (!put("/proc/self/setgroups", "deny") ||
          !put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
          !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        _exit(121);
      }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("fwu-run", "/run", "tmpfs", 0, "mode=0755") != 0 ||
        mount("fwu-var-lib", "/var/lib", "tmpfs", 0, "mode=0755") != 0) {
      _exit(122);
    }
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(123);
    setenv("LD_PRELOAD", (preload + ":libumockdev-preload.so.0").c_str(), 1);
    execl(program.c_str(), program.c_str(), "--silent", "--log", log.c_str(),
          static_cast<char*>(nullptr));
    _exit(124);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string read_text(const std::string& path) {
  std::string text;
  if (FILE* in = fopen(path.c_str(), "r")) {
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
    fclose(in);
  }
  return text;
}

// Runs one case; the failures it saw, none when it passed.
std::vector<std::string> run_case(const Case& c, const std::string& program,
                                  const std::string& preload, const std::string& scratch) {
  std::vector<std::string> failures;
  sim::touchpad() = sim::Touchpad{};
  World world(c);
  std::string problem;
  if (!world.set_up(&problem)) {
    world.tear_down();
    return {"set-up: " + problem};
  }
  std::string log = scratch + "/" + c.name + ".log";
  std::string output = scratch + "/" + c.name + ".out";
  unlink(log.c_str());
  int status = run_program(program, preload, log, output);

  world.stop_serving();
  if (status != c.exit_status) {
    failures.push_back("exit status " + std::to_string(status) + ", wanted " +
                       std::to_string(c.exit_status) + " (output: " + output + ")");
  }
  if (world.writes != c.writes) {
    failures.push_back("driver-core writes " + join(world.writes) + ", wanted " + join(c.writes));
  }
  for (const std::string& fault : world.faults) failures.push_back(fault);
  if (world.bound(kTouchpadClient) != c.bound_after) {
    failures.push_back(std::string("the touchpad's client is ") +
                       (c.bound_after ? "unbound" : "bound") + " at the end");
  }
  if (world.node_present() != c.node_after) {
    failures.push_back(std::string("the hidraw node is ") + (c.node_after ? "gone" : "there") +
                       " at the end");
  }
  if (world.bound(kSensorClient)) failures.push_back("the sensor's client was bound");
  if (sim::running_version() != c.version_after) {
    failures.push_back("the touchpad runs version " + std::to_string(sim::running_version()) +
                       ", wanted " + std::to_string(c.version_after));
  }
  if (!sim::touchpad().irregularities.empty()) {
    failures.push_back("the touchpad saw: " + sim::touchpad().irregularities.front());
  }
  std::string log_text = read_text(log);
  if (log_text.find(c.log_text) == std::string::npos) {
    failures.push_back(std::string("the log lacks \"") + c.log_text + "\" (log: " + log + ")");
  }
  world.tear_down();
  return failures;
}

const std::string kTouchpad = kTouchpadClient;

std::vector<Case> cases() {
  const char* restart_advised =
      "Firmware update successful. The computer may need to be restarted.";
  return {
      {.name = "restart",
       .shape = "bound client; update; unbind and bind bring the node back",
       .exit_status = 0,
       .writes = {"unbind " + kTouchpad, "bind " + kTouchpad},
       .bound_after = true,
       .node_after = true,
       .version_after = 17,
       .log_text = "Firmware update successful.\nCompleted"},
      {.name = "repair",
       .shape = "client unbound, HID over I2C by _CID: drivers_probe finds it, update follows",
       .touchpad_acpi_hid = "TLVX0001",
       .touchpad_modalias = "acpi:TLVX0001:PNP0C50:",
       .touchpad_bound = false,
       .exit_status = 0,
       .writes = {"drivers_probe " + kTouchpad, "unbind " + kTouchpad, "bind " + kTouchpad,
                  "unbind " + kTouchpad, "bind " + kTouchpad},
       .bound_after = true,
       .node_after = true,
       .version_after = 17,
       .log_text = "Firmware update successful.\nCompleted"},
      {.name = "repair-finds-no-driver",
       .shape = "client unbound and i2c_hid_acpi not loaded: it stays unbound, no touchpad",
       .touchpad_acpi_hid = "ACPI0C50",
       .touchpad_modalias = "acpi:ACPI0C50:",
       .touchpad_bound = false,
       .driver_loaded = false,
       .exit_status = 235,
       .writes = {"drivers_probe " + kTouchpad},
       .bound_after = false,
       .node_after = false,
       .version_after = 16,
       .log_text = "ERROR: No eligible devices have been found."},
      {.name = "bind-fails",
       .shape = "the probe fails after the update: bind's write fails, the client stays unbound",
       .probe_error = EIO,
       .exit_status = 1,
       .writes = {"unbind " + kTouchpad, "bind " + kTouchpad, "drivers_probe " + kTouchpad,
                  "drivers_probe " + kTouchpad, "drivers_probe " + kTouchpad},
       .bound_after = false,
       .node_after = false,
       .version_after = 17,
       .log_text = restart_advised},
      {.name = "unbind-fails",
       .shape = "the driver refuses the unbind: nothing is bound again, restart advised",
       .unbind_error = EBUSY,
       .exit_status = 1,
       .writes = {"unbind " + kTouchpad},
       .bound_after = true,
       .node_after = true,
       .version_after = 17,
       .log_text = restart_advised},
      {.name = "parent-without-driver",
       .shape = "HID device below uhid, which no driver holds: cannot be stopped, no write",
       .touchpad_bound = false,
       .under_uhid = true,
       .exit_status = 1,
       .writes = {},
       .bound_after = false,
       .node_after = true,
       .version_after = 17,
       .log_text = restart_advised},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s FWUPDATE PRELOAD SCRATCH [CASE...]\n", argv[0]);
    return 2;
  }
  std::string program = fs::absolute(argv[1]).string();
  std::string preload = fs::absolute(argv[2]).string();
  std::string scratch = fs::absolute(argv[3]).string();
  std::error_code error;
  fs::create_directories(scratch, error);
  int passed = 0;
  int failed = 0;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (const Case& c : cases()) {
    bool chosen = argc == 4;
    for (int i = 4; i < argc; ++i) chosen = chosen || strcmp(argv[i], c.name) == 0;
    if (!chosen) continue;
    timespec begin{};
    clock_gettime(CLOCK_MONOTONIC, &begin);
    std::vector<std::string> failures = run_case(c, program, preload, scratch);
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    double seconds = static_cast<double>(end.tv_sec - begin.tv_sec) +
                     static_cast<double>(end.tv_nsec - begin.tv_nsec) / 1e9;
    printf("%s %s (%.1f s): %s\n", failures.empty() ? "PASS" : "FAIL", c.name, seconds, c.shape);
    for (const std::string& failure : failures) printf("    %s\n", failure.c_str());
    (failures.empty() ? passed : failed)++;
  }
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  printf("umockdev: %d cases in %.1f s\n", passed + failed,
         static_cast<double>(end.tv_sec - start.tv_sec) +
             static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}

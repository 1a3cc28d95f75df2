// laptop-sysfs: the I2C and ACPI side of a laptop, laid out as sysfs in front of the program on a
// kernel that has no I2C. The touchpad's HID device and its hidraw node stay the kernel's own
// (the virtual touchpad behind uhid, mounted at REAL); what the program reads above them is a
// tree in FAKE (a tmpfs the case has mounted over /sys) shaped as the kernel's sysfs ABI
// documents it:
//
//   devices/pci0000:00/0000:00:15.0                   the I2C controller (PCI function),
//     /i2c_designware.0/i2c-1                         its platform device and I2C adapter
//       /i2c-TPD0001:00                               the I2C client: driver -> i2c_hid_acpi,
//                                                     firmware_node -> its ACPI companion
//         /0018:3A7C:1042.000N                        the HID device (uevent HID_ID=...)
//           /hidraw/hidrawK, /input/inputM/id/version
//   devices/LNXSYSTM:00/LNXSYBUS:00/PNP0A08:00/device:15/TPD0001:00   the ACPI companion
//                                                     (hid, modalias, path, status)
//   bus/i2c/devices/*, bus/i2c/drivers/i2c_hid_acpi/{bind,unbind}, bus/i2c/drivers_probe,
//   bus/hid/devices/*, class/hidraw/*, dev/char/MAJOR:MINOR
//
// Where each shape comes from (the kernel tree):
//   ACPI companion (hid, modalias, path, status, physical_node): Documentation/ABI/testing/
//     sysfs-bus-acpi; its place under LNXSYSTM:00 and the firmware_node and physical_node links
//     between companion and device: Documentation/firmware-guide/acpi/namespace.rst;
//   the client's name "i2c-" + the companion's name, for an I2C device ACPI enumerates:
//     Documentation/firmware-guide/acpi/enumeration.rst; its name and modalias attributes have no
//     ABI document (drivers/i2c/i2c-core-base.c makes them);
//   bind and unbind: Documentation/ABI/testing/sysfs-bus-pci (the driver core's files, the same
//     on every bus) and Documentation/driver-api/driver-model/binding.rst; drivers_probe has no
//     ABI document (drivers/base/bus.c);
//   hidraw nodes and their dev attribute: Documentation/hid/hidraw.rst and
//     Documentation/ABI/testing/sysfs-dev for /sys/dev/char/MAJOR:MINOR; the HID device's uevent
//     (HID_ID) and input version have no ABI document: they are copied from the kernel's own.
//
// The driver's files are served by a small FUSE file system mounted at FAKE/.laptop (the tree's
// bind, unbind and drivers_probe are links into it), so a write is answered only once the
// laptop has acted on it, as the kernel's sysfs does: unbind of the client removes its driver
// link and the HID device below it (the real one is unbound from hid-generic, so its hidraw node
// goes); bind (or drivers_probe of an unbound client) binds the real one again, waits for its
// hidraw node (the touchpad may come back under another product ID) and lays its HID device
// out again under the client.
//
//   laptop-sysfs --real REAL --fake FAKE [--unbound] [--unbind-fails] [--bind-fails N]
//
//   --unbound        the client starts without its driver (no HID device, no hidraw node)
//   --unbind-fails   every write to unbind fails with EIO
//   --bind-fails N   the first N binds find no device to take (ENODEV; the client stays unbound)
//
// Every write it answers is printed: "WRITE FILE NAME -> ok" or "-> ERRNO-NAME".
#include <fcntl.h>
#include <linux/fuse.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr char kController[] = "/devices/pci0000:00/0000:00:15.0";
constexpr char kClientName[] = "i2c-TPD0001:00";
constexpr char kCompanion[] = "/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0A08:00/device:15/TPD0001:00";

std::string g_real;
std::string g_fake;
bool g_unbind_fails = false;
int g_bind_fails = 0;
bool g_client_bound = true;

std::string adapter() {
  return std::string(kController) + "/i2c_designware.0/i2c-1";
}

std::string client() {
  return adapter() + "/" + kClientName;
}

void make_dirs(const std::string& path) {
  for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0755);
  }
  mkdir(path.c_str(), 0755);
}

void put(const std::string& path, const std::string& text) {
  make_dirs(path.substr(0, path.find_last_of('/')));
  std::ofstream(path, std::ios::binary) << text;
}

// A link in the fake tree: `from` and `to` are paths below it, the link absolute as the program
// sees it (FAKE is mounted at /sys).
void link(const std::string& from, const std::string& to) {
  make_dirs((g_fake + from).substr(0, (g_fake + from).find_last_of('/')));
  unlink((g_fake + from).c_str());
  symlink(("/sys" + to).c_str(), (g_fake + from).c_str());
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void remove_tree(const std::string& path) {
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string child = path + "/" + name;
      struct stat info {};
      if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        remove_tree(child);
      } else {
        unlink(child.c_str());
      }
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

std::vector<std::string> entries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  return names;
}

// The real HID devices of the touchpad (vendor 0x3A7C) that have a hidraw node now.
std::vector<std::string> real_touchpads() {
  std::vector<std::string> found;
  for (const std::string& name : entries(g_real + "/bus/hid/devices")) {
    if (name.find(":3A7C:") == std::string::npos) continue;
    if (!entries(g_real + "/bus/hid/devices/" + name + "/hidraw").empty()) found.push_back(name);
  }
  return found;
}

// Removes the HID devices below the client and every link to them.
void remove_hid_devices() {
  for (const std::string& name : entries(g_fake + client())) {
    if (name.find(":3A7C:") == std::string::npos) continue;
    std::string device = g_fake + client() + "/" + name;
    for (const std::string& raw : entries(device + "/hidraw")) {
      unlink((g_fake + "/class/hidraw/" + raw).c_str());
      std::string dev = read_text(device + "/hidraw/" + raw + "/dev");
      while (!dev.empty() && dev.back() == '\n') dev.pop_back();
      unlink((g_fake + "/dev/char/" + dev).c_str());
    }
    unlink((g_fake + "/bus/hid/devices/" + name).c_str());
    remove_tree(device);
  }
}

// Lays the real HID devices of the touchpad out below the client.
void lay_out_hid_devices() {
  for (const std::string& name : real_touchpads()) {
    std::string real = g_real + "/bus/hid/devices/" + name;
    std::string device = client() + "/" + name;
    put(g_fake + device + "/uevent", read_text(real + "/uevent"));
    link(device + "/subsystem", "/bus/hid");
    link(device + "/driver", "/bus/hid/drivers/hid-multitouch");
    link("/bus/hid/devices/" + name, device);
    for (const std::string& input : entries(real + "/input")) {
      put(g_fake + device + "/input/" + input + "/id/version",
          read_text(real + "/input/" + input + "/id/version"));
    }
    for (const std::string& raw : entries(real + "/hidraw")) {
      std::string node = device + "/hidraw/" + raw;
      std::string dev = read_text(real + "/hidraw/" + raw + "/dev");
      put(g_fake + node + "/dev", dev);
      put(g_fake + node + "/uevent", read_text(real + "/hidraw/" + raw + "/uevent"));
      link(node + "/device", device);
      link(node + "/subsystem", "/class/hidraw");
      link("/class/hidraw/" + raw, node);
      while (!dev.empty() && dev.back() == '\n') dev.pop_back();
      link("/dev/char/" + dev, node);
    }
  }
}

void lay_out_laptop() {
  put(g_fake + kController + "/uevent", "DRIVER=intel-lpss\nPCI_CLASS=118000\n");
  link(std::string(kController) + "/driver", "/bus/pci/drivers/intel-lpss");
  link(std::string(kController) + "/subsystem", "/bus/pci");
  link("/bus/pci/devices/0000:00:15.0", kController);
  std::string platform = std::string(kController) + "/i2c_designware.0";
  put(g_fake + platform + "/uevent", "DRIVER=i2c_designware\nMODALIAS=platform:i2c_designware\n");
  link(platform + "/driver", "/bus/platform/drivers/i2c_designware");
  link(platform + "/subsystem", "/bus/platform");
  put(g_fake + adapter() + "/name", "Synopsys DesignWare I2C adapter\n");
  link(adapter() + "/subsystem", "/bus/i2c");
  link("/bus/i2c/devices/i2c-1", adapter());
  put(g_fake + client() + "/name", "TPD0001:00\n");
  put(g_fake + client() + "/modalias", "acpi:TPD0001:PNP0C50:\n");
  put(g_fake + client() + "/uevent", "DRIVER=i2c_hid_acpi\nMODALIAS=acpi:TPD0001:PNP0C50:\n");
  link(client() + "/subsystem", "/bus/i2c");
  link(client() + "/firmware_node", kCompanion);
  link(client() + "/driver", "/bus/i2c/drivers/i2c_hid_acpi");
  link("/bus/i2c/devices/" + std::string(kClientName), client());
  put(g_fake + kCompanion + "/hid", "TPD0001\n");
  put(g_fake + kCompanion + "/modalias", "acpi:TPD0001:PNP0C50:\n");
  put(g_fake + kCompanion + "/path", "\\_SB_.PCI0.I2C1.TPD0\n");
  put(g_fake + kCompanion + "/status", "15\n");
  link(std::string(kCompanion) + "/physical_node", client());
  link(std::string(kCompanion) + "/subsystem", "/bus/acpi");
  // The driver's files are the FUSE file system's.
  make_dirs(g_fake + "/bus/i2c/drivers/i2c_hid_acpi");
  link("/bus/i2c/drivers/i2c_hid_acpi/bind", "/.laptop/bind");
  link("/bus/i2c/drivers/i2c_hid_acpi/unbind", "/.laptop/unbind");
  link("/bus/i2c/drivers_probe", "/.laptop/drivers_probe");
  make_dirs(g_fake + "/bus/hid/drivers/hid-multitouch");
  make_dirs(g_fake + "/.laptop");
  lay_out_hid_devices();
}

void sleep_ms(long ms) {
  timespec pause{ms / 1000, (ms % 1000) * 1000000};
  nanosleep(&pause, nullptr);
}

bool write_real(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool done = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return done;
}

// ---- What the laptop does at a write ---------------------------------------------------------

int unbind_client() {
  if (g_unbind_fails) return EIO;
  if (!g_client_bound) return ENODEV;
  for (const std::string& name : real_touchpads()) {
    write_real(g_real + "/bus/hid/drivers/hid-generic/unbind", name);
  }
  remove_hid_devices();
  unlink((g_fake + client() + "/driver").c_str());
  put(g_fake + client() + "/uevent", "MODALIAS=acpi:TPD0001:PNP0C50:\n");
  g_client_bound = false;
  return 0;
}

int bind_client() {
  if (g_client_bound) return EBUSY;
  if (g_bind_fails > 0) {
    --g_bind_fails;
    return ENODEV;
  }
  for (const std::string& name : entries(g_real + "/bus/hid/devices")) {
    if (name.find(":3A7C:") != std::string::npos) {
      write_real(g_real + "/bus/hid/drivers/hid-generic/bind", name);
    }
  }
  // The touchpad, started, may come back under the other product ID: its first node can go
  // again at once. The nodes it keeps are the ones that stay the same for 100 ms.
  std::vector<std::string> seen;
  for (int i = 0; i < 60; ++i) {
    sleep_ms(100);
    std::vector<std::string> now = real_touchpads();
    if (!now.empty() && now == seen) break;
    seen = std::move(now);
  }
  lay_out_hid_devices();
  link(client() + "/driver", "/bus/i2c/drivers/i2c_hid_acpi");
  put(g_fake + client() + "/uevent", "DRIVER=i2c_hid_acpi\nMODALIAS=acpi:TPD0001:PNP0C50:\n");
  g_client_bound = true;
  return 0;
}

// The error a write to `file` gets (0 for none) once the laptop has acted on it.
int on_write(const std::string& file, std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  int error = 0;
  if (text != kClientName) {
    error = ENODEV;
  } else if (file == "unbind") {
    error = unbind_client();
  } else if (file == "bind") {
    error = bind_client();
  } else if (g_client_bound) {
    error = 0;  // drivers_probe of a bound device changes nothing
  } else {
    // drivers_probe: the bus looks for a driver; the write succeeds whether one took it or not.
    bind_client();
  }
  std::printf("WRITE %s %s -> %s\n", file.c_str(), text.c_str(),
              error == 0     ? "ok"
              : error == EIO ? "EIO"
                             : std::strerror(error));
  std::fflush(stdout);
  return error;
}

// ---- The FUSE file system: a directory of three write-only files ------------------------------

constexpr uint64_t kRootNode = FUSE_ROOT_ID;
constexpr const char* kFiles[] = {"bind", "unbind", "drivers_probe"};

void fill_attr(uint64_t node, fuse_attr* attr) {
  std::memset(attr, 0, sizeof *attr);
  attr->ino = node;
  attr->mode = node == kRootNode ? S_IFDIR | 0755 : S_IFREG | 0200;
  attr->nlink = node == kRootNode ? 2 : 1;
  attr->size = node == kRootNode ? 0 : 4096;
  attr->blksize = 4096;
}

void reply(int fd, const fuse_in_header& in, int error, const void* body, size_t size) {
  std::vector<uint8_t> out(sizeof(fuse_out_header) + (error == 0 ? size : 0));
  fuse_out_header header{static_cast<uint32_t>(out.size()), -error, in.unique};
  std::memcpy(out.data(), &header, sizeof header);
  if (error == 0 && size > 0) std::memcpy(out.data() + sizeof header, body, size);
  if (write(fd, out.data(), out.size()) < 0 && errno != ENOENT) {
    std::fprintf(stderr, "laptop-sysfs: fuse reply: %s\n", std::strerror(errno));
  }
}

// True when the file system has been taken down.
bool serve_one(int fd, std::vector<uint8_t>& buffer) {
  ssize_t got = read(fd, buffer.data(), buffer.size());
  if (got < 0) return errno == ENODEV;
  if (static_cast<size_t>(got) < sizeof(fuse_in_header)) return false;
  fuse_in_header in{};
  std::memcpy(&in, buffer.data(), sizeof in);
  const uint8_t* body = buffer.data() + sizeof in;
  switch (in.opcode) {
    case FUSE_INIT: {
      fuse_init_out init{};
      init.major = FUSE_KERNEL_VERSION;
      init.minor = 31;
      init.max_write = 4096;
      init.max_readahead = 4096;
      reply(fd, in, 0, &init, sizeof init);
      break;
    }
    case FUSE_LOOKUP: {
      std::string name(reinterpret_cast<const char*>(body));
      uint64_t node = 0;
      for (size_t i = 0; i < 3; ++i) {
        if (in.nodeid == kRootNode && name == kFiles[i]) node = i + 2;
      }
      if (node == 0) {
        reply(fd, in, ENOENT, nullptr, 0);
        break;
      }
      fuse_entry_out entry{};
      entry.nodeid = node;
      fill_attr(node, &entry.attr);
      reply(fd, in, 0, &entry, sizeof entry);
      break;
    }
    case FUSE_GETATTR:
    case FUSE_SETATTR: {
      fuse_attr_out attr{};
      fill_attr(in.nodeid, &attr.attr);
      reply(fd, in, 0, &attr, sizeof attr);
      break;
    }
    case FUSE_OPEN:
    case FUSE_OPENDIR: {
      fuse_open_out open_out{};
      open_out.open_flags = FOPEN_DIRECT_IO;
      reply(fd, in, 0, &open_out, sizeof open_out);
      break;
    }
    case FUSE_WRITE: {
      fuse_write_in write_in{};
      std::memcpy(&write_in, body, sizeof write_in);
      std::string text(reinterpret_cast<const char*>(body + sizeof write_in), write_in.size);
      int error = in.nodeid >= 2 && in.nodeid <= 4 ? on_write(kFiles[in.nodeid - 2], text) : EIO;
      fuse_write_out written{};
      written.size = write_in.size;
      reply(fd, in, error, &written, sizeof written);
      break;
    }
    case FUSE_READ:
    case FUSE_READDIR:
      reply(fd, in, 0, nullptr, 0);  // nothing to read
      break;
    case FUSE_FLUSH:
    case FUSE_RELEASE:
    case FUSE_RELEASEDIR:
    case FUSE_ACCESS:
      reply(fd, in, 0, nullptr, 0);
      break;
    case FUSE_FORGET:
    case FUSE_BATCH_FORGET:
      break;  // no answer
    case FUSE_DESTROY:
      reply(fd, in, 0, nullptr, 0);
      return true;
    default:
      reply(fd, in, ENOSYS, nullptr, 0);
      break;
  }
  return false;
}

volatile sig_atomic_t g_stop = 0;

void on_signal(int) {
  g_stop = 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool unbound = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--real" && i + 1 < argc) {
      g_real = argv[++i];
    } else if (arg == "--fake" && i + 1 < argc) {
      g_fake = argv[++i];
    } else if (arg == "--unbound") {
      unbound = true;
    } else if (arg == "--unbind-fails") {
      g_unbind_fails = true;
    } else if (arg == "--bind-fails" && i + 1 < argc) {
      g_bind_fails = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: laptop-sysfs --real REAL --fake FAKE [--unbind-fails] "
                   "[--bind-fails N]\n");
      return 2;
    }
  }
  if (g_real.empty() || g_fake.empty()) return 2;
  lay_out_laptop();
  if (unbound) unbind_client();
  int fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "laptop-sysfs: /dev/fuse: %s\n", std::strerror(errno));
    return 2;
  }
  std::string mount_point = g_fake + "/.laptop";
  char options[128];
  std::snprintf(options, sizeof options, "fd=%d,rootmode=40000,user_id=0,group_id=0,allow_other",
                fd);
  if (mount("laptop", mount_point.c_str(), "fuse", MS_NOSUID | MS_NODEV, options) != 0) {
    std::fprintf(stderr, "laptop-sysfs: mount: %s\n", std::strerror(errno));
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, nullptr);
  std::printf("READY\n");
  std::fflush(stdout);
  std::vector<uint8_t> buffer(FUSE_MIN_READ_BUFFER + 4096 * 2);
  while (!g_stop) {
    if (serve_one(fd, buffer)) break;
  }
  umount2(mount_point.c_str(), MNT_DETACH);
  close(fd);
  return 0;
}

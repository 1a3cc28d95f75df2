// hidraw-probe: the kernel world's own look at a hidraw node, to test the world itself (the
// virtual touchpad behind the kernel's HID stack) apart from the program.
//
//   hidraw-probe find PRODUCT        the /dev/hidrawN whose HID device has the touchpad's vendor
//                                    and PRODUCT (hex) on the I2C bus; exit 1 when none
//   hidraw-probe identity DEV        bus, vendor and product as HIDIOCGRAWINFO gives them
//   hidraw-probe status DEV [LEN]    a get of feature report 7 into a LEN-byte buffer (531): the
//                                    byte count and the status fields
//   hidraw-probe command DEV BYTE... a set of feature report 7 whose bytes from 1 on are the
//                                    BYTEs (hex), the rest 0
//   hidraw-probe info DEV            read memory of the device information block: vendor,
//                                    product and version as the answer gives them
//
// Each line it prints is "KEY VALUE"; a failed call prints "error ERRNO-NAME" and exits 1.
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
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

constexpr size_t kReportLength = 531;

int fail(const char* what) {
  std::printf("error %s %s\n", what, errno == EIO ? "EIO" : std::strerror(errno));
  return 1;
}

int find(unsigned product) {
  char id[64];
  std::snprintf(id, sizeof id, "HID_ID=0018:00003A7C:%08X", product);
  DIR* dir = opendir("/sys/class/hidraw");
  if (dir == nullptr) return 1;
  int status = 1;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream uevent(std::string("/sys/class/hidraw/") + entry->d_name + "/device/uevent");
    for (std::string line; std::getline(uevent, line);) {
      if (line == id) {
        std::printf("node /dev/%s\n", entry->d_name);
        status = 0;
      }
    }
  }
  closedir(dir);
  return status;
}

int get(int fd, size_t length, std::vector<uint8_t>* report) {
  report->assign(length, 0);
  (*report)[0] = 7;
  int n = ioctl(fd, HIDIOCGFEATURE(length), report->data());
  if (n < 0) return fail("get");
  std::printf("got %d\n", n);
  return 0;
}

int set(int fd, const std::vector<uint8_t>& report) {
  int n = ioctl(fd, HIDIOCSFEATURE(report.size()), report.data());
  if (n < 0) return fail("set");
  std::printf("sent %d\n", n);
  return 0;
}

unsigned le16(const uint8_t* p) {
  return p[0] | p[1] << 8;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: hidraw-probe find PRODUCT | identity|status|command|info DEV\n");
    return 2;
  }
  std::string verb = argv[1];
  if (verb == "find") return find(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 16)));
  int fd = open(argv[2], O_RDWR | O_CLOEXEC);
  if (fd < 0) return fail("open");
  std::vector<uint8_t> report;
  int status = 0;
  if (verb == "identity") {
    hidraw_devinfo info{};
    if (ioctl(fd, HIDIOCGRAWINFO, &info) < 0) return fail("identity");
    std::printf("bus 0x%02X\nvendor 0x%04X\nproduct 0x%04X\n", info.bustype, info.vendor & 0xFFFF,
                info.product & 0xFFFF);
  } else if (verb == "status") {
    size_t length = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : kReportLength;
    status = get(fd, length, &report);
    if (status == 0 && report.size() >= 6) {
      std::printf("signature 0x%04X\nprotocol %u\nerror %u\nflags 0x%02X\n", le16(&report[1]),
                  report[3], report[4], report[5]);
    }
  } else if (verb == "command" && argc > 3) {
    report.assign(kReportLength, 0);
    report[0] = 7;
    for (int i = 3; i < argc && static_cast<size_t>(i - 2) < kReportLength; ++i) {
      report[static_cast<size_t>(i - 2)] = static_cast<uint8_t>(std::strtoul(argv[i], nullptr, 16));
    }
    status = set(fd, report);
  } else if (verb == "info") {
    report.assign(kReportLength, 0);
    const uint8_t command[] = {7, 0x08, 0x0A, 0x08, 0x00, 0x20, 27, 0};
    std::memcpy(report.data(), command, sizeof command);
    status = set(fd, report);
    if (status == 0) status = get(fd, kReportLength, &report);
    if (status == 0) {
      // From protocol 8 on the data starts at byte 15, below it at 12.
      const uint8_t* data = &report[report[3] >= 8 ? 15 : 12];
      std::printf("count %u\ninfo-vendor 0x%04X\ninfo-product 0x%04X\nversion %u\n", le16(data - 2),
                  le16(data), le16(data + 2), le16(data + 4));
    }
  } else {
    std::fprintf(stderr, "hidraw-probe: unknown verb %s\n", verb.c_str());
    status = 2;
  }
  close(fd);
  return status;
}

// Runs the parts of the Windows backend that the program's no-device road does not reach, on
// whatever Wine offers: the registry calls of the inventory record, the walk over the present
// HID interfaces and ACPI HID-class devices, the case-blind comparison, the files held open to
// be judged (facts, identity, owner and access list, volume, sharing), what a closed one refuses,
// and the run mutex. (The configuration manager's disable, enable and interface property calls end
// a Wine process, so they stay out.) Prints one line per failed expectation; exit status 0 when
// there was none.
#include <windows.h>

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "platform/devnode.h"
#include "platform/file_system.h"
#include "platform/hid.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace {

int g_failures = 0;

void expect(bool condition, const char* what) {
  if (condition) return;
  ++g_failures;
  std::printf("FAILED: %s\n", what);
}

void registry() {
  using platform::RegistryKey;
  // Only the first two bytes are the value: the length given is the text's, without a zero.
  RegistryKey key = RegistryKey::create("SOFTWARE\\FwuSmoke\\Inventory", platform::kKeySetValue);
  expect(key.is_open(), "a key below the local-machine root is created with set-value rights");
  expect(key.set_default_value("17junk", 2), "its default value is set");
  RegistryKey view = RegistryKey::create("SOFTWARE\\FwuSmoke\\View",
                                         platform::kKeySetValue | platform::kKeyWow64View64);
  expect(view.is_open(), "a key is created with the 64-bit view named");
  expect(view.set_default_value("Touchpad", 8), "its default value is set");
  // Key names are at most 255 characters: a longer part is refused.
  std::string too_long = "SOFTWARE\\FwuSmoke\\" + std::string(300, 'k');
  RegistryKey bad = RegistryKey::create(too_long.c_str(), platform::kKeySetValue);
  expect(!bad.is_open(), "a key name of 300 characters is refused");
  expect(!bad.set_default_value("x", 1), "a key that is not open takes no value");
}

void hid_interfaces() {
  using namespace platform::hid;
  expect(!Device::open(InterfacePath()).is_valid(), "no path, no device");
  InterfaceList list = InterfaceList::present();
  expect(list.is_valid(), "the list of present HID interfaces");
  uint32_t count = 0;
  for (; list.select(count); ++count) {
    uint32_t size = list.detail_size();
    InterfacePath path;
    expect(size > 8, "each interface's detail record has a path part");
    expect(list.read_detail(size, &path) && path.is_present(), "each detail record reads");
    expect(!list.read_detail(4, &path) && !path.is_present(),
           "a record shorter than its fixed part is refused and leaves no path");
  }
  std::printf("HID interfaces present: %u\n", count);
}

void acpi_devices() {
  using namespace platform::devnode;
  AcpiHidDevices devices = AcpiHidDevices::present();
  expect(devices.is_valid(), "the list of present ACPI HID-class devices");
  std::u16string name;
  expect(!devices.service_name(&name), "no service name before a device is selected");
  DevNode node = 0;
  uint32_t count = 0;
  for (; devices.select(count, &node); ++count) devices.service_name(&name);
  std::printf("ACPI HID-class devices present: %u\n", count);
  expect(equal_ignoring_case(u"HIDI2C", u"hidi2c"), "case does not count");
  expect(!equal_ignoring_case(u"hidi2c", u"hidi2c0"), "length does");
}

std::string sid_text(const platform::Sid& sid) {
  std::string text = "S-1-" + std::to_string(sid.authority);
  for (uint32_t part : sid.sub_authorities) text += "-" + std::to_string(part);
  return text;
}

void print_security(const char* what, const platform::Security& security) {
  std::printf("%s: owner %s, %s", what, security.has_owner ? sid_text(security.owner).c_str() : "-",
              security.has_dacl ? "dacl" : "no dacl");
  for (const platform::Ace& ace : security.dacl) {
    std::printf(" (%d %02x %08x %s)", static_cast<int>(ace.type), ace.flags, ace.mask,
                sid_text(ace.sid).c_str());
  }
  std::printf("\n");
}

// Owner Administrators; SYSTEM and Administrators may do everything, nobody else anything.
void lock_down(const char* name) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr)) {
    return;
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  DWORD error = SetNamedSecurityInfoA(
      const_cast<char*>(name), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      owner, nullptr, dacl, nullptr);
  std::printf("SetNamedSecurityInfo: %lu\n", error);
  LocalFree(descriptor);
}

void held_files() {
  using namespace platform;
  OpenResult result;
  HeldFile drive = HeldFile::open_start("C:\\", &result);
  expect(drive.is_open(), "a drive's root is where a path starts");
  FileFacts root;
  FileFacts here;
  expect(drive.facts(&root) && HeldFile::open_start("C:\\", &result).facts(&here) &&
             same_object(root, here),
         "a drive's root opened twice is the same directory");
  expect(
      HeldFile::open_start(".", &result).is_open() && HeldFile::open_start("C:", &result).is_open(),
      "the current directory, and a drive's, are where a path starts");
  expect(!HeldFile::open_start("C:\\no-such-folder", &result).is_open() &&
             result == OpenResult::kNotFound,
         "a start that is not there is told apart");
  expect(!drive.open_directory("fwu-probe", false, &result).is_open() &&
             result == OpenResult::kNotFound,
         "a missing directory is told apart");
  HeldFile top = drive.create_directory("fwu-probe", &result);
  HeldFile directory = top.create_directory("log", &result);
  FileFacts facts;
  expect(directory.facts(&facts) && !facts.reparse_point,
         "directories are made in their held parents and held");
  expect(top.create_directory("log", &result).is_open(), "one that exists meanwhile is opened");
  AppendFile file = AppendFile::open(directory, "fw.log", &result);
  Security security;
  expect(file.is_open() && file.facts(&facts) && facts.links == 1 && !facts.reparse_point,
         "the log file opens in its held directory, with one name and no reparse point");
  expect(!AppendFile::open(directory, "fw.log", &result).is_open() &&
             result == OpenResult::kNotAllowed,
         "nobody else opens the log file while a line is written");
  const char* log_name = "C:\\fwu-probe\\log\\fw.log";
  HANDLE other = CreateFileA(log_name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  expect(other == INVALID_HANDLE_VALUE, "no other writer, even one that shares writing");
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  HANDLE reader = CreateFileA(log_name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  expect(reader != INVALID_HANDLE_VALUE, "a reader that shares writing is let in");
  expect(file.write_line("a\nb"), "a line is written while it is read");
  FileFacts first = facts;

  // Identity: the same file through two handles is the same; two different files, and a file and
  // its directory, are not.
  AppendFile second = AppendFile::open(directory, "second.log", &result);
  FileFacts other_file;
  FileFacts folder;
  expect(second.facts(&other_file) && !same_object(first, other_file),
         "two different files are told apart");
  expect(directory.facts(&folder) && !same_object(first, folder),
         "a file and its directory are told apart");
  std::printf("identity: volume %llx, file %llx %llx, other file %llx %llx\n",
              static_cast<unsigned long long>(first.volume),
              static_cast<unsigned long long>(first.index_high),
              static_cast<unsigned long long>(first.index),
              static_cast<unsigned long long>(other_file.index_high),
              static_cast<unsigned long long>(other_file.index));
  second = AppendFile();
  HeldFile name = directory.hold_name("fw.log", &result);
  expect(name.is_open(), "the log file's name is held while the file is open");
  file = AppendFile();
  expect(MoveFileA(log_name, "C:\\fwu-probe\\log\\moved.log") == FALSE,
         "a held name cannot be renamed");
  file = AppendFile::open_through_reparse_point(directory, "fw.log", &result);
  expect(file.facts(&facts) && same_object(facts, first),
         "opened again while its name is held, it is the same file");
  name = HeldFile();
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  expect(file.security(&security) && security.has_owner && security.has_dacl,
         "the log file's owner and access list are read through the handle that writes it");
  file = AppendFile();
  expect(!AppendFile::open_through_reparse_point(directory, "none.log", &result).is_open(),
         "opening through a reparse point creates nothing");

  HeldFile held = directory.open_file_to_read("fw.log", &result);
  char text[7] = {};
  bool remote = true;
  expect(held.is_open() && held.facts(&facts) && facts.size == 6, "a file held to be read");
  HeldFile through = directory.open_file_to_read_through_reparse_point("fw.log", &result);
  FileFacts again;
  expect(through.facts(&again) && same_object(facts, again),
         "read through a reparse point beside a handle that holds it, the same file");
  through = HeldFile();
  expect(directory.security(&security) && security.has_owner,
         "a directory held to pass through has its owner read when asked");
  expect(held.read(text, 6) && std::string(text) == "a\r\nb\r\n", "lines end in CR LF");
  expect(held.on_network_volume(&remote) && !remote, "its volume is a local one");
  expect(held.security(&security) && security.has_owner, "its owner and access list are read");
  expect(!AppendFile::open(directory, "fw.log", &result).is_open() &&
             result == OpenResult::kNotAllowed,
         "nobody writes a file while it is held to be read");
  print_security("a file's security", security);
  held = HeldFile();
  // What the system keeps of an owner and access list set on the file (Wine 8 keeps no owner).
  const char* log = "C:\\fwu-probe\\log\\fw.log";
  lock_down(log);
  held = directory.open_file_to_read("fw.log", &result);
  if (held.security(&security)) print_security("after SetNamedSecurityInfo", security);
  held = HeldFile();

  expect(CreateHardLinkA("C:\\fwu-probe\\log\\other.log", log, nullptr) != FALSE,
         "a hard link is made");
  held = directory.open_file_to_read("other.log", &result);
  expect(held.facts(&facts) && facts.links == 2, "a hard-linked file has two names");
  held = directory.open_file_to_read("none.xml", &result);
  expect(!held.is_open() && result == OpenResult::kNotFound, "a missing file is told apart");

  expect(MoveFileA("C:\\fwu-probe", "C:\\fwu-moved") == FALSE,
         "a held directory cannot be renamed");
  Sid user;
  expect(process_user(&user) && user.authority == 5 && !user.sub_authorities.empty(),
         "the account the program runs as is read from its token");
  print_security("the file's owner as the program's user", Security{true, user, true, {}});
}

// What is not open opens nothing below it, and a name no counted string can hold is refused
// before it reaches the system: each ends in a plain failure, never in a call with a bad handle.
void refusals() {
  using namespace platform;
  const HeldFile closed;
  OpenResult result = OpenResult::kOpened;
  expect(!closed.open_directory("x", false, &result).is_open() && result == OpenResult::kFailed,
         "a directory is opened only in an open one");
  result = OpenResult::kOpened;
  expect(!closed.create_directory("x", &result).is_open() && result == OpenResult::kFailed,
         "a directory is made only in an open one");
  result = OpenResult::kOpened;
  expect(!closed.open_file_to_read("x", &result).is_open() && result == OpenResult::kFailed,
         "a file is read only in an open directory");
  result = OpenResult::kOpened;
  expect(!AppendFile::open(closed, "x", &result).is_open() && result == OpenResult::kFailed,
         "a log file is opened only in an open directory");
  result = OpenResult::kOpened;
  expect(!AppendFile::open_through_reparse_point(closed, "x", &result).is_open() &&
             result == OpenResult::kFailed,
         "and opened again only in an open one");
  AppendFile none;
  Security security;
  expect(!none.security(&security) && !none.write_line("x"), "a closed log file tells nothing");
  HeldFile root = HeldFile::open_start("C:\\", &result);
  std::string long_name(40000, 'n');
  result = OpenResult::kOpened;
  expect(root.is_open() && !root.open_file_to_read(long_name.c_str(), &result).is_open() &&
             result == OpenResult::kFailed,
         "a name of 40,000 characters is refused");
}

void run_mutex() {
  using namespace platform;
  const Sid administrators{5, {32, 544}};
  MutexOpen opened;
  RunMutex first = RunMutex::create_or_open(&opened);
  Security security;
  expect(first.is_open() && opened == MutexOpen::kCreated, "the run mutex is made");
  expect(first.security(&security) && security.owner == administrators,
         "it is owned by Administrators");
  print_security("the run mutex's security", security);
  expect(first.wait(1000) == MutexWait::kAcquired, "it is acquired");
  RunMutex second = RunMutex::create_or_open(&opened);
  expect(second.is_open() && opened == MutexOpen::kExisting, "a second opener finds it");
  expect(second.security(&security) && security.owner == administrators,
         "and its owner, Administrators");
}

}  // namespace

int main() {
  registry();
  hid_interfaces();
  acpi_devices();
  held_files();
  refusals();
  run_mutex();
  return g_failures == 0 ? 0 : 1;
}

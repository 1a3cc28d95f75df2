#include "log/inventory.h"

#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "log/log_file.h"
#include "log/trust.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace fwu {

namespace {

constexpr size_t kRootPrefixLength = 19;  // "HKEY_LOCAL_MACHINE\" or any 19 characters

// The text of one element: from behind its opening tag (one leading quote skipped) up to its
// closing tag, searched from `from`; `end` is where the text ends before a dropped quote.
struct Element {
  bool found = false;
  std::string_view text;
  size_t end = 0;  // the position after the element's text
};

Element find_element(std::string_view file, size_t from, std::string_view open,
                     std::string_view close, bool drop_trailing_quote) {
  size_t start = file.find(open, from);
  if (start == std::string_view::npos) return {};
  start += open.size();
  if (start < file.size() && file[start] == '"') ++start;
  size_t end = file.find(close, start);
  if (end == std::string_view::npos) return {};
  if (drop_trailing_quote && end > start && file[end - 1] == '"') --end;
  return {true, file.substr(start, end - start), end};
}

// Creates or opens the key a full registry path names, skipping its root prefix. A path with
// nothing behind the prefix names no key below the root: nothing is created for it.
platform::RegistryKey open_key(std::string_view full_path, uint32_t rights) {
  if (full_path.size() <= kRootPrefixLength) return {};
  std::string path(full_path.substr(kRootPrefixLength));
  return platform::RegistryKey::create(path.c_str(), rights);
}

// Stored with its terminating zero: a string value's size includes it, and readers that trust
// the size would otherwise get an unterminated string.
void set_value(platform::RegistryKey& key, std::string_view value) {
  std::string text(value);
  if (!key.set_default_value(text.c_str(), static_cast<uint32_t>(text.size() + 1))) {
    log_line("Registry key inventory failed.");
  }
}

void write_from(std::string_view file) {
  size_t anchor = file.find("<registrykey componentID=");
  if (anchor == std::string_view::npos) return;
  Element name = find_element(file, anchor, "<name>", "</name>", true);
  if (!name.found) return;

  uint32_t rights = platform::kKeySetValue;
  if (platform::is_wow64_process()) rights |= platform::kKeyWow64View64;

  size_t display_from = name.end;
  platform::RegistryKey key = open_key(name.text, rights);
  if (key.is_open()) {
    Element value = find_element(file, name.end, "<value>", "</value>", true);
    if (!value.found) return;
    set_value(key, value.text);
    key = platform::RegistryKey();
    display_from = value.end;
  }

  Element display_name = find_element(file, display_from, "<displayName>", "</displayName>", false);
  if (!display_name.found) return;
  platform::RegistryKey display_key = open_key(display_name.text, rights);
  if (!display_key.is_open()) return;
  Element display_value =
      find_element(file, display_name.end, "<displayValue>", "</displayValue>", true);
  if (!display_value.found) return;
  set_value(display_key, display_value.text);
}

// Why mup.xml was not used, for the one line that says so.
const char* refusal(FileVerdict verdict) {
  switch (verdict) {
    case FileVerdict::kLink:
      return "mup.xml is a link.";
    case FileVerdict::kNotTheSameFile:
      return "mup.xml opened through its reparse point is another file.";
    case FileVerdict::kLinked:
      return "mup.xml has more than one name.";
    case FileVerdict::kNetworkVolume:
      return "mup.xml is on a network volume.";
    case FileVerdict::kUntrustedOwner:
      return "mup.xml is not owned by SYSTEM, Administrators, TrustedInstaller or the account the "
             "program runs as.";
    case FileVerdict::kNoDacl:
      return "mup.xml has no access control list.";
    case FileVerdict::kChangeable:
      return "mup.xml may be changed by an account other than SYSTEM, Administrators, "
             "TrustedInstaller and the account the program runs as.";
    case FileVerdict::kUnknownEntry:
      return "mup.xml has an access control entry of an unknown type.";
    case FileVerdict::kTooLarge:
      return "mup.xml is larger than 1 MiB.";
    case FileVerdict::kUnknown:
    case FileVerdict::kTrusted:
      break;
  }
  return "the security of mup.xml cannot be read.";
}

}  // namespace

platform::HeldFile hold_current_directory() {
  platform::OpenResult result;
  return platform::HeldFile::open_start(".", &result);
}

void write_inventory_record(const platform::HeldFile& current_directory) {
  // Opened once and judged from that same handle, which stays open until the text is read: while
  // it is held nobody can write, rename or replace the file (it is shared for reading only).
  // An open that would have to wait for another process to give up an oplock on the file fails
  // instead: nobody can stall the run, with the touchpad's update behind it, on this step.
  platform::OpenResult result;
  platform::HeldFile file = current_directory.open_file_to_read("mup.xml", &result);
  if (!file.is_open()) return;
  // A reparse point that is no link keeps the file where it is, but only its filter shows the
  // bytes: the file is opened again through it while the first handle keeps its name, and must
  // be the same file.
  platform::HeldFile through;
  platform::FileFacts facts;
  platform::FileFacts again;
  if (file.facts(&facts) && facts.reparse_point && !platform::is_link(facts.reparse_tag)) {
    through = current_directory.open_file_to_read_through_reparse_point("mup.xml", &result);
    if (!through.is_open() || !through.facts(&again)) return;
    if (!platform::same_object(facts, again)) {
      log_line("Registry key inventory skipped: %s", refusal(FileVerdict::kNotTheSameFile));
      return;
    }
  }
  const platform::HeldFile& source = through.is_open() ? through : file;
  uint64_t size = 0;
  FileVerdict verdict = judge_file(source, kMaxMupSize, &size);
  if (verdict != FileVerdict::kTrusted) {
    log_line("Registry key inventory skipped: %s", refusal(verdict));
    return;
  }
  std::unique_ptr<char[]> text(new (std::nothrow) char[size == 0 ? 1 : size]);
  if (text == nullptr || !source.read(text.get(), size)) return;
  through = platform::HeldFile();
  file = platform::HeldFile();
  write_from(std::string_view(text.get(), size));
}

}  // namespace fwu

#include "testing/wine/standins/world.h"

#include <winternl.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/device_tree.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/machine.h"
#include "platform/sim/touchpad.h"
#include "testing/wine/standins/machine_text.h"
#include "testing/wine/standins/narrow.h"
#include "testing/wine/standins/record.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

namespace {

struct Binding {
  std::u16string device_path;  // what the handle was open on when it was bound
  platform::hid::Device device;
};

struct World {
  bool ready = false;
  std::u16string directory;    // FWU_E2E_DIR
  std::u16string device_root;  // the devices folder as the system names it, "\\?\C:\..."
  std::map<std::u16string, platform::hid::InterfacePath> paths;  // by device path
  std::map<HANDLE, Binding> bindings;
  std::string check_failure;
};

// Made once and never destroyed: what it holds releases into the simulated world's own static
// objects, and at process end their order of destruction is not this file's to choose.
World& world() {
  static World* made = new World;
  return *made;
}

const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string environment(const wchar_t* name) {
  wchar_t value[4096];
  DWORD length = GetEnvironmentVariableW(name, value, 4096);
  if (length == 0 || length >= 4096) return u"";
  return std::u16string(reinterpret_cast<const char16_t*>(value), length);
}

void write_stderr(const std::string& text) {
  DWORD written = 0;
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE) {
    WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

bool write_file(const std::u16string& path, const void* data, size_t size) {
  HANDLE file = CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
}

// The path the system gives for what `handle` is open on; empty when it is not an open file.
std::u16string final_path(HANDLE handle) {
  wchar_t path[1024];
  DWORD length = GetFinalPathNameByHandleW(handle, path, 1024, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= 1024) return u"";
  return std::u16string(reinterpret_cast<const char16_t*>(path), length);
}

// The rights `handle` was opened with, or all rights when they cannot be had.
ACCESS_MASK granted_access(HANDLE handle) {
  PUBLIC_OBJECT_BASIC_INFORMATION info{};
  ULONG length = 0;
  NTSTATUS status = NtQueryObject(handle, ObjectBasicInformation, &info, sizeof info, &length);
  return status == 0 ? info.GrantedAccess : ~ACCESS_MASK{0};
}

// ---- Making the world -----------------------------------------------------------------------

void set_up_machine_from_environment() {
  sim::MachineSetup setup;
  std::string error;
  bool parsed =
      e2e::machine_from_text(e2e::narrow(environment(L"FWU_E2E_MACHINE")), &setup, &error);
  e2e::require(parsed, "FWU_E2E_MACHINE", error.c_str());
  sim::set_up_machine(setup);
}

// One empty file per HID interface, absent or present, under the name of its device path.
void make_device_files() {
  World& w = world();
  std::u16string folder = w.directory + u"\\devices";
  for (const std::u16string& each : {w.directory, folder}) {
    bool made = CreateDirectoryW(wide(each), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    e2e::require(made, "world",
                 "cannot make FWU_E2E_DIR or its devices folder (is there a parent?)");
  }
  for (const sim::HidInterface& each : sim::hid_world().interfaces) {
    e2e::require(each.path.rfind(u"\\\\?\\", 0) == 0, "world", "a device path starts with \\\\?\\");
    std::u16string file = folder + u"\\" + each.path.substr(4);
    e2e::require(write_file(file, "", 0), "world", "cannot create a device file");
  }
  HANDLE handle = CreateFileW(wide(folder), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  e2e::require(handle != INVALID_HANDLE_VALUE, "world", "cannot open the devices folder");
  w.device_root = final_path(handle);
  CloseHandle(handle);
  e2e::require(!w.device_root.empty(), "world", "the devices folder has no final path");
}

// ---- The record -----------------------------------------------------------------------------

std::string record_text() {
  char process[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, process, MAX_PATH);
  std::string text = std::string("process ") + process + "\n";
  if (!world().check_failure.empty()) text += "check-failed " + world().check_failure + "\n";
  text += e2e::touchpad_record_lines();
  // What the program left open at its end.
  auto line = [](const char* name, long long value) {
    return std::string(name) + " " + std::to_string(value) + "\n";
  };
  text += line("open-handles", static_cast<long long>(world().bindings.size()));
  text += line("open-preparsed-data", sim::hid_world().preparsed_data);
  text += line("open-interface-lists", sim::hid_world().interface_lists);
  text += line("open-device-lists", sim::device_tree().device_lists);
  return text;
}

void write_record() {
  World& w = world();
  if (!w.ready) return;
  // Handles still open now are handles the program never closed.
  e2e::forget_closed_handles();
  uint32_t base = 0;
  std::vector<uint8_t> flash = e2e::programmed_flash(&base);
  std::string text = record_text();
  write_file(w.directory + u"\\flash.bin", flash.data(), flash.size());
  write_file(w.directory + u"\\record.txt", text.data(), text.size());
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_DETACH) write_record();
  return TRUE;
}

namespace e2e {

void require(bool holds, const char* function, const char* what) {
  if (holds) return;
  std::string message = std::string(function) + ": " + what;
  world().check_failure = message;
  write_stderr("fwu-e2e: " + message + "\n");
  ExitProcess(kCheckFailed);
}

void require_value(const char* function, const char* what, unsigned long long actual,
                   unsigned long long expected) {
  if (actual == expected) return;
  char text[256];
  std::snprintf(text, sizeof text, "%s: %llu (0x%llX), must be %llu (0x%llX)", what, actual, actual,
                expected, expected);
  require(false, function, text);
}

void ensure_world() {
  World& w = world();
  if (w.ready) return;
  w.directory = environment(L"FWU_E2E_DIR");
  require(!w.directory.empty(), "world", "FWU_E2E_DIR names no directory");
  set_up_machine_from_environment();
  DeleteFileW(wide(w.directory + u"\\record.txt"));
  DeleteFileW(wide(w.directory + u"\\flash.bin"));
  make_device_files();
  w.ready = true;
}

std::u16string device_path_for(const std::u16string& sim_path) {
  return world().device_root + u"\\" + sim_path.substr(4);
}

void remember(platform::hid::InterfacePath path) {
  std::u16string device_path = device_path_for(path.device_path());
  world().paths[device_path] = std::move(path);
}

const platform::hid::InterfacePath* remembered(const wchar_t* device_path) {
  auto found = world().paths.find(reinterpret_cast<const char16_t*>(device_path));
  return found == world().paths.end() ? nullptr : &found->second;
}

const platform::hid::Device* device_for(HANDLE handle) {
  World& w = world();
  std::u16string path = final_path(handle);
  auto bound = w.bindings.find(handle);
  if (bound != w.bindings.end()) {
    if (bound->second.device_path == path) return &bound->second.device;
    // Closed, or the handle value now stands for another file.
    w.bindings.erase(bound);
  }
  auto known = w.paths.find(path);
  if (path.empty() || known == w.paths.end()) return nullptr;
  // CreateFileW adds these two to whatever it is asked for; anything more is a request for
  // rights that a HID interface held by the system's input stack does not grant.
  ACCESS_MASK asked = granted_access(handle) & ~ACCESS_MASK{SYNCHRONIZE | FILE_READ_ATTRIBUTES};
  require_value("CreateFileW", "the access rights of the device handle", asked, 0);
  Binding binding{path, platform::hid::Device::open(known->second)};
  return &w.bindings.emplace(handle, std::move(binding)).first->second.device;
}

void forget_closed_handles() {
  World& w = world();
  for (auto it = w.bindings.begin(); it != w.bindings.end();) {
    it = final_path(it->first) == it->second.device_path ? std::next(it) : w.bindings.erase(it);
  }
}

}  // namespace e2e

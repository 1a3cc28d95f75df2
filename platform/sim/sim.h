// The simulated machine: control and record for the tests and the simulator. Every piece of the
// world lives here, behind the same platform functions that the Windows backend implements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/security.h"

namespace sim {

// Puts the whole simulated machine back to its power-on state (every piece below).
void reset();

// ---- Clock ----------------------------------------------------------------------------------

struct Clock {
  uint64_t now_ms = 0;             // virtual time since reset; every wait advances it
  uint64_t waited_ms = 0;          // sum of every wait the program asked for
  std::vector<uint32_t> waits;     // each wait, in order
  bool real_time = false;          // when set, waits also really wait
  int fine_timer_holders = 0;      // platform::FineTimer objects alive now
  uint32_t fine_timer_grants = 0;  // FineTimer objects made so far
  uint32_t coarse_waits = 0;       // waits made while no FineTimer was alive
  platform::UtcTime utc_base;      // the UTC time at virtual time 0
};
Clock& clock();
// Advances virtual time without a wait of the program (the passage of time outside it).
void advance_ms(uint64_t ms);
// The UTC time that `base` plus `ms` milliseconds make.
platform::UtcTime utc_after(const platform::UtcTime& base, uint64_t ms);

// ---- Message boxes ----------------------------------------------------------------------------

constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

struct ShownBox {
  std::u16string caption;
  std::u16string text;
  uint32_t style = 0;
  bool owner_window = false;    // the program never gives one; recorded to prove it
  int answer = 0;               // what the box returned; 0 for a notice box left open
  bool notice = false;          // shown by the background notice
  bool closed_by_stop = false;  // a notice box still open when the notice was stopped
};

struct Ui {
  std::vector<ShownBox> boxes;  // every box, in the order it appeared
  // Answers for Yes/No boxes, taken in order; when none is left, `default_answer`.
  std::deque<int> answers;
  int default_answer = kIdNo;
  bool fail_boxes = false;  // every box fails to show (returns 0)
  // When set, answers every Yes/No box instead of `answers` (the simulator's terminal).
  std::function<int(const ShownBox&)> responder;
  // When set, told of every box as it appears and as it goes away (the simulator prints them).
  std::function<void(const ShownBox&)> on_box;

  // The background notice: the user dismisses this many of its boxes, one after the other, and
  // leaves the next one open until the notice is stopped.
  size_t notice_clicks = 3;
  bool fail_notice_start = false;
  int notices_started = 0;
  int notices_stopped = 0;
  bool notice_running = false;
};
Ui& ui();
// The boxes shown by the program itself, without the background notice's.
std::vector<ShownBox> program_boxes();

// ---- Process ----------------------------------------------------------------------------------

// Accounts, for building owners and access lists.
platform::Sid sid_system();               // S-1-5-18
platform::Sid sid_administrators();       // S-1-5-32-544
platform::Sid sid_trusted_installer();    // S-1-5-80-956008885-...
platform::Sid sid_users();                // S-1-5-32-545
platform::Sid sid_authenticated_users();  // S-1-5-11
platform::Sid sid_everyone();             // S-1-1-0
platform::Sid sid_creator_owner();        // S-1-3-0
// An administrator's own account, S-1-5-21-1004336348-1177238915-682003330-1000: who runs the
// program when a person double-clicks it and confirms the elevation.
platform::Sid sid_administrator_user();
platform::Sid sid_standard_user();  // the same domain's ...-1001

struct Process {
  std::string command_line = "fwupdate.exe";
  bool wow64 = false;
  platform::Sid user = sid_administrator_user();  // the user of the process's token
  bool user_unknown = false;                      // the token cannot be read
};
Process& process();

// ---- Files ------------------------------------------------------------------------------------

struct Files {
  std::vector<std::string> directory_attempts;  // every directory created, by its Windows path
  // Told of each step the program is about to take on the file system ("open C:\\logs",
  // "create C:\\logs\\a", "write C:\\logs\\a\\fw.log"): a test acts there as another
  // process would at that moment.
  std::function<void(const std::string& step)> before_step;
};
Files& files();
// Another process renames `from` to `to` (Windows paths): refused, as Windows refuses it, while
// the program holds `from` open without sharing its deletion. False when refused or failed.
bool rename_by_another_process(const std::string& from, const std::string& to);

// What share modes weigh of an open, as Windows counts it: which of reading (or passing through),
// writing and deleting the open uses, and which of them it lets other opens use.
constexpr uint32_t kShareRead = 1;
constexpr uint32_t kShareWrite = 2;
constexpr uint32_t kShareDelete = 4;
struct Sharing {
  uint32_t uses = 0;
  uint32_t shares = 0;
};
// Another process opens the file or directory at the Windows path `path` and holds it: an id for
// close_by_another_process, or -1 when the opens already there refuse it (or nothing is there).
int open_by_another_process(const std::string& path, Sharing sharing);
void close_by_another_process(int id);

// Turns a Windows path into the host's: every backslash is a directory separator here, so
// "C:\a\b\fw.log" is the file a/b/fw.log in a directory named "C:" below the current one, and a
// path that starts with a backslash starts in the current directory, the simulated root.
std::string host_path(const char* path);

// ---- File security -----------------------------------------------------------------------------

// What the machine knows of a file or directory beyond its bytes. Host symbolic links stand for
// reparse points (links, junctions, mount points) and host hard links for hard links; owner and
// access list are kept here, per file (so the names of a hard-linked file share them), and a file
// without an entry of its own has `FileSecurity::default_file`'s.
struct FileModel {
  platform::Security security;
  bool network_volume = false;  // on a volume that another computer serves
  bool unreadable = false;      // the system cannot tell its facts or security
  bool not_allowed = false;     // it exists but may not be opened
  // A reparse point of this kind on a plain file or directory (a cloud file placeholder, a
  // deduplicated file); 0 for none. A host link is a link-type reparse point of its own.
  uint32_t reparse_tag = 0;
  // Another process holds an oplock on it that an open would have to break, and it never
  // acknowledges the break: an open that waits for it waits as long as the program lets it, in
  // virtual time (an hour here), and then fails. Only an open that completes at once is not held.
  bool oplocked = false;
  // The rights its access list grants the program (kAllRights unless a test narrows it): an open
  // that asks for one more is refused, as is reading the security without READ_CONTROL.
  uint32_t granted = 0x001F01FF;
  // Where an open through its reparse point leads (a host path), as a filter or a link made over
  // it would send it; empty: to the file itself.
  std::string leads_to;
};

struct FileSecurity {
  // As Explorer leaves a file an administrator unpacked into their Downloads folder: owned by
  // `sid_administrator_user()`, which may do everything, as may SYSTEM and Administrators.
  FileModel default_file;
  std::map<std::pair<uint64_t, uint64_t>, FileModel> by_file;  // by host device and inode
  int open_files = 0;  // HeldFile and AppendFile objects alive now
  // Every open of the program and of other processes, by id: the file (host device and inode)
  // and what its share mode weighs.
  struct Open {
    std::pair<uint64_t, uint64_t> file;
    Sharing sharing;
  };
  std::map<int, Open> opens;
  int next_open = 0;
};
FileSecurity& file_security();
// The model of the file or directory at the Windows path `path` (a link itself, not where it
// leads), made from the default when it has none yet; nullptr when nothing is there.
FileModel* file_model(const std::string& path);

// Rights of access list entries: everything a file has (FILE_ALL_ACCESS), and reading and running
// it (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), as Users usually hold.
constexpr uint32_t kAllRights = 0x001F01FF;
constexpr uint32_t kReadAndRun = 0x001200A9;

// The flag of an access list entry that came from the parent.
constexpr uint8_t kAceInherited = 0x10;
// An allow entry that applies to the object itself.
platform::Ace allow(const platform::Sid& sid, uint32_t mask);
// A file that only SYSTEM and Administrators may change, owned by `owner`, with `more` entries
// after theirs.
platform::Security locked_security(const platform::Sid& owner,
                                   std::vector<platform::Ace> more = {});

// ---- Run mutex ---------------------------------------------------------------------------------

// The machine-wide mutex of the program's runs, as the other processes of the machine see it.
struct RunMutex {
  bool open_elsewhere = false;  // another process has it open: it exists without the program
  platform::Security security;  // as its maker made it
  bool fail = false;            // it can be neither made nor opened
  bool abandoned = false;       // its last holder ended without releasing it
  // Another run of the program holds it: the program's first wait lets that run go to its end
  // (it runs inside the wait, as the other process would meanwhile) and then takes the mutex.
  std::function<void()> other_run;
  // A process that never releases it (a run whose box nobody answers): a wait for it lasts as
  // long as the program lets it, in virtual time, and then times out.
  bool held_for_ever = false;
  int open_handles = 0;  // the program's
  int holders = 0;       // acquired by the program and not released
  int waits = 0;         // every wait of the program
};
RunMutex& run_mutex();
// The security with which the program makes the mutex.
platform::Security run_mutex_security();

// ---- Registry ---------------------------------------------------------------------------------

constexpr uint32_t kRegSz = 1;

struct RegistryKeyRecord {
  std::string path;  // below the local-machine root, as first created
  bool has_default_value = false;
  uint32_t default_type = 0;
  std::string default_data = {};  // the bytes as set, terminating zero included when it was given
};

// The local-machine root. Paths compare without regard to case, as the registry does.
struct Registry {
  std::map<std::string, RegistryKeyRecord> keys;  // by lower-cased path
  std::set<std::string> fail_create;              // lower-cased paths whose create fails
  std::set<std::string> fail_set;                 // lower-cased paths whose value set fails
  std::vector<uint32_t> rights_requested;         // the rights of every create, in order
  int open_keys = 0;
};
Registry& registry();
// The key at `path` (any letter case), or nullptr.
const RegistryKeyRecord* find_key(const std::string& path);
// The default value as a registry reader sees a string: up to its first zero.
std::string default_string(const RegistryKeyRecord& key);
// The store as the registry editor exports it: UTF-16LE with a byte-order mark, CR LF ends.
std::string export_registry();
// Loads a store that export_registry wrote. False when the text is not such an export.
bool import_registry(const std::string& exported);

// ---- Resources --------------------------------------------------------------------------------

// Replaces the program's firmware image resource (RCDATA 104) until the next reset; an empty text
// makes the resource missing. After reset the resource is the shipped resources/firmware.hex.
void set_firmware_resource(std::string text);
// The shipped image, whatever replacement stands.
std::span<const char> embedded_firmware_resource();

// ---- Events -----------------------------------------------------------------------------------

// What the program did on the simulated machine, one line each, in the order it happened:
//   "Sleep 10"                       a wait
//   "HidD_SetFeature write 520"      a feature report to the touchpad: its command by name
//                                    (touchpad.h), for a write its data length; a call that
//                                    failed ends in " failed" ("HidD_GetFeature failed")
//   "HidD_GetFeature error 3"        a status with an error code (none when it is 0)
//   "CreateFileW", "CM_Enable_DevNode", ...   every other HID and device-node call
//   "MessageBoxW 0x134 IMPORTANT!"   a box with its style and the first line of its text, then
//   "answered Yes"                   what it returned (Yes, No, OK, or "failed" when it could
//                                    not be shown) once it was dismissed
//   "CreateThread notice", "TerminateThread notice"   the background notice started and
//                                    stopped; a box of it left open then goes: "closed by the stop"
//   "log TEXT"                       a line written to the log file
//   "CreateMutexExW run", "WaitForSingleObject run", "ReleaseMutex run"   the run mutex made
//                                    (": it exists" when another process made it; " failed"),
//                                    acquired (": timed out" when it was not) and released
struct Events {
  std::vector<std::string> lines;
};
Events& events();
void record_event(std::string line);

}  // namespace sim

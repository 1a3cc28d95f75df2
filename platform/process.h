// The process itself, and the mutex that the program's runs on one machine share.
#pragma once

#include <utility>

#include "platform/security.h"

namespace platform {

// The complete command line as the process was started, program name included.
const char* command_line();

// Whether this is a 32-bit process on 64-bit Windows. False where the question does not apply or
// cannot be answered.
bool is_wow64_process();

// The account this process runs as: the user of its token. False when the system cannot tell.
bool process_user(Sid* user);

enum class MutexOpen {
  kCreated,   // this process made it
  kExisting,  // another process had made it: it may not be the program
  kFailed,    // it can be neither made nor opened
};

enum class MutexWait {
  kAcquired,
  kAbandoned,  // acquired from a holder that ended without releasing it
  kFailed,
};

// The machine-wide mutex of the program's runs, named in the Global\ namespace so that runs in
// every session, session 0 included, share it. Move-only owner: released when it was acquired,
// and closed, when it goes.
class RunMutex {
 public:
  RunMutex() = default;
  RunMutex(RunMutex&& other) noexcept
      : impl_(std::exchange(other.impl_, nullptr)),
        acquired_(std::exchange(other.acquired_, false)) {}
  RunMutex& operator=(RunMutex&& other) noexcept {
    if (this != &other) {
      close();
      impl_ = std::exchange(other.impl_, nullptr);
      acquired_ = std::exchange(other.acquired_, false);
    }
    return *this;
  }
  RunMutex(const RunMutex&) = delete;
  RunMutex& operator=(const RunMutex&) = delete;
  ~RunMutex() { close(); }

  // Makes the mutex, owned by the Administrators group and usable by SYSTEM and Administrators
  // alone, or opens the one that exists (its security then is whatever its maker gave it).
  static RunMutex create_or_open(MutexOpen* result);

  bool is_open() const { return impl_ != nullptr; }
  // Its owner and access list; false when the system cannot tell.
  bool security(Security* security) const;
  // Waits, without a time limit, until this process holds it.
  MutexWait wait();

  struct Impl;

 private:
  explicit RunMutex(Impl* impl) : impl_(impl) {}
  void close();
  Impl* impl_ = nullptr;
  bool acquired_ = false;
};

}  // namespace platform

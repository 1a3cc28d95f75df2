// A scratch directory for fuzz targets that write files: made once per process, made the current
// directory, emptied before every input so that each input starts from nothing, and removed when
// the process exits.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace fwu::fuzzing {

namespace scratch_detail {
// A plain array: it outlives every exit handler, which a std::string would not.
inline char path[] = "/tmp/fwu_fuzz_XXXXXX";

inline void remove_at_exit() {
  std::error_code error;
  std::filesystem::remove_all(path, error);
}
}  // namespace scratch_detail

inline void enter_empty_scratch_directory() {
  static const bool made = [] {
    if (mkdtemp(scratch_detail::path) == nullptr || chdir(scratch_detail::path) != 0) {
      std::abort();
    }
    std::atexit(scratch_detail::remove_at_exit);
    return true;
  }();
  (void)made;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(scratch_detail::path, error)) {
    std::filesystem::remove_all(entry.path(), error);
  }
}

}  // namespace fwu::fuzzing

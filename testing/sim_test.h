// The base of every test on the simulated machine: a machine at power-on, the program's
// process-wide state at its start, and a scratch directory as the current one.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/sim/sim.h"
#include "testing/process_state.h"

namespace fwu::testing {

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    reset_process_state();
    char pattern[] = "/tmp/fwu_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratch_ = pattern;
    std::error_code error;
    previous_ = std::filesystem::current_path(error);
    ASSERT_EQ(chdir(scratch_.c_str()), 0);
  }

  void TearDown() override {
    std::error_code error;
    std::filesystem::current_path(previous_, error);
    std::filesystem::remove_all(scratch_, error);
  }

  // The bytes of a file below the scratch directory ("" when it does not exist).
  static std::string read_file(const std::string& path) {
    std::ifstream in(sim::host_path(path.c_str()), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static bool exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(sim::host_path(path.c_str()), error);
  }

  std::string scratch_;
  std::filesystem::path previous_;
};

}  // namespace fwu::testing

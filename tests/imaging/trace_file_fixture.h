// A trace file of the running test's own, read back whole; tracing is off again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "imaging/core/trace.h"

class TraceFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto* unit = ::testing::UnitTest::GetInstance();
    path_ = std::filesystem::temp_directory_path() /
            ("lumora_trace_" + std::to_string(unit->random_seed()) +
             unit->current_test_info()->name());
    std::filesystem::remove(path_);
  }
  void TearDown() override {
    trace::SetLevel(0);
    trace::SetFile("");
    std::filesystem::remove(path_);
  }
  std::string Contents() const {
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path path_;
};

#include "imaging/core/trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class TraceTest : public ::testing::Test {
protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() /
            ("lumora_trace_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
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

TEST_F(TraceTest, NeedsBothAFileAndALevel) {
  trace::SetFile(path_.string());
  trace::SetLevel(0);
  Trace(1, "--- Decoding file %s. ---\n", "a.bmp");  // above the level: not even opened
  EXPECT_FALSE(std::filesystem::exists(path_));
  Trace(0, "Decoder error: %s\n", "x");
  EXPECT_EQ(Contents(), "Decoder error: x\n");

  std::filesystem::remove(path_);
  trace::SetFile("");
  trace::SetLevel(3);
  Trace(0, "Decoder error: %s\n", "x");
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(TraceTest, AppendsOnlyMessagesAtOrBelowTheLevel) {
  trace::SetFile(path_.string());
  trace::SetLevel(1);
  Trace(0, "Decoder error: %s\n", "bad");
  Trace(1, "--- Decoding file %s. ---\n", "a.bmp");
  Trace(2, "Windows bitmap recognized.\n");
  EXPECT_EQ(Contents(), "Decoder error: bad\n--- Decoding file a.bmp. ---\n");
  Trace(1, "again\n");  // each message appends, never truncates
  EXPECT_EQ(Contents(), "Decoder error: bad\n--- Decoding file a.bmp. ---\nagain\n");
}

TEST_F(TraceTest, UnopenableFileIsIgnored) {
  trace::SetFile((path_ / "no" / "such" / "dir").string());
  trace::SetLevel(3);
  Trace(0, "lost\n");  // must neither throw nor create anything
  EXPECT_FALSE(std::filesystem::exists(path_));
  trace::SetFile(path_.string());  // and a good file afterwards still works
  Trace(0, "kept\n");
  EXPECT_EQ(Contents(), "kept\n");
}

}  // namespace

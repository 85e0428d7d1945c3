#include "imaging/core/trace.h"
#include "tests/imaging/trace_file_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using TraceTest = TraceFileTest;

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

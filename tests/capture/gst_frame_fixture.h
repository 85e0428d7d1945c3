// A main frame on the GStreamer platform with synthetic cameras: one platform for the suite,
// as the program has one, settings in a folder of the test's own, and message boxes recorded
// instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "capture/main_frame.h"
#include "capture/platform/gst/gst_platform.h"
#include "resources/resources.h"
#include "tests/capture/platform/live_test_support.h"

class GstFrameFixture : public testing::Test {
 protected:
  // Call from the suite's SetUpTestSuite.
  static void StartPlatform(const char* cameras, const char* program) {
    livetest::StartSuite(cameras, program);
    platform_ = media::CreateGstPlatform().release();
  }
  static void TearDownTestSuite() {
    delete platform_;
    platform_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    res::SetLanguageFlag(res::kLangEnglish);
    CMainFrame::SetMessageBoxRunnerForTesting(
        [this](QMessageBox& box) { messages_.push_back(box.text().toStdString()); });
  }
  void TearDown() override {
    CloseFrame();
    CMainFrame::SetMessageBoxRunnerForTesting({});
    qunsetenv("XDG_CONFIG_HOME");
  }

  // A frame as at program start: settings read, the saved device selected.
  void StartFrame() {
    frame_ = std::make_unique<CMainFrame>(res::kMainMenuEnglish, *platform_);
    ASSERT_TRUE(frame_->OnCreate());
    frame_->setCentralWidget(new QWidget(frame_.get()));
    frame_->show();
    ASSERT_TRUE(livetest::WaitFor([&] { return !frame_->TimerRunning(CMainFrame::kStartupTimer); }));
  }
  void CloseFrame() {
    if (!frame_) return;
    frame_->close();
    frame_.reset();
    livetest::ConsumeQuit();
  }

  static inline media::IMediaPlatform* platform_ = nullptr;
  QTemporaryDir config_;
  std::unique_ptr<CMainFrame> frame_;
  std::vector<std::string> messages_;
};

// Shared set-up of the playback window tests: an application object, clips made once per run
// with gst-launch-1.0 in a temporary folder, failure boxes and file dialogs answered by the
// test, and keys sent as the window system would send them.
#pragma once

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "playback/playback_box.h"
#include "playback/playback_window.h"
#include "resources/resource_ids.h"
#include "tests/capture/platform/live_test_support.h"

namespace playbacktest {

struct Shown {
  QString caption, text;
};

// Clips live in the build tree, made once and shared by the test processes.
inline const std::string& MediaDir() {
  static const std::string dir = [] {
    const std::string d = std::string(LUMORA_BIN_DIR) + "/../playback_media";
    livetest::Shell("mkdir -p '" + d + "'");
    return d;
  }();
  return dir;
}

inline std::string MediaPath(const char* name) { return MediaDir() + "/" + name; }

// Makes `name` with a gst-launch-1.0 pipeline ending in a filesink (once per run).
inline std::string MakeClip(const char* name, const std::string& pipeline) {
  const std::string path = MediaPath(name);
  if (::access(path.c_str(), R_OK) != 0) {
    // Written aside and renamed, so a test running alongside never reads half a clip.
    const std::string part = path + "." + std::to_string(::getpid());
    livetest::Shell("gst-launch-1.0 -q " + pipeline + " ! filesink location='" + part +
                    "' 2>&1 && mv '" + part + "' '" + path + "'");
  }
  return path;
}

// 320 x 240 MJPEG at 30 fps, `frames` frames, no sound.
inline std::string MjpegAvi(int frames = 15) {
  const std::string name = "mjpeg" + std::to_string(frames) + ".avi";
  return MakeClip(name.c_str(), "videotestsrc num-buffers=" + std::to_string(frames) +
                                    " ! video/x-raw,width=320,height=240,framerate=30/1"
                                    " ! jpegenc ! avimux");
}

inline std::string RawAvi() {
  return MakeClip("raw.avi",
                  "videotestsrc num-buffers=10 pattern=ball"
                  " ! video/x-raw,format=I420,width=176,height=144,framerate=25/1 ! avimux");
}

inline std::string ToneWav() {
  return MakeClip("tone.wav", "audiotestsrc num-buffers=40 ! wavenc");
}

class PlaybackFixture : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    // Test machines have no sound card: sound goes to autoaudiosink's silent fallback rather
    // than to ALSA or OpenAL, whose threads outlive the clip and trip the leak checker.
    ::setenv("GST_PLUGIN_FEATURE_RANK",
             "pulsesink:NONE,pipewiresink:NONE,alsasink:NONE,openalsink:NONE,jackaudiosink:NONE,"
             "osssink:NONE,oss4sink:NONE",
             0);
    static char name[] = "playback_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
  }

  void SetUp() override {
    playback::SetModalRunnerForTesting([this](QDialog& dialog) {
      if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
        shown_.push_back({box->windowTitle(), box->text()});
        return int(QMessageBox::Ok);
      }
      if (auto* files = qobject_cast<QFileDialog*>(&dialog)) {
        fileDialogs_.push_back(files->windowTitle());
        filters_ = files->nameFilters();
        if (pick_.empty()) return int(QDialog::Rejected);
        files->selectFile(QString::fromStdString(pick_));
        return int(QDialog::Accepted);
      }
      return int(QDialog::Rejected);
    });
  }

  void TearDown() override {
    delete window_.data();
    playback::SetModalRunnerForTesting({});
  }

  // A playback window (English menu) opening `clip` as the Open command does.
  CPlaybackWnd* Open(const std::string& clip) {
    window_ = new CPlaybackWnd(nullptr, res::kPlaybackMenuEnglish);
    window_->SetClipName(clip);
    window_->show();
    window_->OnCommand(cmd::kPlayOpenClip);
    QCoreApplication::processEvents();
    return window_;
  }

  void Key(int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(window_.data(), &press);
    QCoreApplication::processEvents();
  }

  QString Title() const { return window_->windowTitle(); }

  gint64 PositionMs() const {
    gint64 position = -1;
    gst_element_query_position(window_->Graph()->Pipeline(), GST_FORMAT_TIME, &position);
    return position < 0 ? -1 : position / GST_MSECOND;
  }

  QPointer<CPlaybackWnd> window_;
  std::vector<Shown> shown_;
  std::vector<QString> fileDialogs_;
  QStringList filters_;
  std::string pick_;  // the file the open dialog answers with; empty cancels it
};

}  // namespace playbacktest

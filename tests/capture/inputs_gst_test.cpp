// "Video Crossbar..." and "TV Tuner..." on the GStreamer backend: a synthetic camera whose
// V4L2 node has several inputs and norms offers them in the Options menu, and their pages
// switch the node; a plain webcam offers neither; a refused switch keeps the old choice.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/main_frame.h"
#include "capture/platform/gst/gst_platform.h"
#include "capture/platform/gst/test_cameras.h"
#include "resources/resources.h"
#include "tests/capture/gst_frame_fixture.h"
#include "tests/capture/platform/live_test_support.h"

namespace {

using livetest::WaitFor;
using Dialog = CMainFrame::DeviceDialog;

constexpr int kOptionsMenu = 2;

class InputsGstTest : public GstFrameFixture {
 protected:
  static void SetUpTestSuite() { StartPlatform("1", "capture_inputs_gst_tests"); }
  void SetUp() override {
    GstFrameFixture::SetUp();
    node_ = media::gst::TestCameraNode(0);
    ASSERT_TRUE(node_);
  }
  void TearDown() override {
    GstFrameFixture::TearDown();
    // Back to a plain webcam for the next test.
    node_->SetInputs({{"Camera 1", false}});
    node_->SetStandards({});
    node_->RefuseInputs(0);
    node_->RefuseStandards(0);
  }
  void CaptureCard() {
    node_->SetInputs({{"Composite", false}, {"S-Video", false}, {"Tuner", true}});
    node_->SetStandards({{V4L2_STD_PAL_BG, "PAL-BG"}, {V4L2_STD_NTSC_M, "NTSC-M"}});
  }

  // A frame as at program start, with the camera selected.
  void StartFrameOnCamera() {
    ASSERT_NO_FATAL_FAILURE(StartFrame());
    std::shared_ptr<media::IMoniker> m;
    ASSERT_EQ(platform_->ParseDisplayName("@device:gst:test:0", m), media::status::kOk);
    frame_->SelectDevice(m);
  }
  std::vector<std::string> OptionsMenu() {
    QMenu* menu = frame_->MenuAt(kOptionsMenu);
    QMetaObject::invokeMethod(menu, "aboutToShow");
    std::vector<std::string> texts;
    for (QAction* a : menu->actions()) texts.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return texts;
  }
  // Opens a device dialog from its Options entry; `drive` runs on its page once it shows
  // (the page is closed afterwards if still open). False when the page never showed.
  bool OpenPage(Dialog which, const std::function<void(QDialog&, QListWidget&)>& drive) {
    OptionsMenu();
    const int position = frame_->DialogPosition(which);
    if (position < 0) return false;
    bool shown = false;
    QTimer::singleShot(0, [&] {
      auto* page = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      auto* list = page ? page->findChild<QListWidget*>("Choices") : nullptr;
      if (list) {
        shown = true;
        drive(*page, *list);
      }
      if (page && page->isVisible()) QMetaObject::invokeMethod(page, "reject", Qt::QueuedConnection);
    });
    frame_->OnDeviceDialog(position);
    return shown;
  }
  static std::vector<std::string> Items(const QListWidget& list) {
    std::vector<std::string> texts;
    for (int i = 0; i < list.count(); ++i) texts.push_back(list.item(i)->text().toStdString());
    return texts;
  }

  std::shared_ptr<v4l2::FakeV4L2> node_;
};

TEST_F(InputsGstTest, APlainWebcamOffersNeitherEntry) {
  StartFrameOnCamera();
  EXPECT_EQ(OptionsMenu(), (std::vector<std::string>{"Preview", "-", "Video Source...", "Video Format..."}));
  EXPECT_LT(frame_->DialogPosition(Dialog::CrossbarPages), 0);
  EXPECT_LT(frame_->DialogPosition(Dialog::TunerPages), 0);
  EXPECT_TRUE(messages_.empty());
}

// A crossbar needs a choice of inputs; a tuner needs a tuner input or a choice of norms.
TEST_F(InputsGstTest, EachEntryIsOfferedWhenTheNodeHasSomethingToChoose) {
  struct Case {
    std::vector<v4l2::FakeInput> inputs;
    std::vector<v4l2::FakeStandard> norms;
    bool crossbar, tuner;
  } cases[] = {
      {{{"Composite", false}, {"S-Video", false}}, {}, true, false},
      {{{"Tuner", true}}, {{V4L2_STD_PAL, "PAL"}}, false, true},
      {{{"Composite", false}}, {{V4L2_STD_PAL, "PAL"}, {V4L2_STD_SECAM, "SECAM"}}, false, true},
      {{{"Composite", false}}, {{V4L2_STD_PAL, "PAL"}}, false, false},
  };
  StartFrameOnCamera();
  for (const Case& c : cases) {
    node_->SetInputs(c.inputs);
    node_->SetStandards(c.norms);
    const auto menu = OptionsMenu();
    SCOPED_TRACE(c.inputs.size() * 10 + c.norms.size());
    EXPECT_EQ(std::count(menu.begin(), menu.end(), "Video Crossbar..."), c.crossbar ? 1 : 0);
    EXPECT_EQ(std::count(menu.begin(), menu.end(), "TV Tuner..."), c.tuner ? 1 : 0);
    EXPECT_EQ(std::count(menu.begin(), menu.end(), "Second Crossbar..."), 0);
  }
}

TEST_F(InputsGstTest, TheCrossbarAndTunerPagesSwitchTheDevice) {
  CaptureCard();
  StartFrameOnCamera();
  EXPECT_EQ(OptionsMenu(), (std::vector<std::string>{"Preview", "-", "Video Source...", "Video Format...",
                                                     "Video Crossbar...", "TV Tuner..."}));
  bool accepted = false;
  ASSERT_TRUE(OpenPage(Dialog::CrossbarPages, [&](QDialog& page, QListWidget& list) {
    EXPECT_EQ(Items(list), (std::vector<std::string>{"Composite", "S-Video", "Tuner"}));
    EXPECT_EQ(list.currentRow(), 0);
    EXPECT_FALSE(list.accessibleName().isEmpty());
    list.setCurrentRow(1);
    page.accept();
    accepted = page.result() == QDialog::Accepted;
  }));
  EXPECT_TRUE(accepted);
  EXPECT_EQ(node_->CurrentInput(), 1u);

  ASSERT_TRUE(OpenPage(Dialog::TunerPages, [&](QDialog& page, QListWidget& list) {
    EXPECT_EQ(Items(list), (std::vector<std::string>{"PAL-BG", "NTSC-M"}));
    EXPECT_EQ(list.currentRow(), 0);
    list.setCurrentRow(1);
    page.accept();
  }));
  EXPECT_EQ(node_->CurrentStandard(), V4L2_STD_NTSC_M);
  // The pages open on what the device uses now; Cancel changes nothing.
  ASSERT_TRUE(OpenPage(Dialog::CrossbarPages, [&](QDialog& page, QListWidget& list) {
    EXPECT_EQ(list.currentRow(), 1);
    list.setCurrentRow(2);
    page.reject();
  }));
  EXPECT_EQ(node_->CurrentInput(), 1u);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(InputsGstTest, ARefusedSwitchIsNamedAndKeepsTheOldChoice) {
  CaptureCard();
  StartFrameOnCamera();
  node_->RefuseInputs(EBUSY);
  ASSERT_TRUE(OpenPage(Dialog::CrossbarPages, [&](QDialog& page, QListWidget& list) {
    list.setCurrentRow(2);
    page.accept();
    EXPECT_TRUE(page.isVisible()) << "the page closed on a refusal";
    EXPECT_EQ(list.currentRow(), 0);
    auto* status = page.findChild<QLabel*>("Status");
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->text().contains("Tuner")) << status->text().toStdString();
  }));
  EXPECT_EQ(node_->CurrentInput(), 0u);

  node_->RefuseStandards(EIO);
  ASSERT_TRUE(OpenPage(Dialog::TunerPages, [&](QDialog& page, QListWidget& list) {
    list.setCurrentRow(1);
    page.accept();
    EXPECT_TRUE(page.isVisible());
    EXPECT_EQ(list.currentRow(), 0);
  }));
  EXPECT_EQ(node_->CurrentStandard(), V4L2_STD_PAL_BG);
}

}  // namespace

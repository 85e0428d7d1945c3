// The Snapshot command on the scripted media platform: frames into DIB blocks, the snapshot
// window opened and refreshed, and the frames it refuses.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture/main_frame.h"
#include "capture/platform/scripted/scripted_platform.h"
#include "capture/snapshot_grab.h"
#include "resources/resources.h"
#include "snapshot/dib_format.h"
#include "snapshot/snapshot_window.h"

using media::ScriptedPlatform;

// Selects a device and runs its preview, as the Preview command would.
struct CMainFrameTestPeer {
  static bool StartPreview(CMainFrame& f, ScriptedPlatform& p, size_t index) {
    std::vector<std::shared_ptr<media::IMoniker>> monikers;
    if (p.CreateClassEnumerator(media::guid::kVideoInputDeviceCategory, monikers) !=
        media::status::kOk)
      return false;
    f.m_selectedDevice = monikers.at(index);
    return f.CreateCaptureFilters() == 1 && f.MakePreviewGraph() == 1 && f.RunPreview() == 1;
  }
};

namespace {

media::BitmapInfoHeader Header(int width, int height, uint16_t bits, uint32_t compression = 0) {
  media::BitmapInfoHeader h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = bits;
  h.biCompression = compression;
  return h;
}

TEST(FrameToDib, RgbFrameBecomesAPackedBlock) {
  std::vector<uint8_t> frame(320 * 240 * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 31);
  CGlobalBlock block = FrameToDib(Header(320, 240, 24), frame.data(), frame.size());
  ASSERT_EQ(block.Size(), 40u + 0u + 230400u);
  EXPECT_EQ(ColorTableCount(block), 0u);
  EXPECT_EQ(std::memcmp(PixelBits(block), frame.data(), frame.size()), 0);
  EXPECT_TRUE(BlockIsComplete(block));
}

TEST(FrameToDib, EightBitFramesGetTheUniformPalette) {
  media::BitmapInfoHeader h = Header(6, 2, 8);
  h.biClrUsed = 16;  // whatever the frame says, the block carries 256 uniform colours
  std::vector<uint8_t> frame(8 * 2, 36);
  CGlobalBlock block = FrameToDib(h, frame.data(), frame.size());
  ASSERT_EQ(block.Size(), 40u + 1024u + 16u);
  const uint8_t* table = block.Data() + 40;
  EXPECT_EQ(table[4 * 36 + 0], 0);   // blue
  EXPECT_EQ(table[4 * 36 + 1], 36);  // green
  EXPECT_EQ(table[4 * 36 + 2], 36);  // red
  EXPECT_EQ(table[4 * 255 + 2], 255);
  EXPECT_EQ(PixelBits(block)[5], 36);
}

TEST(FrameToDib, RefusesWhatItCannotCopy) {
  std::vector<uint8_t> frame(64 * 48 * 3);
  const uint32_t yuy2 = media::MakeFourcc('Y', 'U', 'Y', '2');
  EXPECT_EQ(FrameToDib(Header(64, 48, 16, yuy2), frame.data(), frame.size()).Size(), 0u);
  EXPECT_EQ(FrameToDib(Header(64, -48, 24), frame.data(), frame.size()).Size(), 0u);
  EXPECT_EQ(FrameToDib(Header(64, 48, 24), frame.data(), frame.size() - 1).Size(), 0u);
  EXPECT_EQ(FrameToDib(Header(64, 48, 7), frame.data(), frame.size()).Size(), 0u);
}

class SnapshotGrabTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "capture_snapshot_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
  }
  void SetUp() override {
    CMainFrame::SetMessageBoxRunnerForTesting(
        [this](QMessageBox& box) { messages_.push_back(box.text().toStdString()); });
  }
  void TearDown() override {
    if (CSnapshotWnd* w = CSnapshotWnd::Find()) delete w;
    frame_.reset();
    CMainFrame::SetMessageBoxRunnerForTesting({});
  }
  void Start(media::ScriptedCapability format) {
    platform_->Settings().devices[0].capabilities = {format};
    frame_ = std::make_unique<CMainFrame>(res::kMainMenuEnglish, *platform_);
    ASSERT_TRUE(frame_->OnCreate());
    frame_->show();
    ASSERT_TRUE(CMainFrameTestPeer::StartPreview(*frame_, *platform_, 0));
    messages_.clear();
  }

  media::ScopedScriptedPlatform platform_{media::TwoCameraSettings()};
  std::unique_ptr<CMainFrame> frame_;
  std::vector<std::string> messages_;
};

TEST_F(SnapshotGrabTest, NoFrameYetDoesNothing) {
  Start({});
  frame_->OnCommand(cmd::kSnapshot);
  EXPECT_EQ(CSnapshotWnd::Find(), nullptr);
  EXPECT_FALSE(frame_->SnapshotImage().HasDib());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SnapshotGrabTest, SnapshotOpensTheDockedWindowAndTheNextOneRefreshesIt) {
  Start({});
  platform_->DeliverFrames(1);
  frame_->OnCommand(cmd::kSnapshot);
  CSnapshotWnd* w = CSnapshotWnd::Find();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(frame_->SnapshotImage().GetWidth(), 320);
  EXPECT_EQ(frame_->SnapshotImage().GetHeight(), 240);
  EXPECT_EQ(frame_->SnapshotImage().GetDib().Size(), 40u + 230400u);
  QCoreApplication::processEvents();
  EXPECT_EQ(w->View()->size(), QSize(320, 240));
  const QRect main = frame_->frameGeometry();
  EXPECT_EQ(w->frameGeometry().topLeft(), QPoint(main.x() + main.width() + 1, main.y()));
  EXPECT_EQ(w->parentWidget(), frame_.get());
  const std::vector<uint8_t> first(PixelBits(frame_->SnapshotImage().GetDib()),
                                   PixelBits(frame_->SnapshotImage().GetDib()) + 230400);

  platform_->DeliverFrames(1);
  frame_->OnCommand(cmd::kSnapshot);
  EXPECT_EQ(CSnapshotWnd::Find(), w);
  const uint8_t* second = PixelBits(frame_->SnapshotImage().GetDib());
  EXPECT_NE(std::memcmp(second, first.data(), first.size()), 0);  // the newer frame
}

TEST_F(SnapshotGrabTest, EightBitFramesShowTheUniformPalette) {
  media::ScriptedCapability rgb8;
  rgb8.subtype = media::guid::kSubtypeRGB8;
  rgb8.width = 16;
  rgb8.height = 8;
  rgb8.bitCount = 8;
  Start(rgb8);
  platform_->DeliverFrames(1);
  frame_->OnCommand(cmd::kSnapshot);
  ASSERT_NE(CSnapshotWnd::Find(), nullptr);
  const CDib& image = frame_->SnapshotImage();
  ASSERT_EQ(image.GetBitCount(), 8);
  ASSERT_NE(image.GetPalette(), nullptr);
  const PaletteEntry e = image.GetPalette()->Entries()[3 * 32 + 5 * 4 + 2];
  EXPECT_EQ(e, (PaletteEntry{109, 182, 170, 0}));
}

TEST_F(SnapshotGrabTest, CompressedFramesAreRefusedAndThePreviousSnapshotStays) {
  Start({});
  platform_->DeliverFrames(1);
  frame_->OnCommand(cmd::kSnapshot);
  ASSERT_TRUE(frame_->SnapshotImage().HasDib());
  const size_t before = frame_->SnapshotImage().GetDib().Size();
  if (CSnapshotWnd* w = CSnapshotWnd::Find()) delete w;

  // The same device now streams YUY2.
  frame_->HaltPreview();
  frame_->DismantleGraph();
  frame_->ReleaseCaptureFilters();
  media::ScriptedCapability yuy2;
  yuy2.subtype = media::guid::kSubtypeYUY2;
  yuy2.bitCount = 16;
  yuy2.compression = media::MakeFourcc('Y', 'U', 'Y', '2');
  platform_->Settings().devices[0].capabilities = {yuy2};
  ASSERT_TRUE(CMainFrameTestPeer::StartPreview(*frame_, *platform_, 0));
  messages_.clear();
  platform_->DeliverFrames(1);
  frame_->OnCommand(cmd::kSnapshot);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "compressed format is not supported");
  EXPECT_EQ(CSnapshotWnd::Find(), nullptr);
  EXPECT_EQ(frame_->SnapshotImage().GetDib().Size(), before);
}

}  // namespace

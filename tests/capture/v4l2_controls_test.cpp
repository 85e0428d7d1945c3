// Camera controls through the V4L2 call interface, against the fake UVC webcam.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>

#include "capture/platform/v4l2/fake_v4l2.h"
#include "capture/platform/v4l2/v4l2_controls.h"

using v4l2::Control;
using v4l2::CV4L2Controls;
using v4l2::FakeV4L2;

namespace {

const Control* FindControl(const std::vector<Control>& list, uint32_t id) {
  auto it = std::find_if(list.begin(), list.end(), [id](const Control& c) { return c.id == id; });
  return it == list.end() ? nullptr : &*it;
}

class V4L2ControlsTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    fake_ = std::make_shared<FakeV4L2>();
    fake_->SetExtendedQueries(GetParam());
    controls_ = CV4L2Controls::Open(fake_, "/dev/video0");
    ASSERT_TRUE(controls_);
  }
  std::shared_ptr<FakeV4L2> fake_;
  std::unique_ptr<CV4L2Controls> controls_;
};

TEST_P(V4L2ControlsTest, ListsTheSettableControlsWithTheirKindsAndMenus) {
  const std::vector<Control> list = controls_->Enumerate();
  std::vector<std::string> names;
  for (const Control& c : list) names.push_back(c.name);
  // Control classes are not controls; everything else comes in the device's order.
  EXPECT_EQ(names, (std::vector<std::string>{
                       "Brightness", "Contrast", "Saturation", "Hue", "White Balance, Automatic",
                       "Gain", "Power Line Frequency", "White Balance Temperature", "Sharpness",
                       "Backlight Compensation", "Auto Exposure", "Exposure Time, Absolute",
                       "Exposure, Dynamic Framerate", "Focus, Absolute",
                       "Focus, Automatic Continuous"}));
  const Control* hue = FindControl(list, V4L2_CID_HUE);
  ASSERT_TRUE(hue);
  EXPECT_EQ(hue->kind, Control::Kind::Integer);
  EXPECT_EQ(hue->minimum, -40);
  EXPECT_EQ(hue->maximum, 40);
  EXPECT_EQ(FindControl(list, V4L2_CID_AUTO_WHITE_BALANCE)->kind, Control::Kind::Boolean);
  // A menu with holes lists only the items the driver answers for.
  const Control* exposure = FindControl(list, V4L2_CID_EXPOSURE_AUTO);
  EXPECT_EQ(exposure->kind, Control::Kind::Menu);
  EXPECT_EQ(exposure->menu, (std::vector<std::pair<int64_t, std::string>>{
                                {1, "Manual Mode"}, {3, "Aperture Priority Mode"}}));
  EXPECT_EQ(FindControl(list, V4L2_CID_POWER_LINE_FREQUENCY)->menu.size(), 3u);
}

TEST_P(V4L2ControlsTest, InactiveStateFollowsTheAutomaticModes) {
  Control c;
  ASSERT_EQ(controls_->Query(V4L2_CID_WHITE_BALANCE_TEMPERATURE, c), 0);
  EXPECT_TRUE(c.Inactive());
  ASSERT_EQ(controls_->Set(V4L2_CID_AUTO_WHITE_BALANCE, 0), 0);
  ASSERT_EQ(controls_->Query(V4L2_CID_WHITE_BALANCE_TEMPERATURE, c), 0);
  EXPECT_FALSE(c.Inactive());
  // Absolute exposure is refused until exposure is manual.
  EXPECT_EQ(controls_->Set(V4L2_CID_EXPOSURE_ABSOLUTE, 100), EACCES);
  ASSERT_EQ(controls_->Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL), 0);
  EXPECT_EQ(controls_->Set(V4L2_CID_EXPOSURE_ABSOLUTE, 100), 0);
  int32_t v = 0;
  ASSERT_EQ(controls_->Get(V4L2_CID_EXPOSURE_ABSOLUTE, v), 0);
  EXPECT_EQ(v, 100);
}

TEST_P(V4L2ControlsTest, RefusalsComeBackAsTheirErrors) {
  EXPECT_EQ(controls_->Set(V4L2_CID_EXPOSURE_AUTO, 2), EINVAL);  // a hole in the menu
  EXPECT_EQ(controls_->Set(V4L2_CID_EXPOSURE_AUTO, 9), ERANGE);
  EXPECT_EQ(controls_->Set(0x00981234, 1), EINVAL);  // no such control
  fake_->Refuse(V4L2_CID_GAIN, EIO);
  EXPECT_EQ(controls_->Set(V4L2_CID_GAIN, 10), EIO);
  EXPECT_EQ(fake_->Value(V4L2_CID_GAIN), 64);
}

TEST_P(V4L2ControlsTest, APulledOutCameraHasNoControlsAndItsNodeIsClosed) {
  fake_->Unplug();
  EXPECT_TRUE(controls_->Enumerate().empty());
  int32_t v = 0;
  EXPECT_EQ(controls_->Get(V4L2_CID_BRIGHTNESS, v), ENODEV);
  EXPECT_EQ(controls_->Set(V4L2_CID_BRIGHTNESS, 1), ENODEV);
  EXPECT_EQ(fake_->OpenDescriptors(), 1);
  controls_.reset();
  EXPECT_EQ(fake_->OpenDescriptors(), 0);
  EXPECT_FALSE(CV4L2Controls::Open(fake_, "/dev/video0"));
}

INSTANTIATE_TEST_SUITE_P(ExtendedAndPlainQueries, V4L2ControlsTest, ::testing::Bool());

TEST(V4L2ControlsOpenTest, ANodeThatIsNotThereGivesNoControls) {
  auto fake = std::make_shared<FakeV4L2>("/dev/video3");
  EXPECT_FALSE(CV4L2Controls::Open(fake, "/dev/video0"));
  EXPECT_FALSE(CV4L2Controls::Open(v4l2::SystemV4L2Io(), "/nonexistent/video9"));
  EXPECT_TRUE(CV4L2Controls::Open(fake, "/dev/video3"));
}

TEST(V4L2ControlsOpenTest, ADriverThatDoesNotAdvanceEndsTheList) {
  // A control whose "next" is itself would loop for ever.
  class Stuck final : public v4l2::IV4L2Io {
   public:
    int Open(const char*, int) override { return 7; }
    int Close(int) override { return 0; }
    int Ioctl(int, unsigned long request, void* arg) override {
      if (request != VIDIOC_QUERY_EXT_CTRL) {
        errno = ENOTTY;
        return -1;
      }
      auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
      *q = v4l2_query_ext_ctrl{};
      q->id = V4L2_CID_BRIGHTNESS;
      q->type = V4L2_CTRL_TYPE_INTEGER;
      return 0;
    }
  };
  auto controls = CV4L2Controls::Open(std::make_shared<Stuck>(), "x");
  ASSERT_TRUE(controls);
  EXPECT_EQ(controls->Enumerate().size(), 1u);
}

}  // namespace

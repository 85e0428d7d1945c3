// A device's inputs and TV norms through the V4L2 seam, on the fake node: what a webcam
// answers by default, a configured capture card, refusals, and matching the driver's norm bits.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>

#include "capture/platform/v4l2/fake_v4l2.h"
#include "capture/platform/v4l2/v4l2_inputs.h"

using v4l2::CV4L2Inputs;
using v4l2::FakeV4L2;

namespace {

TEST(V4L2InputsTest, AWebcamHasOneCameraInputAndNoNorms) {
  auto fake = std::make_shared<FakeV4L2>();
  auto inputs = CV4L2Inputs::Open(fake, "/dev/video0");
  ASSERT_TRUE(inputs);
  const auto all = inputs->Inputs();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "Camera 1");
  EXPECT_FALSE(inputs->HasTuner());
  EXPECT_TRUE(inputs->Standards().empty());
  uint64_t id = 0;
  EXPECT_EQ(inputs->CurrentStandard(id), ENODATA);
  EXPECT_EQ(inputs->SetStandard(V4L2_STD_PAL), ENODATA);
  EXPECT_FALSE(CV4L2Inputs::Open(fake, "/dev/video9"));
  inputs.reset();
  EXPECT_EQ(fake->OpenDescriptors(), 0);
}

TEST(V4L2InputsTest, ACaptureCardSwitchesInputsAndNormsAndKeepsItsChoiceWhenRefusing) {
  auto fake = std::make_shared<FakeV4L2>();
  fake->SetInputs({{"Composite", false}, {"S-Video", false}, {"Tuner", true}});
  fake->SetStandards({{V4L2_STD_PAL_BG, "PAL-BG"}, {V4L2_STD_NTSC_M, "NTSC-M"}, {V4L2_STD_SECAM_L, "SECAM-L"}});
  auto inputs = CV4L2Inputs::Open(fake, "/dev/video0");
  ASSERT_TRUE(inputs);
  const auto all = inputs->Inputs();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1].name, "S-Video");
  EXPECT_EQ(all[2].index, 2u);
  EXPECT_TRUE(all[2].tuner);
  EXPECT_FALSE(all[0].tuner);
  EXPECT_TRUE(inputs->HasTuner());

  EXPECT_EQ(inputs->SetInput(2), 0);
  uint32_t index = 0;
  EXPECT_EQ(inputs->CurrentInput(index), 0);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(inputs->SetInput(3), EINVAL);
  fake->RefuseInputs(EBUSY);
  EXPECT_EQ(inputs->SetInput(0), EBUSY);
  EXPECT_EQ(fake->CurrentInput(), 2u);

  const auto norms = inputs->Standards();
  ASSERT_EQ(norms.size(), 3u);
  EXPECT_EQ(norms[1].name, "NTSC-M");
  EXPECT_EQ(inputs->SetStandard(V4L2_STD_NTSC_M), 0);
  EXPECT_EQ(fake->CurrentStandard(), V4L2_STD_NTSC_M);
  EXPECT_EQ(inputs->SetStandard(V4L2_STD_ATSC_8_VSB), EINVAL);
  fake->RefuseStandards(EIO);
  EXPECT_EQ(inputs->SetStandard(V4L2_STD_PAL_BG), EIO);
  uint64_t id = 0;
  EXPECT_EQ(inputs->CurrentStandard(id), 0);
  EXPECT_EQ(id, V4L2_STD_NTSC_M);
}

TEST(V4L2InputsTest, TheDriversNormBitsNameTheExactEntryFirst) {
  const std::vector<v4l2::Standard> norms = {
      {V4L2_STD_PAL, "PAL"}, {V4L2_STD_PAL_BG, "PAL-BG"}, {V4L2_STD_NTSC_M, "NTSC-M"}};
  EXPECT_EQ(v4l2::StandardIndex(norms, V4L2_STD_PAL_BG), 1);
  EXPECT_EQ(v4l2::StandardIndex(norms, V4L2_STD_PAL_I), 0);
  EXPECT_EQ(v4l2::StandardIndex(norms, V4L2_STD_NTSC_M_JP | V4L2_STD_NTSC_M), 2);
  EXPECT_EQ(v4l2::StandardIndex(norms, V4L2_STD_SECAM_L), -1);
  EXPECT_EQ(v4l2::StandardIndex({}, V4L2_STD_PAL), -1);
}

TEST(V4L2InputsTest, APulledOutDeviceListsNothingAndRefusesChanges) {
  auto fake = std::make_shared<FakeV4L2>();
  fake->SetInputs({{"Composite", false}, {"S-Video", false}});
  auto inputs = CV4L2Inputs::Open(fake, "/dev/video0");
  ASSERT_TRUE(inputs);
  fake->Unplug();
  EXPECT_TRUE(inputs->Inputs().empty());
  EXPECT_FALSE(inputs->HasTuner());
  EXPECT_EQ(inputs->SetInput(1), ENODEV);
}

}  // namespace

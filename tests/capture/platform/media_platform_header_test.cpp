// The interface header stands on its own (standard library only).
#include "capture/platform/media_platform.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace media {
namespace {

TEST(MediaPlatformHeaderTest, StatusClassesFollowTheSign) {
  EXPECT_TRUE(Succeeded(status::kPreviewFromCapture));
  EXPECT_TRUE(Succeeded(status::kDuplicateName));
  EXPECT_TRUE(Failed(status::kDuplicateNameError));
  EXPECT_TRUE(Failed(status::kCannotConnect));
  EXPECT_EQ(uint32_t(status::kCannotConnect), 0x80040217u);
  EXPECT_TRUE(std::has_virtual_destructor_v<IMediaPlatform>);
}

}  // namespace
}  // namespace media

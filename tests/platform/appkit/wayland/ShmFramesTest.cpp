#include "appkit/wayland/ShmFrames.h"

#include <gtest/gtest.h>

namespace appkit {
namespace {

TEST(ShmFrames, AFadeScalesEveryChannelOfAPremultipliedPixelAlike) {
  EXPECT_EQ(ShmFrames::faded(0xFF2080C0u, 1), 0xFF2080C0u);
  EXPECT_EQ(ShmFrames::faded(0xFF2080C0u, 0.5), 0x7F104060u);
  EXPECT_EQ(ShmFrames::faded(0x80402010u, 0.25), 0x20100804u);
  EXPECT_EQ(ShmFrames::faded(0xFFFFFFFFu, 0), 0u);
  // Out of range, as the nearest end.
  EXPECT_EQ(ShmFrames::faded(0xFFFFFFFFu, 2), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace appkit

// The colour functions in both pixel layouts: packing, unpacking, the
// rounding blend and the screen blend.
#include <gtest/gtest.h>

#include "common_code/dib.h"
#include "support/pixel_format.h"

namespace {

using testing_support::ScopedPixelFormat;

class Layouts : public ::testing::TestWithParam<uint32_t> {
 protected:
  bool Is565() const { return GetParam() == kfDirect565; }
  // Every pixel value of the layout (bit 15 is unused in 5-5-5).
  unsigned Limit() const { return Is565() ? 0x10000u : 0x8000u; }
};

INSTANTIATE_TEST_SUITE_P(Colour, Layouts, ::testing::Values(kfDirect565, kfDirect555),
                         [](const auto& info) {
                           return std::string(info.param == kfDirect565 ? "565" : "555");
                         });

TEST_P(Layouts, WhiteAndItsComponents) {
  ScopedPixelFormat layout(GetParam());
  unsigned short white = ColorValue(255, 255, 255);
  EXPECT_EQ(white, Is565() ? 0xFFFF : 0x7FFF);
  unsigned char r, g, b;
  ColorComponents(white, r, g, b);
  EXPECT_EQ(r, 248);
  EXPECT_EQ(g, Is565() ? 252 : 248);
  EXPECT_EQ(b, 248);
  EXPECT_EQ(ColorValue(0, 0, 0), 0);
}

TEST_P(Layouts, ChannelsLandInTheirBits) {
  ScopedPixelFormat layout(GetParam());
  if (Is565()) {
    EXPECT_EQ(ColorValue(255, 0, 0), 0xF800);
    EXPECT_EQ(ColorValue(0, 255, 0), 0x07E0);
    EXPECT_EQ(ColorValue(0, 4, 0), 0x0020);  // green keeps 6 bits
  } else {
    EXPECT_EQ(ColorValue(255, 0, 0), 0x7C00);
    EXPECT_EQ(ColorValue(0, 255, 0), 0x03E0);
    EXPECT_EQ(ColorValue(0, 4, 0), 0x0000);  // green keeps 5 bits
  }
  EXPECT_EQ(ColorValue(0, 0, 255), 0x001F);
  EXPECT_EQ(ColorValue(7, 3, 7), 0);  // low bits dropped
}

TEST_P(Layouts, ComponentsRoundTripEveryPixel) {
  ScopedPixelFormat layout(GetParam());
  for (unsigned c = 0; c < Limit(); c++) {
    unsigned char r, g, b;
    ColorComponents(static_cast<unsigned short>(c), r, g, b);
    ASSERT_EQ(ColorValue(r, g, b), c);
  }
}

TEST_P(Layouts, BlendEndsAreExactForEveryPair) {
  ScopedPixelFormat layout(GetParam());
  for (unsigned x = 0; x < Limit(); x++) {
    for (unsigned y = x % 97; y < Limit(); y += 257) {
      auto bx = static_cast<unsigned short>(x), by = static_cast<unsigned short>(y);
      ASSERT_EQ(ColorOnColor(bx, by, 0), bx);
      ASSERT_EQ(ColorOnColor(bx, by, 255), by);
    }
  }
}

TEST_P(Layouts, BlendRoundsEachChannelInItsOwnWidth) {
  ScopedPixelFormat layout(GetParam());
  unsigned short white = ColorValue(255, 255, 255);
  // Half way from black to white: 31 * 128 / 255 = 15.56 -> 16; 63 -> 31.62 -> 32.
  unsigned short half = ColorOnColor(0, white, 128);
  if (Is565())
    EXPECT_EQ(half, (16 << 11) | (32 << 5) | 16);
  else
    EXPECT_EQ(half, (16 << 10) | (16 << 5) | 16);
  // Downwards the arithmetic shift keeps the rounding symmetric.
  EXPECT_EQ(ColorOnColor(white, 0, 128), ColorOnColor(0, white, 127));
  // A weight outside 0..255 is held at the nearest end.
  EXPECT_EQ(ColorOnColor(0, white, 1000), white);
  EXPECT_EQ(ColorOnColor(white, 0, -5), white);
}

TEST_P(Layouts, ScreenBlendLightens) {
  ScopedPixelFormat layout(GetParam());
  unsigned short white = ColorValue(255, 255, 255);
  // Black screened on black gives 1 in every channel: 31 - (31 * 31 >> 5)
  // and, for 6-bit green, 63 - (63 * 63 >> 6).
  unsigned short bb = ColorOnColorScreen(0, 0, 255);
  if (Is565())
    EXPECT_EQ(bb, (1 << 11) | (1 << 5) | 1);
  else
    EXPECT_EQ(bb, (1 << 10) | (1 << 5) | 1);
  EXPECT_EQ(ColorOnColorScreen(0, white, 255), white);
  EXPECT_EQ(ColorOnColorScreen(white, 0, 255), white);
  EXPECT_EQ(ColorOnColorScreen(0x1234 & (Limit() - 1), white, 0), 0x1234 & (Limit() - 1));
}

TEST(ColourWithoutLayout, ValuesAreZeroAndBlendsKeepTheBackground) {
  ScopedPixelFormat layout(0);
  EXPECT_EQ(ColorValue(255, 255, 255), 0);
  EXPECT_EQ(ColorOnColor(0x1234, 0x4321, 128), 0x1234);
  EXPECT_EQ(ColorOnColorScreen(0x1234, 0x4321, 128), 0x1234);
}

TEST(ColourDefaults, EachProgramStartsInItsOwnLayout) {
  // Before the screen reports the display, desk works in 5-5-5 and pocket in 5-6-5.
  EXPECT_EQ(DisplayProperties.ffFormat, kPocket ? kfDirect565 : kfDirect555);
  EXPECT_EQ(DisplayProperties.cxWidth, 240u);
  EXPECT_EQ(DisplayProperties.cyHeight, 320u);
}

}  // namespace

// Golden images: text in every shipped font and the built-in set, the copy
// modes and blends, and the artwork placed at the tuner screen's
// coordinates, each compared pixel for pixel with tests/golden/.
// scripts/rebaseline-golden accepts deliberate changes.
#include "support/golden.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common_code/dib.h"
#include "common_code/font.h"
#include "support/pixel_format.h"

namespace {

using testing_support::MatchesGolden;
using testing_support::ScopedPixelFormat;

int g_Module;
void* const kModule = &g_Module;

TEST(GoldenText, EveryFontAndTheBuiltInSet) {
  ScopedPixelFormat layout(kfDirect555);
  initcharset();
  Font font2, font3, button, menu;
  ASSERT_EQ(font2.LoadFont(kModule, "FONT2"), 1);
  ASSERT_EQ(font3.LoadFont(kModule, "FONT3"), 1);
  ASSERT_EQ(button.LoadFont(kModule, "BUTTONFONT"), 1);
  ASSERT_EQ(menu.LoadGAPIFont(kModule, "MENUFONT"), 1);

  CDib d;
  ASSERT_EQ(d.Create(240, 200), 1);
  d.VGradient(ColorValue(248, 240, 208), ColorValue(255, 255, 255));
  unsigned short black = ColorValue(0, 0, 0), grey = ColorValue(160, 160, 160);
  font3.Print(&d, -3, 4, "A#4 Gb", grey, 8);  // drop shadow, then the text
  font3.Print(&d, -1, 4, "A#4 Gb", black, 8);
  font2.Print(&d, -1, 42, "440.00Hz  Trigger: OFF", black, 8);
  font2.Print(&d, 4, 60, "The quick brown fox jumps", ColorValue(0, 0, 192), 8);
  button.Print(&d, -1, 78, "Exit  Trigger: 3", ColorValue(128, 0, 0), 8);
  menu.Print(&d, -1, 106, "Waiting for Signal", 0, 1);
  menu.Print(&d, -1, 124,
             "\xC7"
             "a d\xE9j\xE0 vu \xBF"
             "a\xF1o? \xBD \xA3 \xAB\xBB",
             0, 1);
  d.Print("zelvaro 1.5: a=440hz!", -1, 146, ColorValue(0, 128, 0));
  d.Print("[0123456789] #@%/\\<>\n?-+=.,'", 8, 162, black);
  d.Print("centred", -1, -1, ColorValue(192, 0, 0));
  EXPECT_TRUE(MatchesGolden(d, "text"));
  releasecharset();
}

class GoldenBlits : public ::testing::TestWithParam<uint32_t> {};

INSTANTIATE_TEST_SUITE_P(Layouts, GoldenBlits, ::testing::Values(kfDirect555, kfDirect565),
                         [](const auto& info) {
                           return std::string(info.param == kfDirect565 ? "565" : "555");
                         });

TEST_P(GoldenBlits, CopyModesAndBlends) {
  ScopedPixelFormat layout(GetParam());
  CDib arrows, spark, smoke;
  ASSERT_EQ(arrows.LoadBMP(kModule, "ARROWS"), 1);
  ASSERT_EQ(spark.LoadBMP(kModule, "SPARK"), 1);
  ASSERT_EQ(smoke.LoadBMP(kModule, "SMOKE"), 1);
  arrows.SetTransparentColor(arrows.GetPixel(0, 0));
  spark.SetTransparentColor(spark.GetPixel(0, 0));
  smoke.SetTransparentColor(smoke.GetPixel(0, 0));

  CDib d;
  ASSERT_EQ(d.Create(240, 200), 1);
  d.HGradient(ColorValue(32, 64, 128), ColorValue(240, 200, 120));
  d.Fill2(0, 100, 240, 200, ColorValue(0, 0, 0), 96);

  // Arrow sheet: block copy, transparent copy, silhouette, blends.
  d.BitBlt(4, 4, 80, 48, &arrows, 0, 0, 0);
  d.BitBlt(88, 4, 80, 48, &arrows, 0, 0, 1);
  d.PaintColor = ColorValue(255, 255, 255);
  d.BitBlt(172, 4, 40, 24, &arrows, 40, 0, 8);
  arrows.SetOpacity(128);
  d.BitBlt(172, 28, 40, 24, &arrows, 40, 24, 3);

  // Particle images: plain and transparent blends and screen blends.
  for (int mode = 2; mode <= 5; mode++) {
    spark.SetOpacity(static_cast<unsigned char>(90 + 40 * mode));
    d.BitBlt(4 + 60 * (mode - 2), 56, 64, 64, &spark, 0, 0, static_cast<unsigned char>(mode));
  }
  smoke.SetOpacity(200);
  d.StretchBlt(&smoke, -16, 120, 96, 96, 5);

  // Alpha plane from the lower half of an image.
  CDib masked;
  ASSERT_EQ(masked.Create(48, 96), 1);
  masked.VGradient(ColorValue(255, 64, 0), ColorValue(255, 255, 0));
  for (int y = 48; y < 96; y++)
    for (int x = 0; x < 48; x++) {
      int r = static_cast<int>(std::hypot(x - 23.5, y - 71.5) * 10);
      int v = r > 255 ? 0 : 255 - r;
      masked.SetPixel(x, y, ColorValue(v, v, v));
    }
  ASSERT_EQ(masked.EnableAlphaMask(), 1);
  d.BitBltAlpha(96, 132, 48, 48, &masked, 0, 0);

  // Shading and strokes.
  d.Darken(150, 124, 190, 196, 1);
  d.Darken(194, 124, 236, 196, 2);
  d.Darken(150, 100, 236, 120, 0);
  d.Box(150, 124, 189, 195, ColorValue(255, 255, 255));
  for (int i = 0; i < 3; i++)
    d.Line(120.0f + i, 190.0f, 236.0f, 100.0f + 10 * i, ColorValue(0, 255, 128));
  d.hLine(0, 199, 240, ColorValue(255, 0, 0));
  d.vLine(239, 0, 200, ColorValue(255, 0, 0));
  CDib patch;
  ASSERT_EQ(CopyDib(&patch, &d), 1);
  patch.bilinear();
  d.BitBlt(200, 56, 40, 40, &patch, 200, 56, 0);
  EXPECT_TRUE(MatchesGolden(d, "blits"));
}

// The meter image with the moving parts drawn at the coordinates the tuner
// screen uses (arrows at (15, 15) and (225 - W/2, 15), note name at y = 48,
// reference frequency at y = 76, needle from (120, 117), status text at
// y = 140, strength bar rows 6..9, spectrum bars on the baseline y = 258,
// buttons at y = 290), so that the artwork's layout can be seen and checked.
TEST(GoldenScreen, ArtworkAtTheTunerScreenCoordinates) {
  ScopedPixelFormat layout(kfDirect555);
  CDib screen, arrows;
  ASSERT_EQ(screen.LoadBMP(kModule, "METER"), 1);
  ASSERT_EQ(arrows.LoadBMP(kModule, "ARROWS"), 1);
  arrows.SetTransparentColor(arrows.GetPixel(0, 0));
  Font font, bigfont, font2;
  ASSERT_EQ(font.LoadGAPIFont(kModule, "MENUFONT"), 1);
  ASSERT_EQ(bigfont.LoadFont(kModule, "FONT3"), 1);
  ASSERT_EQ(font2.LoadFont(kModule, "FONT2"), 1);
  const int aw = arrows.W / 2, ah = arrows.H / 2;
  unsigned short black = ColorValue(0, 0, 0);

  screen.BitBlt(15, 15, aw, ah, &arrows, 0, ah, 1);
  screen.BitBlt(225 - aw, 15, aw, ah, &arrows, aw, 0, 1);  // sharp lit
  font.Print(&screen, -1, 140, "441.27 Hz", 0, 1);
  bigfont.Print(&screen, -1, 48, "A", black, 8);
  font2.Print(&screen, -1, 76, "440.00Hz", black, 8);
  double angle = 11.0 * M_PI / 180.0, t = M_PI - angle;
  int dx = static_cast<int>(80 * std::sin(t)), dy = static_cast<int>(80 * std::cos(t));
  for (int o = -1; o <= 1; o++)
    screen.Line(120.0f + o, 117.0f, 120.0f + o + dx, 117.0f + dy, black);

  const int lit = 7;
  const int rgb[10][3] = {{0, 255, 0},   {64, 255, 0},  {128, 255, 0}, {192, 255, 0}, {255, 255, 0},
                          {255, 255, 0}, {255, 192, 0}, {255, 128, 0}, {255, 64, 0},  {255, 0, 0}};
  for (int i = 0; i < 10; i++) {
    int s = i < lit ? 0 : 2;
    screen.Fill(21 + 20 * i, 6, 39 + 20 * i, 10,
                ColorValue(rgb[i][0] >> s, rgb[i][1] >> s, rgb[i][2] >> s));
  }
  const int heights[8] = {8, 20, 34, 50, 60, 41, 25, 12};
  for (int j = 0; j < 8; j++) {
    unsigned short c = j == 4 ? ColorValue(255, 0, 0) : ColorValue(0, 255, 0);
    screen.Fill(20 + 25 * j, 258 + 1 - heights[j], 42 + 25 * j, 258, c);
  }
  int x0 = 25 * 4 + 12;
  screen.Box(x0 + 5, 258 - 60 - 18, x0 + 35, 258 - 60 - 5, black);
  font2.Print(&screen, x0 + 20 - font2.GetTextLength("A") / 2, 258 - 60 - 18, "A", black, 8);
  for (int b = 0; b < 2; b++) {
    int left = b ? 125 : 15;
    screen.Fill(left, 290, left + 100, 310, ColorValue(224, 224, 192));
    screen.Box(left, 290, left + 100, 310, black);
    const char* caption = b ? "Exit" : "Trigger: 1";
    font2.Print(&screen, left + (100 - font2.GetTextLength(caption)) / 2,
                290 + (20 - font2.Height) / 2, caption, black, 8);
  }
  EXPECT_TRUE(MatchesGolden(screen, "meter-screen"));
}

}  // namespace

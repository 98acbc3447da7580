// The screen on the headless display: start-up of the display record,
// Refresh and RefreshArea (desk through the window's display, pocket through
// GAPI along any pitches, portrait and landscape), the fades' frames, snow,
// and the timing functions on the virtual clock.
#include <gtest/gtest.h>

#include <vector>

#include "common_code/xdib.h"
#include "platform/winapi/gx.h"
#include "support/alerts.h"
#include "support/frame_globals.h"

namespace {

using testing_support::AlertRecorder;
using testing_support::FrameTest;

class Screen : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    hwnd = OpenWindow("ScreenTest");
    ASSERT_NE(hwnd, nullptr);
    ASSERT_EQ(InitLLSLibrary(), 1);
  }
  void TearDown() override {
    screen.Exit();
    FrameTest::TearDown();
    ExitLLSLibrary();
  }

  // Fills the surface with distinct values: x + 256 y + 1 (never 0).
  static void Number(CDib& d) {
    for (int y = 0; y < d.H; y++)
      for (int x = 0; x < d.W; x++) d.SetPixel(x, y, x + 256 * y + 1);
  }
  static std::vector<uint16_t> Pixels(const CDib& d) {
    std::vector<uint16_t> out(static_cast<size_t>(d.W) * d.H);
    for (size_t i = 0; i < out.size(); i++) out[i] = d.m_Bits[i];
    return out;
  }
  uint64_t Frames() const { return headless::Display(hwnd).Frames; }

  HWND hwnd = nullptr;
  CScreen screen;
};

TEST_F(Screen, StartUpFillsTheDisplayRecordAndBuildsTheCharacterSet) {
  const GXDisplayProperties& p = DisplayProperties;
  EXPECT_EQ(p.cxWidth, 240u);
  EXPECT_EQ(p.cyHeight, 320u);
  EXPECT_EQ(p.cBPP, 16);
  if constexpr (kPocket) {
    EXPECT_EQ(p.cbxPitch, 2);
    EXPECT_EQ(p.cbyPitch, 480);
    EXPECT_EQ(p.ffFormat, kfDirect565);
  } else {
    EXPECT_EQ(p.cbxPitch, 1);
    EXPECT_EQ(p.cbyPitch, 1);
    EXPECT_EQ(p.ffFormat, kfDirect555);
  }
  CDib d;
  ASSERT_EQ(d.Create(16, 8), 1);
  EXPECT_EQ(d.Print("ok", 0, 0, 1), 2);
  ExitLLSLibrary();
  EXPECT_EQ(d.Print("ok", 0, 0, 1), 0);
  InitLLSLibrary();
}

TEST_F(Screen, InitMakesABlackSurfaceOfTheDisplaysSize) {
  ASSERT_EQ(screen.Init(hwnd, 0), 1);
  EXPECT_EQ(screen.hwnd, hwnd);
  EXPECT_EQ(screen.W, 240);
  EXPECT_EQ(screen.H, 320);
  EXPECT_EQ(screen.GetPixel(120, 160), 0);
  EXPECT_EQ(screen.nFlakes, 0u);
  EXPECT_EQ(screen.snx, nullptr);
}

TEST_F(Screen, RefreshShowsTheWholeSurfaceOnce) {
  ASSERT_EQ(screen.Init(hwnd, 0), 1);
  Number(screen);
  screen.Refresh();
  headless::DisplayState s = headless::Display(hwnd);
  ASSERT_TRUE(s.Open);
  EXPECT_EQ(s.FullScreen, kPocket);
  EXPECT_EQ(s.Layout.Format, kPocket ? kfDirect565 : kfDirect555);
  EXPECT_EQ(s.Frames, 1u);
  EXPECT_EQ(s.Pixels, Pixels(screen));
}

TEST_F(Screen, RefreshWithoutSurfaceOrWindowShowsNothing) {
  screen.Refresh();
  EXPECT_FALSE(headless::Display(hwnd).Open);
  if constexpr (!kPocket) {
    CScreen windowless;
    ASSERT_EQ(windowless.Init(nullptr, 0), 1);
    windowless.Refresh();
    windowless.RefreshArea(0, 0, 10, 10);
  }
}

TEST_F(Screen, RefreshAreaShowsOneRectangleOnTheDeskAndTheWholeScreenOnThePocket) {
  ASSERT_EQ(screen.Init(hwnd, 0), 1);
  Number(screen);
  screen.Refresh();
  screen.Clear(0);
  screen.RefreshArea(10, 20, 5, 4);
  headless::DisplayState s = headless::Display(hwnd);
  EXPECT_EQ(s.Frames, 2u);
  EXPECT_EQ(s.Pixels[20 * 240 + 10], 0);
  EXPECT_EQ(s.Pixels[23 * 240 + 14], 0);
  if constexpr (kPocket) {
    EXPECT_EQ(s.Pixels, Pixels(screen));
  } else {
    EXPECT_EQ(s.Pixels[20 * 240 + 15], static_cast<uint16_t>(15 + 256 * 20 + 1));
    EXPECT_EQ(s.Pixels[24 * 240 + 10], static_cast<uint16_t>(10 + 256 * 24 + 1));
    screen.RefreshArea(-5, -5, 0, 10);
    screen.RefreshArea(230, 310, 100, 100);  // clipped
    s = headless::Display(hwnd);
    EXPECT_EQ(s.Pixels[319 * 240 + 239], 0);
    EXPECT_EQ(s.Pixels[309 * 240 + 239], static_cast<uint16_t>(239 + 256 * 309 + 1));
  }
}

TEST_F(Screen, FadeShowsAFrameForEveryStepFromZeroTo255) {
  ASSERT_EQ(screen.Init(hwnd, 0), 1);
  struct Case {
    int Step;
    uint64_t Frames;
  };
  for (Case c : {Case{255, 2}, Case{300, 2}, Case{10, 27}, Case{0, 256}, Case{-4, 256}}) {
    uint64_t before = Frames();
    screen.FadeIn(0, c.Step);
    EXPECT_EQ(Frames() - before, c.Frames) << "step " << c.Step;
  }
}

TEST_F(Screen, FadeInEndsOnThePictureAndFadeOutOnTheColour) {
  ASSERT_EQ(screen.Init(hwnd, 0), 1);
  Number(screen);
  for (int y = 0; y < 320; y++)
    for (int x = 0; x < 240; x++) screen.SetPixel(x, y, ColorValue(x, y % 256, 100));
  std::vector<uint16_t> picture = Pixels(screen);
  screen.FadeIn(ColorValue(0, 0, 0), 10);
  EXPECT_EQ(Pixels(screen), picture);
  EXPECT_EQ(headless::Display(hwnd).Pixels, picture);
  const unsigned short white = ColorValue(255, 255, 255);
  screen.FadeOut(white, 10);
  EXPECT_EQ(Pixels(screen), std::vector<uint16_t>(240 * 320, white));
  EXPECT_EQ(headless::Display(hwnd).Pixels, std::vector<uint16_t>(240 * 320, white));
}

TEST_F(Screen, PocketRefreshWritesEachPixelWhereThePitchesSay) {
  if constexpr (!kPocket) GTEST_SKIP() << "the handheld's GAPI path";
  for (auto [xp, yp] : std::vector<std::pair<int, int>>{
           {2, 480}, {-2, 480}, {2, -480}, {-2, -480}, {4, 964}, {640, -2}, {-640, 2}}) {
    headless::SetDisplayPitches(xp, yp);
    CScreen s;
    ASSERT_EQ(s.Init(hwnd, 0), 1);
    EXPECT_EQ(DisplayProperties.cbxPitch, xp);
    EXPECT_EQ(DisplayProperties.cbyPitch, yp);
    Number(s);
    s.Refresh();
    EXPECT_EQ(headless::Display(hwnd).Pixels, Pixels(s)) << xp << ", " << yp;
    s.Exit();
  }
}

TEST_F(Screen, PocketLandscapeScreenIsWrittenTurnedTheSameWayInOneBlockOrPixelByPixel) {
  if constexpr (!kPocket) GTEST_SKIP() << "the handheld's GAPI path";
  struct Case {
    int XPitch, YPitch;
    bool Block;
  };
  for (Case c :
       {Case{640, -2, true}, Case{-640, 2, true}, Case{2, 480, false}, Case{-2, -480, false}}) {
    headless::SetDisplayPitches(c.XPitch, c.YPitch);
    std::vector<uint16_t> pictures[2];
    for (int general = 0; general < 2; general++) {
      CScreen s;
      ASSERT_EQ(s.Init(hwnd, 1), 1);
      ASSERT_EQ(s.W, 320);
      ASSERT_EQ(s.H, 240);
      EXPECT_EQ(bRotateLandscape, c.Block ? 0 : 1);
      if (general) bRotateLandscape = 1;
      Number(s);
      s.Refresh();
      pictures[general] = headless::Display(hwnd).Pixels;
      s.Exit();
    }
    EXPECT_EQ(pictures[0], pictures[1]) << c.XPitch << ", " << c.YPitch;
    // Surface pixel (sx, sy) on the 240 x 320 display: up the left side for
    // a negative y pitch, down the right side otherwise.
    const std::vector<uint16_t>& p = pictures[1];
    auto at = [&](int dx, int dy) { return p[static_cast<size_t>(dy) * 240 + dx]; };
    auto number = [](int sx, int sy) { return static_cast<uint16_t>(sx + 256 * sy + 1); };
    if (c.YPitch < 0) {
      EXPECT_EQ(at(0, 319), number(0, 0));
      EXPECT_EQ(at(5, 319 - 7), number(7, 5));
      EXPECT_EQ(at(239, 0), number(319, 239));
    } else {
      EXPECT_EQ(at(239, 0), number(0, 0));
      EXPECT_EQ(at(239 - 5, 7), number(7, 5));
      EXPECT_EQ(at(0, 319), number(319, 239));
    }
  }
}

TEST_F(Screen, PocketInitSaysSoWhenGapiRefusesTheDisplay) {
  if constexpr (!kPocket) GTEST_SKIP() << "the handheld's GAPI path";
  HWND other = CreateWindowEx(0, "ScreenTest", "other", WS_VISIBLE, 0, 0, 240, 320, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_EQ(GXOpenDisplay(other, GX_FULLSCREEN), 1);
  AlertRecorder alerts;
  EXPECT_EQ(screen.Init(hwnd, 0), 0);
  ASSERT_EQ(alerts.Alerts.size(), 1u);
  EXPECT_EQ(alerts.Alerts[0].first, "GXOpenDisplay");
  EXPECT_EQ(alerts.Alerts[0].second, "Init Failed");
  EXPECT_EQ(screen.m_Bits, nullptr);
  GXCloseDisplay();
  DestroyWindow(other);
}

TEST_F(Screen, ExitClosesThePocketDisplayAndLeavesTheDeskWindowAlone) {
  ASSERT_EQ(screen.Init(hwnd, 0), 1);
  screen.Refresh();
  screen.Exit();
  EXPECT_EQ(headless::Display(hwnd).Open, !kPocket);
}

TEST_F(Screen, SnowFallsByTheFlakesNumberDriftsAtMostOnePixelAndWraps) {
  ASSERT_EQ(screen.Init(hwnd, 0), 1);
  ScreenRandom.Seed(5);
  screen.InitSnow(400);
  ASSERT_EQ(screen.nFlakes, 400u);
  for (unsigned i = 0; i < screen.nFlakes; i++) {
    ASSERT_GE(screen.snx[i], 0);
    ASSERT_LT(screen.snx[i], 240);
    ASSERT_GE(screen.sny[i], 0);
    ASSERT_LT(screen.sny[i], 320);
  }
  for (int frame = 0; frame < 100; frame++) {
    std::vector<short> x(screen.snx, screen.snx + 400), y(screen.sny, screen.sny + 400);
    screen.Clear(0);
    screen.UpdateSnow();
    int drifted = 0;
    for (unsigned i = 0; i < 400; i++) {
      int fall = static_cast<int>(i % 4) + 1;
      int expectY = y[i] + fall > 319 ? 0 : y[i] + fall;
      ASSERT_EQ(screen.sny[i], expectY);
      int dx = screen.snx[i] - x[i];
      ASSERT_TRUE(dx == 0 || dx == 1 || dx == -1 || (x[i] == 239 && screen.snx[i] == 0) ||
                  (x[i] == 0 && screen.snx[i] == 239))
          << x[i] << " -> " << screen.snx[i];
      drifted += dx != 0;
      ASSERT_EQ(screen.GetPixel(screen.snx[i], screen.sny[i]), 0xFFFF);
    }
    ASSERT_GT(drifted, 0);
  }
  screen.InitSnow(0);
  EXPECT_EQ(screen.nFlakes, 0u);
  EXPECT_EQ(screen.snx, nullptr);
  screen.InitSnow(-3);
  EXPECT_EQ(screen.nFlakes, 0u);
}

TEST_F(Screen, TimingRunsOnTheBackendClock) {
  resettimer();
  EXPECT_EQ(msecs(), 0u);
  Sleep(25);
  EXPECT_EQ(msecs(), 25u);
  uint64_t before = headless::Now();
  wait(2000);
  EXPECT_EQ(headless::Now() - before, 2000u);
  EXPECT_EQ(msecs(), 2000u);
  wait(0u);  // a plain 0 would also fit POSIX wait(int*)
  EXPECT_EQ(headless::Now() - before, 2000u);
}

}  // namespace

// The tuner screen: what a frame draws from a reading (needle, arrows, note
// name, strength bar, buttons, when the spectrum appears), the trigger
// button's caption, the wide-line rasteriser of the desk's needle, and
// golden screens of whole sessions fed with scripted audio.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "common_code/xdib.h"
#include "support/golden.h"
#include "support/pixel_format.h"
#include "support/queued_audio.h"
#include "support/tuner_globals.h"
#include "tuner/analysis.h"
#include "tuner/app.h"

namespace {

using testing_support::MatchesGolden;
using testing_support::QueuedAudio;
using testing_support::ScopedPixelFormat;

int g_Module;

constexpr uint32_t kLayout = kPocket ? kfDirect565 : kfDirect555;

class TunerScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::ResetTunerGlobals();
    Load();
  }
  void TearDown() override {
    calc_end();
    testing_support::ResetTunerGlobals();
  }
  // Artwork and surfaces in this build's pixel layout.
  void Load() {
    InitButtons();
    LoadTunerScreen(&g_Module);
    ASSERT_EQ(screen.Create(240, SquareScreen ? 240 : 320), 1);
    screen.Clear(ColorValue(0, 0, 255));
  }
  // Runs `n` frames that must all be drawn; returns the last reading.
  TunerReading Frames(int n) {
    TunerReading r;
    for (int i = 0; i < n; i++) EXPECT_EQ(PaintTunerFrame(&screen, audio, &r), 1) << i;
    return r;
  }
  // Frames until the window is full and one estimate has been shown.
  TunerReading FillAndEstimate() { return Frames(kWindowSize / kPieceSize + 1); }

  bool SameAsMeter(int x, int y) const { return screen.GetPixel(x, y) == Meter.GetPixel(x, y); }
  // Whether the w x h block at (x, y) of the screen shows the arrow sheet's
  // quadrant at (sx, sy) over the meter.
  bool ShowsArrow(int x, int y, int sx, int sy) const {
    const int w = Arrows.W / 2, h = Arrows.H / 2;
    for (int j = 0; j < h; j++)
      for (int i = 0; i < w; i++) {
        PIXEL a = Arrows.GetPixel(sx + i, sy + j);
        PIXEL want = a == Arrows.TransparentColor ? Meter.GetPixel(x + i, y + j) : a;
        if (screen.GetPixel(x + i, y + j) != want) return false;
      }
    return true;
  }
  // Columns holding `colour` in rows y0..y1 (inclusive), as [first, last];
  // first = -1 when none does.
  std::pair<int, int> InkColumns(int y0, int y1, PIXEL colour) const {
    int first = -1, last = -1;
    for (int x = 0; x < screen.W; x++)
      for (int y = y0; y <= y1; y++)
        if (screen.GetPixel(x, y) == colour) {
          if (first < 0) first = x;
          last = x;
          break;
        }
    return {first, last};
  }

  ScopedPixelFormat layout{kLayout};
  CScreen screen;
  QueuedAudio audio;
};

TunerReading ValidReading(const char* name, int angle, int bars) {
  TunerReading r;
  r.Steady = true;
  r.Valid = true;
  r.Name = name;
  r.Frequency = 261.63;
  r.Nearest = 261.63f;
  r.Level = 128;
  r.Bars = bars;
  r.Angle = angle;
  r.SharpLit = angle > 12;
  r.FlatLit = angle < -12;
  std::snprintf(r.Status, sizeof(r.Status), "%0.2f Hz", r.Frequency);
  return r;
}

// Drawing from a reading -------------------------------------------------------------------

TEST_F(TunerScreen, NeedleRunsFromThePivotAtTheReadingsAngle) {
  const PIXEL black = ColorValue(0, 0, 0);
  struct Case {
    int angle, tipX, tipY;
  } cases[] = {{0, 120, 37}, {90, 200, 117}, {-90, 40, 117}, {-45, 64, 61}, {45, 176, 61}};
  for (const Case& c : cases) {
    DrawTunerScreen(&screen, ValidReading("A ", c.angle, 5));
    // A point two thirds of the way out lies on the needle, and so does
    // the pixel next to the tip (the line may leave out its end point).
    int mx = 120 + (c.tipX - 120) * 2 / 3, my = 117 + (c.tipY - 117) * 2 / 3;
    EXPECT_EQ(screen.GetPixel(mx, my), black) << c.angle;
    int nx = c.tipX - (c.tipX > 120) + (c.tipX < 120), ny = c.tipY + (c.tipY < 117);
    EXPECT_EQ(screen.GetPixel(nx, ny), black) << c.angle;
    // Nothing beyond the tip.
    int bx = c.tipX + (c.tipX > 120 ? 3 : c.tipX < 120 ? -3 : 0);
    int by = c.tipY + (c.tipY < 117 ? -3 : 0);
    EXPECT_NE(screen.GetPixel(bx, by), black) << c.angle;
  }
}

TEST_F(TunerScreen, NeedleWidthIsThreePixelsOnTheDeskAndOneOnThePocket) {
  const PIXEL black = ColorValue(0, 0, 0);
  DrawTunerScreen(&screen, ValidReading("A ", 0, 5));
  int wide = 0;
  for (int x = 110; x <= 130; x++) wide += screen.GetPixel(x, 100) == black;
  EXPECT_EQ(wide, kPocket ? 1 : 3);
}

TEST_F(TunerScreen, ArrowsShowTheReadingsLitState) {
  const int aw = Arrows.W / 2, ah = Arrows.H / 2;
  ASSERT_GT(aw, 0);
  DrawTunerScreen(&screen, ValidReading("A ", 11, 5));
  EXPECT_TRUE(ShowsArrow(15, 15, 0, ah));       // flat, unlit
  EXPECT_TRUE(ShowsArrow(225 - aw, 15, 0, 0));  // sharp, unlit
  DrawTunerScreen(&screen, ValidReading("A ", 13, 5));
  EXPECT_TRUE(ShowsArrow(15, 15, 0, ah));
  EXPECT_TRUE(ShowsArrow(225 - aw, 15, aw, 0));
  DrawTunerScreen(&screen, ValidReading("A ", -13, 5));
  EXPECT_TRUE(ShowsArrow(15, 15, aw, ah));
  EXPECT_TRUE(ShowsArrow(225 - aw, 15, 0, 0));
}

TEST_F(TunerScreen, NoteNameLosesItsTrailingBlankAndIsCentredOnWhatIsVisible) {
  const PIXEL black = ColorValue(0, 0, 0);
  // The needle at the flat stop keeps the name's rows clear.
  DrawTunerScreen(&screen, ValidReading("C ", -90, 5));
  CDib expected;
  ASSERT_EQ(CopyDib(&expected, &Meter), 1);
  bigfont.Print(&expected, -1, 48, "C", black, kCopySilhouette);
  buttonfont.Print(&expected, -1, 76, "261.63Hz", black, kCopySilhouette);
  int ink = 0;
  for (int y = 48; y < 48 + bigfont.Height; y++)
    for (int x = 0; x < 240; x++) {
      ASSERT_EQ(screen.GetPixel(x, y) == black, expected.GetPixel(x, y) == black) << x << "," << y;
      ink += expected.GetPixel(x, y) == black;
    }
  EXPECT_GT(ink, 50);
}

TEST_F(TunerScreen, InvalidReadingShowsNoNameNoReferenceAndNoMarker) {
  TunerReading r;  // not valid: needle at the flat stop
  std::snprintf(r.Status, sizeof(r.Status), "Waiting for Signal");
  calc_init(kWindowSize);
  for (int k = 0; k < kWindowSize / 2; k++) outbuf[k] = 1e9;
  r.Bands = OctaveBandLevels(MeterAdjust, r.BandLevel);
  DrawTunerScreen(&screen, r);
  const PIXEL black = ColorValue(0, 0, 0);
  // The rows of the name and reference hold no black right of the needle,
  // which lies along row 117 here.
  for (int y = 48; y < 90; y++)
    for (int x = 60; x < 180; x++) ASSERT_NE(screen.GetPixel(x, y), black) << x << "," << y;
  // Every spectrum bar is green.
  const PIXEL green = ColorValue(0, 255, 0);
  for (int j = 0; j < 8; j++) EXPECT_EQ(screen.GetPixel(30 + 25 * j, 257), green) << j;
}

TEST_F(TunerScreen, StrengthBarLightsTheReadingsSegments) {
  for (int bars : {0, 3, 10}) {
    DrawTunerScreen(&screen, ValidReading("A ", 0, bars));
    for (int i = 0; i < 10; i++) {
      const SegmentColour& c = SignalStrength[i];
      PIXEL want = i < bars ? ColorValue(c.r, c.g, c.b) : ColorValue(c.r >> 2, c.g >> 2, c.b >> 2);
      for (int y = 6; y <= 9; y++) {
        EXPECT_EQ(screen.GetPixel(21 + 20 * i, y), want) << bars << " " << i;
        EXPECT_EQ(screen.GetPixel(38 + 20 * i, y), want) << bars << " " << i;
      }
      // The 2-pixel gaps and the rows around keep the background.
      EXPECT_TRUE(SameAsMeter(39 + 20 * i, 7)) << i;
      EXPECT_TRUE(SameAsMeter(25 + 20 * i, 5)) << i;
      EXPECT_TRUE(SameAsMeter(25 + 20 * i, 10)) << i;
    }
  }
  EXPECT_EQ(ColorValue(255, 255, 0),
            ColorValue(SignalStrength[4].r, SignalStrength[4].g, SignalStrength[4].b));
  EXPECT_EQ(ColorValue(255, 255, 0),
            ColorValue(SignalStrength[5].r, SignalStrength[5].g, SignalStrength[5].b));
}

TEST_F(TunerScreen, SpectrumAppearsOnlyWhenTheReadingCarriesTheBands) {
  calc_init(kWindowSize);
  for (int k = 0; k < kWindowSize / 2; k++) outbuf[k] = 1e9;
  const PIXEL green = ColorValue(0, 255, 0);
  TunerReading r = ValidReading("A ", 0, 5);
  ASSERT_TRUE(OctaveBandLevels(MeterAdjust, r.BandLevel));
  DrawTunerScreen(&screen, r);
  for (int j = 0; j < 8; j++) EXPECT_TRUE(SameAsMeter(30 + 25 * j, 257)) << j;
  r.Bands = true;
  DrawTunerScreen(&screen, r);
  EXPECT_EQ(screen.GetPixel(30, 257), green);
}

TEST_F(TunerScreen, ButtonsShowTheTriggerCaptionAsItChanges) {
  if (SquareScreen) GTEST_SKIP();
  ASSERT_EQ(buttons.NoButtons, 2);
  EXPECT_EQ(buttons.button[buttons.GetIndexFromID(ID_TRIGGER) - 1].Text, szTriggerLevel);
  EXPECT_STREQ(buttons.button[buttons.GetIndexFromID(ID_EXIT) - 1].Text, "Exit");
  const RECT& t = buttons.button[buttons.GetIndexFromID(ID_TRIGGER) - 1].r;
  EXPECT_EQ(t.left, 15);
  EXPECT_EQ(t.top, 290);
  EXPECT_EQ(t.right, 115);
  EXPECT_EQ(t.bottom, 310);
  EXPECT_EQ(buttons.button[0].BtnColor, ColorValue(224, 224, 192));

  TriggerLevel = 0;
  UpdateButtonBuffers();
  EXPECT_STREQ(szTriggerLevel, "Trigger: OFF");
  DrawTunerScreen(&screen, ValidReading("A ", 0, 5));
  CDib off;
  ASSERT_EQ(CopyDib(&off, &screen), 1);
  TriggerLevel = 3;
  UpdateButtonBuffers();
  EXPECT_STREQ(szTriggerLevel, "Trigger: 3");
  DrawTunerScreen(&screen, ValidReading("A ", 0, 5));
  int changed = 0;
  for (int y = 290; y < 310; y++)
    for (int x = 15; x < 115; x++) changed += screen.GetPixel(x, y) != off.GetPixel(x, y);
  EXPECT_GT(changed, 0);
  TriggerLevel = 2;
  UpdateButtonBuffers();
  EXPECT_STREQ(szTriggerLevel, "Trigger: 2");
}

TEST_F(TunerScreen, FrameWithoutAPieceInTheSteadyPhaseDrawsNothing) {
  audio.AddTone(440, 60, kWindowSize / kPieceSize);
  Frames(kWindowSize / kPieceSize);
  CDib before;
  ASSERT_EQ(CopyDib(&before, &screen), 1);
  EXPECT_EQ(PaintTunerFrame(&screen, audio), 0);
  for (int y = 0; y < screen.H; y += 3)
    for (int x = 0; x < screen.W; x += 3) ASSERT_EQ(screen.GetPixel(x, y), before.GetPixel(x, y));
}

// The needle's rasteriser ----------------------------------------------------------------

class WideLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(d.Create(40, 30), 1);
    d.Clear(white);
  }
  int Count() const {
    int n = 0;
    for (int y = 0; y < d.H; y++)
      for (int x = 0; x < d.W; x++) n += d.GetPixel(x, y) == ink;
    return n;
  }
  ScopedPixelFormat layout{kfDirect555};
  CDib d;
  const PIXEL white = ColorValue(255, 255, 255), ink = ColorValue(0, 0, 0);
};

TEST_F(WideLine, StraightLinesAreExactlyTheirWidthWithRoundedEnds) {
  DrawWideLine(&d, 20, 25, 20, 5, 3, ink);
  for (int y = 5; y <= 25; y++) {
    EXPECT_EQ(d.GetPixel(18, y), white);
    EXPECT_EQ(d.GetPixel(19, y), ink);
    EXPECT_EQ(d.GetPixel(20, y), ink);
    EXPECT_EQ(d.GetPixel(21, y), ink);
    EXPECT_EQ(d.GetPixel(22, y), white);
  }
  // Each end is capped one pixel beyond, 3 wide: (19..21, 4) and (19..21, 26).
  EXPECT_EQ(Count(), 21 * 3 + 2 * 3);
  EXPECT_EQ(d.GetPixel(20, 3), white);

  d.Clear(white);
  DrawWideLine(&d, 5, 10, 30, 10, 1, ink);
  EXPECT_EQ(Count(), 26);
}

TEST_F(WideLine, SlantedLineKeepsItsWidthAcrossTheStroke) {
  DrawWideLine(&d, 5, 25, 25, 5, 3, ink);
  // Across a 45-degree stroke the covered run in a row is 2..5 pixels and
  // the run is centred on the ideal line x + y = 30.
  for (int y = 8; y <= 22; y++) {
    int first = -1, last = -1;
    for (int x = 0; x < d.W; x++)
      if (d.GetPixel(x, y) == ink) {
        if (first < 0) first = x;
        last = x;
      }
    ASSERT_GE(first, 0) << y;
    EXPECT_GE(last - first + 1, 3) << y;
    EXPECT_LE(last - first + 1, 5) << y;
    EXPECT_NEAR((first + last) / 2.0, 30 - y, 0.5) << y;
  }
}

TEST_F(WideLine, ClipsToTheSurfaceAndDrawsADotForAPoint) {
  DrawWideLine(&d, -100, 15, 1000, 15, 3, ink);
  EXPECT_EQ(Count(), 40 * 3);
  d.Clear(white);
  DrawWideLine(&d, -5, -5, -2, -2, 3, ink);
  EXPECT_EQ(Count(), 0);
  DrawWideLine(&d, 0, 0, 0, 0, 3, ink);
  EXPECT_EQ(Count(), 4);  // the 3x3 dot's quarter inside the surface
  d.Clear(white);
  DrawWideLine(&d, 10, 10, 10, 10, 3, ink);
  EXPECT_EQ(Count(), 9);
  CDib empty;
  DrawWideLine(&empty, 0, 0, 10, 10, 3, ink);  // no pixels: nothing happens
}

// Golden screens of sessions ------------------------------------------------------------

TEST_F(TunerScreen, GoldenInitialising) {
  audio.AddTone(440, 60, 1);
  TunerReading r = Frames(1);
  EXPECT_STREQ(r.Status, "Initialising");
  EXPECT_TRUE(MatchesGolden(screen, "tuner-initialising"));
}

TEST_F(TunerScreen, GoldenSteadyA440) {
  audio.AddTone(440, 60, 20);
  TunerReading r = FillAndEstimate();
  r = Frames(3);
  ASSERT_TRUE(r.Valid);
  // The three-point centroid reads a pure 440 Hz tone 0.009 Hz low.
  EXPECT_STREQ(r.Status, "439.99 Hz");
  EXPECT_STREQ(r.Name, "A ");
  EXPECT_EQ(r.Angle, 0);
  EXPECT_FALSE(r.SharpLit || r.FlatLit);
  EXPECT_TRUE(MatchesGolden(screen, "tuner-a440"));
}

TEST_F(TunerScreen, GoldenCTwentyCentsFlat) {
  const double c4 = 440.0 * std::pow(2.0, -9 / 12.0);
  audio.AddTone(c4 * std::pow(2.0, -20 / 1200.0), 60, 20);
  FillAndEstimate();
  TunerReading r = Frames(3);
  ASSERT_TRUE(r.Valid);
  EXPECT_STREQ(r.Name, "C ");
  EXPECT_EQ(r.Cents, -20);
  EXPECT_EQ(r.Angle, -45);
  EXPECT_TRUE(r.FlatLit);
  EXPECT_TRUE(MatchesGolden(screen, "tuner-c-flat"));
}

TEST_F(TunerScreen, GoldenWaitingForSignalAfterTheNoteStops) {
  audio.AddTone(440, 60, 12);
  audio.AddSilence(8);
  Frames(12);
  TunerReading r = Frames(2);
  EXPECT_FALSE(r.Valid);
  EXPECT_STREQ(r.Status, "Waiting for Signal");
  EXPECT_TRUE(MatchesGolden(screen, "tuner-waiting"));
}

TEST_F(TunerScreen, GoldenAdjustModeShowsTheAdjustment) {
  MeterAdjust = 10;
  AdjustMode = 1;
  audio.AddTone(440, 60, 20);
  FillAndEstimate();
  TunerReading r = Frames(3);
  ASSERT_TRUE(r.Valid);
  EXPECT_STREQ(r.Status, "Adjust: 10");
  EXPECT_NEAR(r.Frequency, 444.4, 0.1);
  EXPECT_TRUE(MatchesGolden(screen, "tuner-adjust"));
}

#if ZELVARO_POCKET
TEST_F(TunerScreen, GoldenSquareScreenA440) {
  SquareScreen = 1;
  Load();
  ASSERT_EQ(Meter.H, 240);
  EXPECT_EQ(buttons.NoButtons, 0);
  audio.AddTone(440, 60, 20);
  FillAndEstimate();
  TunerReading r = Frames(3);
  ASSERT_TRUE(r.Valid);
  EXPECT_TRUE(MatchesGolden(screen, "tuner-square-a440"));
}
#endif

}  // namespace

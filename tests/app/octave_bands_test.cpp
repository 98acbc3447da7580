// The octave-band spectrum view: which band is red, when the marker shows,
// bar heights from band power in dB with the meter adjustment, and the
// pocket's square-screen geometry.
#include <gtest/gtest.h>

#include <cmath>

#include "support/pixel_format.h"
#include "support/tuner_globals.h"
#include "tuner/analysis.h"
#include "tuner/app.h"

namespace {

using testing_support::ScopedPixelFormat;

constexpr double kFullScale = 32767.0 * 32767.0;

void DrawView(CDib* dib, float notefreq, const char* name) {
#if ZELVARO_POCKET
  DrawSpectrumAnalyser2(dib, notefreq, name);
#else
  DrawSpectrumAnalyser2(dib, notefreq, name, 0);
#endif
}

// Bins of band j (the integer frequency of bin k is k * 8000 / 4096).
bool InBand(int k, int j) {
  static const int bands[8][2] = {{32, 64},   {65, 109},   {110, 219},   {220, 439},
                                  {440, 879}, {880, 1759}, {1760, 3519}, {3520, 7040}};
  int f = k * 8000 / 4096;
  return bands[j][0] <= f && f < bands[j][1];
}

class SpectrumView : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::ResetTunerGlobals();
    InitButtons();
    ASSERT_EQ(calc_init(kWindowSize), 0);
    ASSERT_EQ(d.Create(240, 320), 1);
    d.Clear(white);
  }
  void TearDown() override {
    calc_end();
    testing_support::ResetTunerGlobals();
  }
  // Every bin of band j gets `power`.
  void SetBand(int j, double power) {
    for (int k = 0; k < kWindowSize / 2; k++)
      if (InBand(k, j)) outbuf[k] = power;
  }
  void SetAll(double power) {
    for (int j = 0; j < 8; j++) SetBand(j, power);
  }
  // Rows from the baseline up in band j's column that hold `colour`.
  int BarRows(int j, PIXEL colour, int baseline = 258) const {
    int rows = 0;
    for (int y = baseline; y >= 0 && d.GetPixel(30 + 25 * j, y) == colour; y--) rows++;
    if (rows == 0)
      for (int y = baseline - 1; y >= 0 && d.GetPixel(30 + 25 * j, y) == colour; y--) rows++;
    return rows;
  }
  bool MarkerBoxAt(int j, int baseline = 258, int maxBar = 60) const {
    int x0 = 25 * j + 12;
    return d.GetPixel(x0 + 5, baseline - maxBar - 18) == black &&
           d.GetPixel(x0 + 35, baseline - maxBar - 5) == black;
  }
  int InkInMarkerRow() const {
    int n = 0;
    for (int x = 0; x < 240; x++) n += d.GetPixel(x, 258 - 60 - 18) == black;
    return n;
  }

  ScopedPixelFormat layout{kPocket ? kfDirect565 : kfDirect555};
  CDib d;
  const PIXEL white = ColorValue(255, 255, 255), black = ColorValue(0, 0, 0);
  const PIXEL red = ColorValue(255, 0, 0), green = ColorValue(0, 255, 0);
};

TEST_F(SpectrumView, NothingIsDrawnBeforeTheFirstEstimate) {
  calc_end();
  DrawView(&d, 440.0f, "A ");
  for (int y = 0; y < d.H; y++)
    for (int x = 0; x < d.W; x++) ASSERT_EQ(d.GetPixel(x, y), white);
}

TEST_F(SpectrumView, NoReadingDrawsAllBarsGreenWithoutAMarker) {
  SetAll(kFullScale);
  DrawView(&d, 0.0f, nullptr);
  for (int j = 0; j < 8; j++) {
    EXPECT_EQ(BarRows(j, green), 41) << j;
    EXPECT_FALSE(MarkerBoxAt(j)) << j;
  }
  EXPECT_EQ(InkInMarkerRow(), 0);
}

TEST_F(SpectrumView, BandHoldingTheNoteIsRedAndMarked) {
  SetAll(kFullScale);
  DrawView(&d, 440.0f, "A ");
  for (int j = 0; j < 8; j++) EXPECT_EQ(BarRows(j, j == 4 ? red : green), 41) << j;
  EXPECT_TRUE(MarkerBoxAt(4));
  // The cap over the bar, the stem up to the box, and the label inside it.
  const int h = 42, x0 = 25 * 4 + 12;
  EXPECT_EQ(d.GetPixel(120, 258 - h - 2), black);
  EXPECT_EQ(d.GetPixel(141, 258 - h - 2), black);
  EXPECT_EQ(d.GetPixel(x0 + 20, 258 - 60 - 4), black);
  int label = 0;
  for (int y = 258 - 60 - 17; y < 258 - 60 - 5; y++)
    for (int x = x0 + 6; x < x0 + 35; x++) label += d.GetPixel(x, y) == black;
  EXPECT_GT(label, 10);
}

TEST_F(SpectrumView, BandEdgesDecideTheRedBandAndTheMarker) {
  struct Case {
    float notefreq;
    int red;  // -1: none
    bool marker;
  } cases[] = {
      {440.0f, 4, true},  {415.3f, 3, true},   {439.0f, -1, false}, {439.5f, -1, false},
      {64.5f, -1, false}, {65.4f, 1, true},    {32.0f, 0, true},    {31.9f, -1, false},
      {3999.9f, 7, true}, {4000.0f, 7, false}, {4186.0f, 7, false}, {7040.0f, -1, false},
  };
  for (const Case& c : cases) {
    d.Clear(white);
    SetAll(kFullScale);
    DrawView(&d, c.notefreq, "A ");
    for (int j = 0; j < 8; j++)
      EXPECT_EQ(BarRows(j, j == c.red ? red : green), 41) << c.notefreq << " band " << j;
    if (c.red >= 0) {
      EXPECT_EQ(MarkerBoxAt(c.red), c.marker) << c.notefreq;
    }
    if (!c.marker) {
      EXPECT_EQ(InkInMarkerRow(), 0) << c.notefreq;
    }
  }
}

TEST_F(SpectrumView, BarHeightFollowsBandPowerInDecibels) {
  SetBand(0, kFullScale);         // -30 dB: trunc(70 * 0.6) = 42, 41 rows
  SetBand(1, kFullScale * 10);    // -20 dB: 48
  SetBand(2, kFullScale * 1000);  //   0 dB: 60, the tallest
  SetBand(3, kFullScale * 1e6);   // above 0 dB: held at 60
  SetBand(4, kFullScale * 1e-7);  // -100 dB and below: no bar
  SetBand(5, 0);
  // Band 6 has twice the power in half its bins: the mean counts every bin.
  bool odd = false;
  for (int k = 0; k < kWindowSize / 2; k++)
    if (InBand(k, 6)) outbuf[k] = (odd = !odd) ? 2 * kFullScale : 0;
  DrawView(&d, 0.0f, nullptr);
  EXPECT_EQ(BarRows(0, green), 41);
  EXPECT_EQ(BarRows(1, green), 47);
  EXPECT_EQ(BarRows(2, green), 59);
  EXPECT_EQ(BarRows(3, green), 59);
  EXPECT_EQ(BarRows(4, green), 0);
  EXPECT_EQ(BarRows(5, green), 0);
  EXPECT_NEAR(BarRows(6, green), 41, 1);
  // Bars are 22 pixels wide and stand on the row above the baseline.
  EXPECT_EQ(d.GetPixel(20, 257), green);
  EXPECT_EQ(d.GetPixel(41, 257), green);
  EXPECT_EQ(d.GetPixel(42, 257), white);
  EXPECT_EQ(d.GetPixel(19, 257), white);
  EXPECT_EQ(d.GetPixel(30, 258), white);
}

TEST_F(SpectrumView, MeterAdjustmentScalesTheBandEnergy) {
  // Band 0 at -32 dB (40.8 pixels), band 1 at -33 dB (40.2). +10% adds
  // 0.41 dB, lifting band 0 to 41; -10% takes 0.46 dB off, dropping band 1
  // to 39.
  SetBand(0, kFullScale * std::pow(10.0, -0.2));
  SetBand(1, kFullScale * std::pow(10.0, -0.3));
  DrawView(&d, 0.0f, nullptr);
  EXPECT_EQ(BarRows(0, green), 39);
  EXPECT_EQ(BarRows(1, green), 39);
  MeterAdjust = 100;
  d.Clear(white);
  DrawView(&d, 0.0f, nullptr);
  EXPECT_EQ(BarRows(0, green), 40);
  EXPECT_EQ(BarRows(1, green), 39);
  MeterAdjust = -100;
  d.Clear(white);
  DrawView(&d, 0.0f, nullptr);
  EXPECT_EQ(BarRows(0, green), 39);
  EXPECT_EQ(BarRows(1, green), 38);
}

#if ZELVARO_POCKET
TEST_F(SpectrumView, SquareScreenViewIsLowerAndFlatter) {
  SquareScreen = 1;
  SetAll(kFullScale);
  DrawView(&d, 440.0f, "A ");
  // -30 dB on a 30-pixel scale: trunc(70 * 0.3) = 21, 20 rows over y = 219.
  EXPECT_EQ(BarRows(4, red, 219), 20);
  EXPECT_EQ(BarRows(0, green, 219), 20);
  EXPECT_TRUE(MarkerBoxAt(4, 219, 30));
  EXPECT_EQ(d.GetPixel(30, 257), white);
}
#endif

}  // namespace

// CDib: storage, pixels, fills, lines, copies and their clipping, the alpha
// plane; AnimObject and GDIDib.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "common_code/dib.h"
#include "common_code/xdib.h"
#include "support/alerts.h"
#include "support/pixel_format.h"

namespace {

using testing_support::AlertRecorder;
using testing_support::ScopedPixelFormat;

class Surface : public ::testing::Test {
 protected:
  ScopedPixelFormat layout{kfDirect555};

  // A w x h surface whose pixel (x, y) is x + 16 * y (never 0 for y > 0 or x > 0).
  static void Numbered(CDib& d, int w, int h) {
    ASSERT_EQ(d.Create(w, h), 1);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) d.SetPixel(x, y, x + 16 * y);
  }
  static std::vector<PIXEL> Pixels(const CDib& d) {
    return std::vector<PIXEL>(d.m_Bits, d.m_Bits + static_cast<size_t>(d.W) * d.H);
  }
  // The pixels set to `c`, as (x, y) pairs in row order.
  static std::vector<std::pair<int, int>> Inked(const CDib& d, PIXEL c) {
    std::vector<std::pair<int, int>> out;
    for (int y = 0; y < d.H; y++)
      for (int x = 0; x < d.W; x++)
        if (d.GetPixel(x, y) == c) out.push_back({x, y});
    return out;
  }
};

using Points = std::vector<std::pair<int, int>>;

// Storage -----------------------------------------------------------------------

TEST_F(Surface, NewSurfaceIsEmptyWithDefaultFields) {
  int before = DibCount;
  {
    CDib d;
    EXPECT_EQ(DibCount, before + 1);
    EXPECT_EQ(d.m_Bits, nullptr);
    EXPECT_EQ(d.W, 0);
    EXPECT_EQ(d.H, 0);
    EXPECT_EQ(d.TransparentColor, 0);
    EXPECT_EQ(d.Opacity, 255);
    EXPECT_EQ(d.ZBuffer, nullptr);
    EXPECT_EQ(d.bUpdateZBuffer, 1);
  }
  EXPECT_EQ(DibCount, before);
}

TEST_F(Surface, CreateRefusesEmptySizesAndKeepsTheOldPixels) {
  CDib d;
  Numbered(d, 4, 3);
  EXPECT_EQ(d.Create(0, 5), 0);
  EXPECT_EQ(d.Create(5, 0), 0);
  EXPECT_EQ(d.Create(-1, 5), 0);
  EXPECT_EQ(d.W, 4);
  EXPECT_EQ(d.H, 3);
  EXPECT_EQ(d.GetPixel(3, 2), 3 + 32);
#if !ZELVARO_POCKET
  EXPECT_EQ(d.m_Info.bmiHeader.biHeight, -3);  // top row first
  EXPECT_EQ(d.m_Info.bmiHeader.biBitCount, 16);
  EXPECT_EQ(d.m_Info.bmiHeader.biSizeImage, 4u * 3 * 2);
#endif
}

TEST_F(Surface, FailedAllocationLeavesAnEmptySurfaceAndTellsOnTheDesk) {
  AlertRecorder alerts;
  CDib d;
  Numbered(d, 2, 2);
  EXPECT_EQ(d.Create(std::numeric_limits<int>::max(), std::numeric_limits<int>::max()), 0);
  EXPECT_EQ(d.m_Bits, nullptr);
  EXPECT_EQ(d.W, 0);
  EXPECT_EQ(d.H, 0);
  if (kPocket) {
    EXPECT_TRUE(alerts.Alerts.empty());
  } else {
    ASSERT_EQ(alerts.Alerts.size(), 1u);
    EXPECT_EQ(alerts.Alerts[0].first, "CDib::Create Failed");
    EXPECT_EQ(alerts.Alerts[0].second, "m_Bitmap = NULL");
  }
}

TEST_F(Surface, DestroyReleasesPixelsAndAlphaPlane) {
  CDib d;
  Numbered(d, 3, 3);
  ASSERT_EQ(d.InitZBuffer(), 1);
  EXPECT_EQ(d.Destroy(), 1);
  EXPECT_EQ(d.m_Bits, nullptr);
  EXPECT_EQ(d.ZBuffer, nullptr);
  EXPECT_EQ(d.W, 0);
  // A larger surface made later never sees a plane sized for the old one.
  ASSERT_EQ(d.InitZBuffer(), 0);
  Numbered(d, 50, 50);
  EXPECT_EQ(d.CheckZBuffer(49, 49), 0);
}

// Pixels and fills --------------------------------------------------------------

TEST_F(Surface, PointsOutsideAreIgnored) {
  CDib d;
  Numbered(d, 4, 4);
  std::vector<PIXEL> before = Pixels(d);
  for (auto [x, y] :
       Points{{-1, 0}, {0, -1}, {4, 0}, {0, 4}, {std::numeric_limits<int>::min(), 2}}) {
    d.SetPixel(x, y, 0x7FFF);
    d.SetAlphaPixel(x, y, 0x7FFF, 255);
    d.SetAlphaPixel(x, y, 0x7FFF, 10);
    EXPECT_EQ(d.GetPixel(x, y), 0);
  }
  EXPECT_EQ(Pixels(d), before);
}

TEST_F(Surface, AlphaPixelWritesAtFullWeightAndBlendsOtherwise) {
  CDib d;
  ASSERT_EQ(d.Create(2, 1), 1);
  d.Clear(0);
  unsigned short white = ColorValue(255, 255, 255);
  d.SetAlphaPixel(0, 0, white, 255);
  d.SetAlphaPixel(1, 0, white, 128);
  EXPECT_EQ(d.GetPixel(0, 0), white);
  EXPECT_EQ(d.GetPixel(1, 0), ColorOnColor(0, white, 128));
}

TEST_F(Surface, FillIsClippedAndExcludesRightAndBottomEdges) {
  CDib d;
  ASSERT_EQ(d.Create(5, 4), 1);
  d.Clear(0);
  d.Fill(-3, -3, 2, 2, 9);
  d.Fill(3, 2, 100, 100, 7);
  EXPECT_EQ(Inked(d, 9), (Points{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
  EXPECT_EQ(Inked(d, 7), (Points{{3, 2}, {4, 2}, {3, 3}, {4, 3}}));
  d.Fill(3, 0, 3, 4, 5);  // x2 == x1
  d.Fill(4, 0, 1, 4, 5);  // x2 < x1
  d.Fill(0, 3, 5, 1, 5);  // y2 < y1
  EXPECT_TRUE(Inked(d, 5).empty());
}

TEST_F(Surface, Fill2BlendsAndStaysInsideTheSurface) {
  CDib d;
  ASSERT_EQ(d.Create(3, 3), 1);
  d.Clear(0);
  unsigned short white = ColorValue(255, 255, 255);
  d.Fill2(-100, -100, 2, 100, white, 64);
  PIXEL quarter = ColorOnColor(0, white, 64);
  EXPECT_EQ(Inked(d, quarter), (Points{{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 2}, {1, 2}}));
  EXPECT_EQ(d.GetPixel(2, 1), 0);
}

TEST_F(Surface, DarkenModesFollowTheRowWeights) {
  CDib d;
  ASSERT_EQ(d.Create(1, 4), 1);
  unsigned short white = ColorValue(255, 255, 255);
  // Four rows: weights c = (r - 1) * 255 / 4 for r = 4..1 are 191, 127, 63, 0.
  auto channel2 = [](int v, int c) {
    int t = v * c + 128;
    return (t + (t >> 8)) >> 8;
  };
  auto grey = [](int v) { return static_cast<PIXEL>((v << 10) | (v << 5) | v); };
  const int weights[4] = {191, 127, 63, 0};

  d.Clear(white);
  d.Darken(0, 0, 1, 4, 2);
  for (int y = 0; y < 4; y++) EXPECT_EQ(d.GetPixel(0, y), grey(channel2(31, weights[y]))) << y;
  EXPECT_EQ(d.GetPixel(0, 3), 0);  // black at the bottom row

  d.Clear(white);
  d.Darken(0, 0, 1, 4, 1);
  for (int y = 0; y < 4; y++) {
    int t = -31 * weights[y] + 128;
    EXPECT_EQ(d.GetPixel(0, y), grey(31 + ((t + (t >> 8)) >> 8))) << y;
  }
  EXPECT_EQ(d.GetPixel(0, 3), white);  // unchanged at the bottom row

  d.Clear(white);
  d.Darken(0, 0, 1, 4, 0);
  EXPECT_EQ(d.GetPixel(0, 2), ColorOnColor(white, 0, 64));
  d.Clear(white);
  d.Darken(0, 0, 1, 4, 7);  // unknown mode
  EXPECT_EQ(d.GetPixel(0, 0), white);
}

TEST_F(Surface, DarkenClippedKeepsTheWeightsOfTheWholeRectangle) {
  // The same rectangle darkened on a surface that holds it whole and on one
  // that cuts it at every edge gives the same pixels where both exist.
  CDib whole, cut;
  ASSERT_EQ(whole.Create(20, 20), 1);
  ASSERT_EQ(cut.Create(10, 10), 1);
  unsigned short c = ColorValue(200, 150, 100);
  for (int mode = 0; mode <= 2; mode++) {
    whole.Clear(c);
    cut.Clear(c);
    whole.Darken(2, 3, 18, 17, static_cast<unsigned char>(mode));
    cut.Darken(-3, -2, 13, 12, static_cast<unsigned char>(mode));  // offset by (5, 5)
    for (int y = 0; y < 10; y++)
      for (int x = 0; x < 10; x++)
        ASSERT_EQ(cut.GetPixel(x, y), whole.GetPixel(x + 5, y + 5)) << mode << " " << x << "," << y;
  }
}

TEST_F(Surface, GradientsStepByRowAndColumn) {
  CDib d;
  ASSERT_EQ(d.Create(4, 5), 1);
  unsigned short a = ColorValue(0, 0, 255), b = ColorValue(255, 255, 0);
  d.VGradient(a, b);
  for (int y = 0; y < 5; y++) {
    EXPECT_EQ(d.GetPixel(0, y), ColorOnColor(a, b, y * 255 / 5));
    EXPECT_EQ(d.GetPixel(3, y), d.GetPixel(0, y));
  }
  d.HGradient(a, b);
  for (int x = 0; x < 4; x++) EXPECT_EQ(d.GetPixel(x, 4), ColorOnColor(a, b, x * 255 / 4));
}

// Lines ----------------------------------------------------------------------------

TEST_F(Surface, LinesAndBoxesSetExactlyTheirPixels) {
  CDib d;
  ASSERT_EQ(d.Create(6, 5), 1);
  d.Clear(0);
  d.Box(0, 0, 0, 0, 3);
  EXPECT_EQ(Inked(d, 3), (Points{{0, 0}}));

  d.Clear(0);
  d.Box(1, 1, 4, 3, 3);  // all four corners included
  EXPECT_EQ(
      Inked(d, 3),
      (Points{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {1, 2}, {4, 2}, {1, 3}, {2, 3}, {3, 3}, {4, 3}}));

  d.Clear(0);
  d.hLine(-2, 4, 4, 5);
  d.vLine(5, -10, 12, 5);
  d.hLine(0, 7, 100, 5);  // below the surface
  EXPECT_EQ(Inked(d, 5), (Points{{5, 0}, {5, 1}, {0, 4}, {1, 4}}));
}

TEST_F(Surface, LineLeavesOutItsEndPoint) {
  CDib d;
  ASSERT_EQ(d.Create(8, 8), 1);
  d.Clear(0);
  d.Line(0, 0, 3, 0, 1);
  EXPECT_EQ(Inked(d, 1), (Points{{0, 0}, {1, 0}, {2, 0}}));

  d.Clear(0);
  d.Line(4, 4, 4.9f, 4.9f, 1);  // fewer than one step
  EXPECT_TRUE(Inked(d, 1).empty());

  // Drawn from the upper end whichever end comes first.
  d.Clear(0);
  d.Line(3, 3, 0, 0, 1);
  EXPECT_EQ(Inked(d, 1), (Points{{0, 0}, {1, 1}, {2, 2}}));
  d.Clear(0);
  d.Line(0, 0, 3, 3, 1);
  EXPECT_EQ(Inked(d, 1), (Points{{0, 0}, {1, 1}, {2, 2}}));

  // Steps along the longer axis, the other coordinate truncated.
  d.Clear(0);
  d.Line(0, 0, 4, 2, 1);
  EXPECT_EQ(Inked(d, 1), (Points{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
}

TEST_F(Surface, LinesFromFarOutsideAreClippedOrSkipped) {
  CDib d;
  ASSERT_EQ(d.Create(8, 8), 1);
  d.Clear(0);
  d.Line(-4, 2, 4, 2, 1);  // enters from the left
  EXPECT_EQ(Inked(d, 1), (Points{{0, 2}, {1, 2}, {2, 2}, {3, 2}}));
  d.Clear(0);
  const float inf = std::numeric_limits<float>::infinity();
  d.Line(0, 0, inf, 3, 1);
  d.Line(std::nanf(""), 0, 3, 3, 1);
  d.Line(-1e30f, -1e30f, 1e30f, 1e30f, 1);
  d.Line(1e9f, 1e9f, 1e9f + 100, 1e9f, 1);
  EXPECT_TRUE(Inked(d, 1).empty());
}

// Copies ---------------------------------------------------------------------------

TEST_F(Surface, BitBltClipsAgainstTheDestination) {
  CDib src, dst;
  Numbered(src, 10, 2);
  ASSERT_EQ(dst.Create(10, 2), 1);
  dst.Clear(0xFFF);
  // x = -5: 5 columns from source column 5 land at destination column 0.
  EXPECT_EQ(dst.BitBlt(-5, 0, 10, 1, &src, 0, 0, 0), 1);
  for (int x = 0; x < 5; x++) EXPECT_EQ(dst.GetPixel(x, 0), 5 + x);
  EXPECT_EQ(dst.GetPixel(5, 0), 0xFFF);
  // Past the right edge: shortened.
  EXPECT_EQ(dst.BitBlt(8, 1, 10, 1, &src, 0, 1, 0), 1);
  EXPECT_EQ(dst.GetPixel(8, 1), 16);
  EXPECT_EQ(dst.GetPixel(9, 1), 17);
  // Nothing left: 0.
  EXPECT_EQ(dst.BitBlt(10, 0, 5, 1, &src, 0, 0, 0), 0);
  EXPECT_EQ(dst.BitBlt(0, -2, 5, 2, &src, 0, 0, 0), 0);
  EXPECT_EQ(dst.BitBlt(0, 0, 0, 2, &src, 0, 0, 0), 0);
  CDib empty;
  EXPECT_EQ(dst.BitBlt(0, 0, 2, 2, &empty, 0, 0, 0), 0);
  EXPECT_EQ(empty.BitBlt(0, 0, 2, 2, &src, 0, 0, 0), 0);
  EXPECT_EQ(dst.BitBlt(0, 0, 2, 2, nullptr, 0, 0, 0), 0);
}

TEST_F(Surface, BitBltNeverReadsOutsideTheSource) {
  CDib src, dst, reference;
  Numbered(src, 4, 4);
  ASSERT_EQ(dst.Create(8, 8), 1);
  dst.Clear(0xFFF);
  // A block hanging off every side of the source: only its part inside the
  // source arrives, each pixel where the unclipped copy would have put it.
  EXPECT_EQ(dst.BitBlt(2, 2, 8, 8, &src, -2, -1, 0), 1);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) {
      int sx = x - 2 - 2, sy = y - 2 - 1;
      PIXEL want = (sx >= 0 && sx < 4 && sy >= 0 && sy < 4) ? sx + 16 * sy : 0xFFF;
      ASSERT_EQ(dst.GetPixel(x, y), want) << x << "," << y;
    }
  EXPECT_EQ(dst.BitBlt(0, 0, 4, 4, &src, 4, 0, 0), 0);
  EXPECT_EQ(dst.BitBlt(0, 0, 4, 4, &src, 0, -4, 0), 0);
  EXPECT_EQ(dst.BitBlt(0, 0, 4, 4, &src, std::numeric_limits<int>::max(), 0, 0), 0);
}

TEST_F(Surface, TransparentAndSilhouetteModesNeverWriteTheTransparentColour) {
  CDib src, dst;
  Numbered(src, 4, 4);  // pixel (0, 0) is 0
  src.SetTransparentColor(src.GetPixel(1, 1));
  PIXEL t = src.TransparentColor;
  ASSERT_EQ(dst.Create(4, 4), 1);

  dst.Clear(0x1F);
  dst.BitBlt(0, 0, 4, 4, &src, 0, 0, 1);
  EXPECT_EQ(dst.GetPixel(1, 1), 0x1F);
  EXPECT_TRUE(Inked(dst, t).empty());
  EXPECT_EQ(dst.GetPixel(2, 1), src.GetPixel(2, 1));

  dst.Clear(0x1F);
  dst.PaintColor = 0x7C00;
  dst.BitBlt(0, 0, 4, 4, &src, 0, 0, 8);
  EXPECT_EQ(dst.GetPixel(1, 1), 0x1F);
  EXPECT_EQ(Inked(dst, 0x7C00).size(), 15u);
  EXPECT_EQ(dst.GetPixel(2, 1), 0x7C00);
}

TEST_F(Surface, TransparentCopySkipsExactlyTheTransparentPixelsOfLongRuns) {
  // Runs of every length up to 40, whole rows and parts of rows.
  for (int w = 1; w <= 40; w++) {
    CDib src, dst;
    ASSERT_EQ(src.Create(w, 2), 1);
    ASSERT_EQ(dst.Create(w, 2), 1);
    for (int x = 0; x < w; x++) {
      src.SetPixel(x, 0, (x * 5) % 3 == 0 ? 0x1111 : x + 1);
      src.SetPixel(x, 1, x % 7 == 0 ? 0x1111 : x + 100);
    }
    src.SetTransparentColor(0x1111);
    dst.Clear(0x2222);
    dst.BitBlt(0, 0, w, 2, &src, 0, 0, 1);
    dst.BitBlt(1, 1, w, 1, &src, 0, 0, 1);  // part of a row, one pixel shorter
    for (int x = 0; x < w; x++) {
      PIXEL top = src.GetPixel(x, 0);
      ASSERT_EQ(dst.GetPixel(x, 0), top == 0x1111 ? 0x2222 : top) << w << " " << x;
    }
    for (int x = 1; x < w; x++) {
      PIXEL s = src.GetPixel(x - 1, 0),
            under = src.GetPixel(x, 1) == 0x1111 ? 0x2222 : src.GetPixel(x, 1);
      ASSERT_EQ(dst.GetPixel(x, 1), s == 0x1111 ? under : s) << w << " " << x;
    }
  }
}

TEST_F(Surface, MemoryCopyModes) {
  CDib d;
  unsigned short white = ColorValue(255, 255, 255), red = ColorValue(255, 0, 0),
                 blue = ColorValue(0, 0, 255);
  const unsigned short src[3] = {red, white, blue};  // white is transparent
  auto run = [&](int mode) {
    unsigned short dst[3] = {blue, blue, blue};
    d.PaintColor = 0x1234;
    d.MemoryCopy(dst, src, 3, mode, white, 100);
    return std::vector<unsigned short>(dst, dst + 3);
  };
  using V = std::vector<unsigned short>;
  EXPECT_EQ(run(0), (V{red, white, blue}));
  EXPECT_EQ(run(1), (V{red, blue, blue}));
  EXPECT_EQ(run(2), (V{ColorOnColor(blue, red, 100), ColorOnColor(blue, white, 100), blue}));
  EXPECT_EQ(run(3), (V{ColorOnColor(blue, red, 100), blue, blue}));
  EXPECT_EQ(run(4), (V{ColorOnColorScreen(blue, red, 100), ColorOnColorScreen(blue, white, 100),
                       ColorOnColorScreen(blue, blue, 100)}));
  EXPECT_EQ(run(5),
            (V{ColorOnColorScreen(blue, red, 100), blue, ColorOnColorScreen(blue, blue, 100)}));
  EXPECT_EQ(run(8), (V{0x1234, blue, 0x1234}));
  EXPECT_EQ(run(6), (V{blue, blue, blue}));
  EXPECT_EQ(run(9), (V{blue, blue, blue}));
}

TEST_F(Surface, BitBltAlphaUsesTheSourcePlane) {
  CDib src, dst;
  ASSERT_EQ(src.Create(2, 1), 1);
  ASSERT_EQ(dst.Create(2, 1), 1);
  unsigned short white = ColorValue(255, 255, 255);
  src.Clear(white);
  dst.Clear(0);
  EXPECT_EQ(dst.BitBltAlpha(0, 0, 2, 1, &src, 0, 0), 0);  // no plane: nothing drawn
  EXPECT_EQ(dst.GetPixel(0, 0), 0);
  ASSERT_EQ(src.InitZBuffer(), 1);
  src.ZBuffer[0] = 255;
  src.ZBuffer[1] = 100;
  EXPECT_EQ(dst.BitBltAlpha(-1, 0, 3, 1, &src, 0, 0), 1);  // clipped: only source pixel 1
  EXPECT_EQ(dst.GetPixel(0, 0), ColorOnColor(0, white, 100));
  EXPECT_EQ(dst.GetPixel(1, 0), 0);
}

TEST_F(Surface, StretchBltScalesByNearestPixelAndClipsWithoutRescaling) {
  CDib src, dst;
  Numbered(src, 2, 2);
  ASSERT_EQ(dst.Create(4, 4), 1);
  EXPECT_EQ(dst.StretchBlt(&src, 0, 0, 4, 4, 0), 1);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ(dst.GetPixel(x, y), (x / 2) + 16 * (y / 2));

  CDib big, whole;
  Numbered(big, 7, 5);
  ASSERT_EQ(whole.Create(20, 20), 1);
  whole.Clear(0);
  whole.StretchBlt(&big, 3, 4, 13, 9, 0);
  dst.Clear(0);
  CDib cut;
  ASSERT_EQ(cut.Create(6, 6), 1);
  cut.Clear(0);
  cut.StretchBlt(&big, -7, -6, 13, 9, 0);  // the same rectangle seen from (10, 10)
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 6; x++) ASSERT_EQ(cut.GetPixel(x, y), whole.GetPixel(x + 10, y + 10));
  EXPECT_EQ(cut.StretchBlt(&big, 6, 0, 5, 5, 0), 0);
  EXPECT_EQ(cut.StretchBlt(&big, 0, 0, 0, 5, 0), 0);
}

TEST_F(Surface, CopyDibRecreatesAtTheSourceSize) {
  CDib src, dst;
  Numbered(src, 5, 3);
  ASSERT_EQ(dst.Create(2, 2), 1);
  EXPECT_EQ(CopyDib(&dst, &src), 1);
  EXPECT_EQ(dst.W, 5);
  EXPECT_EQ(dst.H, 3);
  EXPECT_EQ(Pixels(dst), Pixels(src));
  EXPECT_EQ(CopyDib(&dst, &dst), 1);
  CDib empty;
  EXPECT_EQ(CopyDib(&dst, &empty), 0);
  EXPECT_EQ(CopyDib(nullptr, &src), 0);
}

// Alpha plane ------------------------------------------------------------------------

TEST_F(Surface, AlphaPlaneLookups) {
  CDib d;
  Numbered(d, 3, 2);
  EXPECT_EQ(d.CheckZBuffer(1, 1), 0);  // no plane
  EXPECT_EQ(d.CheckZBuffer(-1, 0), 0);
  ASSERT_EQ(d.InitZBuffer(), 1);
  EXPECT_EQ(d.CheckZBuffer(2, 1), 0);  // zeroed
  d.ZBuffer[1 * 3 + 2] = 77;
  EXPECT_EQ(d.CheckZBuffer(2, 1), 77);
  for (auto [x, y] : Points{{-1, 0}, {3, 0}, {0, 2}, {0, -1}}) EXPECT_EQ(d.CheckZBuffer(x, y), 255);
  ASSERT_EQ(d.InitZBuffer(), 1);  // replaces with a fresh plane
  EXPECT_EQ(d.CheckZBuffer(2, 1), 0);
  d.DestroyZBuffer();
  EXPECT_EQ(d.ZBuffer, nullptr);
}

TEST_F(Surface, AlphaMaskComesFromTheLowerHalfsLuminance) {
  CDib d;
  ASSERT_EQ(d.Create(2, 4), 1);
  d.Clear(ColorValue(255, 0, 0));
  d.SetPixel(0, 2, ColorValue(255, 255, 255));
  d.SetPixel(1, 2, ColorValue(255, 0, 0));
  d.SetPixel(0, 3, ColorValue(0, 255, 0));
  d.SetPixel(1, 3, ColorValue(0, 0, 0));
  ASSERT_EQ(d.EnableAlphaMask(), 1);
  EXPECT_EQ(d.H, 2);
  EXPECT_EQ(d.CheckZBuffer(0, 0), static_cast<int>(0.299 * 248 + 0.587 * 248 + 0.114 * 248));
  EXPECT_EQ(d.CheckZBuffer(1, 0), static_cast<int>(0.299 * 248));
  EXPECT_EQ(d.CheckZBuffer(0, 1), static_cast<int>(0.587 * 248));
  EXPECT_EQ(d.CheckZBuffer(1, 1), 0);
  EXPECT_EQ(d.CheckZBuffer(0, 2), 255);  // the mask rows are no longer part of the surface

  CDib one;
  ASSERT_EQ(one.Create(3, 1), 1);
  EXPECT_EQ(one.EnableAlphaMask(), 0);
  EXPECT_EQ(one.H, 1);
}

TEST_F(Surface, BilinearSmoothsTheInteriorInPlace) {
  CDib d;
  ASSERT_EQ(d.Create(4, 3), 1);
  d.Clear(0);
  unsigned short white = ColorValue(255, 255, 255);
  d.SetPixel(1, 1, white);
  d.bilinear();
  // (1, 1): neighbours all black, own 248 -> (0 + 248) >> 1 = 124 -> 120 in 5 bits.
  EXPECT_EQ(d.GetPixel(1, 1), ColorValue(124, 124, 124));
  // (2, 1) sees the already smoothed (1, 1) on its left: (120 >> 2 + 0) >> 1 = 15.
  EXPECT_EQ(d.GetPixel(2, 1), ColorValue(15, 15, 15));
  EXPECT_EQ(d.GetPixel(0, 1), 0);  // the border is untouched
}

// AnimObject and GDIDib ----------------------------------------------------------------

TEST_F(Surface, AnimationStepsThroughItsFrames) {
  CDib sheet, dst;
  Numbered(sheet, 8, 2);
  ASSERT_EQ(dst.Create(2, 2), 1);
  AnimObject anim;
  anim.setmultipleframes(&sheet, 0, 0, 2, 2, 2, 0, 3, 2);  // frames at x = 0, 2, 4
  anim.setdib(&sheet);
  EXPECT_EQ(sheet.TransparentColor, 0);
  anim.SetTransparentColor(0x7FFF);
  EXPECT_EQ(sheet.TransparentColor, 0x7FFF);

  EXPECT_EQ(anim.draw(&dst, 0, 0, 2, 0), 1);
  EXPECT_EQ(dst.GetPixel(0, 0), 4);
  std::vector<int> seen;
  for (int i = 0; i < 7; i++) {
    anim.draw(&dst, 0, 0, -1, 0);
    seen.push_back(dst.GetPixel(0, 0));
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 2, 2, 4, 4, 0, 0}));
  EXPECT_EQ(anim.draw(&dst, 0, 0, 3, 0), 0);  // past the last frame

  anim.setmultipleframes(&sheet, 0, 0, 1, 1, 0, 0, 100, 0);
  EXPECT_EQ(anim.m_Frames, AnimObject::kMaxFrames);
}

TEST_F(Surface, GdiDibHoldsRgbValuesInPaddedRows) {
  GDIDib g;
  EXPECT_EQ(g.Create(0, 1), 0);
  ASSERT_EQ(g.Create(3, 2), 1);
  EXPECT_EQ(g.WidthBytes, 12);
  g.Clear(0x102030);
  g.SetPixel(2, 1, 0xFF8000);
  g.SetPixel(3, 0, 0xFFFFFF);  // outside: ignored
  EXPECT_EQ(g.GetPixel(0, 0), 0x102030u);
  EXPECT_EQ(g.GetPixel(2, 1), 0xFF8000u);
  EXPECT_EQ(g.GetPixel(5, 5), 0u);
  const unsigned char* p = g.m_Bits + 12 + 6;  // blue, green, red
  EXPECT_EQ(p[0], 0x00);
  EXPECT_EQ(p[1], 0x80);
  EXPECT_EQ(p[2], 0xFF);

  CDib d;
  ASSERT_EQ(d.Create(3, 3), 1);
  d.Clear(0);
  g.Copy(&d, 1, 2);  // only the top row of g fits, two of its pixels
  EXPECT_EQ(d.GetPixel(1, 2), ColorValue(0x10, 0x20, 0x30));
  EXPECT_EQ(d.GetPixel(2, 2), ColorValue(0x10, 0x20, 0x30));
  EXPECT_EQ(d.GetPixel(0, 2), 0);
  EXPECT_EQ(d.GetPixel(1, 1), 0);
}

}  // namespace

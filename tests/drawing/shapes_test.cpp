// Vector shapes: the tables, the shader's gradients and mask rules, the
// renderers and their clipping, VectorArray's transform and mask groups,
// DrawButton, and golden images of button faces.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "common_code/dib.h"
#include "common_code/shader.h"
#include "support/golden.h"
#include "support/pixel_format.h"

namespace {

using testing_support::MatchesGolden;
using testing_support::ScopedPixelFormat;

class Shapes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitSQRTables(); }
  ScopedPixelFormat layout{kfDirect555};

  static void Black(CDib& d, int w, int h) {
    ASSERT_EQ(d.Create(w, h), 1);
    d.Clear(0);
  }
  static Shader Solid(int r, int g, int b, int alpha) {
    Shader s;
    s.SetSolidColor(r, g, b, alpha);
    return s;
  }
  static int CountNonZero(const CDib& d) {
    int n = 0;
    for (int i = 0; i < d.W * d.H; i++) n += d.m_Bits[i] != 0;
    return n;
  }
  static bool SamePixels(const CDib& a, const CDib& b) {
    if (a.W != b.W || a.H != b.H) return false;
    for (int i = 0; i < a.W * a.H; i++)
      if (a.m_Bits[i] != b.m_Bits[i]) return false;
    return true;
  }
};

// Tables ---------------------------------------------------------------------------

TEST_F(Shapes, TablesHoldWholeDegreesAndIntegerDistances) {
  EXPECT_DOUBLE_EQ(SinTable[90], 1.0);
  EXPECT_NEAR(CosTable[90], 0.0, 1e-15);
  EXPECT_EQ(SqrTab[4 * kSqrTabSize + 3], 5);
  EXPECT_EQ(SqrTab[1 * kSqrTabSize + 1], 1);  // 1.414...
  EXPECT_EQ(SqrTab[319 * kSqrTabSize + 319], 451);
}

TEST_F(Shapes, DistancesBeyondTheTableAreComputedExactly) {
  EXPECT_EQ(SqrDistance(300, 400), 500);
  EXPECT_EQ(SqrDistance(-320, 0), 320);
  EXPECT_EQ(SqrDistance(2000000000, 2000000000), 2828427124);
  for (long long v : {320LL, 1000LL, 65535LL})
    EXPECT_EQ(SqrDistance(v, 1), v) << v;  // sqrt(v^2 + 1) rounds down to v
}

TEST_F(Shapes, PointsPackSixteenBitsEachAndHoldAtTheRangeEnds) {
  Point2D p = P2D(-3, 7);
  EXPECT_EQ(P2DX(p), -3);
  EXPECT_EQ(P2DY(p), 7);
  EXPECT_EQ(p, 0x0007FFFDu);
  Point2D far = P2D(40000, -40000);
  EXPECT_EQ(P2DX(far), 32767);
  EXPECT_EQ(P2DY(far), -32768);
}

// Shader ---------------------------------------------------------------------------

TEST_F(Shapes, LinearGradientRunsFromZeroAtTheStartTo255AtTheEndAndClamps) {
  Shader s;
  s.SetShaderPath(10, 0, 110, 0);
  EXPECT_EQ(s.rbd.dist, 1600);
  EXPECT_EQ(s.rbd.vec[0], 4080);
  EXPECT_EQ(s.rbd.vec[1], 0);
  EXPECT_EQ(s.GradientFactor(10, 5), 0);
  EXPECT_EQ(s.GradientFactor(60, 0), 127);  // 50 * 4080 / 1600 = 127.5
  EXPECT_EQ(s.GradientFactor(110, 0), 255);
  EXPECT_EQ(s.GradientFactor(500, 0), 255);
  EXPECT_EQ(s.GradientFactor(-500, 0), 0);
}

TEST_F(Shapes, MirroredRadialAndSquareGradientsFollowTheirDistances) {
  Shader m;
  m.SetGradientType(kGradientMirrored);
  m.SetShaderPath(50, 0, 50, 100);
  EXPECT_EQ(m.GradientFactor(0, 40), m.GradientFactor(0, 40));
  EXPECT_EQ(m.GradientFactor(0, -40), 102);  // |-40 * 4080 / 1600|
  EXPECT_EQ(m.GradientFactor(0, 40), 102);

  Shader r;
  r.SetGradientType(kGradientRadial);
  r.SetShaderPath(0, 0, 30, 40);  // length 50
  EXPECT_EQ(r.rbd.dist, 800);
  EXPECT_EQ(r.GradientFactor(-30, 40), 255);
  EXPECT_EQ(r.GradientFactor(3, 4), 25);  // 5 * 4080 / 800 = 25.5

  Shader q;
  q.SetGradientType(kGradientSquare);
  q.SetShaderPath(0, 0, 10, -40);
  EXPECT_EQ(q.rbd.dist, 640);
  EXPECT_EQ(q.GradientFactor(-20, 5), 127);  // 20 * 4080 / 640 = 127.5
}

TEST_F(Shapes, RadialGradientFarFromItsStartStaysExact) {
  Shader r;
  r.SetGradientType(kGradientRadial);
  r.SetShaderPath(-5000, -5000, 5000, -5000);  // length 10000
  EXPECT_EQ(r.GradientFactor(0, 0), 7071 * 4080 / 160000);
  r.SetShaderPath(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  EXPECT_GE(r.GradientFactor(0, 0), 0);
  EXPECT_LE(r.GradientFactor(0, 0), 255);
}

TEST_F(Shapes, ZeroLengthPathWithClampingPaintsBackground) {
  Shader s;
  s.SetBColor(200, 100, 50, 255);
  s.SetFColor(0, 0, 255, 128);
  s.SetShaderPath(20, 20, 20, 20);
  CDib d;
  Black(d, 40, 40);
  RenderShadedRect(&d, 0, 0, 40, 40, &s);
  for (int i = 0; i < 40 * 40; i++) ASSERT_EQ(d.m_Bits[i], ColorValue(200, 100, 50)) << i;

  // A path shrunk to nothing after a real one forgets the old distance.
  s.SetShaderPath(0, 0, 40, 0);
  s.SetShaderPath(5, 5, 5, 5);
  EXPECT_EQ(s.rbd.dist, 0);
  EXPECT_EQ(s.GradientFactor(39, 0), 0);
}

TEST_F(Shapes, RepeatRulesSawAndPingPongStayWithinRange) {
  Shader saw;
  saw.SetRepeat(kRepeatSaw);
  saw.SetShaderPath(0, 0, 16, 0);  // dist 256: b = x * 4080 / 256
  EXPECT_EQ(saw.GradientFactor(0, 0), 255);
  EXPECT_EQ(saw.GradientFactor(1, 0), 255 - 15);
  EXPECT_EQ(saw.GradientFactor(16, 0), 255);  // b = 255
  for (int x = -100; x <= 100; x++) {
    int f = saw.GradientFactor(x, 0);
    ASSERT_GE(f, 1) << x;
    ASSERT_LE(f, 255) << x;
  }
  EXPECT_EQ(saw.GradientFactor(-1, 0), 255 - (255 - 15));  // b = -15 continues the tooth

  Shader pp;
  pp.SetRepeat(kRepeatPingPong);
  pp.SetShaderPath(0, 0, 16, 0);
  EXPECT_EQ(pp.GradientFactor(1, 0), 15);
  EXPECT_EQ(pp.GradientFactor(17, 0), 255 - (270 % 255));  // b = 270: on the way back
  EXPECT_EQ(pp.GradientFactor(-1, 0), 15);
  EXPECT_EQ(pp.GradientFactor(33, 0), 525 % 255);  // b = 525: up again
}

TEST_F(Shapes, GradientColourBlendsEveryComponentWithTheRoundingBlend) {
  Shader s;
  s.SetBColor(0, 0, 0, 0);
  s.SetFColor(255, 128, 64, 255);
  s.SetShaderPath(0, 0, 16, 0);  // b = x * 4080 / 256
  int alpha = -1;
  EXPECT_EQ(s.GetPixel(0, 0, alpha), 0);
  EXPECT_EQ(alpha, 0);
  EXPECT_EQ(s.GetPixel(16, 0, alpha), ColorValue(255, 128, 64));
  EXPECT_EQ(alpha, 255);
  // f = 127: each component c * 127 / 255, rounded.
  s.GetPixel(8, 0, alpha);
  EXPECT_EQ(alpha, 127);
  EXPECT_EQ(s.GetPixel(8, 0, alpha), ColorValue(127, 64, 32));
}

TEST_F(Shapes, SolidFillGivesItsColourAndAlpha) {
  Shader s = Solid(10, 200, 30, 77);
  int alpha = 0;
  EXPECT_EQ(s.GetPixel(5, 5, alpha), ColorValue(10, 200, 30));
  EXPECT_EQ(alpha, 77);
  s.SetFColor(1, 2, 3, 4);
  EXPECT_EQ(s.bSolidFill, 0);
}

class ShapesBothLayouts : public Shapes, public ::testing::WithParamInterface<uint32_t> {};
INSTANTIATE_TEST_SUITE_P(Layouts, ShapesBothLayouts, ::testing::Values(kfDirect555, kfDirect565),
                         [](const auto& info) {
                           return std::string(info.param == kfDirect565 ? "565" : "555");
                         });

TEST_P(ShapesBothLayouts, MaskLetsThroughOnlyItsPixelsWeightedByThem) {
  ScopedPixelFormat format(GetParam());
  CDib mask;
  Black(mask, 4, 1);
  mask.SetPixel(1, 0, ColorValue(255, 255, 255));
  mask.SetPixel(2, 0, ColorOnColor(0, ColorValue(255, 255, 255), 128));
  mask.SetPixel(3, 0, ColorValue(0, 0, 255));  // no red: lets nothing through
  Shader s;
  s.SetBColor(255, 0, 0, 200);
  s.SetFColor(255, 0, 0, 200);
  s.Mask = &mask;
  int alpha = -1;
  EXPECT_EQ(s.GetPixel(0, 0, alpha), 0);
  EXPECT_EQ(alpha, 0);
  EXPECT_EQ(s.GetPixel(1, 0, alpha), ColorValue(255, 0, 0));
  EXPECT_EQ(alpha, 200);  // a white mask pixel weighs 255 in either layout
  s.GetPixel(2, 0, alpha);
  EXPECT_NEAR(alpha, 200 * 128 / 255, 200 / 16);
  s.GetPixel(3, 0, alpha);
  EXPECT_EQ(alpha, 0);
  s.GetPixel(4, 0, alpha);  // outside the mask
  EXPECT_EQ(alpha, 0);
  s.GetPixel(-1, 0, alpha);
  EXPECT_EQ(alpha, 0);
}

TEST_F(Shapes, TextureIsSampledFromItsOffsetAndWrapped) {
  CDib tex;
  ASSERT_EQ(tex.Create(2, 2), 1);
  tex.SetPixel(0, 0, ColorValue(255, 0, 0));
  tex.SetPixel(1, 0, ColorValue(0, 255, 0));
  tex.SetPixel(0, 1, ColorValue(0, 0, 255));
  tex.SetPixel(1, 1, ColorValue(255, 255, 255));
  Shader s;
  s.SetTexture(&tex, 10, 10, 1.0);
  int alpha = 0;
  EXPECT_EQ(s.GetPixel(10, 10, alpha), ColorValue(255, 0, 0));
  EXPECT_EQ(alpha, 255);
  EXPECT_EQ(s.GetPixel(13, 10, alpha), ColorValue(0, 255, 0));
  EXPECT_EQ(s.GetPixel(9, 9, alpha), ColorValue(255, 255, 255));
  s.TextureScale = 2.0;
  EXPECT_EQ(s.GetPixel(11, 11, alpha), ColorValue(255, 0, 0));
  EXPECT_EQ(s.GetPixel(12, 10, alpha), ColorValue(0, 255, 0));
  // A gradient with alpha is laid over the texture.
  s.SetBColor(0, 0, 0, 255);
  s.SetFColor(0, 0, 0, 255);
  EXPECT_EQ(s.GetPixel(12, 10, alpha), 0);
}

// Renderers -------------------------------------------------------------------------

TEST_F(Shapes, HLineAndRectPaintTheirPixelsClippedToTheSurface) {
  CDib d;
  Black(d, 10, 6);
  Shader white = Solid(255, 255, 255, 255);
  RenderShadedHLine(&d, -5, 2, 8, &white);
  EXPECT_EQ(CountNonZero(d), 3);
  EXPECT_NE(d.GetPixel(2, 2), 0);
  EXPECT_EQ(d.GetPixel(3, 2), 0);
  RenderShadedHLine(&d, INT_MAX - 1, 0, INT_MAX, &white);
  RenderShadedHLine(&d, 0, 1, 0, &white);
  EXPECT_EQ(CountNonZero(d), 3);

  Black(d, 10, 6);
  RenderShadedRect(&d, 8, 4, 100, 100, &white);
  EXPECT_EQ(CountNonZero(d), 4);
  RenderShadedRect(&d, INT_MIN, INT_MIN, INT_MAX, INT_MAX, &white);
  EXPECT_EQ(CountNonZero(d), 4);
  RenderShadedRect(&d, -5, -5, INT_MAX, INT_MAX, &white);
  EXPECT_EQ(CountNonZero(d), 60);
}

TEST_F(Shapes, PixelsWhoseAlphaPlaneIs255AreLeftAlone) {
  CDib d;
  Black(d, 4, 4);
  ASSERT_EQ(d.InitZBuffer(), 1);
  d.ZBuffer[5] = 255;  // (1, 1)
  d.ZBuffer[6] = 254;  // (2, 1)
  Shader white = Solid(255, 255, 255, 255);
  RenderShadedRect(&d, 0, 0, 4, 4, &white);
  EXPECT_EQ(d.GetPixel(1, 1), 0);
  EXPECT_EQ(d.GetPixel(2, 1), 0x7FFF);
  EXPECT_EQ(CountNonZero(d), 15);
}

TEST_F(Shapes, RectangleAsTwoTrianglesCoversEachPixelOnceWithoutEdges) {
  // Half-transparent white on black: a pixel painted twice would be lighter.
  CDib d;
  Black(d, 20, 20);
  Shader s = Solid(255, 255, 255, 128);
  Polygon2D rect;
  rect.Points[0] = P2D(3, 4);
  rect.Points[1] = P2D(13, 4);
  rect.Points[2] = P2D(13, 11);
  rect.Points[3] = P2D(3, 11);
  rect.PointsCount = 4;
  RenderShadedPolygon(&d, &rect, &s);
  PIXEL once = ColorOnColor(0, 0x7FFF, 128);
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 20; x++) {
      bool inside = x >= 3 && x < 13 && y >= 4 && y < 11;
      ASSERT_EQ(d.GetPixel(x, y), inside ? once : 0) << x << "," << y;
    }
}

TEST_F(Shapes, TriangleFillsBetweenItsEdgesWhateverTheCornerOrder) {
  CDib a, b;
  Black(a, 30, 30);
  Black(b, 30, 30);
  Shader white = Solid(255, 255, 255, 255);
  RenderShadedTriangle(&a, P2D(2, 3), P2D(25, 10), P2D(8, 27), &white);
  RenderShadedTriangle(&b, P2D(8, 27), P2D(2, 3), P2D(25, 10), &white);
  EXPECT_TRUE(SamePixels(a, b));
  EXPECT_EQ(a.GetPixel(2, 3), 0);       // the top corner's row is an empty span
  EXPECT_EQ(a.GetPixel(2, 4), 0x7FFF);  // spans start on the left edge
  EXPECT_EQ(a.GetPixel(8, 27), 0);      // the bottom row is left out
  EXPECT_NE(a.GetPixel(10, 12), 0);     // inside
  EXPECT_EQ(a.GetPixel(25, 10), 0);     // the right end of a span is left out
  // A flat triangle has no rows.
  Black(a, 30, 30);
  RenderShadedTriangle(&a, P2D(0, 5), P2D(20, 5), P2D(10, 5), &white);
  EXPECT_EQ(CountNonZero(a), 0);
}

TEST_F(Shapes, TriangleWithCornersFarOutsideFillsOnlyTheSurface) {
  CDib d;
  Black(d, 16, 16);
  Shader white = Solid(255, 255, 255, 255);
  RenderShadedTriangle(&d, -2000000000, -2000000000, 2000000000, -10, -10, 2000000000, &white);
  EXPECT_EQ(CountNonZero(d), 256);
  Black(d, 16, 16);
  RenderShadedTriangle(&d, INT_MAX, INT_MAX, INT_MAX - 5, INT_MAX, INT_MAX, INT_MAX - 9, &white);
  EXPECT_EQ(CountNonZero(d), 0);
}

// The circle as the scan over SqrTab describes it: per row, columns from -r
// up; a distance below r fills the span to -j and continues on the right
// rim; a distance of r is a rim pixel; beyond r the pixel is skipped, and
// the row ends once j > 0.
void ReferenceCircle(CDib* dib, int cx, int cy, int r, const Shader* s) {
  for (int i = -r; i <= r; i++) {
    for (int j = -r; j <= r; j++) {
      int d = SqrTab[std::abs(i) * kSqrTabSize + std::abs(j)];
      if (d < r) {
        for (int k = j; k <= -j; k++) {
          int a;
          PIXEL c = s->GetPixel(cx + k, cy + i, a);
          dib->SetAlphaPixel(cx + k, cy + i, c, a);
        }
        j = -j;
      } else if (d == r) {
        int a;
        PIXEL c = s->GetPixel(cx + j, cy + i, a);
        int frac = static_cast<int>((std::sqrt(double(i * i + j * j)) - d) * 256);
        a = a * (255 - frac) / 256;
        if (a > 0) dib->SetAlphaPixel(cx + j, cy + i, c, a);
      } else if (j > 0) {
        break;
      }
    }
  }
}

TEST_F(Shapes, CircleMatchesTheRowScanWithItsAntiAliasedRim) {
  Shader s;
  s.SetGradientType(kGradientRadial);
  s.SetBColor(255, 255, 0, 255);
  s.SetFColor(0, 64, 255, 160);
  for (int r : {1, 2, 3, 5, 8, 13, 21, 40, 100}) {
    s.SetShaderPath(60, 60, 60 + r, 60);
    CDib got, want;
    Black(got, 240, 130);
    Black(want, 240, 130);
    RenderShadedCircle(&got, 120, 60, r, &s);
    ReferenceCircle(&want, 120, 60, r, &s);
    ASSERT_TRUE(SamePixels(got, want)) << "radius " << r;
  }
}

TEST_F(Shapes, CircleOfRadiusZeroSetsTheCentreAtTheRimAlpha) {
  CDib d;
  Black(d, 5, 5);
  Shader white = Solid(255, 255, 255, 255);
  RenderShadedCircle(&d, 2, 2, 0, &white);
  EXPECT_EQ(CountNonZero(d), 1);
  EXPECT_EQ(d.GetPixel(2, 2), ColorOnColor(0, 0x7FFF, 254));  // 255 * 255 / 256
  RenderShadedCircle(&d, 2, 2, -1, &white);
  EXPECT_EQ(CountNonZero(d), 1);
}

TEST_F(Shapes, CirclesOfAnySizeAndPlaceStayOnTheSurface) {
  CDib d;
  Black(d, 12, 9);
  Shader white = Solid(255, 255, 255, 255);
  RenderShadedCircle(&d, 6, 4, INT_MAX, &white);
  EXPECT_EQ(CountNonZero(d), 12 * 9);
  for (PIXEL p : std::vector<PIXEL>(d.m_Bits, d.m_Bits + 12 * 9)) ASSERT_EQ(p, 0x7FFF);
  Black(d, 12, 9);
  RenderShadedCircle(&d, INT_MIN, INT_MAX, INT_MAX, &white);
  // Beyond the table, distances are exact: (11, 8) lies 7057.6 from the
  // centre, (0, 0) 7071.1.
  RenderShadedCircle(&d, 5000, 5000, 7062, &white);
  int corner = CountNonZero(d);
  EXPECT_NE(d.GetPixel(11, 8), 0);
  EXPECT_EQ(d.GetPixel(0, 0), 0);
  RenderShadedCircle(&d, 400, 400, 300, &white);  // outside
  EXPECT_EQ(CountNonZero(d), corner);
}

TEST_F(Shapes, TorusLeavesItsHoleAndEllipseFillsItsAxes) {
  CDib d;
  Black(d, 41, 41);
  Shader white = Solid(255, 255, 255, 255);
  RenderShadedTorus(&d, 20, 20, 15, 8, &white);
  EXPECT_EQ(d.GetPixel(20, 20), 0);
  EXPECT_EQ(d.GetPixel(20 + 4, 20), 0);
  EXPECT_EQ(d.GetPixel(20 + 10, 20), 0x7FFF);
  EXPECT_EQ(d.GetPixel(20, 20 - 12), 0x7FFF);
  EXPECT_EQ(d.GetPixel(20 + 17, 20), 0);

  Black(d, 41, 41);
  RenderShadedEllipse(&d, 20, 20, 15, 5, &white);
  EXPECT_EQ(d.GetPixel(5, 20), 0x7FFF);
  EXPECT_EQ(d.GetPixel(4, 20), 0);
  EXPECT_EQ(d.GetPixel(20, 15), 0x7FFF);
  EXPECT_EQ(d.GetPixel(20, 14), 0);
  RenderShadedEllipse(&d, 0, 0, INT_MAX, INT_MAX, &white);
  EXPECT_EQ(CountNonZero(d), 41 * 41);
}

TEST_F(Shapes, LineLeavesOutItsEndAndClipsLongLinesQuickly) {
  CDib d;
  Black(d, 10, 10);
  Shader white = Solid(255, 255, 255, 255);
  RenderShadedLine(&d, 0, 0, 3, 0, &white);
  EXPECT_EQ(CountNonZero(d), 3);
  EXPECT_EQ(d.GetPixel(3, 0), 0);
  Black(d, 10, 10);
  RenderShadedLine(&d, 0, 9, 9, 0, &white);  // drawn from the upper end down
  EXPECT_EQ(CountNonZero(d), 9);
  EXPECT_EQ(d.GetPixel(9, 0), 0x7FFF);
  EXPECT_EQ(d.GetPixel(0, 9), 0);
  Black(d, 10, 10);
  RenderShadedLine(&d, INT_MIN, 5, INT_MAX, 5, &white);
  EXPECT_EQ(CountNonZero(d), 10);
  Black(d, 10, 10);
  RenderShadedLine(&d, -1000000000, -1000000000, 1000000000, 1000000000, &white);
  EXPECT_EQ(CountNonZero(d), 10);
  for (int i = 0; i < 10; i++) EXPECT_EQ(d.GetPixel(i, i), 0x7FFF);
}

// Shapes of every kind with sizes, positions, scales and angles drawn from
// the whole int range: the sanitizer build checks that no pixel outside the
// surface is written and nothing outside the tables is read.
TEST_F(Shapes, RandomShapesOfAnySizeAndPlaceTouchOnlyTheSurface) {
  std::mt19937 rng(20240607);
  auto any = [&]() -> int {
    switch (rng() % 4) {
      case 0:
        return static_cast<int>(rng());  // anywhere
      case 1:
        return static_cast<int>(rng() % 80) - 20;  // near the surface
      case 2:
        return static_cast<int>(rng() % 2000000) - 1000000;  // far
      default:
        return (rng() % 2) ? INT_MAX : INT_MIN;
    }
  };
  CDib d;
  Black(d, 33, 17);
  Shader s;
  s.SetGradientType(kGradientRadial);
  s.SetRepeat(kRepeatPingPong);
  s.SetFColor(255, 255, 255, 200);
  s.SetBColor(0, 0, 255, 255);
  for (int round = 0; round < 300; round++) {
    s.SetGradientType(static_cast<int>(rng() % 4));
    s.SetShaderPath(any(), any(), any(), any());
    RenderShadedCircle(&d, any(), any(), any(), &s);
    RenderShadedTorus(&d, any(), any(), any(), any(), &s);
    RenderShadedEllipse(&d, any(), any(), any(), any(), &s);
    RenderShadedTriangle(&d, any(), any(), any(), any(), any(), any(), &s);
    RenderShadedLine(&d, any(), any(), any(), any(), &s);
    RenderShadedHLine(&d, any(), any(), any(), &s);
    RenderShadedRect(&d, any(), any(), any(), any(), &s);
    DrawButton(&d, any(), any(), any() % 5000, any(), round % 2 ? &s : nullptr);
    VectorArray va;
    va.Transform((rng() % 1000) / 100.0, any());
    va.SetControlPoint(any(), any());
    va.AddCircle(any(), any(), any(), any(), any(), &s)->bMask = 1;
    va.AddRect(any(), any(), any(), any(), any(), any(), &s);
    va.AddElipse(any(), any(), any(), any(), any(), any(), &s);
    va.AddLine(any(), any(), any(), any(), any(), any(), &s);
    va.Draw(&d, any(), any());
  }
  EXPECT_GT(CountNonZero(d), 0);
}

// VectorArray -------------------------------------------------------------------------

TEST_F(Shapes, TwentySixthShapeIsRefusedAndTheFirst25AreDrawn) {
  VectorArray va;
  Shader white = Solid(255, 255, 255, 255);
  for (int i = 0; i < 25; i++) ASSERT_NE(va.AddRect(i, 0, i + 1, 1, 0, 0, &white), nullptr);
  EXPECT_EQ(va.AddRect(25, 0, 26, 1, 0, 0, &white), nullptr);
  EXPECT_EQ(va.AddCircle(30, 0, 0, 0, 0, &white), nullptr);
  EXPECT_EQ(va.NoVectors, 25);
  CDib d;
  Black(d, 40, 1);
  EXPECT_EQ(va.Draw(&d, 0, 0), 1);
  EXPECT_EQ(CountNonZero(d), 25);
  EXPECT_EQ(d.GetPixel(25, 0), 0);
  va.Reset();
  EXPECT_NE(va.AddLine(0, 0, 1, 0, 0, 0, nullptr), nullptr);
}

TEST_F(Shapes, AddedShapesCopyTheShaderAndStartUnmaskedAndRotating) {
  VectorArray va;
  Shader s = Solid(1, 2, 3, 4);
  VectorObject* o = va.AddRect(1, 2, 5, 7, 9, 9, &s);
  s.SetSolidColor(9, 9, 9, 9);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->s.SolidAlpha, 4);
  EXPECT_EQ(o->bRotateShader, 1);
  EXPECT_EQ(o->bMask, 0);
  EXPECT_EQ(o->bLinked, 0);
  EXPECT_EQ(o->VectorType, kVectorPolygon);
  ASSERT_EQ(o->Poly.PointsCount, 4);
  EXPECT_EQ(o->Poly.Points[1], P2D(5, 2));
  EXPECT_EQ(o->Poly.Points[3], P2D(1, 7));
}

TEST_F(Shapes, ArrayTurnsAndScalesAboutItsControlPointAndMovesByTheDrawPosition) {
  Shader white = Solid(255, 255, 255, 255);
  VectorArray va;
  va.SetControlPoint(10, 10);
  va.AddRect(10, 10, 14, 11, 0, 0, &white);  // four pixels right of the control point
  CDib d;
  Black(d, 40, 40);
  va.Draw(&d, 5, 7);
  EXPECT_EQ(CountNonZero(d), 4);
  EXPECT_NE(d.GetPixel(15, 17), 0);
  EXPECT_NE(d.GetPixel(18, 17), 0);

  Black(d, 40, 40);
  va.Transform(2.0, 0);
  va.Draw(&d, 0, 0);
  EXPECT_EQ(CountNonZero(d), 16);  // 8 x 2
  EXPECT_NE(d.GetPixel(17, 11), 0);

  Black(d, 40, 40);
  va.Transform(1.0, 90);  // x towards y
  va.Draw(&d, 0, 0);
  EXPECT_EQ(CountNonZero(d), 4);
  for (int y = 10; y < 14; y++) EXPECT_NE(d.GetPixel(9, y), 0) << y;

  VectorArray circle;
  circle.Transform(3.0, 0);
  circle.SetControlPoint(2, 2);
  circle.AddCircle(2, 2, 2, 0, 0, &white);
  Black(d, 40, 40);
  circle.Draw(&d, 10, 10);
  EXPECT_NE(d.GetPixel(12 + 5, 12), 0);  // radius 6 about (12, 12)
  EXPECT_EQ(d.GetPixel(12 + 8, 12), 0);
}

TEST_F(Shapes, ArrayCarriesTheGradientPathWithTheShape) {
  Shader g;
  g.SetBColor(0, 0, 0, 255);
  g.SetFColor(255, 255, 255, 255);
  g.SetShaderPath(0, 0, 10, 0);
  VectorArray va;
  va.AddRect(0, 0, 11, 1, 0, 0, &g);
  CDib d;
  Black(d, 30, 1);
  va.Draw(&d, 15, 0);
  EXPECT_EQ(d.GetPixel(15, 0), 0);
  EXPECT_EQ(d.GetPixel(25, 0), 0x7FFF);

  Black(d, 30, 1);
  va.Transform(2.0, 0);  // the path doubles with the shape
  va.Draw(&d, 0, 0);
  EXPECT_EQ(d.GetPixel(0, 0), 0);
  EXPECT_EQ(d.GetPixel(10, 0), ColorValue(127, 127, 127));
  EXPECT_EQ(d.GetPixel(20, 0), 0x7FFF);
}

TEST_F(Shapes, MaskGroupClipsTheObjectAfterIt) {
  Shader red = Solid(255, 0, 0, 255);
  VectorArray va;
  va.AddRect(2, 2, 6, 6, 0, 0, nullptr)->bMask = 1;
  VectorObject* second = va.AddRect(10, 2, 14, 6, 0, 0, nullptr);
  second->bMask = 1;
  va.vo[0].bLinked = 1;  // both masks form one group
  va.AddRect(0, 0, 20, 8, 0, 0, &red);
  va.AddRect(0, 8, 20, 10, 0, 0, &red);  // after the group: unmasked
  CDib d;
  Black(d, 20, 10);
  va.Draw(&d, 0, 0);
  PIXEL r = ColorValue(255, 0, 0);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 20; x++) {
      bool in = y >= 2 && y < 6 && ((x >= 2 && x < 6) || (x >= 10 && x < 14));
      ASSERT_EQ(d.GetPixel(x, y), in ? r : 0) << x << "," << y;
    }
  for (int x = 0; x < 20; x++) EXPECT_EQ(d.GetPixel(x, 9), r);
}

TEST_F(Shapes, EachMaskGroupStartsFromAnEmptyMask) {
  Shader red = Solid(255, 0, 0, 255);
  VectorArray va;
  va.AddRect(0, 0, 2, 1, 0, 0, nullptr)->bMask = 1;
  va.AddRect(0, 0, 10, 1, 0, 0, &red);
  va.AddRect(6, 0, 8, 1, 0, 0, nullptr)->bMask = 1;
  va.AddRect(0, 0, 10, 1, 0, 0, &red)->s.SetSolidColor(0, 255, 0, 255);
  CDib d;
  Black(d, 10, 1);
  va.Draw(&d, 0, 0);
  EXPECT_EQ(d.GetPixel(0, 0), ColorValue(255, 0, 0));
  EXPECT_EQ(d.GetPixel(3, 0), 0);
  EXPECT_EQ(d.GetPixel(7, 0), ColorValue(0, 255, 0));
}

TEST_F(Shapes, WithAnAlphaPlaneObjectsAreDrawnLastToFirst) {
  Shader red = Solid(255, 0, 0, 255), blue = Solid(0, 0, 255, 255);
  VectorArray va;
  va.AddRect(0, 0, 4, 1, 0, 0, &red);
  va.AddRect(0, 0, 4, 1, 0, 0, &blue);
  CDib d;
  Black(d, 4, 1);
  va.Draw(&d, 0, 0);
  EXPECT_EQ(d.GetPixel(0, 0), ColorValue(0, 0, 255));
  ASSERT_EQ(d.InitZBuffer(), 1);
  va.Draw(&d, 0, 0);
  EXPECT_EQ(d.GetPixel(0, 0), ColorValue(255, 0, 0));
}

TEST_F(Shapes, PointInObjectFindsTheTopmostShapeButNoMask) {
  VectorArray va;
  va.AddRect(0, 0, 10, 10, 0, 0, nullptr);
  va.AddCircle(5, 5, 3, 0, 0, nullptr);
  va.AddRect(0, 0, 3, 3, 0, 0, nullptr)->bMask = 1;
  va.AddElipse(30, 5, 8, 2, 0, 0, nullptr);
  EXPECT_EQ(va.PointInObject(5, 6), 1);
  EXPECT_EQ(va.PointInObject(1, 1), 0);
  EXPECT_EQ(va.PointInObject(37, 5), 3);
  EXPECT_EQ(va.PointInObject(30, 8), -1);
  EXPECT_EQ(va.PointInObject(100, 100), -1);
}

TEST_F(Shapes, ShadeDrawsADarkCopyMovedByTheOffset) {
  VectorArray va;
  va.AddRect(0, 0, 2, 2, 0, 0, nullptr);
  CDib d;
  ASSERT_EQ(d.Create(6, 6), 1);
  d.Clear(0x7FFF);
  va.Shade(&d, 0, 0, 3, 3, 255);
  EXPECT_EQ(d.GetPixel(3, 3), 0);
  EXPECT_EQ(d.GetPixel(4, 4), 0);
  EXPECT_EQ(d.GetPixel(2, 2), 0x7FFF);
  EXPECT_EQ(d.GetPixel(0, 0), 0x7FFF);
}

// DrawButton ---------------------------------------------------------------------------

TEST_F(Shapes, ButtonOfLengthZeroIsOneShadedCircleAndOneHighlight) {
  const int c = 12;
  CDib got, want;
  ASSERT_EQ(got.Create(40, 40), 1);
  got.Clear(ColorValue(0, 128, 0));
  ASSERT_EQ(CopyDib(&want, &got), 1);
  DrawButton(&got, 20, 20, c, 0, nullptr);

  Shader body;
  body.SetFColor(0, 0, 0, 255);
  body.SetBColor(96, 96, 96, 255);
  body.SetGradientType(kGradientRadial);
  body.SetShaderPath(20, 20 + c, 20, 20 + 3 * c);
  RenderShadedCircle(&want, 20, 20, c, &body);
  Shader gloss;
  gloss.SetBColor(255, 255, 255, 255);
  gloss.SetFColor(255, 255, 255, 0);
  gloss.SetShaderPath(20, 20 - c + 2, 20, 20);
  RenderShadedCircle(&want, 20, 20 - c + c / 2 + 2, c / 2, &gloss);
  EXPECT_TRUE(SamePixels(got, want));
  // Nothing beyond the circle: no bar.
  EXPECT_EQ(got.GetPixel(20 + c + 2, 20), ColorValue(0, 128, 0));
}

TEST_F(Shapes, ButtonOfRadiusZeroOrBelowStaysTiny) {
  CDib d;
  ASSERT_EQ(d.Create(10, 10), 1);
  d.Clear(0x7FFF);
  DrawButton(&d, 5, 5, 0, 0, nullptr);
  int changed = 0;
  for (int i = 0; i < 100; i++) changed += d.m_Bits[i] != 0x7FFF;
  EXPECT_EQ(changed, 1);
  DrawButton(&d, 5, 5, -3, 10, nullptr);
  DrawButton(nullptr, 5, 5, 3, 10, nullptr);
  changed = 0;
  for (int i = 0; i < 100; i++) changed += d.m_Bits[i] != 0x7FFF;
  EXPECT_EQ(changed, 1);
}

TEST_F(Shapes, ButtonSpansTwiceTheRadiusPlusItsLengthAndItsHighlightIsMasked) {
  const int c = 10, len = 60;
  CDib d;
  ASSERT_EQ(d.Create(120, 40), 1);
  d.Clear(ColorValue(0, 0, 128));
  DrawButton(&d, 20, 20, c, len, nullptr);
  PIXEL back = ColorValue(0, 0, 128);
  // Left edge at x = 10 and right edge at x = 20 + 60 + 10 on the centre row.
  EXPECT_EQ(d.GetPixel(9, 20), back);
  EXPECT_NE(d.GetPixel(11, 20), back);
  EXPECT_NE(d.GetPixel(89, 20), back);
  EXPECT_EQ(d.GetPixel(91, 20), back);
  // Rows 10..30 are covered in the middle of the bar, nothing outside them.
  EXPECT_NE(d.GetPixel(50, 10), back);
  EXPECT_NE(d.GetPixel(50, 30), back);
  EXPECT_EQ(d.GetPixel(50, 9), back);
  EXPECT_EQ(d.GetPixel(50, 31), back);
  // The bar darkens towards its top, and the gloss lightens the upper half
  // but stays out of the lower half and off the ends' outer corners.
  unsigned char r1, g1, b1, r2, g2, b2;
  ColorComponents(d.GetPixel(50, 28), r1, g1, b1);
  ColorComponents(d.GetPixel(50, 20), r2, g2, b2);
  EXPECT_GT(r1, r2);
  ColorComponents(d.GetPixel(50, 12), r2, g2, b2);
  EXPECT_GT(r2, r1);
  EXPECT_EQ(d.GetPixel(12, 12), back);  // under the gloss rectangle, outside its mask
}

// Golden images ------------------------------------------------------------------------

class ShapesGolden : public Shapes, public ::testing::WithParamInterface<uint32_t> {};
INSTANTIATE_TEST_SUITE_P(Layouts, ShapesGolden, ::testing::Values(kfDirect555, kfDirect565),
                         [](const auto& info) {
                           return std::string(info.param == kfDirect565 ? "565" : "555");
                         });

// The face of one item of the tuner's trigger menu: a 160 x 21 rounded
// button at (40, 117) over the darkened meter, as the menu draws it.
TEST_P(ShapesGolden, TunersRoundedMenuButton) {
  ScopedPixelFormat format(GetParam());
  static int module;
  CDib meter, d;
  ASSERT_EQ(meter.LoadBMP(&module, "METER"), 1);
  ASSERT_EQ(d.Create(180, 31), 1);
  d.BitBlt(0, 0, 180, 31, &meter, 30, 112, 0);
  d.Darken(0, 0, 180, 31, 0);
  d.Fill2(0, 0, 180, 31, ColorValue(255, 255, 255), 128);
  const int radius = 21 / 2;
  DrawButton(&d, 10 + radius, 5 + radius, radius, 160 - 21, nullptr);
  EXPECT_TRUE(MatchesGolden(d, "menu-button"));
}

// A capsule shaded by a caller's colours, a ping-pong radial ring, a
// textured ellipse, a turned and scaled polygon and a mask group.
TEST_P(ShapesGolden, GradientCapsuleAndShapes) {
  ScopedPixelFormat format(GetParam());
  CDib d;
  ASSERT_EQ(d.Create(200, 120), 1);
  d.VGradient(ColorValue(255, 255, 255), ColorValue(160, 200, 240));

  Shader orange;
  orange.SetFColor(120, 20, 0, 255);
  orange.SetBColor(255, 200, 40, 255);
  DrawButton(&d, 24, 22, 16, 120, &orange);
  DrawButton(&d, 180, 22, 14, 0, nullptr);

  Shader ring;
  ring.SetGradientType(kGradientRadial);
  ring.SetRepeat(kRepeatPingPong);
  ring.SetBColor(0, 0, 160, 255);
  ring.SetFColor(0, 220, 255, 200);
  ring.SetShaderPath(40, 80, 48, 80);
  RenderShadedTorus(&d, 40, 80, 30, 12, &ring);

  CDib tex;
  ASSERT_EQ(tex.Create(8, 8), 1);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++)
      tex.SetPixel(x, y, ((x / 4) ^ (y / 4)) ? ColorValue(40, 120, 40) : ColorValue(200, 240, 200));
  Shader textured;
  textured.SetTexture(&tex, 80, 60, 1.0);
  textured.Angle = 30;
  RenderShadedEllipse(&d, 100, 82, 22, 14, &textured);

  VectorArray va;
  Shader square;
  square.SetGradientType(kGradientSquare);
  square.SetRepeat(kRepeatSaw);
  square.SetBColor(255, 0, 80, 255);
  square.SetFColor(80, 0, 255, 255);
  square.SetShaderPath(150, 80, 160, 80);
  Polygon2D star;  // a fan about its centre, closed on its first tip
  star.Points[0] = P2D(150, 80);
  for (int i = 0; i <= 10; i++) {
    double a = i * M_PI / 5, r = i % 2 ? 10 : 24;
    star.Points[1 + i] =
        P2D(150 + static_cast<int>(r * std::sin(a)), 80 - static_cast<int>(r * std::cos(a)));
  }
  star.PointsCount = 12;
  star.CenterPoint = P2D(150, 80);
  va.SetControlPoint(150, 80);
  va.Transform(1.2, 15);
  va.AddCircle(150, 80, 18, 150, 80, nullptr)->bMask = 1;
  va.AddPolygon(&star, &square);
  Shader line = Solid(0, 0, 0, 255);
  va.AddLine(126, 104, 174, 56, 150, 80, &line);
  va.Draw(&d, 0, 0);
  EXPECT_TRUE(MatchesGolden(d, "shapes"));
}

}  // namespace

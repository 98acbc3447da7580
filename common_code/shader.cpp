// Vector shapes: the tables, the shader, the renderers, VectorArray and
// DrawButton.
//
// Coordinates arrive as ints and are widened to 64 bits before any
// arithmetic, and every renderer clips its rows and spans to the surface
// before it visits a pixel, so the work is bounded by the surface's area
// whatever the shape's size.
#include "common_code/shader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

double SinTable[360];
double CosTable[360];
unsigned short SqrTab[kSqrTabSize * kSqrTabSize];

namespace {

bool g_TablesReady = false;

// The integer part of the square root of n, exactly (n up to 2^127).
long long ISqrt(unsigned __int128 n) {
  if (n == 0) return 0;
  auto r = static_cast<unsigned long long>(std::sqrt(static_cast<long double>(n)));
  while (r > 0 && static_cast<unsigned __int128>(r) * r > n) r--;
  while (static_cast<unsigned __int128>(r + 1) * (r + 1) <= n) r++;
  return static_cast<long long>(r);
}

// A real coordinate as an int, truncated towards zero and held well inside
// the int range (a shape scaled beyond it is off the surface anyway).
int ToCoord(double v) {
  constexpr double kLimit = 1 << 30;
  if (!(v == v)) return 0;
  return static_cast<int>(std::clamp(v, -kLimit, kLimit));
}

int DegreeIndex(long long angle) { return static_cast<int>(((angle % 360) + 360) % 360); }

int Clamp255(int v) { return std::clamp(v, 0, 255); }

// The weight 0..255 a mask pixel gives: its red channel with the top bits of
// green below it, the pixel's top eight bits in either layout (a white pixel
// gives 255, black 0).
int MaskWeight(PIXEL m) {
  uint32_t f = DisplayProperties.ffFormat;
  if (f & kfDirect565) return m >> 8;
  if (f & kfDirect555) return (m >> 7) & 0xFF;
  return 0;
}

}  // namespace

// Tables ---------------------------------------------------------------------------

void InitSQRTables() {
  for (int a = 0; a < 360; a++) {
    SinTable[a] = std::sin(a * M_PI / 180.0);
    CosTable[a] = std::cos(a * M_PI / 180.0);
  }
  for (int y = 0; y < kSqrTabSize; y++)
    for (int x = 0; x < kSqrTabSize; x++)
      SqrTab[y * kSqrTabSize + x] = static_cast<unsigned short>(ISqrt(x * x + y * y));
  g_TablesReady = true;
}

long long SqrDistance(long long dx, long long dy) {
  dx = std::llabs(dx);
  dy = std::llabs(dy);
  if (g_TablesReady && dx < kSqrTabSize && dy < kSqrTabSize) return SqrTab[dy * kSqrTabSize + dx];
  return ISqrt(static_cast<unsigned __int128>(dx) * dx + static_cast<unsigned __int128>(dy) * dy);
}

Point2D P2D(int x, int y) {
  auto to16 = [](int v) {
    return static_cast<uint16_t>(static_cast<int16_t>(std::clamp(v, -32768, 32767)));
  };
  return static_cast<Point2D>(to16(x)) | (static_cast<Point2D>(to16(y)) << 16);
}

// Shader ---------------------------------------------------------------------------

void Shader::SetFColor(int r, int g, int b, int a) {
  rbd.fg = {Clamp255(r), Clamp255(g), Clamp255(b), Clamp255(a)};
  bSolidFill = 0;
}

void Shader::SetBColor(int r, int g, int b, int a) {
  rbd.bg = {Clamp255(r), Clamp255(g), Clamp255(b), Clamp255(a)};
  bSolidFill = 0;
}

void Shader::SetSolidColor(int r, int g, int b, int alpha) {
  Red = static_cast<unsigned char>(Clamp255(r));
  Green = static_cast<unsigned char>(Clamp255(g));
  Blue = static_cast<unsigned char>(Clamp255(b));
  SolidColor = ColorValue(Red, Green, Blue);
  SolidAlpha = static_cast<unsigned char>(Clamp255(alpha));
  bSolidFill = 1;
}

void Shader::SetGradientType(int type) { rbd.gradient_type = type; }

void Shader::SetRepeat(int type) { rbd.repeat_type = type; }

// A path of no length leaves dist 0 (the whole shape in bg) rather than a
// distance left over from an earlier path.
void Shader::SetShaderPath(int x1, int y1, int x2, int y2) {
  rbd.x1 = x1;
  rbd.y1 = y1;
  rbd.x2 = x2;
  rbd.y2 = y2;
  rbd.sx = x1;
  rbd.sy = y1;
  double dx = static_cast<double>(x2) - x1, dy = static_cast<double>(y2) - y1;
  double length = std::sqrt(dx * dx + dy * dy);
  auto toDist = [](double v) {
    return static_cast<int>(std::min(v, static_cast<double>(INT_MAX)));
  };
  switch (rbd.gradient_type) {
    case kGradientLinear:
    case kGradientMirrored:
      if (length > 0) {
        rbd.vec[0] = static_cast<int>(dx * 4080 / length);
        rbd.vec[1] = static_cast<int>(dy * 4080 / length);
        rbd.dist = toDist(length * 16);
      } else {
        rbd.vec[0] = rbd.vec[1] = 0;
        rbd.dist = 0;
      }
      break;
    case kGradientRadial:
      rbd.dist = toDist(length * 16);
      break;
    case kGradientSquare:
      rbd.dist = toDist(std::max(std::fabs(dx), std::fabs(dy)) * 16);
      break;
    default:
      rbd.dist = 0;
      break;
  }
}

void Shader::SetTexture(CDib* texture, int x, int y, double scale) {
  Texture = texture;
  TextureOffsetX = x;
  TextureOffsetY = y;
  TextureScale = scale;
}

void Shader::Rotate(int angle, int cx, int cy) {
  RotationPointX = cx;
  RotationPointY = cy;
  int a = DegreeIndex(angle);
  double c = g_TablesReady ? CosTable[a] : std::cos(a * M_PI / 180.0);
  double s = g_TablesReady ? SinTable[a] : std::sin(a * M_PI / 180.0);
  auto turn = [&](int x, int y, int& ox, int& oy) {
    double dx = static_cast<double>(x) - cx, dy = static_cast<double>(y) - cy;
    ox = ToCoord(cx + dx * c - dy * s);
    oy = ToCoord(cy + dx * s + dy * c);
  };
  int x1, y1, x2, y2;
  turn(rbd.x1, rbd.y1, x1, y1);
  turn(rbd.x2, rbd.y2, x2, y2);
  SetShaderPath(x1, y1, x2, y2);
}

int Shader::GradientFactor(int x, int y) const {
  long long px = static_cast<long long>(x) - ShaderOffsetX - rbd.sx;
  long long py = static_cast<long long>(y) - ShaderOffsetY - rbd.sy;
  long long b = 0;
  if (rbd.dist != 0) {
    switch (rbd.gradient_type) {
      case kGradientLinear:
        b = (px * rbd.vec[0] + py * rbd.vec[1]) / rbd.dist;
        break;
      case kGradientMirrored:
        b = std::llabs((px * rbd.vec[0] + py * rbd.vec[1]) / rbd.dist);
        break;
      case kGradientRadial:
        b = SqrDistance(px, py) * 4080 / rbd.dist;
        break;
      case kGradientSquare:
        b = std::max(std::llabs(px), std::llabs(py)) * 4080 / rbd.dist;
        break;
      default:
        break;
    }
  }
  switch (rbd.repeat_type) {
    case kRepeatSaw:
      // The saw-tooth continues below the start as above it.
      return static_cast<int>(255 - ((b % 255) + 255) % 255);
    case kRepeatPingPong: {
      long long a = std::llabs(b);
      int f = static_cast<int>(a % 255);
      return (a / 255) % 2 ? 255 - f : f;
    }
    default:
      return static_cast<int>(std::clamp<long long>(b, 0, 255));
  }
}

namespace {

TCOLOR GradientColour(const RenderBlendData& rbd, int f) {
  if (f <= 0) return rbd.bg;
  if (f >= 255) return rbd.fg;
  return {BlendChannel(rbd.bg.r, rbd.fg.r, f), BlendChannel(rbd.bg.g, rbd.fg.g, f),
          BlendChannel(rbd.bg.b, rbd.fg.b, f), BlendChannel(rbd.bg.a, rbd.fg.a, f)};
}

}  // namespace

unsigned short Shader::GetPixel(int x, int y, int& alpha) const {
  int weight = 255;
  if (Mask) {
    if (!Mask->m_Bits || x < 0 || y < 0 || x >= Mask->W || y >= Mask->H) {
      alpha = 0;
      return 0;
    }
    weight = MaskWeight(Mask->m_Bits[static_cast<size_t>(y) * Mask->W + x]);
    if (weight == 0) {
      alpha = 0;
      return 0;
    }
  }
  if (bSolidFill) {
    alpha = SolidAlpha;
    return SolidColor;
  }
  if (Texture && Texture->m_Bits) {
    // Texture coordinates: the point relative to the texture's origin, turned
    // back by the shader's angle and divided by its scale, wrapped.
    int a = DegreeIndex(static_cast<long long>(Angle));
    double c = g_TablesReady ? CosTable[a] : std::cos(a * M_PI / 180.0);
    double s = g_TablesReady ? SinTable[a] : std::sin(a * M_PI / 180.0);
    double scale = TextureScale > 0 ? TextureScale : 1.0;
    double fx = static_cast<double>(x) - TextureOffsetX,
           fy = static_cast<double>(y) - TextureOffsetY;
    double u = (fx * c + fy * s) / scale, v = (-fx * s + fy * c) / scale;
    long long tu = static_cast<long long>(std::floor(std::clamp(u, -1e15, 1e15)));
    long long tv = static_cast<long long>(std::floor(std::clamp(v, -1e15, 1e15)));
    tu = ((tu % Texture->W) + Texture->W) % Texture->W;
    tv = ((tv % Texture->H) + Texture->H) % Texture->H;
    unsigned char r, g, b;
    ColorComponents(Texture->m_Bits[tv * Texture->W + tu], r, g, b);
    int cr = r, cg = g, cb = b;
    if (rbd.fg.a || rbd.bg.a) {
      TCOLOR t = GradientColour(rbd, GradientFactor(x, y));
      cr = BlendChannel(cr, t.r, t.a);
      cg = BlendChannel(cg, t.g, t.a);
      cb = BlendChannel(cb, t.b, t.a);
    }
    alpha = weight;
    return ColorValue(cr, cg, cb);
  }
  TCOLOR t = GradientColour(rbd, GradientFactor(x, y));
  alpha = Mask ? t.a * weight / 255 : t.a;
  return ColorValue(t.r, t.g, t.b);
}

// Renderers -------------------------------------------------------------------------

namespace {

// How a span's pixels are covered: fully, or as the outer or inner rim of a
// circle, whose alpha follows the fraction of the pixel's distance.
enum class Cover { Full, OuterRim, InnerRim };

// Paints pixels xa <= x < xb of row y. The caller has clipped the row and
// the span to the surface; for the rims (cx, cy) is the circle's centre and
// d the distance every pixel of the span rounds down to.
void Span(CDib* dib, long long y, long long xa, long long xb, const Shader* shader,
          Cover cover = Cover::Full, long long cx = 0, long long cy = 0, long long d = 0) {
  const bool zplane = dib->ZBuffer != nullptr;
  PIXEL* row = dib->m_Bits + static_cast<size_t>(y) * dib->W;
  for (long long x = xa; x < xb; x++) {
    if (zplane && dib->ZBuffer[static_cast<size_t>(y) * dib->W + x] == 255) continue;
    int alpha = 0;
    PIXEL c = shader->GetPixel(static_cast<int>(x), static_cast<int>(y), alpha);
    if (cover != Cover::Full) {
      double dx = static_cast<double>(x - cx), dy = static_cast<double>(y - cy);
      int frac = static_cast<int>((std::sqrt(dx * dx + dy * dy) - static_cast<double>(d)) * 256);
      frac = std::clamp(frac, 0, 255);
      alpha = cover == Cover::OuterRim ? alpha * (255 - frac) / 256 : alpha * frac / 256;
    }
    if (alpha <= 0) continue;
    row[x] = alpha >= 255 ? c : ColorOnColor(row[x], c, alpha);
  }
}

bool Drawable(const CDib* dib, const Shader* shader) {
  return dib && dib->m_Bits && dib->W > 0 && dib->H > 0 && shader;
}

// Span of row y from xa to xb (exclusive), clipped.
void ClippedSpan(CDib* dib, long long y, long long xa, long long xb, const Shader* shader,
                 Cover cover = Cover::Full, long long cx = 0, long long cy = 0, long long d = 0) {
  if (y < 0 || y >= dib->H) return;
  xa = std::max<long long>(xa, 0);
  xb = std::min<long long>(xb, dib->W);
  if (xa < xb) Span(dib, y, xa, xb, shader, cover, cx, cy, d);
}

// x0 + (x1 - x0) * num / den, truncated towards zero, without overflow.
long long Interpolate(long long x0, long long x1, long long num, long long den) {
  return x0 + static_cast<long long>(static_cast<__int128>(x1 - x0) * num / den);
}

// The largest j >= 0 with i^2 + j^2 < limit, or -1 when there is none.
long long MaxOffset(long long i, long long limit) {
  long long rest = limit - i * i - 1;
  return rest < 0 ? -1 : ISqrt(rest);
}

// A ring of outer radius r and inner radius q (a disc for q = 0), rows
// clipped to the surface. Per row, the pixels at column offsets j with
// lo < |j| <= hi form a band: one span when lo < 0, else one on each side.
void Ring(CDib* dib, long long cx, long long cy, long long r, long long q, const Shader* shader) {
  if (r < 0) return;
  q = std::clamp<long long>(q, 0, r);
  long long top = std::max(-r, -cy), bottom = std::min(r, dib->H - 1 - cy);
  for (long long i = top; i <= bottom; i++) {
    long long y = cy + i;
    auto band = [&](long long lo, long long hi, Cover cover, long long d) {
      if (hi <= lo) return;
      if (lo < 0) {
        ClippedSpan(dib, y, cx - hi, cx + hi + 1, shader, cover, cx, cy, d);
        return;
      }
      ClippedSpan(dib, y, cx - hi, cx - lo, shader, cover, cx, cy, d);
      ClippedSpan(dib, y, cx + lo + 1, cx + hi + 1, shader, cover, cx, cy, d);
    };
    long long rim = MaxOffset(i, (r + 1) * (r + 1));                // distance <= r
    long long full = MaxOffset(i, r * r);                           // distance < r
    long long inner = q > 0 ? MaxOffset(i, q * q) : -1;             // distance < q
    long long hole = q > 0 ? MaxOffset(i, (q - 1) * (q - 1)) : -1;  // distance < q - 1
    band(full, rim, Cover::OuterRim, r);
    band(inner, full, Cover::Full, 0);
    band(hole, inner, Cover::InnerRim, q - 1);
  }
}

void Triangle(CDib* dib, long long x1, long long y1, long long x2, long long y2, long long x3,
              long long y3, const Shader* shader) {
  // Corners ordered by y; (x1, y1) top, (x3, y3) bottom.
  if (y2 < y1) std::swap(x1, x2), std::swap(y1, y2);
  if (y3 < y2) std::swap(x2, x3), std::swap(y2, y3);
  if (y2 < y1) std::swap(x1, x2), std::swap(y1, y2);
  if (y1 == y3) return;
  long long top = std::max<long long>(y1, 0), bottom = std::min<long long>(y3, dib->H);
  for (long long y = top; y < bottom; y++) {
    long long xa = Interpolate(x1, x3, y - y1, y3 - y1);
    long long xb =
        y < y2 ? Interpolate(x1, x2, y - y1, y2 - y1) : Interpolate(x2, x3, y - y2, y3 - y2);
    ClippedSpan(dib, y, std::min(xa, xb), std::max(xa, xb), shader);
  }
}

// The index range [i0, i1) of the steps 0 <= i < count at which
// a + d * i / count (truncated) lies in [lo, hi); the value is monotonic in i.
void StepRange(long long a, long long d, long long count, long long lo, long long hi, long long& i0,
               long long& i1) {
  auto at = [&](long long i) { return Interpolate(a, a + d, i, count); };
  // First step whose value has reached the range's near end, and the first
  // that has passed its far end, by bisection.
  auto first = [&](auto reached) {
    long long l = 0, h = count;
    while (l < h) {
      long long m = l + (h - l) / 2;
      if (reached(at(m)))
        h = m;
      else
        l = m + 1;
    }
    return l;
  };
  if (d >= 0) {
    i0 = first([&](long long v) { return v >= lo; });
    i1 = first([&](long long v) { return v >= hi; });
  } else {
    i0 = first([&](long long v) { return v < hi; });
    i1 = first([&](long long v) { return v < lo; });
  }
}

}  // namespace

void RenderShadedHLine(CDib* dib, int x, int y, int length, const Shader* shader) {
  if (!Drawable(dib, shader) || length <= 0) return;
  ClippedSpan(dib, y, x, static_cast<long long>(x) + length, shader);
}

void RenderShadedRect(CDib* dib, int x, int y, int w, int h, const Shader* shader) {
  if (!Drawable(dib, shader) || w <= 0 || h <= 0) return;
  long long top = std::max(0, y),
            bottom = std::min<long long>(static_cast<long long>(y) + h, dib->H);
  for (long long row = top; row < bottom; row++)
    ClippedSpan(dib, row, x, static_cast<long long>(x) + w, shader);
}

void RenderShadedTriangle(CDib* dib, int x1, int y1, int x2, int y2, int x3, int y3,
                          const Shader* shader) {
  if (!Drawable(dib, shader)) return;
  Triangle(dib, x1, y1, x2, y2, x3, y3, shader);
}

void RenderShadedTriangle(CDib* dib, Point2D p1, Point2D p2, Point2D p3, const Shader* shader) {
  RenderShadedTriangle(dib, P2DX(p1), P2DY(p1), P2DX(p2), P2DY(p2), P2DX(p3), P2DY(p3), shader);
}

void RenderShadedPolygon(CDib* dib, const Polygon2D* polygon, const Shader* shader) {
  if (!Drawable(dib, shader) || !polygon) return;
  int count = std::min(polygon->PointsCount, kMaxPolygonPoints);
  const Point2D* p = polygon->Points;
  for (int i = 1; i + 1 < count; i++) RenderShadedTriangle(dib, p[0], p[i], p[i + 1], shader);
}

void RenderShadedCircle(CDib* dib, int cx, int cy, int radius, const Shader* shader) {
  if (!Drawable(dib, shader)) return;
  Ring(dib, cx, cy, radius, 0, shader);
}

void RenderShadedTorus(CDib* dib, int cx, int cy, int radius, int inner, const Shader* shader) {
  if (!Drawable(dib, shader)) return;
  Ring(dib, cx, cy, radius, inner, shader);
}

void RenderShadedEllipse(CDib* dib, int cx, int cy, int rx, int ry, const Shader* shader) {
  if (!Drawable(dib, shader) || rx < 0 || ry < 0) return;
  long long top = std::max<long long>(-static_cast<long long>(ry), -static_cast<long long>(cy));
  long long bottom = std::min<long long>(ry, static_cast<long long>(dib->H) - 1 - cy);
  for (long long i = top; i <= bottom; i++) {
    double t = ry > 0 ? static_cast<double>(i) / ry : 0.0;
    long long half = static_cast<long long>(rx * std::sqrt(std::max(0.0, 1.0 - t * t)));
    ClippedSpan(dib, static_cast<long long>(cy) + i, static_cast<long long>(cx) - half,
                static_cast<long long>(cx) + half + 1, shader);
  }
}

void RenderShadedLine(CDib* dib, int x1, int y1, int x2, int y2, const Shader* shader) {
  if (!Drawable(dib, shader)) return;
  if (y1 > y2) std::swap(x1, x2), std::swap(y1, y2);
  long long dx = static_cast<long long>(x2) - x1, dy = static_cast<long long>(y2) - y1;
  long long count = std::max(std::llabs(dx), std::llabs(dy));
  if (count == 0) return;
  long long ax0, ax1, ay0, ay1;
  StepRange(x1, dx, count, 0, dib->W, ax0, ax1);
  StepRange(y1, dy, count, 0, dib->H, ay0, ay1);
  for (long long i = std::max(ax0, ay0), end = std::min(ax1, ay1); i < end; i++) {
    long long x = Interpolate(x1, x2, i, count), y = Interpolate(y1, y2, i, count);
    Span(dib, y, x, x + 1, shader);
  }
}

// VectorArray -------------------------------------------------------------------------

void VectorArray::Transform(double scale, int angle) {
  Scale = scale;
  Angle = angle;
}

void VectorArray::SetControlPoint(int x, int y) {
  ControlPointX = x;
  ControlPointY = y;
}

VectorObject* VectorArray::Add(int type, const Shader* shader, int cpx, int cpy,
                               std::initializer_list<Point2D> points) {
  if (NoVectors >= kMaxObjects) return nullptr;
  VectorObject& o = vo[NoVectors++];
  o = VectorObject{};
  if (shader) o.s = *shader;
  o.VectorType = type;
  o.bRotateShader = 1;
  o.bMask = o.bLinked = 0;
  o.Poly.CenterPoint = P2D(cpx, cpy);
  std::copy(points.begin(), points.end(), o.Poly.Points);
  o.Poly.PointsCount = static_cast<int>(points.size());
  return &o;
}

VectorObject* VectorArray::AddCircle(int x, int y, int radius, int cpx, int cpy,
                                     const Shader* shader) {
  return AddTorus(x, y, radius, 0, cpx, cpy, shader);
}

VectorObject* VectorArray::AddTorus(int x, int y, int radius, int inner, int cpx, int cpy,
                                    const Shader* shader) {
  return Add(kVectorCircle, shader, cpx, cpy, {P2D(x, y), P2D(radius, inner)});
}

VectorObject* VectorArray::AddElipse(int x, int y, int rx, int ry, int cpx, int cpy,
                                     const Shader* shader) {
  return Add(kVectorEllipse, shader, cpx, cpy, {P2D(x, y), P2D(rx, ry)});
}

VectorObject* VectorArray::AddLine(int x1, int y1, int x2, int y2, int cpx, int cpy,
                                   const Shader* shader) {
  return Add(kVectorLine, shader, cpx, cpy, {P2D(x1, y1), P2D(x2, y2)});
}

VectorObject* VectorArray::AddRect(int x1, int y1, int x2, int y2, int cpx, int cpy,
                                   const Shader* shader) {
  return Add(kVectorPolygon, shader, cpx, cpy,
             {P2D(x1, y1), P2D(x2, y1), P2D(x2, y2), P2D(x1, y2)});
}

VectorObject* VectorArray::AddPolygon(const Polygon2D* polygon, const Shader* shader) {
  if (!polygon) return nullptr;
  VectorObject* o =
      Add(kVectorPolygon, shader, P2DX(polygon->CenterPoint), P2DY(polygon->CenterPoint));
  if (!o) return nullptr;
  o->Poly = *polygon;
  o->Poly.PointsCount = std::clamp(polygon->PointsCount, 0, kMaxPolygonPoints);
  return o;
}

namespace {

// The array's transform: p -> R(p - c) * scale + c + offset.
struct Placement {
  double cos = 1.0, sin = 0.0, scale = 1.0;
  double cx = 0, cy = 0, ox = 0, oy = 0;

  void Apply(int x, int y, bool turn, int& outx, int& outy) const {
    double dx = x - cx, dy = y - cy;
    double rx = turn ? dx * cos - dy * sin : dx, ry = turn ? dx * sin + dy * cos : dy;
    outx = ToCoord(rx * scale + cx + ox);
    outy = ToCoord(ry * scale + cy + oy);
  }
  int Length(int v) const { return ToCoord(v * scale); }
};

// One object drawn with `shader` at its placement.
void RenderObject(CDib* dib, const VectorObject& o, const Placement& at, const Shader* shader) {
  const Polygon2D& p = o.Poly;
  int x1, y1, x2, y2;
  switch (o.VectorType) {
    case kVectorLine:
      at.Apply(P2DX(p.Points[0]), P2DY(p.Points[0]), true, x1, y1);
      at.Apply(P2DX(p.Points[1]), P2DY(p.Points[1]), true, x2, y2);
      RenderShadedLine(dib, x1, y1, x2, y2, shader);
      break;
    case kVectorPolygon: {
      int n = std::min(p.PointsCount, kMaxPolygonPoints);
      int xs[kMaxPolygonPoints], ys[kMaxPolygonPoints];
      for (int i = 0; i < n; i++)
        at.Apply(P2DX(p.Points[i]), P2DY(p.Points[i]), true, xs[i], ys[i]);
      for (int i = 1; i + 1 < n; i++)
        RenderShadedTriangle(dib, xs[0], ys[0], xs[i], ys[i], xs[i + 1], ys[i + 1], shader);
      break;
    }
    case kVectorCircle:
      at.Apply(P2DX(p.Points[0]), P2DY(p.Points[0]), true, x1, y1);
      RenderShadedTorus(dib, x1, y1, at.Length(P2DX(p.Points[1])), at.Length(P2DY(p.Points[1])),
                        shader);
      break;
    case kVectorEllipse:
      at.Apply(P2DX(p.Points[0]), P2DY(p.Points[0]), true, x1, y1);
      RenderShadedEllipse(dib, x1, y1, at.Length(P2DX(p.Points[1])), at.Length(P2DY(p.Points[1])),
                          shader);
      break;
    default:
      break;
  }
}

// The object's shader as it is drawn: its own angle turns the gradient path
// about the object's control point; then the path and the texture origin go
// through the array's transform (turned only with bRotateShader), and the
// texture turns and scales with the array.
Shader PlacedShader(const VectorObject& o, const Placement& at, int arrayAngle) {
  Shader s = o.s;
  bool turn = o.bRotateShader != 0;
  if (turn && s.Angle != 0.0)
    s.Rotate(static_cast<int>(s.Angle), P2DX(o.Poly.CenterPoint), P2DY(o.Poly.CenterPoint));
  int x1, y1, x2, y2;
  at.Apply(s.rbd.x1, s.rbd.y1, turn, x1, y1);
  at.Apply(s.rbd.x2, s.rbd.y2, turn, x2, y2);
  s.SetShaderPath(x1, y1, x2, y2);
  if (s.Texture) {
    at.Apply(s.TextureOffsetX, s.TextureOffsetY, turn, s.TextureOffsetX, s.TextureOffsetY);
    s.TextureScale *= at.scale;
    if (turn) s.Angle += arrayAngle;
  }
  return s;
}

}  // namespace

int VectorArray::DrawObjects(CDib* dib, int x, int y, const Shader* replacement) {
  if (!dib || !dib->m_Bits) return 0;
  int n = std::clamp(NoVectors, 0, kMaxObjects);
  Placement at;
  int a = DegreeIndex(Angle);
  at.cos = g_TablesReady ? CosTable[a] : std::cos(a * M_PI / 180.0);
  at.sin = g_TablesReady ? SinTable[a] : std::sin(a * M_PI / 180.0);
  at.scale = Scale;
  at.cx = ControlPointX;
  at.cy = ControlPointY;
  at.ox = x;
  at.oy = y;

  // Units: a run of masks and linked objects up to and including the first
  // object that is neither; the mask state never passes from one unit to
  // the next, so units can be drawn in either order.
  int units[kMaxObjects + 1], count = 0;
  for (int i = 0; i < n;) {
    units[count++] = i;
    int j = i;
    while (j < n - 1 && (vo[j].bMask || vo[j].bLinked)) j++;
    i = j + 1;
  }
  units[count] = n;

  Shader white;
  white.SetSolidColor(255, 255, 255, 255);
  CDib scratch;
  int result = 1;
  bool backwards = dib->ZBuffer != nullptr;
  for (int k = 0; k < count; k++) {
    int u = backwards ? count - 1 - k : k;
    int begin = units[u], end = units[u + 1];
    bool masked = false;
    for (int i = begin; i < end; i++) masked = masked || vo[i].bMask;
    if (masked) {
      // Each group's masks start from an empty scratch surface.
      if (scratch.W != dib->W || scratch.H != dib->H) {
        if (!scratch.Create(dib->W, dib->H)) {
          result = 0;
          continue;
        }
      }
      scratch.Clear(0);
    }
    bool pending = false;
    for (int i = begin; i < end; i++) {
      const VectorObject& o = vo[i];
      if (o.bMask) {
        RenderObject(&scratch, o, at, &white);
      } else {
        Shader s = PlacedShader(o, at, Angle);
        if (replacement) {
          s = *replacement;
          s.Mask = nullptr;
        }
        if (pending) s.Mask = &scratch;
        RenderObject(dib, o, at, &s);
      }
      if (!o.bLinked) pending = o.bMask != 0;
    }
  }
  return result;
}

int VectorArray::Draw(CDib* dib, int x, int y) { return DrawObjects(dib, x, y, nullptr); }

int VectorArray::Shade(CDib* dib, int x, int y, int dx, int dy, int alpha) {
  Shader black;
  black.SetSolidColor(0, 0, 0, alpha);
  long long sx = static_cast<long long>(x) + dx, sy = static_cast<long long>(y) + dy;
  return DrawObjects(dib, ToCoord(static_cast<double>(sx)), ToCoord(static_cast<double>(sy)),
                     &black);
}

namespace {

// Whether (x, y) lies inside the triangle, by the sides' signs.
bool InTriangle(long long x, long long y, long long x1, long long y1, long long x2, long long y2,
                long long x3, long long y3) {
  auto side = [&](long long ax, long long ay, long long bx, long long by) {
    return (bx - ax) * (y - ay) - (by - ay) * (x - ax);
  };
  long long a = side(x1, y1, x2, y2), b = side(x2, y2, x3, y3), c = side(x3, y3, x1, y1);
  return (a >= 0 && b >= 0 && c >= 0) || (a <= 0 && b <= 0 && c <= 0);
}

}  // namespace

int VectorArray::PointInObject(int x, int y) const {
  int n = std::clamp(NoVectors, 0, kMaxObjects);
  for (int i = n - 1; i >= 0; i--) {
    const VectorObject& o = vo[i];
    if (o.bMask) continue;
    const Point2D* p = o.Poly.Points;
    long long px = x, py = y;
    switch (o.VectorType) {
      case kVectorPolygon:
        for (int t = 1; t + 1 < std::min(o.Poly.PointsCount, kMaxPolygonPoints); t++)
          if (InTriangle(px, py, P2DX(p[0]), P2DY(p[0]), P2DX(p[t]), P2DY(p[t]), P2DX(p[t + 1]),
                         P2DY(p[t + 1])))
            return i;
        break;
      case kVectorCircle: {
        long long d = SqrDistance(px - P2DX(p[0]), py - P2DY(p[0]));
        if (d <= P2DX(p[1]) && d >= P2DY(p[1])) return i;
        break;
      }
      case kVectorEllipse: {
        double rx = P2DX(p[1]), ry = P2DY(p[1]);
        if (rx <= 0 || ry <= 0) break;
        double ex = (px - P2DX(p[0])) / rx, ey = (py - P2DY(p[0])) / ry;
        if (ex * ex + ey * ey <= 1.0) return i;
        break;
      }
      default:
        break;
    }
  }
  return -1;
}

// DrawButton ---------------------------------------------------------------------------

void DrawButton(CDib* dib, int x, int y, int radius, int length, const Shader* shader) {
  if (!dib || !dib->m_Bits || radius < 0) return;
  // The shapes' points are 16-bit: the capsule is held within that range.
  const int c = std::min(radius, 16383), d = std::clamp(length, 0, 32767 - 2 * c);
  VectorArray va;
  va.SetControlPoint(c + d / 2, c);
  const int cpx = va.ControlPointX, cpy = va.ControlPointY;

  Shader body;
  if (shader) {
    body = *shader;
  } else {
    body.SetFColor(0, 0, 0, 255);
    body.SetBColor(96, 96, 96, 255);
  }
  body.SetGradientType(kGradientRadial);
  body.SetRepeat(kRepeatClamp);
  body.SetShaderPath(c, 2 * c, c, 4 * c);
  va.AddCircle(c, c, c, cpx, cpy, &body);
  if (d > 0) {
    body.SetShaderPath(c + d, 2 * c, c + d, 4 * c);
    va.AddCircle(c + d, c, c, cpx, cpy, &body);
    body.SetGradientType(kGradientLinear);
    body.SetShaderPath(c, 2 * c, c, 0);
    va.AddRect(c, 0, c + d, 2 * c + 1, cpx, cpy, &body);
  }

  Shader gloss;
  gloss.SetBColor(255, 255, 255, 255);
  gloss.SetFColor(255, 255, 255, 0);
  gloss.SetGradientType(kGradientLinear);
  gloss.SetRepeat(kRepeatClamp);
  gloss.SetShaderPath(c, 2, c, c);
  const int h = c / 2;
  VectorObject* first = va.AddCircle(c, h + 2, h, cpx, cpy, &gloss);
  if (d > 0) {
    // The two highlight circles and the bar between them mask a rectangle
    // drawn with the highlight shader: a smaller pill in the upper half.
    first->bMask = 1;
    first->bLinked = 1;
    Shader end = gloss;
    end.SetShaderPath(c + d, 2, c + d, c);
    VectorObject* second = va.AddCircle(c + d, h + 2, h, cpx, cpy, &end);
    second->bMask = 1;
    second->bLinked = 1;
    Shader bar = gloss;
    bar.SetShaderPath(c, 2, c, 2 * h);
    va.AddRect(c, 2, c + d, 2 * h + 3, cpx, cpy, &bar)->bMask = 1;
    va.AddRect(0, 0, d + 2 * c, 2 * h, cpx, cpy, &gloss);
  }
  auto shift = [](int v, int by) {
    return static_cast<int>(
        std::clamp<long long>(static_cast<long long>(v) - by, INT_MIN, INT_MAX));
  };
  va.Draw(dib, shift(x, c), shift(y, c));
}

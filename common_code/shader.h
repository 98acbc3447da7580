// Vector shapes: a small retained-mode renderer of gradient-shaded circles,
// rings, ellipses, polygons, rectangles and lines drawn into a CDib with
// per-pixel alpha, where shapes may act as masks for the shapes after them.
// The buttons use it through DrawButton, a shaded capsule with a glossy
// highlight.
//
// Every renderer clips to the surface before it touches a pixel, so any
// size or position is safe; pixels whose alpha-plane byte is 255 are left
// alone. Square roots and trigonometry come from the tables InitSQRTables
// builds; distances beyond the 320 x 320 square-root table are computed
// exactly instead of being read from it.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "common_code/dib.h"

// A point packed in 32 bits: x in the low signed 16 bits, y in the high.
typedef uint32_t Point2D;

// Packs (x, y); values beyond the 16-bit range are held at its ends rather
// than wrapped, so a far-off point stays on its side of the surface.
Point2D P2D(int x, int y);
inline int P2DX(Point2D p) { return static_cast<int16_t>(p & 0xFFFFu); }
inline int P2DY(Point2D p) { return static_cast<int16_t>(p >> 16); }

inline constexpr int kMaxPolygonPoints = 20;

struct Polygon2D {
  Point2D CenterPoint = 0;
  Point2D Points[kMaxPolygonPoints] = {};
  int PointsCount = 0;
};

// Colour components 0..255; a is the alpha (255 opaque).
struct TCOLOR {
  int r = 0, g = 0, b = 0, a = 0;
};

// Gradient and repeat types of RenderBlendData.
enum : int {
  kGradientLinear = 0,    // 0 at the path's start, 255 at its end
  kGradientMirrored = 1,  // as linear, mirrored about the start
  kGradientRadial = 2,    // by distance from the start, 255 at the path's length
  kGradientSquare = 3,    // by the larger of |dx|, |dy| from the start
};
enum : int {
  kRepeatClamp = 0,     // held at the ends
  kRepeatSaw = 1,       // reversed saw-tooth: 255 - (b mod 255)
  kRepeatPingPong = 2,  // up and down again every 255
};

// The gradient state of a shader. sx, sy is the path's start as it is drawn;
// x1..y2 the path as set; dist the path length x 16 and vec its direction x
// 4080 / length (both 0 for a path of no length).
struct RenderBlendData {
  int offset = 0;
  int sx = 0, sy = 0;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int gradient_type = kGradientLinear;
  int repeat_type = kRepeatClamp;
  TCOLOR fg;  // colour at the end of the path
  TCOLOR bg;  // colour at the start
  int dist = 0;
  int vec[2] = {0, 0};
};

// Colours every pixel of a shape: by a gradient from bg to fg along a path,
// a solid colour, or a texture, each optionally clipped and weighted by a
// mask surface.
class Shader {
 public:
  Shader() = default;

  // The gradient's end and start colours (components clamped to 0..255);
  // either ends solid filling.
  void SetFColor(int r, int g, int b, int a);
  void SetBColor(int r, int g, int b, int a);
  // Solid filling with ColorValue(r, g, b) at the given alpha.
  void SetSolidColor(int r, int g, int b, int alpha);
  void SetGradientType(int type);
  void SetRepeat(int type);
  // The gradient path from (x1, y1) to (x2, y2). The distance rule is that
  // of the gradient type in force, so set the type first.
  void SetShaderPath(int x1, int y1, int x2, int y2);
  // Samples `texture` (not owned) from offset (x, y), `scale` texture pixels
  // per screen pixel's inverse (2.0 draws the texture twice as large).
  void SetTexture(CDib* texture, int x, int y, double scale);
  // Turns the gradient path by `angle` degrees about (cx, cy).
  void Rotate(int angle, int cx, int cy);

  // The gradient's weight 0..255 at (x, y) after the repeat rule.
  int GradientFactor(int x, int y) const;
  // The pixel this shader gives at (x, y) and, in `alpha`, its weight 0..255.
  unsigned short GetPixel(int x, int y, int& alpha) const;

  RenderBlendData rbd;
  unsigned char Red = 0, Green = 0, Blue = 0;  // the solid colour's components
  int bSolidFill = 0;
  PIXEL SolidColor = 0;
  unsigned char SolidAlpha = 0;
  double Angle = 0.0;  // texture rotation, degrees
  double Scale = 1.0;
  double TextureScale = 1.0;
  int RotationPointX = 0, RotationPointY = 0;  // the texture turns about this point
  int ShaderOffsetX = 0, ShaderOffsetY = 0;    // moves the gradient
  int TextureOffsetX = 0, TextureOffsetY = 0;
  CDib* Mask = nullptr;     // clips and weights the shader where set; not owned
  CDib* Texture = nullptr;  // not owned
};

// Vector types of VectorObject.
enum : int {
  kVectorLine = 1,
  kVectorPolygon = 2,
  kVectorCircle = 3,  // a ring when its inner radius is above 0
  kVectorEllipse = 5,
};

// One shape of a VectorArray with its own copy of a shader. Circles and
// rings keep their centre in Points[0], (radius, inner radius) in Points[1];
// ellipses their centre and (x radius, y radius); lines their two ends. The
// object's control point (CenterPoint) is where its shader's texture turns.
struct VectorObject {
  Shader s;
  int bMask = 0;    // drawn into the mask, not onto the surface
  int bLinked = 0;  // belongs to the same mask group as the next object
  int VectorType = 0;
  int bRotateShader = 1;
  Polygon2D Poly;
};

// Up to 25 shapes drawn together, turned by Angle and scaled by Scale about
// the control point.
//
// Masks: the shapes of a run of mask objects are drawn, white and opaque,
// into a scratch surface of the destination's size; the first non-mask
// object after them (and each one linked to it) is drawn through that
// scratch surface, which lets it through only where a mask shape lies.
class VectorArray {
 public:
  static constexpr int kMaxObjects = 25;

  VectorArray() = default;

  // Removes every shape; the transform and control point stay.
  void Reset() { NoVectors = 0; }
  void Transform(double scale, int angle);
  void SetControlPoint(int x, int y);

  // Each adds a shape with a copy of `shader` (a default shader when null)
  // and returns it for further settings, or returns null when 25 shapes
  // exist. (cpx, cpy) is the shape's own control point. A rectangle is kept
  // as the four-point polygon (x1, y1), (x2, y1), (x2, y2), (x1, y2), which
  // fills x1 <= x < x2, y1 <= y < y2.
  VectorObject* AddCircle(int x, int y, int radius, int cpx, int cpy, const Shader* shader);
  VectorObject* AddTorus(int x, int y, int radius, int inner, int cpx, int cpy,
                         const Shader* shader);
  VectorObject* AddElipse(int x, int y, int rx, int ry, int cpx, int cpy, const Shader* shader);
  VectorObject* AddLine(int x1, int y1, int x2, int y2, int cpx, int cpy, const Shader* shader);
  VectorObject* AddRect(int x1, int y1, int x2, int y2, int cpx, int cpy, const Shader* shader);
  // At most the first 20 points of `polygon` are kept.
  VectorObject* AddPolygon(const Polygon2D* polygon, const Shader* shader);

  // Draws every shape: each point p becomes R(p - c) * Scale + c + (x, y),
  // with c the control point and R the turn by Angle, so (x, y) moves the
  // array and the turn and scale keep the control point in place. Objects go
  // first to last, or last to first (mask groups kept together) when `dib`
  // has an alpha plane. Returns 1, or 0 when `dib` is empty or a mask group
  // could not be drawn for want of memory.
  int Draw(CDib* dib, int x, int y);
  // The index (0-based) of the topmost non-mask shape containing (x, y) in
  // the array's own coordinates, or -1.
  int PointInObject(int x, int y) const;
  // A drop shadow: every shape drawn as Draw would, moved by (dx, dy), in
  // black at `alpha`, masks honoured.
  int Shade(CDib* dib, int x, int y, int dx, int dy, int alpha);

  VectorObject vo[kMaxObjects];
  int NoVectors = 0;
  double Scale = 1.0;
  int Angle = 0;  // degrees
  int ControlPointX = 0, ControlPointY = 0;

 private:
  // A new object of `type` turning about (cpx, cpy), made of `points` (none
  // for a polygon that is copied in afterwards); null when the array is full.
  VectorObject* Add(int type, const Shader* shader, int cpx, int cpy,
                    std::initializer_list<Point2D> points = {});
  int DrawObjects(CDib* dib, int x, int y, const Shader* replacement);
};

// The tables of InitSQRTables: sine and cosine of each whole degree, and
// SqrTab[y * 320 + x] = the integer part of sqrt(x^2 + y^2).
inline constexpr int kSqrTabSize = 320;
extern double SinTable[360];
extern double CosTable[360];
extern unsigned short SqrTab[kSqrTabSize * kSqrTabSize];
void InitSQRTables();

// The integer part of sqrt(dx^2 + dy^2): from SqrTab when both lie within
// it (and the tables are built), else computed.
long long SqrDistance(long long dx, long long dy);

// Renderers: each pixel is coloured by the shader and written with
// CDib::SetAlphaPixel at the shader's alpha.
// Pixels (x + i, y) for 0 <= i < length.
void RenderShadedHLine(CDib* dib, int x, int y, int length, const Shader* shader);
// Every pixel of the w x h block at (x, y).
void RenderShadedRect(CDib* dib, int x, int y, int w, int h, const Shader* shader);
// Scan lines between the edges, the bottom row and each span's right end
// left out, so triangles sharing an edge meet without overlap.
void RenderShadedTriangle(CDib* dib, Point2D p1, Point2D p2, Point2D p3, const Shader* shader);
void RenderShadedTriangle(CDib* dib, int x1, int y1, int x2, int y2, int x3, int y3,
                          const Shader* shader);
// A fan of triangles (point 0, point i, point i + 1).
void RenderShadedPolygon(CDib* dib, const Polygon2D* polygon, const Shader* shader);
// Pixels nearer than `radius` to the centre, and an anti-aliased rim of the
// pixels whose distance rounds down to the radius: their alpha is scaled by
// (255 - frac) / 256, frac being the distance's fraction in 1/256 steps. A
// radius of 0 is the centre pixel at 255/256 of the shader's alpha.
void RenderShadedCircle(CDib* dib, int cx, int cy, int radius, const Shader* shader);
// A circle without the pixels nearer than `inner` to the centre; the inner
// edge is anti-aliased as the outer one.
void RenderShadedTorus(CDib* dib, int cx, int cy, int radius, int inner, const Shader* shader);
// The pixels inside the axis-aligned ellipse with radii rx, ry.
void RenderShadedEllipse(CDib* dib, int cx, int cy, int rx, int ry, const Shader* shader);
// A one-pixel line from (x1, y1) towards (x2, y2), the end point left out
// (the stepping of CDib::Line).
void RenderShadedLine(CDib* dib, int x1, int y1, int x2, int y2, const Shader* shader);

// A shaded capsule: a circle of `radius` centred on (x, y), a second one
// `length` pixels to its right and the bar between them, shaded by
// `shader` (radial on the ends, linear on the bar; when null, black at the
// top to grey at the bottom), with a white glossy highlight in its upper
// half. A length of 0 or less gives one circle and its highlight; nothing is
// drawn for a negative radius. The capsule is held within 32767 pixels.
void DrawButton(CDib* dib, int x, int y, int radius, int length, const Shader* shader);

// CDib: storage, pixels, fills, lines, copies and the alpha plane; the
// colour functions; the built-in character set; AnimObject and GDIDib.
//
// Surfaces are plain heap memory on both builds. Every public drawing
// operation clips to the surfaces it touches, so no coordinates a caller
// passes can reach memory outside them; inside the surface the results are
// exactly those of the unclipped operation.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "common_code/dib.h"
#include "common_code/xdib.h"
#include "platform/services/byte_order.h"
#include "platform/services/pixels.h"
#include "platform/winapi/alert.h"

GXDisplayProperties DisplayProperties = kPocket
                                            ? GXDisplayProperties{240, 320, 2, 480, 16, kfDirect565}
                                            : GXDisplayProperties{240, 320, 1, 1, 16, kfDirect555};

int DibCount = 0;

// Colour functions ------------------------------------------------------------

namespace {

// Weights outside 0..255 would carry one channel into the next.
inline int ClampAlpha(int alpha) { return alpha < 0 ? 0 : (alpha > 255 ? 255 : alpha); }

// The screen mix of one channel of width `bits` (M = 2^bits - 1).
inline int ScreenChannel(int b, int f, int bits) {
  int m = (1 << bits) - 1;
  return m - (((m - f) * (m - b)) >> bits);
}

}  // namespace

unsigned short ColorValue(int r, int g, int b) {
  uint32_t f = DisplayProperties.ffFormat;
  if (f & kfDirect565)
    return static_cast<unsigned short>(((r >> 3) << 11) + ((g >> 2) << 5) + (b >> 3));
  if (f & kfDirect555)
    return static_cast<unsigned short>(((r >> 3) << 10) + ((g >> 3) << 5) + (b >> 3));
  return 0;
}

void ColorComponents(unsigned short c, unsigned char& r, unsigned char& g, unsigned char& b) {
  uint32_t f = DisplayProperties.ffFormat;
  if (f & (kfDirect565 | kfDirect555)) {
    platform::PixelChannels(c, (f & kfDirect565) != 0, r, g, b);
  } else {
    r = g = b = 0;
  }
}

unsigned short ColorOnColor(unsigned short background, unsigned short foreground, int alpha) {
  uint32_t f = DisplayProperties.ffFormat;
  alpha = ClampAlpha(alpha);
  int bg = background, fg = foreground;
  if (f & kfDirect565) {
    int r = BlendChannel(bg >> 11, fg >> 11, alpha);
    int g = BlendChannel((bg >> 5) & 63, (fg >> 5) & 63, alpha);
    int b = BlendChannel(bg & 31, fg & 31, alpha);
    return static_cast<unsigned short>((r << 11) + (g << 5) + b);
  }
  if (f & kfDirect555) {
    int r = BlendChannel((bg >> 10) & 31, (fg >> 10) & 31, alpha);
    int g = BlendChannel((bg >> 5) & 31, (fg >> 5) & 31, alpha);
    int b = BlendChannel(bg & 31, fg & 31, alpha);
    return static_cast<unsigned short>((r << 10) + (g << 5) + b);
  }
  return background;
}

unsigned short ColorOnColorScreen(unsigned short background, unsigned short foreground, int alpha) {
  uint32_t f = DisplayProperties.ffFormat;
  alpha = ClampAlpha(alpha);
  int bg = background, fg = foreground;
  if (f & kfDirect565) {
    int br = bg >> 11, bgg = (bg >> 5) & 63, bb = bg & 31;
    int r = BlendChannel(br, ScreenChannel(br, fg >> 11, 5), alpha);
    int g = BlendChannel(bgg, ScreenChannel(bgg, (fg >> 5) & 63, 6), alpha);
    int b = BlendChannel(bb, ScreenChannel(bb, fg & 31, 5), alpha);
    return static_cast<unsigned short>((r << 11) + (g << 5) + b);
  }
  if (f & kfDirect555) {
    int br = (bg >> 10) & 31, bgg = (bg >> 5) & 31, bb = bg & 31;
    int r = BlendChannel(br, ScreenChannel(br, (fg >> 10) & 31, 5), alpha);
    int g = BlendChannel(bgg, ScreenChannel(bgg, (fg >> 5) & 31, 5), alpha);
    int b = BlendChannel(bb, ScreenChannel(bb, fg & 31, 5), alpha);
    return static_cast<unsigned short>((r << 10) + (g << 5) + b);
  }
  return background;
}

// Storage ----------------------------------------------------------------------

CDib::CDib() { DibCount++; }

CDib::~CDib() {
  Destroy();
  DibCount--;
}

int CDib::Create(int Width, int Height) {
  if (Width < 1 || Height < 1) return 0;
  Destroy();
  size_t count = static_cast<size_t>(Width) * static_cast<size_t>(Height);
  m_Bits = static_cast<PIXEL*>(std::malloc(count * sizeof(PIXEL)));
  if (!m_Bits) {
    if constexpr (!kPocket) Alert("CDib::Create Failed", "m_Bitmap = NULL");
    return 0;
  }
  W = Width;
  H = Height;
#if !ZELVARO_POCKET
  m_Info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  m_Info.bmiHeader.biWidth = W;
  m_Info.bmiHeader.biHeight = -H;
  m_Info.bmiHeader.biPlanes = 1;
  m_Info.bmiHeader.biBitCount = 16;
  m_Info.bmiHeader.biCompression = BI_RGB;
  m_Info.bmiHeader.biSizeImage = static_cast<uint32_t>(count * sizeof(PIXEL));
#endif
  return 1;
}

// The alpha plane goes with the pixels: it is indexed by the surface's size
// and would be read out of bounds by a later, larger surface.
int CDib::Destroy() {
  DestroyZBuffer();
  std::free(m_Bits);
  m_Bits = nullptr;
  W = H = 0;
#if !ZELVARO_POCKET
  m_Info = {};
#endif
  return 1;
}

// Pixels -------------------------------------------------------------------------

void CDib::SetPixel(int x, int y, int colour) {
  if (Inside(x, y)) m_Bits[static_cast<size_t>(y) * W + x] = static_cast<PIXEL>(colour);
}

PIXEL CDib::GetPixel(int x, int y) const {
  return Inside(x, y) ? m_Bits[static_cast<size_t>(y) * W + x] : 0;
}

void CDib::SetAlphaPixel(int x, int y, unsigned short colour, int alpha) {
  if (!Inside(x, y)) return;
  PIXEL& p = m_Bits[static_cast<size_t>(y) * W + x];
  p = alpha == 255 ? colour : ColorOnColor(p, colour, alpha);
}

// Filled areas --------------------------------------------------------------------

void CDib::Clear(unsigned short colour) {
  if (!m_Bits) return;
  std::fill_n(m_Bits, static_cast<size_t>(W) * H, colour);
}

void CDib::Fill(int x1, int y1, int x2, int y2, unsigned short colour) {
  int xa = std::max(x1, 0), xb = std::min(x2, W);
  int ya = std::max(y1, 0), yb = std::min(y2, H);
  if (xa >= xb) return;
  for (int y = ya; y < yb; y++) {
    PIXEL* row = m_Bits + static_cast<size_t>(y) * W;
    std::fill(row + xa, row + xb, colour);
  }
}

void CDib::Fill2(int x1, int y1, int x2, int y2, unsigned short colour, int alpha) {
  int xa = std::max(x1, 0), xb = std::min(x2, W);
  int ya = std::max(y1, 0), yb = std::min(y2, H);
  for (int y = ya; y < yb; y++) {
    PIXEL* row = m_Bits + static_cast<size_t>(y) * W;
    for (int x = xa; x < xb; x++) row[x] = ColorOnColor(row[x], colour, alpha);
  }
}

namespace {
// A pixel's channels in the current layout (green has 6 bits in 5-6-5) and
// back. SplitPixel returns false when the layout is neither.
struct Channels {
  int r, g, b;
};
bool SplitPixel(PIXEL p, Channels& c) {
  uint32_t f = DisplayProperties.ffFormat;
  if (f & kfDirect565) {
    c = {p >> 11, (p >> 5) & 63, p & 31};
    return true;
  }
  if (f & kfDirect555) {
    c = {(p >> 10) & 31, (p >> 5) & 31, p & 31};
    return true;
  }
  return false;
}
PIXEL JoinPixel(const Channels& c) {
  if (DisplayProperties.ffFormat & kfDirect565)
    return static_cast<PIXEL>((c.r << 11) + (c.g << 5) + c.b);
  return static_cast<PIXEL>((c.r << 10) + (c.g << 5) + c.b);
}
}  // namespace

void CDib::Darken(int x1, int y1, int x2, int y2, unsigned char mode) {
  long long n = static_cast<long long>(y2) - y1;
  if (n <= 0 || mode > 2) return;
  int xa = std::max(x1, 0), xb = std::min(x2, W);
  int ya = std::max(y1, 0), yb = std::min(y2, H);
  for (int y = ya; y < yb; y++) {
    long long r = n - (static_cast<long long>(y) - y1);  // n at the top row, 1 at the bottom
    int c = static_cast<int>((r - 1) * 255 / n);
    PIXEL* row = m_Bits + static_cast<size_t>(y) * W;
    for (int x = xa; x < xb; x++) {
      if (mode == 0) {
        row[x] = ColorOnColor(row[x], 0, 64);
        continue;
      }
      Channels ch;
      if (!SplitPixel(row[x], ch)) return;
      for (int* v : {&ch.r, &ch.g, &ch.b}) {
        int t = (mode == 1 ? -*v * c : *v * c) + 128;
        int scaled = (t + (t >> 8)) >> 8;
        *v = mode == 1 ? *v + scaled : scaled;
      }
      row[x] = JoinPixel(ch);
    }
  }
}

void CDib::VGradient(unsigned short top, unsigned short bottom) {
  for (int i = 0; i < H; i++) {
    PIXEL c = ColorOnColor(top, bottom, static_cast<int>(static_cast<long long>(i) * 255 / H));
    std::fill_n(m_Bits + static_cast<size_t>(i) * W, W, c);
  }
}

void CDib::HGradient(unsigned short left, unsigned short right) {
  for (int i = 0; i < W; i++) {
    PIXEL c = ColorOnColor(left, right, static_cast<int>(static_cast<long long>(i) * 255 / W));
    for (int y = 0; y < H; y++) m_Bits[static_cast<size_t>(y) * W + i] = c;
  }
}

// Lines ----------------------------------------------------------------------------

void CDib::hLine(int x, int y, int length, int colour) {
  if (y < 0 || y >= H) return;
  long long a = std::max<long long>(x, 0),
            b = std::min<long long>(static_cast<long long>(x) + length, W);
  for (long long i = a; i < b; i++)
    m_Bits[static_cast<size_t>(y) * W + i] = static_cast<PIXEL>(colour);
}

void CDib::vLine(int x, int y, int length, int colour) {
  if (x < 0 || x >= W) return;
  long long a = std::max<long long>(y, 0),
            b = std::min<long long>(static_cast<long long>(y) + length, H);
  for (long long i = a; i < b; i++) m_Bits[i * W + x] = static_cast<PIXEL>(colour);
}

void CDib::Box(int x1, int y1, int x2, int y2, int colour) {
  auto len = [](long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
  };
  hLine(x1, y1, len(static_cast<long long>(x2) - x1 + 1), colour);
  hLine(x1, y2, len(static_cast<long long>(x2) - x1 + 1), colour);
  vLine(x1, y1, len(static_cast<long long>(y2) - y1), colour);
  vLine(x2, y1, len(static_cast<long long>(y2) - y1), colour);
}

void CDib::Line(float x1, float y1, float x2, float y2, int colour) {
  if (y1 > y2) {
    std::swap(x1, x2);
    std::swap(y1, y2);
  }
  float ax = std::fabs(x2 - x1), ay = std::fabs(y2 - y1);
  // Beyond 2^24 steps a single-precision position no longer moves by one
  // step; such lines (and non-finite ones) are not drawn.
  constexpr float kMaxSteps = 16777216.0f;
  if (!(ax <= kMaxSteps) || !(ay <= kMaxSteps)) return;
  int count = std::max(static_cast<int>(ax), static_cast<int>(ay));
  if (count == 0) return;
  float dx = (x2 - x1) / static_cast<float>(count), dy = (y2 - y1) / static_cast<float>(count);
  float x = x1, y = y1;
  for (int i = 0; i < count; i++) {
    if (x > -2147483648.0f && x < 2147483648.0f && y > -2147483648.0f && y < 2147483648.0f)
      SetPixel(static_cast<int>(x), static_cast<int>(y), colour);
    x += dx;
    y += dy;
  }
}

// Copies ---------------------------------------------------------------------------

namespace {

// A copy rectangle after clipping: w x h pixels from (sx, sy) of the source
// to (x, y) of the destination.
struct Blit {
  int x, y, w, h, sx, sy;
};

// One axis of ClipBlit: the block at `pos`, `len` long, from `spos` of the
// source, against a destination `dstLen` and a source `srcLen` long.
void ClipAxis(long long& pos, long long& len, long long& spos, long long dstLen, long long srcLen) {
  if (pos + len >= dstLen) len = dstLen - pos;
  if (pos < 0) {
    len += pos;
    spos -= pos;
    pos = 0;
  }
  if (spos < 0) {
    len += spos;
    pos -= spos;
    spos = 0;
  }
  if (spos + len > srcLen) len = srcLen - spos;
}

// Clips against the destination as the copies always have (a block running
// past the right or bottom edge is shortened; a negative start moves the
// source start by the same amount), then against the source, which callers
// cannot be trusted to keep the block inside. False when nothing remains.
bool ClipBlit(const CDib& dst, const CDib& src, long long x, long long y, long long w, long long h,
              long long sx, long long sy, Blit& out) {
  if (!dst.m_Bits || !src.m_Bits) return false;
  ClipAxis(x, w, sx, dst.W, src.W);
  ClipAxis(y, h, sy, dst.H, src.H);
  if (w < 1 || h < 1) return false;
  out = {static_cast<int>(x), static_cast<int>(y),  static_cast<int>(w),
         static_cast<int>(h), static_cast<int>(sx), static_cast<int>(sy)};
  return true;
}

// Mode 1 over runs that do not overlap, eight pixels at a time: each lane
// takes the source pixel unless it is the transparent colour, in which case
// the destination keeps its own value.
void CopySkipping(unsigned short* dst, const unsigned short* src, int count,
                  unsigned short transparent) {
  typedef unsigned short Lanes __attribute__((vector_size(16)));
  const Lanes key = {transparent, transparent, transparent, transparent,
                     transparent, transparent, transparent, transparent};
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    Lanes s, d;
    std::memcpy(&s, src + i, sizeof(s));
    std::memcpy(&d, dst + i, sizeof(d));
    Lanes keep = reinterpret_cast<Lanes>(s == key);  // all ones where transparent
    Lanes out = (s & ~keep) | (d & keep);
    std::memcpy(dst + i, &out, sizeof(out));
  }
  for (; i < count; i++)
    if (src[i] != transparent) dst[i] = src[i];
}

// dst[i] = mix(dst[i], src[i]) along `count` pixels, in order (the two may
// overlap); when `skipTransparent`, not where the source is `transparent`.
template <typename Mix>
void CopyMixed(PIXEL* dst, const PIXEL* src, int count, PIXEL transparent, bool skipTransparent,
               Mix mix) {
  if (skipTransparent) {
    for (int i = 0; i < count; i++)
      if (src[i] != transparent) dst[i] = mix(dst[i], src[i]);
  } else {
    for (int i = 0; i < count; i++) dst[i] = mix(dst[i], src[i]);
  }
}

}  // namespace

int CDib::BitBlt(int x, int y, int w, int h, CDib* src, int sx, int sy, unsigned char mode) {
  Blit b;
  if (!src || !ClipBlit(*this, *src, x, y, w, h, sx, sy, b)) return 0;
  // Whole rows of equally wide surfaces lie end to end: one run.
  if (b.w == W && b.w == src->W && src != this && static_cast<long long>(b.w) * b.h <= INT32_MAX) {
    MemoryCopy(m_Bits + static_cast<size_t>(b.y) * W, src->m_Bits + static_cast<size_t>(b.sy) * W,
               b.w * b.h, mode, src->TransparentColor, src->Opacity);
    return 1;
  }
  for (int row = 0; row < b.h; row++) {
    MemoryCopy(m_Bits + static_cast<size_t>(b.y + row) * W + b.x,
               src->m_Bits + static_cast<size_t>(b.sy + row) * src->W + b.sx, b.w, mode,
               src->TransparentColor, src->Opacity);
  }
  return 1;
}

void CDib::MemoryCopy(unsigned short* dst, const unsigned short* src, int count, int mode,
                      unsigned short transparent, unsigned char opacity) {
  if (count <= 0) return;
  auto blend = [opacity](PIXEL d, PIXEL s) { return ColorOnColor(d, s, opacity); };
  auto screen = [opacity](PIXEL d, PIXEL s) { return ColorOnColorScreen(d, s, opacity); };
  switch (mode) {
    case kCopyBlock:
      std::memmove(dst, src, static_cast<size_t>(count) * sizeof(PIXEL));
      break;
    case kCopyTransparent:
      if (dst + count <= src || src + count <= dst)
        CopySkipping(dst, src, count, transparent);
      else
        CopyMixed(dst, src, count, transparent, true, [](PIXEL, PIXEL s) { return s; });
      break;
    case kCopyBlend:
    case kCopyBlendTransparent:
      CopyMixed(dst, src, count, transparent, mode == kCopyBlendTransparent, blend);
      break;
    case kCopyScreen:
    case kCopyScreenTransparent:
      CopyMixed(dst, src, count, transparent, mode == kCopyScreenTransparent, screen);
      break;
    case kCopySilhouette:
      CopyMixed(dst, src, count, transparent, true, [this](PIXEL, PIXEL) { return PaintColor; });
      break;
    default:
      break;
  }
}

int CDib::BitBltAlpha(int x, int y, int w, int h, CDib* src, int sx, int sy) {
  Blit b;
  if (!src || !src->ZBuffer || !ClipBlit(*this, *src, x, y, w, h, sx, sy, b)) return 0;
  for (int row = 0; row < b.h; row++) {
    PIXEL* d = m_Bits + static_cast<size_t>(b.y + row) * W + b.x;
    size_t s = static_cast<size_t>(b.sy + row) * src->W + b.sx;
    for (int i = 0; i < b.w; i++)
      d[i] = ColorOnColor(d[i], src->m_Bits[s + i], src->ZBuffer[s + i]);
  }
  return 1;
}

int CDib::StretchBlt(CDib* src, int x, int y, int w, int h, int mode) {
  if (!m_Bits || !src || !src->m_Bits || w < 1 || h < 1) return 0;
  long long stepx = (static_cast<long long>(src->W) << 16) / w;
  long long stepy = (static_cast<long long>(src->H) << 16) / h;
  long long c0 = std::max<long long>(0, -static_cast<long long>(x));
  long long c1 = std::min<long long>(w, static_cast<long long>(W) - x);
  long long r0 = std::max<long long>(0, -static_cast<long long>(y));
  long long r1 = std::min<long long>(h, static_cast<long long>(H) - y);
  if (c0 >= c1 || r0 >= r1) return 0;
  constexpr int kChunk = 256;
  PIXEL run[kChunk];
  for (long long r = r0; r < r1; r++) {
    const PIXEL* srow = src->m_Bits + static_cast<size_t>((r * stepy) >> 16) * src->W;
    long long drow = (y + r) * W + x;  // index of the rectangle's row start, maybe left of 0
    for (long long c = c0; c < c1; c += kChunk) {
      int n = static_cast<int>(std::min<long long>(kChunk, c1 - c));
      for (int i = 0; i < n; i++) run[i] = srow[((c + i) * stepx) >> 16];
      MemoryCopy(m_Bits + (drow + c), run, n, mode, src->TransparentColor, src->Opacity);
    }
  }
  return 1;
}

int CopyDib(CDib* dst, CDib* src) {
  if (!dst || !src) return 0;
  if (dst == src) return 1;
  if (dst->W != src->W || dst->H != src->H) {
    if (!dst->Create(src->W, src->H)) return 0;
  }
  if (src->m_Bits)
    std::memcpy(dst->m_Bits, src->m_Bits, static_cast<size_t>(src->W) * src->H * sizeof(PIXEL));
  return 1;
}

// Alpha plane ------------------------------------------------------------------------

int CDib::InitZBuffer() {
  DestroyZBuffer();
  if (!m_Bits) return 0;
  ZBuffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(W) * H, 1));
  return ZBuffer ? 1 : 0;
}

void CDib::DestroyZBuffer() {
  std::free(ZBuffer);
  ZBuffer = nullptr;
}

unsigned char CDib::CheckZBuffer(int x, int y) const {
  if (!ZBuffer) return 0;
  if (!Inside(x, y)) return 255;
  return ZBuffer[static_cast<size_t>(y) * W + x];
}

int CDib::EnableAlphaMask() {
  if (!m_Bits || H < 2) return 0;
  int half = H / 2;
  size_t count = static_cast<size_t>(W) * half;
  auto* plane = static_cast<unsigned char*>(std::malloc(count));
  if (!plane) return 0;
  const PIXEL* mask = m_Bits + count;
  for (size_t i = 0; i < count; i++) {
    unsigned char r, g, b;
    ColorComponents(mask[i], r, g, b);
    plane[i] = static_cast<unsigned char>(0.299 * r + 0.587 * g + 0.114 * b);
  }
  DestroyZBuffer();
  ZBuffer = plane;
  H = half;
#if !ZELVARO_POCKET
  m_Info.bmiHeader.biHeight = -H;
  m_Info.bmiHeader.biSizeImage = static_cast<uint32_t>(count * sizeof(PIXEL));
#endif
  return 1;
}

void CDib::bilinear() {
  for (int y = 1; y < H - 1; y++) {
    for (int x = 1; x < W - 1; x++) {
      PIXEL* p = m_Bits + static_cast<size_t>(y) * W + x;
      unsigned char c[5][3];
      const PIXEL around[5] = {p[-1], p[1], p[-W], p[W], p[0]};
      for (int k = 0; k < 5; k++) ColorComponents(around[k], c[k][0], c[k][1], c[k][2]);
      int out[3];
      for (int ch = 0; ch < 3; ch++) {
        int avg = (c[0][ch] + c[1][ch] + c[2][ch] + c[3][ch]) >> 2;
        out[ch] = (avg + c[4][ch]) >> 1;
      }
      *p = ColorValue(out[0], out[1], out[2]);
    }
  }
}

// Built-in character set -----------------------------------------------------------

namespace {

constexpr char kCharOrder[] = "abcdefghijklmnopqrstuvwxyz0123456789:!?-=+[] .,><#'@/\\%";
constexpr int kGlyphCount = 55;
constexpr int kSpaceGlyph = 44;
static_assert(sizeof(kCharOrder) - 1 == kGlyphCount && kCharOrder[kSpaceGlyph] == ' ');

// The glyphs in the order of kCharOrder: seven rows of seven cells, o = ink.
constexpr const char* kGlyphRows[kGlyphCount][7] = {
    {"oooo:::", "oo:oo::", "oo::oo:", "oo:::oo", "ooooooo", "oo:::oo", "oo:::oo"},  // 0 a
    {"oooo:::", "oo:oo::", ":oo::::", "ooooo::", "oo::oo:", "oo:::oo", "oooooo:"},  // 1 b
    {"::ooooo", ":oo::::", "oo:::::", "oo:::::", "oo:::::", "oo:::::", ":oooooo"},  // 2 c
    {"oooo:::", "oo:oo::", "oo::oo:", "oo:::oo", "oo:::oo", "oo:::oo", "oooooo:"},  // 3 d
    {"ooooooo", "oo:::::", "oo:::::", "ooooooo", "oo:::::", "oo:::::", "ooooooo"},  // 4 e
    {"ooooooo", "oo:::::", "oo:::::", "ooooo::", "oo:::::", "oo:::::", "oo:::::"},  // 5 f
    {"::oooo:", ":oo::::", "oo:::::", "oo:oooo", "oo:::oo", "oo:::oo", ":oooooo"},  // 6 g
    {"oo::::o", "oo::::o", "oo::::o", "ooooooo", "oo::::o", "oo::::o", "oo::::o"},  // 7 h
    {"::oooo:", ":::oo::", ":::oo::", ":::oo::", ":::oo::", ":::oo::", "::oooo:"},  // 8 i
    {"::ooooo", ":::::oo", ":::::oo", ":::::oo", "oo:::oo", ":oo:oo:", "::ooo::"},  // 9 j
    {"oo::oo:", "oo:oo::", "oooo:::", "ooo::::", "ooooo::", "oo::oo:", "oo:::oo"},  // 10 k
    {"oo:::::", "oo:::::", "oo:::::", "oo:::::", "oo:::::", "oo:::::", "ooooooo"},  // 11 l
    {"o:::::o", "oo:::oo", "ooo:ooo", "ooooooo", "oo:o:oo", "oo:::oo", "oo:::oo"},  // 12 m
    {"oo:::oo", "ooo::oo", "oooo:oo", "oo:oooo", "oo::ooo", "oo:::oo", "oo:::oo"},  // 13 n
    {"::ooo::", ":oo:oo:", "oo:::oo", "oo:::oo", "oo:::oo", "oo:::oo", ":ooooo:"},  // 14 o
    {"ooooo::", "oo::oo:", "oo:::oo", "oo:::oo", "oooooo:", "oo:::::", "oo:::::"},  // 15 p
    {"::ooo::", ":oo:oo:", "oo:::oo", "oo:o:oo", "oo:oooo", "oo::oo:", ":ooo:oo"},  // 16 q
    {"ooooo::", "oo::oo:", "oo:::oo", "oooooo:", "oo:oo::", "oo::oo:", "oo:::oo"},  // 17 r
    {"::ooooo", ":oo::::", "oo:::::", "ooooooo", ":::::oo", "::::oo:", "ooooo::"},  // 18 s
    {"ooooooo", ":::oo::", ":::oo::", ":::oo::", ":::oo::", ":::oo::", ":::oo::"},  // 19 t
    {"oo:::oo", "oo:::oo", "oo:::oo", "oo:::oo", "oo:::oo", "oo::oo:", ":oooo::"},  // 20 u
    {"oo:::oo", "oo:::oo", ":oo:oo:", ":oo:oo:", "::ooo::", "::ooo::", ":::o:::"},  // 21 v
    {"oo:::oo", "oo:::oo", "oo:::oo", "oo:::oo", "oo:o:oo", ":ooooo:", "::o:o::"},  // 22 w
    {"oo::::o", ":oo::oo", "::oooo:", ":::oo::", "::oooo:", ":oo::oo", "oo::::o"},  // 23 x
    {"oo::::o", ":oo::oo", "::oooo:", ":::oo::", ":::oo::", ":::oo::", ":::oo::"},  // 24 y
    {"ooooooo", "::::oo:", ":::oo::", "::oo:::", ":oo::::", "oo:::::", "ooooooo"},  // 25 z
    {":ooooo:", "oo:::oo", "oo:::oo", ":::::::", "oo:::oo", "oo:::oo", ":ooooo:"},  // 26 0
    {":::::::", ":::::oo", ":::::oo", ":::::::", ":::::oo", ":::::oo", ":::::::"},  // 27 1
    {":ooooo:", ":::::oo", ":::::oo", ":ooooo:", "oo:::::", "oo:::::", ":ooooo:"},  // 28 2
    {":ooooo:", ":::::oo", ":::::oo", ":ooooo:", ":::::oo", ":::::oo", ":ooooo:"},  // 29 3
    {":::::::", "oo:::oo", "oo:::oo", ":ooooo:", ":::::oo", ":::::oo", ":::::::"},  // 30 4
    {":ooooo:", "oo:::::", "oo:::::", ":ooooo:", ":::::oo", ":::::oo", ":ooooo:"},  // 31 5
    {":ooooo:", "oo:::::", "oo:::::", ":ooooo:", "oo:::oo", "oo:::oo", ":ooooo:"},  // 32 6
    {":ooooo:", ":::::oo", ":::::oo", ":::::::", ":::::oo", ":::::oo", ":::::::"},  // 33 7
    {":ooooo:", "oo:::oo", "oo:::oo", ":ooooo:", "oo:::oo", "oo:::oo", ":ooooo:"},  // 34 8
    {":ooooo:", "oo:::oo", "oo:::oo", ":ooooo:", ":::::oo", ":::::oo", ":ooooo:"},  // 35 9
    {":::::::", ":::::::", ":::o:::", ":::::::", ":::::::", ":::o:::", ":::::::"},  // 36 :
    {":::oo::", ":::oo::", ":::oo::", ":::oo::", ":::::::", ":::oo::", ":::oo::"},  // 37 !
    {":oooo::", "::::oo:", "::::oo:", ":::oo::", ":::::::", "::oo:::", "::oo:::"},  // 38 ?
    {":::::::", ":::::::", ":::::::", "::oooo:", ":::::::", ":::::::", ":::::::"},  // 39 -
    {":::::::", ":::::::", ":::::::", ":ooooo:", ":::::::", ":ooooo:", ":::::::"},  // 40 =
    {":::::::", ":::o:::", ":::o:::", ":::o:::", ":::o:::", ":::o:::", ":::::::"},  // 41 +
    {"::ooo::", "::o::::", "::o::::", "::o::::", "::o::::", "::o::::", "::ooo::"},  // 42 [
    {"::ooo::", "::::o::", "::::o::", "::::o::", "::::o::", "::::o::", "::ooo::"},  // 43 ]
    {":::::::", ":::::::", ":::::::", ":::::::", ":::::::", ":::::::", ":::::::"},  // 44 space
    {":::::::", ":::::::", ":::::::", ":::::::", ":::::::", ":::oo::", ":::oo::"},  // 45 .
    {":::::::", ":::::::", ":::::::", ":::::::", "::::o::", "::::o::", ":::o:::"},  // 46 ,
    {":o:::::", "::o::::", ":::o:::", "::::o::", ":::o:::", "::o::::", ":o:::::"},  // 47 >
    {"::::o::", ":::o:::", "::o::::", ":o:::::", "::o::::", ":::o:::", "::::o::"},  // 48 <
    {"ooooooo", "ooooooo", "ooooooo", "ooooooo", "ooooooo", "ooooooo", "ooooooo"},  // 49 #
    {":::o:::", ":::o:::", "::o::::", ":::::::", ":::::::", ":::::::", ":::::::"},  // 50 apostrophe
    {"::ooo::", ":o:::o:", "o::oo:o", "o:o:::o", "o::oooo", ":o:::::", "::oooo:"},  // 51 @
    {"::::::o", ":::::o:", "::::o::", ":::o:::", "::o::::", ":o:::::", "o::::::"},  // 52 /
    {"o::::::", ":o:::::", "::o::::", ":::o:::", "::::o::", ":::::o:", "::::::o"},  // 53 backslash
    {":oo::::", "o::o:::", ":oo::oo", "::ooo::", "oo::oo:", ":::o::o", "::::oo:"},  // 54 %
};

// Built by initcharset: seven row masks per glyph (bit 6 = leftmost cell),
// and each character code's glyph.
unsigned char* charset = nullptr;
unsigned char chartrans[256];

}  // namespace

void initcharset() {
  releasecharset();
  charset = static_cast<unsigned char*>(std::malloc(kGlyphCount * 7));
  if (!charset) return;
  for (int g = 0; g < kGlyphCount; g++) {
    for (int row = 0; row < 7; row++) {
      unsigned char mask = 0;
      for (int col = 0; col < 7; col++)
        if (kGlyphRows[g][row][col] == 'o') mask |= static_cast<unsigned char>(0x40 >> col);
      charset[g * 7 + row] = mask;
    }
  }
  std::fill(std::begin(chartrans), std::end(chartrans), static_cast<unsigned char>(kSpaceGlyph));
  for (int g = 0; g < kGlyphCount; g++)
    chartrans[static_cast<unsigned char>(kCharOrder[g])] = static_cast<unsigned char>(g);
}

void releasecharset() {
  std::free(charset);
  charset = nullptr;
}

int CDib::Print(const char* text, int x, int y, unsigned short colour) {
  if (!text || !charset) return 0;
  size_t length = std::strlen(text);
  // Centring is computed unsigned: text wider than the surface starts far
  // beyond its right edge and draws nothing.
  long long left = x;
  if (x == -1) left = (static_cast<unsigned>(W) - 8u * static_cast<unsigned>(length)) / 2u;
  long long top = y == -1 ? (H - 8) / 2 : y;
  long long cx = left, cy = top;
  for (size_t i = 0; i < length; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\r') {
      cx = left;
      cy += 9;
      continue;
    }
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    const unsigned char* glyph = charset + chartrans[c] * 7;
    if (cx < W && cx + 7 > 0 && cy < H && cy + 7 > 0) {
      for (int row = 0; row < 7; row++)
        for (int col = 0; col < 7; col++)
          if ((glyph[row] & (0x40 >> col)) && Inside(cx + col, cy + row))
            m_Bits[static_cast<size_t>(cy + row) * W + (cx + col)] = colour;
    }
    cx += 8;
  }
  return static_cast<int>(length);
}

// AnimObject -------------------------------------------------------------------------

void AnimObject::setmultipleframes(CDib* image, int x, int y, int w, int h, int dx, int dy,
                                   int nframes, int skip) {
  dib = image;
  m_Frames = std::clamp(nframes, 0, kMaxFrames);
  for (int i = 0; i < m_Frames; i++) {
    m_Fx[i] = x + i * dx;
    m_Fy[i] = y + i * dy;
  }
  m_Fszx = w;
  m_Fszy = h;
  m_FrameNo = 0;
  m_FrameSkip = skip;
  m_FrameSkipCount = 0;
}

void AnimObject::setdib(CDib* image) {
  dib = image;
  if (dib && dib->m_Bits) dib->SetTransparentColor(dib->GetPixel(0, 0));
}

void AnimObject::SetTransparentColor(unsigned short colour) {
  if (dib) dib->SetTransparentColor(colour);
}

void AnimObject::advanceframe() {
  if (++m_FrameSkipCount < m_FrameSkip) return;
  m_FrameSkipCount = 0;
  if (++m_FrameNo >= m_Frames) m_FrameNo = 0;
}

int AnimObject::draw(CDib* dest, int x, int y, int frame, unsigned char mode) {
  if (frame < 0) {
    advanceframe();
    frame = m_FrameNo;
  }
  if (!dest || !dib || frame >= m_Frames) return 0;
  return dest->BitBlt(x, y, m_Fszx, m_Fszy, dib, m_Fx[frame], m_Fy[frame], mode);
}

// GDIDib -----------------------------------------------------------------------------

GDIDib::~GDIDib() { Destroy(); }

int GDIDib::Create(int Width, int Height) {
  if (Width < 1 || Height < 1) return 0;
  Destroy();
  int stride = static_cast<int>((static_cast<long long>(Width) * 24 + 31) / 32 * 4);
  m_Bits = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(stride) * Height, 1));
  if (!m_Bits) {
    Alert("CDib::Create Failed", "m_Bitmap = NULL");
    return 0;
  }
  W = Width;
  H = Height;
  WidthBytes = stride;
  return 1;
}

void GDIDib::Destroy() {
  std::free(m_Bits);
  m_Bits = nullptr;
  W = H = WidthBytes = 0;
}

void GDIDib::Clear(unsigned int rgb) {
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) SetPixel(x, y, rgb);
}

void GDIDib::SetPixel(int x, int y, unsigned int rgb) {
  if (x < 0 || y < 0 || x >= W || y >= H) return;
  unsigned char* p = m_Bits + static_cast<size_t>(y) * WidthBytes + static_cast<size_t>(x) * 3;
  p[0] = static_cast<unsigned char>(rgb);
  p[1] = static_cast<unsigned char>(rgb >> 8);
  p[2] = static_cast<unsigned char>(rgb >> 16);
}

unsigned int GDIDib::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= W || y >= H) return 0;
  const unsigned char* p =
      m_Bits + static_cast<size_t>(y) * WidthBytes + static_cast<size_t>(x) * 3;
  return platform::GetLE24(p);
}

void GDIDib::Copy(CDib* dst, int x, int y) const {
  if (!dst) return;
  for (int row = 0; row < H; row++) {
    for (int col = 0; col < W; col++) {
      unsigned int rgb = GetPixel(col, row);
      long long dx = static_cast<long long>(x) + col, dy = static_cast<long long>(y) + row;
      if (dx < 0 || dy < 0 || dx >= dst->W || dy >= dst->H) continue;
      dst->m_Bits[dy * dst->W + dx] = ColorValue((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    }
  }
}

// Display start-up and timing ----------------------------------------------------------

CRandom ScreenRandom;
int ScreenOrientation = 0;
int bRotateLandscape = 1;
float StylusScale = 1.0f;

namespace {

DWORD g_TimerBase = 0;

// The record this program's surfaces follow: the desk's fixed one, or the
// display's.
GXDisplayProperties ScreenProperties() {
  if constexpr (kPocket) return GXGetDisplayProperties();
  return GXDisplayProperties{240, 320, 1, 1, 16, kfDirect555};
}

void TakeDisplayProperties() {
  DisplayProperties = ScreenProperties();
  const int32_t xp = DisplayProperties.cbxPitch, yp = DisplayProperties.cbyPitch;
  bRotateLandscape = (xp == 640 && yp == -2) || (xp == -640 && yp == 2) ? 0 : 1;
}

}  // namespace

int InitLLSLibrary() {
  TakeDisplayProperties();
  initcharset();
  return 1;
}

void ExitLLSLibrary() { releasecharset(); }

void resettimer() { g_TimerBase = GetTickCount(); }

unsigned msecs() { return GetTickCount() - g_TimerBase; }

void wait(unsigned ms) {
  resettimer();
  for (;;) {
    unsigned passed = msecs();
    if (passed >= ms) return;
    Sleep(ms - passed);
  }
}

// CScreen ----------------------------------------------------------------------------------

CScreen::~CScreen() { ReleaseSnow(); }

int CScreen::Init(void* hWnd, int orientation) {
  hwnd = static_cast<HWND>(hWnd);
  const GXDisplayProperties* p = &DisplayProperties;
  if constexpr (kPocket) {
    if (!GXOpenDisplay(hwnd, GX_FULLSCREEN)) {
      Alert("GXOpenDisplay", "Init Failed");
      return 0;
    }
    GXOpenInput();
    // The pitches are those of the display now open.
    TakeDisplayProperties();
    ScreenOrientation = orientation ? 1 : 0;
  }
  int w = static_cast<int>(p->cxWidth), h = static_cast<int>(p->cyHeight);
  if (kPocket && ScreenOrientation) std::swap(w, h);
  if (!Create(w, h)) return 0;
  Clear(0);
  return 1;
}

void CScreen::Exit() {
  if constexpr (kPocket) {
    GXCloseInput();
    GXCloseDisplay();
  }
}

namespace {

void Put16(unsigned char* at, PIXEL p) { std::memcpy(at, &p, sizeof(p)); }

// Writes the portrait surface into GAPI frame memory whose pixel (0, 0) is
// at `base`, along the record's pitches (rounded down to even); one block
// when the rows lie end to end. Pixels beyond the display are left out.
void PortraitCopy(const CDib& s, unsigned char* base, const GXDisplayProperties& p) {
  const long long xp = p.cbxPitch & ~1, yp = p.cbyPitch & ~1;
  const int w = std::min<long long>(s.W, p.cxWidth), h = std::min<long long>(s.H, p.cyHeight);
  if (xp == 2 && yp == 2LL * s.W && w == s.W && h == s.H) {
    std::memcpy(base, s.m_Bits, static_cast<size_t>(s.W) * s.H * sizeof(PIXEL));
    return;
  }
  for (int y = 0; y < h; y++) {
    const PIXEL* row = s.m_Bits + static_cast<size_t>(y) * s.W;
    unsigned char* at = base + y * yp;
    for (int x = 0; x < w; x++, at += xp) Put16(at, row[x]);
  }
}

// Writes the landscape surface turned by a quarter turn: with a negative
// cbyPitch its top edge runs up the display's left side, else down its
// right side, so that a frame memory laid out in landscape order ((640, -2)
// or (-640, 2)) receives the surface's rows end to end, and is then written
// in one block unless the general copy is asked for.
void LandscapeCopy(const CDib& s, unsigned char* base, const GXDisplayProperties& p) {
  const long long xp = p.cbxPitch & ~1, yp = p.cbyPitch & ~1;
  const long long dw = p.cxWidth, dh = p.cyHeight;
  auto place = [&](long long sx, long long sy, long long& dx, long long& dy) {
    if (yp < 0) {
      dx = sy;
      dy = dh - 1 - sx;
    } else {
      dx = dw - 1 - sy;
      dy = sx;
    }
  };
  const bool rowsEndToEnd = s.W == dh && s.H == dw &&
                            (yp < 0 ? yp == -2 && xp == 2LL * s.W : yp == 2 && xp == -2LL * s.W);
  if (!bRotateLandscape && rowsEndToEnd) {
    long long dx, dy;
    place(0, 0, dx, dy);
    std::memcpy(base + dx * xp + dy * yp, s.m_Bits, static_cast<size_t>(s.W) * s.H * sizeof(PIXEL));
    return;
  }
  for (int sy = 0; sy < s.H; sy++) {
    for (int sx = 0; sx < s.W; sx++) {
      long long dx, dy;
      place(sx, sy, dx, dy);
      if (dx < 0 || dy < 0 || dx >= dw || dy >= dh) continue;
      Put16(base + dx * xp + dy * yp, s.m_Bits[static_cast<size_t>(sy) * s.W + sx]);
    }
  }
}

}  // namespace

void CScreen::Refresh() {
  if (!m_Bits) return;
  if constexpr (kPocket) {
    auto* base = static_cast<unsigned char*>(GXBeginDraw());
    if (!base) return;
    if (ScreenOrientation)
      LandscapeCopy(*this, base, DisplayProperties);
    else
      PortraitCopy(*this, base, DisplayProperties);
    GXEndDraw();
  } else {
    RefreshArea(0, 0, W, H);
  }
}

void CScreen::RefreshArea(int x, int y, int w, int h) {
#if ZELVARO_POCKET
  (void)x, (void)y, (void)w, (void)h;
  Refresh();
#else
  if (!m_Bits || !hwnd || w <= 0 || h <= 0) return;
  HDC dc = GetDC(hwnd);
  SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(w), static_cast<DWORD>(h), x, y, 0,
                    static_cast<UINT>(H), m_Bits, &m_Info, DIB_RGB_COLORS);
  ReleaseDC(hwnd, dc);
#endif
}

void CScreen::Fade(unsigned short colour, int step, bool in) {
  if (!m_Bits) return;
  CDib picture;
  if (!CopyDib(&picture, this)) return;
  step = std::max(step, 1);
  for (int c = 0;;
       c = static_cast<int>(std::min<long long>(255, static_cast<long long>(c) + step))) {
    Clear(colour);
    picture.SetOpacity(static_cast<unsigned char>(in ? c : 255 - c));
    BitBlt(0, 0, W, H, &picture, 0, 0, kCopyBlend);
    Refresh();
    if (c > 254) break;
  }
}

void CScreen::FadeOut(unsigned short colour, int step) { Fade(colour, step, false); }

void CScreen::FadeIn(unsigned short colour, int step) { Fade(colour, step, true); }

void CScreen::ReleaseSnow() {
  delete[] snx;
  delete[] sny;
  snx = sny = nullptr;
  nFlakes = 0;
}

void CScreen::InitSnow(int amount) {
  ReleaseSnow();
  if (amount <= 0) return;
  snx = new (std::nothrow) short[static_cast<size_t>(amount)];
  sny = new (std::nothrow) short[static_cast<size_t>(amount)];
  if (!snx || !sny) {
    ReleaseSnow();
    return;
  }
  nFlakes = static_cast<unsigned>(amount);
  const int w = W > 0 ? W : 240, h = H > 0 ? H : 320;
  for (unsigned i = 0; i < nFlakes; i++) {
    snx[i] = static_cast<short>(ScreenRandom.Next() % w);
    sny[i] = static_cast<short>(ScreenRandom.Next() % h);
  }
}

// The flakes live on the 240 x 320 screen whatever the surface's size;
// SetPixel leaves out any that fall outside a smaller one.
void CScreen::UpdateSnow() {
  for (unsigned i = 0; i < nFlakes; i++) {
    short& x = snx[i];
    short& y = sny[i];
    switch (ScreenRandom.Next() % 4) {
      case 0:
        x = static_cast<short>(x >= 239 ? 0 : x + 1);
        break;
      case 1:
        x = static_cast<short>(x < 1 ? 239 : x - 1);
        break;
      default:
        break;
    }
    y = static_cast<short>(y + static_cast<int>(i % 4) + 1);
    if (y > 319) y = 0;
    SetPixel(x, y, 0xFFFF);
  }
}

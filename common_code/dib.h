// CDib, the 16-bit drawing surface that every picture of the program is,
// the colour functions that make and blend its pixels, and the built-in
// 7x7 character set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common_code/variant.h"
#include "platform/winapi/gx.h"
#include "platform/winapi/wingdi.h"

typedef unsigned short PIXEL;

// The display properties record. Its ffFormat picks the pixel layout that
// every colour function tests on each call: kfDirect565 (bit 0x80) or else
// kfDirect555 (bit 0x40); with neither, ColorValue gives 0 and the blends
// give the background. It starts as {240, 320, 1, 1, 16, kfDirect555} on
// zelvaro-desk and {240, 320, 2, 480, 16, kfDirect565} on zelvaro-pocket;
// the screen's start-up replaces it with the display's own record. Tests
// select a layout by setting ffFormat.
extern GXDisplayProperties DisplayProperties;

// Number of live CDib objects (diagnostics only).
extern int DibCount;

// A pixel from 8-bit components; the low bits that the layout has no room
// for are dropped.
unsigned short ColorValue(int r, int g, int b);

// The rounding blend of every mix in the program: b + (f - b) * alpha / 255,
// rounded, for alpha 0..255. `>>` of a negative value rounds towards minus
// infinity (arithmetic shift), which the rounding relies on.
inline int BlendChannel(int b, int f, int alpha) {
  int t = (f - b) * alpha + 128;
  return b + ((t + (t >> 8)) >> 8);
}

// A pixel's components as 8-bit values with zero low bits (white is 248,
// 252, 248 in 5-6-5 and 248, 248, 248 in 5-5-5).
void ColorComponents(unsigned short c, unsigned char& r, unsigned char& g, unsigned char& b);

// `foreground` laid over `background` with weight alpha/255, channel by
// channel and rounded exactly: alpha 0 gives the background, 255 the
// foreground.
unsigned short ColorOnColor(unsigned short background, unsigned short foreground, int alpha);

// The screen mix of the two colours (lighter than either), laid over the
// background with weight alpha/255 as ColorOnColor does.
unsigned short ColorOnColorScreen(unsigned short background, unsigned short foreground, int alpha);

// Copy modes of CDib::BitBlt, MemoryCopy and StretchBlt.
enum : unsigned char {
  kCopyBlock = 0,              // d = s
  kCopyTransparent = 1,        // d = s unless s is the transparent colour
  kCopyBlend = 2,              // d = ColorOnColor(d, s, opacity)
  kCopyBlendTransparent = 3,   // as 2, skipping transparent source pixels
  kCopyScreen = 4,             // d = ColorOnColorScreen(d, s, opacity)
  kCopyScreenTransparent = 5,  // as 4, skipping transparent source pixels
  kCopySilhouette = 8,         // d = PaintColor wherever s is not transparent
};

class CDib {
 public:
  CDib();
  ~CDib();
  CDib(const CDib&) = delete;
  CDib& operator=(const CDib&) = delete;

  // Storage. Create makes a Width x Height surface (contents undefined;
  // callers clear it), releasing the old pixels first; it fails at once,
  // changing nothing, for a width or height below 1, and on a failed
  // allocation leaves the surface empty (desk: with the notice
  // "CDib::Create Failed" / "m_Bitmap = NULL"). Destroy releases the pixels
  // and the alpha plane and empties the surface; it returns 1.
  int Create(int Width, int Height);
  int Destroy();
  void SetTransparentColor(unsigned short colour) { TransparentColor = colour; }
  void SetOpacity(unsigned char opacity) { Opacity = opacity; }

  // BMP loading (file.cpp). From a file, or from the bitmap resource `name`
  // (the module handle is passed through to FindResource). Every size in
  // the image is checked against the bytes present; a missing, malformed or
  // unsupported image returns 0 and leaves the surface empty. The pocket
  // build's file form also refuses colour tables of 1 to 255 entries and
  // says "LoadBMP Failed" / "Debug" for any existing file it cannot use.
  // Loading does not change the transparent colour or the opacity.
  int LoadBMP(const char* bmpname);
  int LoadBMP(void* hInstance, const char* bmpname);
  // The same decoding from memory: a whole BMP file, or a packed bitmap (the
  // form of a bitmap resource: info header, colour table, pixel rows).
  int LoadBMPImage(const void* data, size_t size);
  int LoadPackedDIB(const void* data, size_t size);

  // Pixels. Points outside the surface are ignored by the setters;
  // GetPixel gives 0 for them.
  void SetPixel(int x, int y, int colour);
  PIXEL GetPixel(int x, int y) const;
  // alpha 255 writes the colour, any other value ColorOnColor(old, colour, alpha).
  void SetAlphaPixel(int x, int y, unsigned short colour, int alpha);

  // Filled areas over x1 <= x < x2, y1 <= y < y2, clipped to the surface.
  void Clear(unsigned short colour);
  void Fill(int x1, int y1, int x2, int y2, unsigned short colour);
  void Fill2(int x1, int y1, int x2, int y2, unsigned short colour, int alpha);
  // mode 0: a quarter of the way to black; mode 1: darkest at the top row,
  // unchanged at the bottom; mode 2: unchanged at the top, black at the
  // bottom. The row weights come from the whole rectangle, clipped or not.
  void Darken(int x1, int y1, int x2, int y2, unsigned char mode);
  void VGradient(unsigned short top, unsigned short bottom);
  void HGradient(unsigned short left, unsigned short right);

  // Lines and outlines, opaque, clipped pixel by pixel. Box includes all four
  // corners; Line leaves out its end point.
  void hLine(int x, int y, int length, int colour);
  void vLine(int x, int y, int length, int colour);
  void Box(int x1, int y1, int x2, int y2, int colour);
  void Line(float x1, float y1, float x2, float y2, int colour);

  // Text in the built-in 7x7 character set, 8 pixels a character; x = -1
  // centres horizontally, y = -1 vertically; a line feed or carriage return
  // starts a new line 9 pixels lower. Returns the number of characters, or
  // 0 (drawing nothing) before initcharset.
  int Print(const char* text, int x, int y, unsigned short colour);

  // Copies the w x h block at (sx, sy) of `src` to (x, y) of this surface in
  // copy mode `mode`, clipped to both surfaces. Returns 1, or 0 when nothing
  // of the block remains.
  int BitBlt(int x, int y, int w, int h, CDib* src, int sx, int sy, unsigned char mode);
  // One run of `count` pixels in copy mode `mode`; trusts its caller for the
  // bounds of both runs. Unknown modes change nothing.
  void MemoryCopy(unsigned short* dst, const unsigned short* src, int count, int mode,
                  unsigned short transparent, unsigned char opacity);
  // As BitBlt, blending each pixel by the source's alpha plane; nothing is
  // drawn (and 0 returned) when the source has none.
  int BitBltAlpha(int x, int y, int w, int h, CDib* src, int sx, int sy);
  // The whole of `src` scaled to w x h at (x, y), nearest pixel. The scale is
  // that of the whole rectangle; clipping only hides what falls outside.
  int StretchBlt(CDib* src, int x, int y, int w, int h, int mode);

  // Alpha plane: a W x H byte plane indexed like the pixels.
  int InitZBuffer();
  void DestroyZBuffer();
  // 0 without a plane, 255 for a point outside the surface, else the byte.
  unsigned char CheckZBuffer(int x, int y) const;
  // For an image whose lower half is its mask: halves H and makes the plane
  // from the lower half's luminance. Returns 0 (changing nothing) for an
  // image less than 2 rows high or when memory is short.
  int EnableAlphaMask();
  // Smooths the interior in place, reusing already smoothed neighbours.
  void bilinear();

  PIXEL* m_Bits = nullptr;  // W*H pixels, top row first, pitch W
#if !ZELVARO_POCKET
  BITMAPINFO m_Info = {};  // describes the pixels: 16 bits, top row first
#endif
  int W = 0;
  int H = 0;
  PIXEL PaintColor = 0;         // written by silhouette copies (mode 8)
  PIXEL TransparentColor = 0;   // source pixels skipped by the transparent modes
  unsigned char Opacity = 255;  // weight as the source of a blending copy
  unsigned char* ZBuffer = nullptr;
  int bUpdateZBuffer = 1;

 private:
  int DecodeDIB(const unsigned char* dib, size_t size, long long pixelOffset);
  bool Inside(long long x, long long y) const { return x >= 0 && y >= 0 && x < W && y < H; }
};

// Makes dst a copy of src's pixels, re-creating dst at src's size when the
// sizes differ. Returns 0 when that fails.
int CopyDib(CDib* dst, CDib* src);

// The colour-table length of a bitmap header: biClrUsed when set, else 2,
// 16 or 256 for 1, 4 and 8 bits and 0 for the direct-colour depths; for a
// 12-byte core header by its bit count alone.
int DIBNumColors(LPBITMAPINFOHEADER lpbi);

// Writes `hdib` as a 24-bit BMP file, replacing any old file atomically.
// Returns 0 for an empty surface or when the file cannot be written.
int SaveBitmap(CDib* hdib, const char* filename);

// The built-in character set: 55 glyphs of 7x7 cells for the characters of
// "abcdefghijklmnopqrstuvwxyz0123456789:!?-=+[] .,><#'@/\%" (upper-case
// letters use the lower-case glyphs; every other code draws as a space).
void initcharset();
void releasecharset();

// Extras over CDib: animation strips cut from one image, and GDIDib, a
// 24-bit surface whose pixels are 0xRRGGBB values.
#pragma once

#include "dib.h"

// Up to 32 frames, each a rectangle of one source image, drawn with
// CDib::BitBlt. The image is not owned.
class AnimObject {
 public:
  static constexpr int kMaxFrames = 32;

  // Frame i (0 <= i < nframes, at most 32) is the w x h rectangle at
  // (x + i*dx, y + i*dy) of `image`; the frame moves on every `skip` calls
  // of advanceframe (every call for skip 0 or 1).
  void setmultipleframes(CDib* image, int x, int y, int w, int h, int dx, int dy, int nframes,
                         int skip);
  // Uses `image` and makes its top-left pixel its transparent colour.
  void setdib(CDib* image);
  void SetTransparentColor(unsigned short colour);
  void advanceframe();
  // Draws frame `frame`, or for frame < 0 advances first and draws the
  // current one. Returns BitBlt's result; 0 without an image or for a frame
  // number past the last.
  int draw(CDib* dest, int x, int y, int frame, unsigned char mode);

  int m_Fx[kMaxFrames] = {};
  int m_Fy[kMaxFrames] = {};
  int m_Fszx = 0;
  int m_Fszy = 0;
  int m_FrameNo = 0;
  int m_Frames = 0;
  int m_FrameSkip = 0;
  int m_FrameSkipCount = 0;
  CDib* dib = nullptr;
};

// A 24-bit surface in plain memory, rows top first, WidthBytes apart (each
// row padded to a multiple of 4 bytes), a pixel's bytes blue, green, red.
// Pixel values are 0xRRGGBB.
class GDIDib {
 public:
  GDIDib() = default;
  ~GDIDib();
  GDIDib(const GDIDib&) = delete;
  GDIDib& operator=(const GDIDib&) = delete;

  // As CDib::Create: 0 (changing nothing) for a size below 1; on a failed
  // allocation an empty surface and the notice "CDib::Create Failed" /
  // "m_Bitmap = NULL".
  int Create(int Width, int Height);
  void Destroy();
  void Clear(unsigned int rgb);
  // Points outside the surface are ignored; GetPixel gives 0 for them.
  void SetPixel(int x, int y, unsigned int rgb);
  unsigned int GetPixel(int x, int y) const;
  // Writes every pixel, converted with ColorValue, into `dst` with its
  // top-left corner at (x, y), clipped to `dst`.
  void Copy(CDib* dst, int x, int y) const;

  unsigned char* m_Bits = nullptr;
  int W = 0;
  int H = 0;
  int WidthBytes = 0;
};

// Extras over CDib: the screen (the surface that is shown), the display
// start-up and the millisecond timing functions, animation strips cut from
// one image, and GDIDib, a 24-bit surface whose pixels are 0xRRGGBB values.
#pragma once

#include "common_code/dib.h"
#include "common_code/random.h"

// The surface that is shown: a CDib of the display's size, put on the
// display by Refresh. On zelvaro-desk it is the content of the program's
// window (a display window of the backend, opened at the first Refresh and
// closed with the window); on zelvaro-pocket it is written into the
// full-screen display's frame memory through GAPI, along the pitches of the
// display properties record.
class CScreen : public CDib {
 public:
  CScreen() = default;
  ~CScreen();

  // Desk: keeps the window and makes the surface of the display's size
  // (orientation ignored). Pocket: opens the display ("GXOpenDisplay" /
  // "Init Failed" when it will not open) and its keys, takes the display's
  // record, and makes the surface portrait (orientation 0) or landscape.
  // The surface starts black. Returns 1, or 0 on failure.
  int Init(void* hWnd, int orientation);
  // Pocket: closes the keys and the display. Desk: nothing.
  void Exit();
  // Shows the whole surface; nothing without a surface, a window or (pocket)
  // a display.
  void Refresh();
  // Desk: shows one rectangle of the surface at the same place. Pocket: the
  // whole surface, since a GAPI frame is always written whole.
  void RefreshArea(int x, int y, int w, int h);
  // Fade the current picture out to `colour` / in from it: the picture is
  // laid over the colour with its weight growing (FadeIn) or shrinking
  // (FadeOut) from 0 by `step` (at least 1) a frame to 255, each frame shown:
  // a step of 10 shows 27 frames. Nothing happens when the picture cannot be
  // copied.
  void FadeOut(unsigned short colour, int step);
  void FadeIn(unsigned short colour, int step);
  // Snow: `amount` flakes at random places, and each call of UpdateSnow
  // moves every flake down (by 1 to 4 pixels, by its number) and perhaps
  // sideways, wrapping within 240 x 320, and sets its pixel to 0xFFFF.
  void InitSnow(int amount);
  void UpdateSnow();

  HWND hwnd = nullptr;
  unsigned nFlakes = 0;
  short* snx = nullptr;
  short* sny = nullptr;

 private:
  void Fade(unsigned short colour, int step, bool in);
  void ReleaseSnow();
};

// The random source of the snow; seed it to make the flakes repeat.
extern CRandom ScreenRandom;

// Display start-up: fills DisplayProperties (desk: {240, 320, 1, 1, 16,
// kfDirect555}; pocket: GAPI's record) and builds the built-in character
// set. Returns 1.
int InitLLSLibrary();
// Releases the character set.
void ExitLLSLibrary();

// Handheld settings: the screen's orientation (0 portrait, 1 landscape;
// set by CScreen::Init from the application's choice), whether a landscape
// screen is written turned pixel by pixel (cleared for displays whose frame
// memory already runs in landscape order: pitches (640, -2) or (-640, 2)),
// and the factor the frame applies to tap coordinates (1.0: the display
// service reports taps in screen pixels).
extern int ScreenOrientation;
extern int bRotateLandscape;
extern float StylusScale;

// Milliseconds: resettimer takes the clock (GetTickCount) as the base;
// msecs is the time since; wait(ms) resets the base and returns once at
// least `ms` have passed, sleeping meanwhile (so the headless backend's
// virtual clock moves on too). Where <sys/wait.h> is seen, a literal 0
// also fits POSIX wait(int*): write wait(0u).
void resettimer();
unsigned msecs();
void wait(unsigned ms);

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

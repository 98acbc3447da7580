// The GAPI display interface: direct access to a full-screen display's
// frame memory, its properties record, and the hardware keys. The record's
// ffFormat decides the pixel layout of every surface (dib.h); the screen
// fills the program's one global record at start-up. Implemented in
// platform/ over the backend's display service: the display is the whole
// screen showing 240 x 320 5-6-5 pixels, and the keys are the keyboard's
// (and game controllers', once input is open).
#pragma once

#include <cstdint>

#include "platform/winapi/win32.h"

struct GXDisplayProperties {
  uint32_t cxWidth;   // pixels
  uint32_t cyHeight;  // pixels
  int32_t cbxPitch;   // bytes from one pixel to the next on its right
  int32_t cbyPitch;   // bytes from one pixel to the one below it
  int32_t cBPP;       // bits per pixel
  uint32_t ffFormat;  // kf... flags below
};

// ffFormat bits.
inline constexpr uint32_t kfLandscape = 0x0008;  // display mounted turned by a quarter turn
inline constexpr uint32_t kfPalette = 0x0010;
inline constexpr uint32_t kfDirect = 0x0020;
inline constexpr uint32_t kfDirect555 = 0x0040;  // 16-bit: x RRRRR GGGGG BBBBB
inline constexpr uint32_t kfDirect565 = 0x0080;  // 16-bit: RRRRR GGGGGG BBBBB
inline constexpr uint32_t kfDirect888 = 0x0100;
inline constexpr uint32_t kfDirect444 = 0x0200;
inline constexpr uint32_t kfDirectInverted = 0x0400;

// GXOpenDisplay flags and GXGetDefaultKeys options.
inline constexpr uint32_t GX_FULLSCREEN = 0x01;
inline constexpr int GX_NORMALKEYS = 0x02;
inline constexpr int GX_LANDSCAPEKEYS = 0x03;

// Opens the display for `hWnd` (flags: GX_FULLSCREEN). 1, or 0 when it
// cannot be opened (or another window has it).
int GXOpenDisplay(HWND hWnd, DWORD dwFlags);
// Closes it. 1, or 0 when it was not open.
int GXCloseDisplay();

// The address of pixel (0, 0) of the frame memory, laid out as
// GXGetDisplayProperties says; null when the display is not open. Every
// pixel must be written before GXEndDraw shows the frame.
void* GXBeginDraw();
// Shows the frame. 1, or 0 without a GXBeginDraw before it.
int GXEndDraw();

// The display's record: {240, 320, 2, pitch, 16, kfDirect565}, the pitch
// that of the open display's frame memory (480 before it is open).
GXDisplayProperties GXGetDisplayProperties();

// While the program is not the active one the display steps aside:
// GXSuspend minimises it and nothing is drawn (GXBeginDraw gives null) until
// GXResume brings it back to the front. 1, or 0 when no display is open.
int GXSuspend();
int GXResume();

// Hardware keys: with input open, game controllers' buttons reach the
// display's window as the keys of GXGetDefaultKeys.
int GXOpenInput();
int GXCloseInput();

// The virtual keys of the hardware buttons and where they are (positions
// are not known here and are 0).
struct GXKeyList {
  short vkUp;
  POINT ptUp;
  short vkDown;
  POINT ptDown;
  short vkLeft;
  POINT ptLeft;
  short vkRight;
  POINT ptRight;
  short vkA;
  POINT ptA;
  short vkB;
  POINT ptB;
  short vkC;
  POINT ptC;
  short vkStart;
  POINT ptStart;
};

// The keys for GX_NORMALKEYS and GX_LANDSCAPEKEYS alike: the arrow keys,
// 'A', 'B', 'C' and VK_RETURN (Start).
GXKeyList GXGetDefaultKeys(int iOptions);

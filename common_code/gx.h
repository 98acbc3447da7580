// The GAPI display interface: the display properties record and the flag
// values of its fields. The record's ffFormat decides the pixel layout of
// every surface (dib.h); the screen fills the one global record at start-up.
#pragma once

#include <cstdint>

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

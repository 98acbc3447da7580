// The 16-bit pixels of the displays: 5-6-5 (RRRRR GGGGGG BBBBB) or 5-5-5
// (x RRRRR GGGGG BBBBB).
#pragma once

#include <cstdint>

namespace platform {

// A pixel's channels as 8-bit values with zero low bits (white is 248, 252,
// 248 in 5-6-5 and 248, 248, 248 in 5-5-5).
inline void PixelChannels(uint16_t p, bool is565, unsigned char& r, unsigned char& g,
                          unsigned char& b) {
  if (is565) {
    r = static_cast<unsigned char>((p & 0xF800) >> 8);
    g = static_cast<unsigned char>((p & 0x07E0) >> 3);
  } else {
    r = static_cast<unsigned char>((p & 0x7C00) >> 7);
    g = static_cast<unsigned char>((p & 0x03E0) >> 2);
  }
  b = static_cast<unsigned char>((p & 0x1F) << 3);
}

}  // namespace platform

// Window icons: the images of an icon file (.ICO), decoded for the display
// windows (platform/services/backend.h, DisplayIcon).
#pragma once

#include <cstddef>
#include <string>

#include "platform/services/backend.h"

// Decodes the largest image of an icon file image (the deepest of equally
// large ones) into 0xAARRGGBB pixels. Images stored as device-independent
// bitmaps of 1, 4, 8, 24 or 32 bits are read, with their transparency mask
// (a 32-bit image whose alpha is zero throughout uses the mask instead);
// PNG images are passed over. Every size and offset is checked against the
// bytes present; false with a one-line reason in *error when no image can be
// read.
bool DecodeIcon(const unsigned char* data, size_t size, platform::DisplayIcon* icon,
                std::string* error);

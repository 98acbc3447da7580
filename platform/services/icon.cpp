// Icon file decoding (icon.h).
#include "platform/services/icon.h"

#include <cstdint>

#include "platform/services/byte_order.h"

namespace {

using platform::GetLE16;
using platform::GetLE24;
using platform::GetLE32;

constexpr size_t kDirectory = 6, kEntry = 16, kInfoHeader = 40;

// One image of the file, `bytes` long at `image`, whose directory entry
// says it is `width` x `height` (0 meaning 256). False when it is not a
// bitmap image this reader takes or does not fit in its bytes.
bool DecodeImage(const unsigned char* image, size_t bytes, platform::DisplayIcon* out) {
  if (bytes < kInfoHeader) return false;
  const uint32_t headerSize = GetLE32(image);
  const auto width = static_cast<int32_t>(GetLE32(image + 4));
  const auto doubled = static_cast<int32_t>(GetLE32(image + 8));  // image and mask
  const uint32_t bits = GetLE16(image + 14);
  const uint32_t compression = GetLE32(image + 16);
  uint32_t colours = GetLE32(image + 32);
  if (headerSize < kInfoHeader || headerSize > bytes || compression != 0) return false;
  if (width < 1 || width > 256 || doubled < 2 || doubled > 512 || doubled % 2) return false;
  const int height = doubled / 2;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  if (bits > 8)
    colours = 0;
  else if (colours == 0 || colours > (1u << bits))
    colours = 1u << bits;

  const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
  const uint64_t maskStride = (static_cast<uint64_t>(width) + 31) / 32 * 4;
  const uint64_t table = headerSize, pixels = table + 4ull * colours;
  const uint64_t mask = pixels + stride * height;
  if (mask + maskStride * height > bytes) return false;

  out->Width = width;
  out->Height = height;
  out->Pixels.assign(static_cast<size_t>(width) * height, 0);
  bool anyAlpha = false;
  for (int y = 0; y < height; y++) {
    // Rows are stored bottom up.
    const unsigned char* row = image + pixels + stride * (height - 1 - y);
    uint32_t* dst = out->Pixels.data() + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; x++) {
      uint32_t argb;
      if (bits == 32) {
        const unsigned char* p = row + 4 * x;
        argb = GetLE32(p);
        anyAlpha = anyAlpha || p[3] != 0;
      } else if (bits == 24) {
        const unsigned char* p = row + 3 * x;
        argb = 0xFF000000u | GetLE24(p);
      } else {
        const uint64_t bit = static_cast<uint64_t>(x) * bits;
        const unsigned byte = row[bit / 8];
        const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
        const unsigned index = (byte >> shift) & ((1u << bits) - 1);
        if (index >= colours) {
          argb = 0xFF000000u;
        } else {
          const unsigned char* q = image + table + 4 * index;
          argb = 0xFF000000u | GetLE24(q);
        }
      }
      dst[x] = argb;
    }
  }
  if (bits == 32 && anyAlpha) return true;
  // The mask: a set bit is a transparent pixel.
  for (int y = 0; y < height; y++) {
    const unsigned char* row = image + mask + maskStride * (height - 1 - y);
    uint32_t* dst = out->Pixels.data() + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; x++) {
      const bool clear = (row[x / 8] >> (7 - x % 8)) & 1;
      dst[x] = clear ? 0 : (dst[x] | 0xFF000000u);
    }
  }
  return true;
}

}  // namespace

bool DecodeIcon(const unsigned char* data, size_t size, platform::DisplayIcon* icon,
                std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (!data || size < kDirectory || GetLE16(data) != 0 || GetLE16(data + 2) != 1)
    return fail("not an icon file");
  const uint32_t count = GetLE16(data + 4);
  if (count == 0) return fail("the icon file holds no image");
  if (kDirectory + static_cast<uint64_t>(count) * kEntry > size)
    return fail("the icon file's directory runs past its end");

  platform::DisplayIcon best;
  uint32_t bestBits = 0;
  for (uint32_t i = 0; i < count; i++) {
    const unsigned char* e = data + kDirectory + i * kEntry;
    const uint32_t bytes = GetLE32(e + 8), offset = GetLE32(e + 12);
    if (offset > size || bytes > size - offset) continue;
    platform::DisplayIcon image;
    if (!DecodeImage(data + offset, bytes, &image)) continue;
    const uint32_t bits = GetLE16(data + offset + 14);
    const long long area = static_cast<long long>(image.Width) * image.Height;
    const long long bestArea = static_cast<long long>(best.Width) * best.Height;
    if (area > bestArea || (area == bestArea && bits > bestBits)) {
      best = std::move(image);
      bestBits = bits;
    }
  }
  if (best.Width == 0) return fail("the icon file holds no image that can be read");
  *icon = std::move(best);
  return true;
}

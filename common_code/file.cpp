// BMP files and bitmap resources into CDib surfaces, and surfaces out as
// 24-bit BMP files.
//
// The loader is where outside data enters the program, so it trusts no
// field: the header size, depth, compression and dimensions must be ones it
// supports, and the colour table and every pixel row must lie within the
// bytes it was given. Accepted: BITMAPINFOHEADER (40 bytes) and its V4/V5
// extensions (108, 124 bytes), uncompressed, 1/4/8/16/24/32 bits, 1 to
// 16384 pixels a side, bottom-up or top-down (negative height). A file's
// bfOffBits is honoured when it is set (0 means right after the colour
// table) and must not point into the headers or the table.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common_code/dib.h"
#include "platform/services/byte_order.h"
#include "platform/services/files.h"
#include "platform/winapi/alert.h"
#include "platform/winapi/resources.h"

namespace {

using platform::GetLE16;
using platform::GetLE32;
using platform::PutLE16;
using platform::PutLE32;

constexpr int kMaxSide = 16384;
constexpr size_t kFileHeaderSize = sizeof(BITMAPFILEHEADER);
// Large enough for the largest image the loader accepts (16384 x 16384 at
// 32 bits, with the largest headers and table); anything bigger is refused
// before it is read.
constexpr long long kMaxFileSize =
    static_cast<long long>(kMaxSide) * kMaxSide * 4 + kFileHeaderSize + 124 + 256 * 4;

// Reads the info header at `dib` (of `size` bytes). False when the bytes
// cannot hold a header of a size the loader supports.
bool ReadInfoHeader(const unsigned char* dib, size_t size, BITMAPINFOHEADER& bi) {
  if (!dib || size < 4) return false;
  uint32_t header = GetLE32(dib);
  if (header != 40 && header != 108 && header != 124) return false;
  if (size < header) return false;
  bi.biSize = header;
  bi.biWidth = static_cast<int32_t>(GetLE32(dib + 4));
  bi.biHeight = static_cast<int32_t>(GetLE32(dib + 8));
  bi.biPlanes = GetLE16(dib + 12);
  bi.biBitCount = GetLE16(dib + 14);
  bi.biCompression = GetLE32(dib + 16);
  bi.biSizeImage = GetLE32(dib + 20);
  bi.biXPelsPerMeter = static_cast<int32_t>(GetLE32(dib + 24));
  bi.biYPelsPerMeter = static_cast<int32_t>(GetLE32(dib + 28));
  bi.biClrUsed = GetLE32(dib + 32);
  bi.biClrImportant = GetLE32(dib + 36);
  return true;
}

// Tells whether the pocket build's file loader takes this image: it refuses
// colour tables of 1 to 255 entries (1- and 4-bit images, short 8-bit
// tables).
bool PocketTakesTable(const unsigned char* file, size_t size) {
  BITMAPINFOHEADER bi = {};
  if (size < kFileHeaderSize || !ReadInfoHeader(file + kFileHeaderSize, size - kFileHeaderSize, bi))
    return true;  // malformed: the decoder refuses it
  int colours = DIBNumColors(&bi);
  return colours < 1 || colours > 255;
}

}  // namespace

int DIBNumColors(LPBITMAPINFOHEADER lpbi) {
  if (!lpbi) return 0;
  int bits;
  if (lpbi->biSize == sizeof(BITMAPCOREHEADER)) {
    // The core header's bit count sits at bytes 10-11.
    uint16_t coreBits;
    std::memcpy(&coreBits, reinterpret_cast<const unsigned char*>(lpbi) + 10, sizeof(coreBits));
    bits = coreBits;
  } else {
    if (lpbi->biClrUsed != 0)
      return lpbi->biClrUsed > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(lpbi->biClrUsed);
    bits = lpbi->biBitCount;
  }
  switch (bits) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

// Decodes the packed bitmap at `dib`: info header, colour table, and the
// pixel rows at `pixelOffset` from `dib` (negative: right after the table).
int CDib::DecodeDIB(const unsigned char* dib, size_t size, long long pixelOffset) {
  Destroy();
  BITMAPINFOHEADER bi = {};
  if (!ReadInfoHeader(dib, size, bi)) return 0;
  if (bi.biCompression != BI_RGB) return 0;
  int bits = bi.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
  long long width = bi.biWidth, height = bi.biHeight;
  bool topDown = height < 0;
  if (topDown) height = -height;
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) return 0;
  if (bi.biClrUsed > 256) return 0;
  long long colours = DIBNumColors(&bi);

  long long tableEnd = bi.biSize + colours * 4;
  if (pixelOffset < 0) pixelOffset = tableEnd;
  if (pixelOffset < tableEnd) return 0;
  long long stride = (width * bits + 31) / 32 * 4;
  if (pixelOffset + stride * height > static_cast<long long>(size)) return 0;

  // Indices past a short table draw black instead of reading past it.
  PIXEL palette[256] = {};
  for (long long i = 0; i < colours; i++) {
    const unsigned char* q = dib + bi.biSize + i * 4;
    palette[i] = ColorValue(q[2], q[1], q[0]);
  }

  if (!Create(static_cast<int>(width), static_cast<int>(height))) return 0;
  for (int y = 0; y < H; y++) {
    const unsigned char* row = dib + pixelOffset + (topDown ? y : H - 1 - y) * stride;
    PIXEL* out = m_Bits + static_cast<size_t>(y) * W;
    switch (bits) {
      case 1:
        for (int x = 0; x < W; x++) out[x] = palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 4:
        for (int x = 0; x < W; x++)
          out[x] = palette[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)];
        break;
      case 8:
        for (int x = 0; x < W; x++) out[x] = palette[row[x]];
        break;
      case 16:
        for (int x = 0; x < W; x++) {
          uint16_t v = GetLE16(row + 2 * x);
          out[x] = ColorValue(((v >> 10) & 31) << 3, ((v >> 5) & 31) << 3, (v & 31) << 3);
        }
        break;
      case 24:
        for (int x = 0; x < W; x++) {
          const unsigned char* p = row + 3 * x;
          out[x] = ColorValue(p[2], p[1], p[0]);
        }
        break;
      case 32:
        for (int x = 0; x < W; x++) {
          const unsigned char* p = row + 4 * x;
          out[x] = ColorValue(p[2], p[1], p[0]);
        }
        break;
    }
  }
  return 1;
}

int CDib::LoadPackedDIB(const void* data, size_t size) {
  return DecodeDIB(static_cast<const unsigned char*>(data), size, -1);
}

int CDib::LoadBMPImage(const void* data, size_t size) {
  Destroy();
  const auto* file = static_cast<const unsigned char*>(data);
  if (!file || size < kFileHeaderSize || GetLE16(file) != 0x4D42) return 0;
  uint32_t offBits = GetLE32(file + 10);
  long long pixelOffset = -1;
  if (offBits != 0) {
    if (offBits < kFileHeaderSize) return 0;
    pixelOffset = offBits - kFileHeaderSize;
  }
  return DecodeDIB(file + kFileHeaderSize, size - kFileHeaderSize, pixelOffset);
}

int CDib::LoadBMP(const char* bmpname) {
  Destroy();
  if (!bmpname || !*bmpname) return 0;
  FILE* f = std::fopen(bmpname, "rb");
  if (!f) return 0;
  // The pocket build says when an existing file cannot be used; the desk
  // build fails silently.
  auto fail = [&](unsigned char* buffer) {
    std::free(buffer);
    std::fclose(f);
    Destroy();
    if constexpr (kPocket) Alert("LoadBMP Failed", "Debug");
    return 0;
  };
  long long length = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
  if (length < 0 || std::fseek(f, 0, SEEK_SET) != 0 || length > kMaxFileSize) return fail(nullptr);
  auto* buffer = static_cast<unsigned char*>(std::malloc(length > 0 ? length : 1));
  if (!buffer) return fail(nullptr);
  if (std::fread(buffer, 1, length, f) != static_cast<size_t>(length)) return fail(buffer);
  if (kPocket && !PocketTakesTable(buffer, length)) return fail(buffer);
  if (!LoadBMPImage(buffer, length)) return fail(buffer);
  std::free(buffer);
  std::fclose(f);
  return 1;
}

int CDib::LoadBMP(void* hInstance, const char* bmpname) {
  Destroy();
  if (!bmpname) return 0;
  HRSRC res = FindResource(hInstance, bmpname, RT_BITMAP);
  HGLOBAL handle = LoadResource(hInstance, res);
  void* data = LockResource(handle);
  if (!data) return 0;
  return LoadPackedDIB(data, SizeofResource(hInstance, res));
}

int SaveBitmap(CDib* hdib, const char* filename) {
  if (!hdib || !hdib->m_Bits || !filename) return 0;
  const size_t stride = (static_cast<size_t>(hdib->W) * 3 + 3) / 4 * 4;
  const size_t image = stride * hdib->H;
  const size_t total = 54 + image;
  if (total > 0xFFFFFFFFu) return 0;
  auto* bytes = static_cast<unsigned char*>(std::calloc(total, 1));
  if (!bytes) return 0;
  PutLE16(bytes, 0x4D42);
  PutLE32(bytes + 2, static_cast<uint32_t>(total));
  PutLE32(bytes + 10, 54);
  PutLE32(bytes + 14, 40);
  PutLE32(bytes + 18, static_cast<uint32_t>(hdib->W));
  PutLE32(bytes + 22, static_cast<uint32_t>(hdib->H));
  PutLE16(bytes + 26, 1);
  PutLE16(bytes + 28, 24);
  PutLE32(bytes + 34, static_cast<uint32_t>(image));
  for (int y = 0; y < hdib->H; y++) {
    unsigned char* row = bytes + 54 + (hdib->H - 1 - y) * stride;
    for (int x = 0; x < hdib->W; x++) {
      unsigned char r, g, b;
      ColorComponents(hdib->m_Bits[static_cast<size_t>(y) * hdib->W + x], r, g, b);
      row[3 * x] = b;
      row[3 * x + 1] = g;
      row[3 * x + 2] = r;
    }
  }
  std::string error;
  bool ok = WriteFileAtomically(filename, bytes, total, &error);
  std::free(bytes);
  return ok ? 1 : 0;
}

// BMP loading from files, memory and resources; saving; refusal of
// malformed files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common_code/dib.h"
#include "platform/winapi/resources.h"
#include "support/alerts.h"
#include "support/pixel_format.h"
#include "support/wav.h"

namespace {

using testing_support::AlertRecorder;
using testing_support::ReadFile;
using testing_support::ScopedPixelFormat;
using testing_support::TempDir;
using testing_support::WriteFile;
using Bytes = std::vector<unsigned char>;

struct Rgb {
  unsigned char r, g, b;
};

// A BMP file image: 40-byte header, the given colour table (biClrUsed as
// given) and rows as given (bottom row first, already padded). A negative
// `offBits` puts the pixels right after the table.
Bytes MakeBmp(int w, int h, int bits, const std::vector<Rgb>& table, uint32_t clrUsed,
              const Bytes& rows, long offBits = -1) {
  Bytes b;
  auto put16 = [&](uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  uint32_t afterTable = 54 + static_cast<uint32_t>(table.size()) * 4;
  uint32_t off = offBits < 0 ? afterTable : static_cast<uint32_t>(offBits);
  put16(0x4D42);
  put32(off + static_cast<uint32_t>(rows.size()));
  put32(0);
  put32(off);
  put32(40);
  put32(static_cast<uint32_t>(w));
  put32(static_cast<uint32_t>(h));
  put16(1);
  put16(static_cast<uint32_t>(bits));
  put32(0);
  put32(static_cast<uint32_t>(rows.size()));
  put32(0);
  put32(0);
  put32(clrUsed);
  put32(0);
  for (const Rgb& c : table) {
    b.push_back(c.b);
    b.push_back(c.g);
    b.push_back(c.r);
    b.push_back(0);
  }
  b.resize(off, 0xEE);
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

class Bmp : public ::testing::Test {
 protected:
  ScopedPixelFormat layout{kfDirect555};
  TempDir dir;

  // Loads the image through the file form (and checks the memory form agrees).
  int Load(CDib& d, const Bytes& bytes) {
    std::string path = dir.File("image.bmp");
    WriteFile(path, bytes);
    int fromFile = d.LoadBMP(path.c_str());
    CDib m;
    int fromMemory = m.LoadBMPImage(bytes.data(), bytes.size());
    if (!kPocket) {
      EXPECT_EQ(fromMemory, fromFile);
    }
    if (fromFile && fromMemory) {
      EXPECT_EQ(m.W, d.W);
      EXPECT_EQ(m.H, d.H);
      EXPECT_EQ(0, std::memcmp(m.m_Bits, d.m_Bits, sizeof(PIXEL) * d.W * d.H));
    }
    return fromFile;
  }
  std::vector<PIXEL> Row(const CDib& d, int y) {
    std::vector<PIXEL> out;
    for (int x = 0; x < d.W; x++) out.push_back(d.GetPixel(x, y));
    return out;
  }
};

using Pixels = std::vector<PIXEL>;

TEST_F(Bmp, OneBitTakesTheMostSignificantBitFirst) {
  CDib d;
  const std::vector<Rgb> table = {{0, 0, 0}, {255, 255, 255}};
  Bytes rows = {0x80, 0x40, 0, 0,   // bottom row: x = 0 set, then x = 9
                0x01, 0x80, 0, 0};  // top row: x = 7 and x = 8
  AlertRecorder alerts;
  int loaded = Load(d, MakeBmp(10, 2, 1, table, 0, rows));
  if (kPocket) {
    // The pocket build refuses 1- and 4-bit files (tables of 1 to 255 entries).
    EXPECT_EQ(loaded, 0);
    ASSERT_EQ(alerts.Alerts.size(), 1u);
    EXPECT_EQ(alerts.Alerts[0],
              std::make_pair(std::string("LoadBMP Failed"), std::string("Debug")));
    ASSERT_EQ(d.LoadPackedDIB(MakeBmp(10, 2, 1, table, 0, rows).data() + 14, 8 + 40 + 8), 1);
  } else {
    ASSERT_EQ(loaded, 1);
    EXPECT_TRUE(alerts.Alerts.empty());
  }
  PIXEL w = 0x7FFF;
  EXPECT_EQ(Row(d, 1), (Pixels{w, 0, 0, 0, 0, 0, 0, 0, 0, w}));
  EXPECT_EQ(Row(d, 0), (Pixels{0, 0, 0, 0, 0, 0, 0, w, w, 0}));
}

TEST_F(Bmp, FourBitTakesTheHighNibbleFirst) {
  CDib d;
  std::vector<Rgb> table(16, {0, 0, 0});
  table[1] = {255, 0, 0};
  table[2] = {0, 255, 0};
  table[15] = {0, 0, 255};
  Bytes packed = MakeBmp(3, 1, 4, table, 0, {0x12, 0xF0, 0, 0});
  ASSERT_EQ(d.LoadPackedDIB(packed.data() + 14, packed.size() - 14), 1);
  EXPECT_EQ(Row(d, 0),
            (Pixels{ColorValue(255, 0, 0), ColorValue(0, 255, 0), ColorValue(0, 0, 255)}));
}

TEST_F(Bmp, EightBitWithAShortTableFindsItsPixelsAfterIt) {
  CDib d;
  std::vector<Rgb> table(16, {8, 8, 8});
  table[3] = {200, 100, 50};
  // biClrUsed 16: the pixels start 64 bytes after the info header.
  Bytes file = MakeBmp(2, 1, 8, table, 16, {3, 0, 0, 0});
  ASSERT_EQ(file.size(), 14u + 40 + 64 + 4);
  BITMAPINFOHEADER bi{};
  std::memcpy(&bi, file.data() + 14, sizeof(bi));
  EXPECT_EQ(DIBNumColors(&bi), 16);
  AlertRecorder alerts;
  int loaded = Load(d, file);
  if (kPocket) {
    EXPECT_EQ(loaded, 0);  // a short 8-bit table is refused from files on the pocket
    ASSERT_EQ(d.LoadPackedDIB(file.data() + 14, file.size() - 14), 1);
  } else {
    ASSERT_EQ(loaded, 1);
  }
  EXPECT_EQ(Row(d, 0), (Pixels{ColorValue(200, 100, 50), ColorValue(8, 8, 8)}));
}

TEST_F(Bmp, IndicesPastAShortTableDrawBlack) {
  CDib d;
  std::vector<Rgb> table(2, {255, 255, 255});
  Bytes file = MakeBmp(3, 1, 8, table, 2, {1, 2, 255, 0});
  ASSERT_EQ(d.LoadPackedDIB(file.data() + 14, file.size() - 14), 1);
  EXPECT_EQ(Row(d, 0), (Pixels{0x7FFF, 0, 0}));
}

TEST_F(Bmp, DirectColourDepths) {
  CDib d;
  // 16 bits: 5-5-5 words; 0x7FFF is white, loaded as ColorValue(248, 248, 248).
  ASSERT_EQ(Load(d, MakeBmp(3, 1, 16, {}, 0, {0xFF, 0x7F, 0x1F, 0x00, 0x00, 0x7C, 0, 0})), 1);
  EXPECT_EQ(Row(d, 0),
            (Pixels{ColorValue(248, 248, 248), ColorValue(0, 0, 248), ColorValue(248, 0, 0)}));
  // 24 bits: blue, green, red.
  ASSERT_EQ(Load(d, MakeBmp(1, 1, 24, {}, 0, {0x10, 0x80, 0xF0, 0})), 1);
  EXPECT_EQ(d.GetPixel(0, 0), ColorValue(0xF0, 0x80, 0x10));
  // 32 bits: blue, green, red, ignored.
  ASSERT_EQ(Load(d, MakeBmp(2, 1, 32, {}, 0, {0x10, 0x80, 0xF0, 0x99, 0, 0, 0xFF, 0x12})), 1);
  EXPECT_EQ(Row(d, 0), (Pixels{ColorValue(0xF0, 0x80, 0x10), ColorValue(0xFF, 0, 0)}));
}

TEST_F(Bmp, PixelsFollowTheCurrentLayout) {
  CDib d;
  ScopedPixelFormat pocket(kfDirect565);
  ASSERT_EQ(Load(d, MakeBmp(1, 1, 24, {}, 0, {0, 0xFC, 0, 0})), 1);
  EXPECT_EQ(d.GetPixel(0, 0), 63 << 5);  // green keeps its sixth bit
}

TEST_F(Bmp, RowsAreBottomUpUnlessTheHeightIsNegative) {
  CDib d;
  Bytes rows = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};  // file rows 0, 1, 2
  std::vector<Rgb> table(256, {0, 0, 0});
  table[1] = {8, 0, 0};
  table[2] = {16, 0, 0};
  table[3] = {24, 0, 0};
  Bytes up = MakeBmp(1, 3, 8, table, 0, rows), down = MakeBmp(1, -3, 8, table, 0, rows);
  ASSERT_EQ(Load(d, up), 1);
  EXPECT_EQ(d.GetPixel(0, 0), ColorValue(24, 0, 0));
  EXPECT_EQ(d.GetPixel(0, 2), ColorValue(8, 0, 0));
  ASSERT_EQ(Load(d, down), 1);
  EXPECT_EQ(d.H, 3);
  EXPECT_EQ(d.GetPixel(0, 0), ColorValue(8, 0, 0));
  EXPECT_EQ(d.GetPixel(0, 2), ColorValue(24, 0, 0));
}

TEST_F(Bmp, FileOffsetToThePixelsIsHonoured) {
  CDib d;
  Bytes gap = MakeBmp(1, 1, 24, {}, 0, {0, 0, 0xF8, 0}, 54 + 10);
  ASSERT_EQ(Load(d, gap), 1);
  EXPECT_EQ(d.GetPixel(0, 0), ColorValue(0xF8, 0, 0));
  // Zero stands for "right after the table".
  Bytes zero = MakeBmp(1, 1, 24, {}, 0, {0, 0, 0xF8, 0}, 54);
  zero[10] = zero[11] = zero[12] = zero[13] = 0;
  ASSERT_EQ(Load(d, zero), 1);
  EXPECT_EQ(d.GetPixel(0, 0), ColorValue(0xF8, 0, 0));
}

TEST_F(Bmp, TwentyFourBitPaddingRoundTripsThroughSave) {
  CDib d;
  // 3 pixels wide: 9 bytes of pixels and 3 of padding per row.
  Bytes rows = {8,  16, 24, 32,  40,  48,  56,  64,  72,  0, 0, 0,
                80, 88, 96, 104, 112, 120, 128, 136, 144, 0, 0, 0};
  Bytes file = MakeBmp(3, 2, 24, {}, 0, rows);
  ASSERT_EQ(Load(d, file), 1);
  std::string saved = dir.File("saved.bmp");
  ASSERT_EQ(SaveBitmap(&d, saved.c_str()), 1);
  EXPECT_EQ(ReadFile(saved), file);  // same header fields, rows and zero padding
}

TEST_F(Bmp, SaveWritesTheStandardHeader) {
  CDib d;
  ASSERT_EQ(d.Create(5, 2), 1);
  d.Clear(ColorValue(255, 255, 255));
  std::string path = dir.File("out.bmp");
  ASSERT_EQ(SaveBitmap(&d, path.c_str()), 1);
  Bytes b = ReadFile(path);
  ASSERT_EQ(b.size(), 54u + 16 * 2);
  auto u32 = [&](size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24; };
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(u32(2), 54u + 32);
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 5u);
  EXPECT_EQ(u32(22), 2u);
  EXPECT_EQ(b[28], 24);
  EXPECT_EQ(u32(34), 32u);
  EXPECT_EQ(b[54], 248);  // white as 8-bit components with zero low bits
  EXPECT_EQ(b[54 + 15], 0);

  CDib empty;
  EXPECT_EQ(SaveBitmap(&empty, dir.File("empty.bmp").c_str()), 0);
  EXPECT_EQ(SaveBitmap(&d, dir.File("no/such/folder.bmp").c_str()), 0);
  EXPECT_EQ(SaveBitmap(nullptr, path.c_str()), 0);
}

TEST_F(Bmp, LoadingKeepsTransparencyAndOpacityAndFailureEmptiesTheSurface) {
  CDib d;
  d.SetTransparentColor(0x1234);
  d.SetOpacity(77);
  ASSERT_EQ(Load(d, MakeBmp(1, 1, 24, {}, 0, {0, 0, 0, 0})), 1);
  EXPECT_EQ(d.TransparentColor, 0x1234);
  EXPECT_EQ(d.Opacity, 77);
  ASSERT_EQ(d.InitZBuffer(), 1);
  EXPECT_EQ(d.LoadBMP(dir.File("missing.bmp").c_str()), 0);
  EXPECT_EQ(d.m_Bits, nullptr);
  EXPECT_EQ(d.ZBuffer, nullptr);
  EXPECT_EQ(d.W, 0);
}

TEST_F(Bmp, MissingOrUnnamedFilesFailSilently) {
  AlertRecorder alerts;
  CDib d;
  EXPECT_EQ(d.LoadBMP(dir.File("missing.bmp").c_str()), 0);
  EXPECT_EQ(d.LoadBMP(static_cast<const char*>(nullptr)), 0);
  EXPECT_EQ(d.LoadBMP(""), 0);
  EXPECT_TRUE(alerts.Alerts.empty());
}

TEST_F(Bmp, ResourcesLoadByNameWhateverTheCase) {
  CDib d;
  ASSERT_EQ(d.LoadBMP(nullptr, "METER"), 1);
  EXPECT_EQ(d.W, 240);
  EXPECT_EQ(d.H, 320);
  ASSERT_EQ(d.LoadBMP(nullptr, "smoke"), 1);
  EXPECT_EQ(d.W, 64);
  EXPECT_EQ(d.LoadBMP(nullptr, "NO_SUCH_IMAGE"), 0);
  EXPECT_EQ(d.m_Bits, nullptr);
  EXPECT_EQ(d.LoadBMP(nullptr, static_cast<const char*>(nullptr)), 0);
  // A font record is not a bitmap.
  EXPECT_NE(FindResource(nullptr, "FONT2", RT_BITMAP), nullptr);
  EXPECT_EQ(FindResource(nullptr, "FONT2", RT_ICON), nullptr);
}

TEST(BmpHeader, ColourTableLength) {
  BITMAPINFOHEADER bi{};
  bi.biSize = 40;
  for (auto [bits, colours] : std::vector<std::pair<int, int>>{
           {1, 2}, {4, 16}, {8, 256}, {16, 0}, {24, 0}, {32, 0}, {2, 0}}) {
    bi.biBitCount = static_cast<uint16_t>(bits);
    EXPECT_EQ(DIBNumColors(&bi), colours) << bits;
  }
  bi.biClrUsed = 7;
  EXPECT_EQ(DIBNumColors(&bi), 7);
  BITMAPCOREHEADER core{12, 4, 4, 1, 4};
  EXPECT_EQ(DIBNumColors(reinterpret_cast<LPBITMAPINFOHEADER>(&core)), 16);
  EXPECT_EQ(DIBNumColors(nullptr), 0);
}

// Every file of tests/data/bad-bmp is malformed in one way; each must be
// refused in every form, leaving an empty surface.
TEST(BadBmp, EveryMalformedFileIsRefused) {
  ScopedPixelFormat layout(kfDirect555);
  AlertRecorder alerts;
  std::string folder = std::string(ZELVARO_SOURCE_DIR) + "/tests/data/bad-bmp";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string path = entry.path().string();
    Bytes bytes = ReadFile(path);
    CDib d;
    ASSERT_EQ(d.Create(2, 2), 1);
    EXPECT_EQ(d.LoadBMP(path.c_str()), 0) << path;
    EXPECT_EQ(d.m_Bits, nullptr) << path;
    EXPECT_EQ(d.LoadBMPImage(bytes.data(), bytes.size()), 0) << path;
    // As a bitmap resource (no file header) only the info header and what
    // follows it count: the files broken in their file header are fine there.
    std::string name = entry.path().filename().string();
    bool fileHeaderFault = name.rfind("offbits-", 0) == 0 || name.rfind("signature-", 0) == 0;
    if (bytes.size() >= 14 && !fileHeaderFault) {
      EXPECT_EQ(d.LoadPackedDIB(bytes.data() + 14, bytes.size() - 14), 0) << path;
    }
    EXPECT_EQ(d.W, 0) << path;
    files++;
  }
  EXPECT_GE(files, 60);
  // The pocket build reports each existing file it cannot use.
  if (kPocket) {
    EXPECT_EQ(alerts.Alerts.size(), static_cast<size_t>(files));
  }
}

}  // namespace

// Fonts: both record forms, the shipped fonts, printing and line measuring;
// the built-in 7x7 character set.
#include "common_code/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common_code/dib.h"
#include "platform/winapi/resources.h"
#include "support/alerts.h"
#include "support/pixel_format.h"
#include "support/wav.h"

namespace {

using testing_support::AlertRecorder;
using testing_support::ScopedPixelFormat;
using testing_support::TempDir;
using testing_support::WriteFile;
using Bytes = std::vector<unsigned char>;

constexpr PIXEL kBack = 0x7FFF, kInk = 0x001F;

// A module handle for the resource forms (a null handle means "from a file"
// to LoadGAPIFont); the resource table ignores its value.
int g_Module;
void* const kModule = &g_Module;

// A width-list strip: the cells of `widths` side by side, each cell's
// pixels filled with (cell index + 1) except its top-left pixel, which is
// the background (white), so the strip's top-left pixel is white.
void WidthStrip(CDib& strip, const std::vector<int>& widths, int height) {
  int total = 0;
  for (int w : widths) total += w;
  ASSERT_EQ(strip.Create(total, height), 1);
  strip.Clear(kBack);
  int x = 0;
  for (size_t i = 0; i < widths.size(); i++) {
    strip.Fill(x, 0, x + widths[i], height, static_cast<PIXEL>(i + 1));
    strip.SetPixel(x, 0, kBack);
    x += widths[i];
  }
}

class Fonts : public ::testing::Test {
 protected:
  ScopedPixelFormat layout{kfDirect555};
  TempDir dir;

  // Writes strip and record as <name>.BMP and <name>.INF.
  std::string WriteFont(const std::string& name, CDib& strip, const Bytes& record) {
    std::string bmp = dir.File(name + ".BMP");
    EXPECT_EQ(SaveBitmap(&strip, bmp.c_str()), 1);
    WriteFile(dir.File(name + ".INF"), record);
    return bmp;
  }
};

TEST_F(Fonts, WidthListRecordPlacesCellsInRecordOrder) {
  CDib strip;
  WidthStrip(strip, {3, 5, 2}, 4);
  std::string bmp = WriteFont("F", strip, {3, 4, 'b', 3, 'a', 5, '!', 2});
  Font f;
  f.dib.SetOpacity(10);
  ASSERT_EQ(f.LoadFont(bmp.c_str()), 1);
  EXPECT_EQ(f.NoChars, 3);
  EXPECT_EQ(f.Height, 4);
  EXPECT_EQ(f.TopOffset, 0);
  EXPECT_EQ(f.Offset['b'], 0);
  EXPECT_EQ(f.Offset['a'], 3);
  EXPECT_EQ(f.Offset['!'], 8);
  EXPECT_EQ(f.Width['a'], 5);
  EXPECT_EQ(f.Width['c'], 0);
  EXPECT_EQ(f.dib.TransparentColor, kBack);
  EXPECT_EQ(f.dib.Opacity, 255);
  EXPECT_EQ(f.GetTextLength("ab!"), 10);
  EXPECT_EQ(f.GetTextLength(""), 0);
  EXPECT_EQ(f.GetTextLength("xyz"), 0);  // unknown characters are 0 wide
}

TEST_F(Fonts, ShortRecordsAreReadUpToTheirEnd) {
  Font f;
  EXPECT_EQ(f.SetCharMap(Bytes{5, 9, 'a', 4, 'b', 6, 'c'}.data(), 7), 1);
  EXPECT_EQ(f.NoChars, 2);  // the pairs actually present
  EXPECT_EQ(f.Height, 9);
  EXPECT_EQ(f.Width['b'], 6);
  EXPECT_EQ(f.Offset['b'], 4);
  EXPECT_EQ(f.Width['c'], 0);
  EXPECT_EQ(f.SetCharMap(Bytes{5}.data(), 1), 0);
  EXPECT_EQ(f.SetCharMap(nullptr, 10), 0);
  // A record listing fewer characters than it holds stops at its count.
  Font g;
  EXPECT_EQ(g.SetCharMap(Bytes{1, 9, 'a', 4, 'b', 6}.data(), 6), 1);
  EXPECT_EQ(g.Width['b'], 0);
}

TEST_F(Fonts, RecordFileNameReplacesOnlyTheFileExtension) {
  CDib strip;
  WidthStrip(strip, {2}, 2);
  ASSERT_EQ(std::system(("mkdir -p " + dir.File("v1.0")).c_str()), 0);
  std::string bmp = dir.File("v1.0/STRIP.BMP");
  ASSERT_EQ(SaveBitmap(&strip, bmp.c_str()), 1);
  WriteFile(dir.File("v1.0/STRIP.INF"), {1, 2, 'x', 2});
  Font f;
  ASSERT_EQ(f.LoadFont(bmp.c_str()), 1);
  EXPECT_EQ(f.Width['x'], 2);

  // Without an extension in the file name the name itself is the record:
  // here the BMP's own first bytes, "BM", which is read as 66 characters of
  // height 77 with whatever pairs follow, never past the file's end.
  std::string bare = dir.File("v1.0/BARE");
  ASSERT_EQ(SaveBitmap(&strip, bare.c_str()), 1);
  Font g;
  EXPECT_EQ(g.LoadFont(bare.c_str()), 1);
  EXPECT_EQ(g.Height, 'M');
}

TEST_F(Fonts, MissingStripOrRecordFails) {
  CDib strip;
  WidthStrip(strip, {2}, 2);
  std::string bmp = dir.File("NOREC.BMP");
  ASSERT_EQ(SaveBitmap(&strip, bmp.c_str()), 1);
  AlertRecorder alerts;
  Font f;
  EXPECT_EQ(f.LoadFont(bmp.c_str()), 0);  // no NOREC.INF
  EXPECT_TRUE(alerts.Alerts.empty());
  EXPECT_EQ(f.LoadFont(dir.File("NONE.BMP").c_str()), 0);
  if (kPocket) {
    ASSERT_EQ(alerts.Alerts.size(), 1u);
    EXPECT_EQ(alerts.Alerts[0],
              std::make_pair(std::string("Error loading font"), std::string("Debug")));
  } else {
    EXPECT_TRUE(alerts.Alerts.empty());
  }
  EXPECT_EQ(f.GetTextLength("x"), 0);
  EXPECT_EQ(f.LoadFont(kModule, "NO_SUCH_FONT"), 0);
  EXPECT_EQ(f.LoadFont(kModule, "METER"), 0);  // a bitmap without a record
}

TEST_F(Fonts, ShippedWidthListFontsLoadFromResources) {
  // Both record types are in the table; each program reads its own.
  EXPECT_NE(FindResource(nullptr, "FONT2", "TEXT"), nullptr);
  EXPECT_NE(FindResource(nullptr, "FONT2", "INFO"), nullptr);
  struct Expected {
    const char* name;
    int height;
  };
  for (Expected e : {Expected{"FONT2", 13}, Expected{"FONT3", 33}, Expected{"BUTTONFONT", 16}}) {
    Font f;
    ASSERT_EQ(f.LoadFont(kModule, e.name), 1) << e.name;
    EXPECT_EQ(f.Height, e.height) << e.name;
    EXPECT_EQ(f.dib.H, e.height) << e.name;
    EXPECT_EQ(f.NoChars, 95) << e.name;
    int sum = 0;
    for (int c = 32; c <= 126; c++) {
      EXPECT_EQ(f.Offset[c], sum) << e.name << " " << c;
      EXPECT_GT(f.Width[c], 0) << e.name << " " << c;
      sum += f.Width[c];
    }
    EXPECT_EQ(sum, f.dib.W) << e.name;  // the strip is exactly the cells
    EXPECT_EQ(f.dib.TransparentColor, f.dib.GetPixel(0, 0));
  }
}

// A marked strip: cell k has a marker run of `glyph[k]` pixels in colour A
// and 3 in colour B; glyph pixels are cell index + 1 in rows 2..3.
void MarkedStrip(CDib& strip, const std::vector<int>& glyph) {
  int total = 1;
  for (int g : glyph) total += g + 3;
  ASSERT_EQ(strip.Create(total, 4), 1);
  strip.Clear(kBack);
  int x = 1;
  for (size_t k = 0; k < glyph.size(); k++) {
    strip.Fill(x, 0, x + glyph[k], 1, 0x7C00);
    strip.Fill(x + glyph[k], 0, x + glyph[k] + 3, 1, 0x03E0);
    strip.Fill(x, 2, x + glyph[k], 4, static_cast<PIXEL>(k + 1));
    x += glyph[k] + 3;
  }
}

TEST_F(Fonts, MarkerRowFindsTheCellsOfTheCodeList) {
  std::vector<int> glyph(kGAPIFontCodes);
  for (int k = 0; k < kGAPIFontCodes; k++) glyph[k] = 1 + k % 5;
  CDib strip;
  MarkedStrip(strip, glyph);
  std::string path = dir.File("MARKED.BMP");
  ASSERT_EQ(SaveBitmap(&strip, path.c_str()), 1);

  Font f;
  ASSERT_EQ(f.LoadGAPIFont(nullptr, path.c_str()), 1);
  EXPECT_EQ(f.NoChars, 145);
  EXPECT_EQ(f.Height, 2);
  EXPECT_EQ(f.TopOffset, 2);
  EXPECT_EQ(f.dib.TransparentColor, kBack);
  auto cellStart = [&](int k) {
    int x = 1;
    for (int i = 0; i < k; i++) x += glyph[i] + 3;
    return x;
  };
  EXPECT_EQ(f.Offset[' '], 1);
  EXPECT_EQ(f.Width[' '], glyph[0]);
  EXPECT_EQ(f.Offset['A'], cellStart(33));
  EXPECT_EQ(f.Width['A'], glyph[33]);
  // Codes listed twice take the later cell.
  EXPECT_EQ(f.Offset['_'], cellStart(95));
  EXPECT_EQ(f.Offset['P'], cellStart(126));
  EXPECT_EQ(f.Offset[0xAC], cellStart(138));
  EXPECT_EQ(f.Offset[0x83], cellStart(127));
  EXPECT_EQ(f.Width[0], glyph[144]);  // the last cell is closed at the strip's end
  EXPECT_EQ(GAPIFontCodes[0], 32);
  EXPECT_EQ(GAPIFontCodes[144], 0);
}

TEST_F(Fonts, MarkerRowWithTooManyOrTooFewCells) {
  CDib strip;
  MarkedStrip(strip, std::vector<int>(200, 2));  // 55 cells more than codes
  std::string many = dir.File("MANY.BMP");
  ASSERT_EQ(SaveBitmap(&strip, many.c_str()), 1);
  Font f;
  ASSERT_EQ(f.LoadGAPIFont(nullptr, many.c_str()), 1);
  EXPECT_EQ(f.Offset[0], 1 + 144 * 5);
  EXPECT_EQ(f.Width[0], 2);

  MarkedStrip(strip, {4, 1});
  std::string few = dir.File("FEW.BMP");
  ASSERT_EQ(SaveBitmap(&strip, few.c_str()), 1);
  ASSERT_EQ(f.LoadGAPIFont(nullptr, few.c_str()), 1);
  EXPECT_EQ(f.Width[' '], 4);
  EXPECT_EQ(f.Width['!'], 1);
  EXPECT_EQ(f.Width['"'], 0);
  EXPECT_EQ(f.Offset['"'], 0);

  // A cell shorter than its three spacing pixels is 0 wide, not 65533.
  ASSERT_EQ(strip.Create(3, 4), 1);
  strip.Clear(kBack);
  strip.SetPixel(2, 0, 0x7C00);
  ASSERT_EQ(SaveBitmap(&strip, few.c_str()), 1);
  ASSERT_EQ(f.LoadGAPIFont(nullptr, few.c_str()), 1);
  EXPECT_EQ(f.Width[' '], 0);
  EXPECT_EQ(f.Width['!'], 0);

  // Too low to hold a glyph row.
  ASSERT_EQ(strip.Create(10, 2), 1);
  strip.Clear(kBack);
  ASSERT_EQ(SaveBitmap(&strip, few.c_str()), 1);
  EXPECT_EQ(f.LoadGAPIFont(nullptr, few.c_str()), 0);
  EXPECT_EQ(f.LoadGAPIFont(nullptr, dir.File("MISSING.BMP").c_str()), 0);
}

TEST_F(Fonts, ShippedMenuFontHasEveryCode) {
  Font f;
  ASSERT_EQ(f.LoadGAPIFont(kModule, "MENUFONT"), 1);
  EXPECT_EQ(f.Height, f.dib.H - 2);
  for (int k = 0; k < kGAPIFontCodes; k++) EXPECT_GT(f.Width[GAPIFontCodes[k]], 0) << k;
  // Every printable ASCII character has ink in its cell, except the space.
  for (int c = 33; c <= 126; c++) {
    bool ink = false;
    for (int y = 2; y < f.dib.H; y++)
      for (int x = f.Offset[c]; x < f.Offset[c] + f.Width[c]; x++)
        ink |= f.dib.GetPixel(x, y) != f.dib.TransparentColor;
    EXPECT_TRUE(ink) << static_cast<char>(c);
  }
}

// Printing ------------------------------------------------------------------------

class FontPrint : public Fonts {
 protected:
  void SetUp() override {
    WidthStrip(strip, {3, 2, 4}, 2);
    std::string bmp = WriteFont("P", strip, {3, 2, 'a', 3, ' ', 2, 'b', 4});
    ASSERT_EQ(font.LoadFont(bmp.c_str()), 1);
    ASSERT_EQ(screen.Create(20, 6), 1);
    screen.Clear(0);
  }
  std::string RowString(int y) {
    std::string s;
    for (int x = 0; x < screen.W; x++) {
      PIXEL p = screen.GetPixel(x, y);
      s += p == 0 ? '.' : (p == kInk ? '#' : static_cast<char>('0' + p));
    }
    return s;
  }
  CDib strip, screen;
  Font font;
};

TEST_F(FontPrint, CopiesCellsAndSkipsSpaces) {
  font.Print(&screen, 1, 1, "ab a", 0, 1);  // mode 1: the glyphs' own colours
  EXPECT_EQ(RowString(1), "..11.333...11.......");
  EXPECT_EQ(RowString(2), ".1113333..111.......");
  EXPECT_EQ(RowString(3), "....................");
  screen.Clear(0);
  font.Print(&screen, 0, 0, "b?a", kInk, 8);  // mode 8: silhouettes in the colour
  EXPECT_EQ(screen.PaintColor, kInk);
  EXPECT_EQ(RowString(0), ".###.##.............");
  EXPECT_EQ(RowString(1), "#######.............");
}

TEST_F(FontPrint, NegativeXCentresAndOffsetsForAShadow) {
  font.Print(&screen, -1, 0, "ab", kInk, 8);  // 7 wide on 20: x = 6
  EXPECT_EQ(RowString(1), "......#######.......");
  screen.Clear(0);
  font.Print(&screen, -3, 0, "ab", kInk, 8);  // 2 right and 2 down
  EXPECT_EQ(RowString(3), "........#######.....");
  EXPECT_EQ(RowString(1), "....................");
  // A text exactly as wide as the surface starts at x = 0.
  CDib narrow;
  ASSERT_EQ(narrow.Create(7, 2), 1);
  narrow.Clear(0);
  font.Print(&narrow, -1, 0, "ab", kInk, 8);
  EXPECT_EQ(narrow.GetPixel(0, 1), kInk);
  EXPECT_EQ(narrow.GetPixel(6, 1), kInk);
  // Wider than the surface: centred by arithmetic halving, so it starts left of 0.
  CDib tiny;
  ASSERT_EQ(tiny.Create(4, 2), 1);
  tiny.Clear(0);
  font.Print(&tiny, -1, 0, "ab", kInk, 8);  // x = (4 - 7) >> 1 = -2
  EXPECT_EQ(tiny.GetPixel(0, 0), kInk);     // column 2 of 'a'
  EXPECT_EQ(tiny.GetPixel(1, 0), 0);        // column 0 of 'b' is the background
}

TEST_F(FontPrint, LineLengthBreaksAfterTheLastSpace) {
  // Widths: a 3, space 2, b 4.
  EXPECT_EQ(font.GetMaxLineLength("ab ab", 100), 5);
  EXPECT_EQ(font.GetMaxLineLength("", 10), 0);
  EXPECT_EQ(font.GetMaxLineLength("bbbb a", 10), 0);   // first word too wide
  EXPECT_EQ(font.GetMaxLineLength("a b ab", 10), 4);   // 3+2+4+2 reaches 10 at the second space
  EXPECT_EQ(font.GetMaxLineLength("a bb", 9), 2);      // reaching maxwid exactly ends the line
  EXPECT_EQ(font.GetMaxLineLength("a\rbbbbb", 5), 2);  // the carriage return is counted
  EXPECT_EQ(font.GetMaxLineLength(nullptr, 5), 0);
}

// Built-in character set -----------------------------------------------------------

class CharSet : public ::testing::Test {
 protected:
  void SetUp() override {
    initcharset();
    ASSERT_EQ(d.Create(64, 24), 1);
    d.Clear(0);
  }
  void TearDown() override { releasecharset(); }
  // The 7x7 cell at (x, y) as rows of 'o' and ':'.
  std::vector<std::string> Cell(int x, int y) {
    std::vector<std::string> rows;
    for (int r = 0; r < 7; r++) {
      std::string s;
      for (int c = 0; c < 7; c++) s += d.GetPixel(x + c, y + r) ? 'o' : ':';
      rows.push_back(s);
    }
    return rows;
  }
  int InkCount() {
    int n = 0;
    for (int y = 0; y < d.H; y++)
      for (int x = 0; x < d.W; x++) n += d.GetPixel(x, y) != 0;
    return n;
  }
  using Rows = std::vector<std::string>;
  CDib d;
};

TEST_F(CharSet, GlyphsMatchTheirDrawingsPixelByPixel) {
  struct Glyph {
    char c;
    std::vector<std::string> rows;
  };
  const Glyph glyphs[] = {
      {'a', {"oooo:::", "oo:oo::", "oo::oo:", "oo:::oo", "ooooooo", "oo:::oo", "oo:::oo"}},
      {'q', {"::ooo::", ":oo:oo:", "oo:::oo", "oo:o:oo", "oo:oooo", "oo::oo:", ":ooo:oo"}},
      {'w', {"oo:::oo", "oo:::oo", "oo:::oo", "oo:::oo", "oo:o:oo", ":ooooo:", "::o:o::"}},
      {'1', {":::::::", ":::::oo", ":::::oo", ":::::::", ":::::oo", ":::::oo", ":::::::"}},
      {'7', {":ooooo:", ":::::oo", ":::::oo", ":::::::", ":::::oo", ":::::oo", ":::::::"}},
      {'%', {":oo::::", "o::o:::", ":oo::oo", "::ooo::", "oo::oo:", ":::o::o", "::::oo:"}},
      {'@', {"::ooo::", ":o:::o:", "o::oo:o", "o:o:::o", "o::oooo", ":o:::::", "::oooo:"}},
      {'\\', {"o::::::", ":o:::::", "::o::::", ":::o:::", "::::o::", ":::::o:", "::::::o"}},
      {'\'', {":::o:::", ":::o:::", "::o::::", ":::::::", ":::::::", ":::::::", ":::::::"}},
      {'#', {"ooooooo", "ooooooo", "ooooooo", "ooooooo", "ooooooo", "ooooooo", "ooooooo"}},
      {'>', {":o:::::", "::o::::", ":::o:::", "::::o::", ":::o:::", "::o::::", ":o:::::"}},
  };
  for (const Glyph& g : glyphs) {
    d.Clear(0);
    char text[2] = {g.c, 0};
    EXPECT_EQ(d.Print(text, 3, 2, 1), 1);
    EXPECT_EQ(Cell(3, 2), g.rows) << g.c;
    int ink = 0;
    for (const std::string& r : g.rows)
      ink += static_cast<int>(std::count(r.begin(), r.end(), 'o'));
    EXPECT_EQ(InkCount(), ink) << g.c;  // nothing outside the cell
  }
}

TEST_F(CharSet, EveryCharacterOfTheSetHasItsOwnGlyph) {
  const std::string order = "abcdefghijklmnopqrstuvwxyz0123456789:!?-=+[] .,><#'@/\\%";
  std::vector<Rows> seen;
  for (char c : order) {
    d.Clear(0);
    char text[2] = {c, 0};
    d.Print(text, 0, 0, 1);
    Rows cell = Cell(0, 0);
    if (c == ' ') {
      EXPECT_EQ(InkCount(), 0);
      continue;
    }
    EXPECT_GT(InkCount(), 0) << c;
    for (const Rows& other : seen) EXPECT_NE(cell, other) << c;
    seen.push_back(cell);
  }
}

TEST_F(CharSet, UpperCaseUsesLowerCaseAndUnknownCodesAreBlank) {
  EXPECT_EQ(d.Print("AB", 0, 0, 1), 2);
  Rows upper0 = Cell(0, 0), upper1 = Cell(8, 0);
  d.Clear(0);
  d.Print("ab", 0, 0, 1);
  EXPECT_EQ(Cell(0, 0), upper0);
  EXPECT_EQ(Cell(8, 0), upper1);
  d.Clear(0);
  EXPECT_EQ(d.Print("~\x80\xFF{", 0, 0, 1), 4);
  EXPECT_EQ(InkCount(), 0);
  d.Print("~a", 0, 0, 1);  // a blank 8-pixel step
  EXPECT_EQ(Cell(8, 0)[0], "oooo:::");
}

TEST_F(CharSet, CentringAndLineBreaks) {
  d.Print("ab", -1, -1, 1);  // x = (64 - 16) / 2, y = (24 - 8) / 2
  EXPECT_EQ(Cell(24, 8)[0], "oooo:::");
  d.Clear(0);
  d.Print("a\nb\rc", 2, 0, 1);
  EXPECT_EQ(Cell(2, 0)[0], "oooo:::");
  EXPECT_EQ(Cell(2, 9)[6], "oooooo:");   // 'b' one line (9 pixels) lower
  EXPECT_EQ(Cell(2, 18)[0], "::ooooo");  // 'c' a line below that, cut by the edge
  d.Clear(0);
  // Wider than the surface: the unsigned centring puts it off the surface.
  EXPECT_EQ(d.Print("abcdefghi", -1, 0, 1), 9);
  EXPECT_EQ(InkCount(), 0);
  // Partly outside: only the pixels inside are set.
  d.Print("#", 60, 20, 1);
  EXPECT_EQ(InkCount(), 4 * 4);
}

TEST(CharSetLifetime, PrintDrawsNothingWithoutTheSet) {
  releasecharset();
  CDib d;
  ASSERT_EQ(d.Create(8, 8), 1);
  d.Clear(0);
  EXPECT_EQ(d.Print("#", 0, 0, 1), 0);
  EXPECT_EQ(d.GetPixel(3, 3), 0);
  initcharset();
  initcharset();  // building twice does not leak
  EXPECT_EQ(d.Print("#", 0, 0, 1), 1);
  EXPECT_EQ(d.GetPixel(3, 3), 1);
  releasecharset();
  releasecharset();
}

}  // namespace

// Font: loading both strip forms, and printing proportional text.
//
// Records and strips come from outside the program, so nothing in them is
// trusted: a record that lists more characters than it holds is read up to
// its end, a strip with more marker cells than codes fills the codes it has,
// and cells reaching past the strip are clipped by CDib::BitBlt.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>
#include <string>

#include "common_code/font.h"
#include "platform/winapi/alert.h"
#include "platform/winapi/resources.h"

namespace {

constexpr const char* kRecordType = kPocket ? "INFO" : "TEXT";
constexpr size_t kMaxRecordSize = sizeof(CHARMAPHEADER) + 255 * sizeof(CHARMAP);

}  // namespace

// The printable ASCII codes, then the second half of the old PC character
// set as far as the strips draw it, in Windows-1252 codes (0x50 stands in
// for the peseta sign and wins over 'P'; the second 95 wins over the first).
const unsigned char GAPIFontCodes[kGAPIFontCodes] = {
    32,   33,   34,   35,   36,   37,   38,   39,   40,   41,   42,   43,   44,   45,   46,
    47,   48,   49,   50,   51,   52,   53,   54,   55,   56,   57,   58,   59,   60,   61,
    62,   63,   64,   65,   66,   67,   68,   69,   70,   71,   72,   73,   74,   75,   76,
    77,   78,   79,   80,   81,   82,   83,   84,   85,   86,   87,   88,   89,   90,   91,
    92,   93,   94,   95,   96,   97,   98,   99,   100,  101,  102,  103,  104,  105,  106,
    107,  108,  109,  110,  111,  112,  113,  114,  115,  116,  117,  118,  119,  120,  121,
    122,  123,  124,  125,  126,  95,   0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA,
    0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5, 0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9,
    0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x50, 0x83, 0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA,
    0xBA, 0xBF, 0xAC, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB, 0x00,
};

void Font::Reset() {
  NoChars = 0;
  Height = 0;
  TopOffset = 0;
  std::fill(std::begin(Offset), std::end(Offset), 0);
  std::fill(std::begin(Width), std::end(Width), 0);
}

int Font::SetCharMap(const unsigned char* record, size_t size) {
  if (!record || size < sizeof(CHARMAPHEADER)) return 0;
  int listed = record[0];
  Height = record[1];
  int offset = 0, read = 0;
  for (; read < listed; read++) {
    size_t at = sizeof(CHARMAPHEADER) + static_cast<size_t>(read) * sizeof(CHARMAP);
    if (at + sizeof(CHARMAP) > size) break;
    unsigned char code = record[at], width = record[at + 1];
    Offset[code] = static_cast<uint16_t>(offset);
    Width[code] = width;
    offset += width;
  }
  NoChars = static_cast<unsigned char>(read);
  return 1;
}

int Font::LoadFont(void* hInstance, const char* name) {
  Reset();
  if (!dib.LoadBMP(hInstance, name)) return 0;
  dib.SetTransparentColor(dib.GetPixel(0, 0));
  dib.SetOpacity(255);
  HRSRC res = FindResource(hInstance, name, kRecordType);
  const void* record = LockResource(LoadResource(hInstance, res));
  if (!record) return 0;
  return SetCharMap(static_cast<const unsigned char*>(record), SizeofResource(hInstance, res));
}

int Font::LoadFont(const char* fname) {
  Reset();
  if (!fname) return 0;
  if (!dib.LoadBMP(fname)) {
    if constexpr (kPocket) Alert("Error loading font", "Debug");
    return 0;
  }
  dib.SetTransparentColor(dib.GetPixel(0, 0));
  dib.SetOpacity(255);

  // Only a "." within the file name starts the extension; one in a folder
  // name ("../fonts/FONT2") does not.
  std::string record = fname;
  size_t slash = record.rfind('/'), dot = record.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    record = record.substr(0, dot) + ".INF";
  FILE* f = std::fopen(record.c_str(), "rb");
  if (!f) return 0;
  unsigned char bytes[kMaxRecordSize];
  size_t got = std::fread(bytes, 1, sizeof(bytes), f);
  std::fclose(f);
  return SetCharMap(bytes, got);
}

int Font::LoadGAPIFont(void* hInstance, const char* name) {
  Reset();
  int loaded = hInstance ? dib.LoadBMP(hInstance, name) : dib.LoadBMP(name);
  if (!loaded) return 0;
  // Row 0 marks the cells and row 1 is never drawn: a strip needs a third
  // row to hold any glyph.
  if (dib.H < 3) {
    dib.Destroy();
    return 0;
  }
  dib.SetTransparentColor(dib.GetPixel(0, 0));
  NoChars = kGAPIFontCodes;
  Height = static_cast<unsigned char>(std::min(dib.H - 2, 255));
  TopOffset = 2;
  ScanMarkers();
  return 1;
}

// Along row 0 from x = 1 each cell is two runs of different colours, so
// every second colour change starts the next cell. The last three pixels of
// a cell are spacing that is never drawn.
void Font::ScanMarkers() {
  if (dib.W < 2) return;
  int code = 0, start = 1;
  auto close = [&](int x) {
    if (code >= kGAPIFontCodes) return;
    unsigned char c = GAPIFontCodes[code++];
    Offset[c] = static_cast<uint16_t>(start);
    Width[c] = static_cast<uint16_t>(std::max(0, x - start - 3));
    start = x;
  };
  PIXEL previous = dib.GetPixel(1, 0);
  bool toggle = true;
  for (int x = 1; x < dib.W; x++) {
    PIXEL p = dib.GetPixel(x, 0);
    if (p == previous) continue;
    previous = p;
    if (!toggle) close(x);
    toggle = !toggle;
  }
  close(dib.W);
}

void Font::Print(CDib* ddib, int x, int y, const unsigned char* text, unsigned short colour,
                 int flags) {
  if (!ddib || !text) return;
  long long pen = x, top = y;
  if (x < 0) {
    long long shift = -static_cast<long long>(x) - 1;
    long long width = GetTextLength(reinterpret_cast<const char*>(text));
    pen = ((ddib->W - width) >> 1) + shift;
    top += shift;
  }
  ddib->PaintColor = colour;
  if (top < INT_MIN || top > INT_MAX) return;
  for (; *text && pen < ddib->W; text++) {
    unsigned char c = *text;
    if (c != ' ' && pen + Width[c] > 0)
      ddib->BitBlt(static_cast<int>(pen), static_cast<int>(top), Width[c], Height, &dib, Offset[c],
                   TopOffset, static_cast<unsigned char>(flags));
    pen += Width[c];
  }
}

int Font::GetTextLength(const char* text) const {
  if (!text) return 0;
  long long sum = 0;
  for (; *text && sum < INT_MAX; text++) sum += Width[static_cast<unsigned char>(*text)];
  return static_cast<int>(std::min<long long>(sum, INT_MAX));
}

int Font::GetMaxLineLength(const char* text, int maxwid) const {
  if (!text) return 0;
  long long sum = 0;
  int lastSpace = 0, i = 0;
  for (; text[i]; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') return i + 1;
    if (c == ' ') lastSpace = i + 1;
    sum += Width[c];
    if (sum >= maxwid) return lastSpace;
  }
  return i;
}

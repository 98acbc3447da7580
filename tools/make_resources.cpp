// make_resources: draws the program's artwork and writes it as BMP files and
// font records into a folder (resources/ of the source tree).
//
//   make_resources <output folder> [<DejaVu font folder>]
//
// Everything is computed from fixed numbers (no clock, no random source),
// so a run reproduces the committed files byte for byte. Shapes are drawn
// with 4x4 supersampling; the meter labels are antialiased text; the font
// strips are monochrome hinted glyphs, because the program prints them as
// silhouettes in which every non-transparent pixel is ink.
//
// The images and where the program uses them:
//   METER (240x320, 8-bit)  the tuner screen's background: scale around the
//        needle pivot (120, 117), status band (text at y = 140), spectrum
//        panel (baseline y = 258, bars at x = 20 + 25 j), button strip
//        (buttons at y = 290..310)
//   METER_SMALL (240x240, 8-bit)  the same for a square screen, baseline y = 219
//   ARROWS  flat/sharp arrows, unlit and lit, in four quadrants; the top-left
//        pixel is the transparent colour
//   FONT2, FONT3, BUTTONFONT  width-list fonts (strip + .INF record)
//   MENUFONT  marked-cell font (145 cells)
//   SMOKE, SPARK, BUBBLE, FLARE (64x64, 24-bit)  particle images (grey levels
//        on black)
//   SPLASH (240x320, 24-bit)  start-up picture
//   PROGRAMICON  the window icon (.ICO, 32x32)
//
//   make_resources <output folder> --icons
//
// writes the same icon for the desktop instead (desktop/icons/ of the
// source tree): NxN.png for N = 16, 24, 32, 48, 64, 128 and 256, and
// scalable.svg.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

// Pictures -------------------------------------------------------------------

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
  bool operator<(const Rgb& o) const { return r != o.r ? r < o.r : (g != o.g ? g < o.g : b < o.b); }
};

Rgb Mix(Rgb a, Rgb b, double t) {
  auto ch = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
  return {ch(a.r, b.r), ch(a.g, b.g), ch(a.b, b.b)};
}

struct Image {
  int w = 0, h = 0;
  std::vector<Rgb> px;
  Image(int width, int height, Rgb fill = {}) : w(width), h(height), px(width * height, fill) {}
  Rgb& at(int x, int y) { return px[y * w + x]; }
  const Rgb& at(int x, int y) const { return px[y * w + x]; }
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
  void blend(int x, int y, Rgb c, double alpha) {
    if (!inside(x, y) || alpha <= 0) return;
    at(x, y) = alpha >= 1 ? c : Mix(at(x, y), c, alpha);
  }
  void fill(int x0, int y0, int x1, int y1, Rgb c) {
    for (int y = std::max(y0, 0); y < std::min(y1, h); y++)
      for (int x = std::max(x0, 0); x < std::min(x1, w); x++) at(x, y) = c;
  }
};

// Fills every pixel of the box whose area the shape covers, weighted by the
// share of 16 sample points inside it. Pixel (x, y) spans [x, x+1) x [y, y+1).
void FillShape(Image& img, double x0, double y0, double x1, double y1,
               const std::function<bool(double, double)>& inside, Rgb c, double opacity = 1.0) {
  int xa = static_cast<int>(std::floor(x0)) - 1, xb = static_cast<int>(std::ceil(x1)) + 1;
  int ya = static_cast<int>(std::floor(y0)) - 1, yb = static_cast<int>(std::ceil(y1)) + 1;
  for (int y = ya; y <= yb; y++) {
    for (int x = xa; x <= xb; x++) {
      if (!img.inside(x, y)) continue;
      int n = 0;
      for (int j = 0; j < 4; j++)
        for (int i = 0; i < 4; i++)
          if (inside(x + (i + 0.5) / 4, y + (j + 0.5) / 4)) n++;
      if (n) img.blend(x, y, c, opacity * n / 16.0);
    }
  }
}

void Disc(Image& img, double cx, double cy, double r, Rgb c) {
  FillShape(
      img, cx - r, cy - r, cx + r, cy + r,
      [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; }, c);
}

// A band between radii r0 and r1 around (cx, cy) over the meter angles a0..a1
// (degrees, 0 straight up, positive clockwise).
void ArcBand(Image& img, double cx, double cy, double r0, double r1, double a0, double a1, Rgb c) {
  FillShape(
      img, cx - r1, cy - r1, cx + r1, cy + r1,
      [=](double x, double y) {
        double dx = x - cx, dy = y - cy, d = std::hypot(dx, dy);
        if (d < r0 || d > r1) return false;
        double a = std::atan2(dx, -dy) * 180 / M_PI;
        return a >= a0 && a <= a1;
      },
      c);
}

// A straight bar of the given width from (x0, y0) to (x1, y1), square ends.
void Bar(Image& img, double x0, double y0, double x1, double y1, double width, Rgb c) {
  double len = std::hypot(x1 - x0, y1 - y0), ux = (x1 - x0) / len, uy = (y1 - y0) / len;
  FillShape(
      img, std::min(x0, x1) - width, std::min(y0, y1) - width, std::max(x0, x1) + width,
      std::max(y0, y1) + width,
      [=](double x, double y) {
        double t = (x - x0) * ux + (y - y0) * uy, n = -(x - x0) * uy + (y - y0) * ux;
        return t >= 0 && t <= len && std::fabs(n) <= width / 2;
      },
      c);
}

bool InPolygon(const std::vector<std::pair<double, double>>& p, double x, double y) {
  bool in = false;
  for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
    if ((p[i].second > y) != (p[j].second > y) &&
        x < (p[j].first - p[i].first) * (y - p[i].second) / (p[j].second - p[i].second) +
                p[i].first)
      in = !in;
  }
  return in;
}

void Polygon(Image& img, const std::vector<std::pair<double, double>>& p, Rgb c) {
  double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
  for (auto& q : p) {
    x0 = std::min(x0, q.first), x1 = std::max(x1, q.first);
    y0 = std::min(y0, q.second), y1 = std::max(y1, q.second);
  }
  FillShape(
      img, x0, y0, x1, y1, [&](double x, double y) { return InPolygon(p, x, y); }, c);
}

void RoundRect(Image& img, double x0, double y0, double x1, double y1, double r, Rgb c) {
  FillShape(
      img, x0, y0, x1, y1,
      [=](double x, double y) {
        if (x < x0 || x > x1 || y < y0 || y > y1) return false;
        double cx = std::clamp(x, x0 + r, x1 - r), cy = std::clamp(y, y0 + r, y1 - r);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
      },
      c);
}

// Text -------------------------------------------------------------------------

FT_Library g_ft;

struct Face {
  FT_Face face = nullptr;
  int size = 0;
};

Face OpenFace(const std::string& dir, const char* file, int pixels) {
  Face f;
  std::string path = dir + "/" + file;
  if (FT_New_Face(g_ft, path.c_str(), 0, &f.face) || FT_Set_Pixel_Sizes(f.face, 0, pixels)) {
    std::fprintf(stderr, "make_resources: cannot open %s\n", path.c_str());
    std::exit(1);
  }
  f.size = pixels;
  return f;
}

struct Glyph {
  int advance = 0;        // pixels
  int left = 0, top = 0;  // bitmap offset from the pen on the baseline
  int w = 0, h = 0;
  std::vector<uint8_t> cover;  // 0..255 per pixel
};

Glyph Render(const Face& f, char32_t code, bool mono) {
  Glyph g;
  FT_UInt index = FT_Get_Char_Index(f.face, code);
  FT_Int32 flags = FT_LOAD_RENDER | (mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
  if (FT_Load_Glyph(f.face, index, flags)) return g;
  FT_GlyphSlot s = f.face->glyph;
  g.advance = static_cast<int>((s->advance.x + 32) >> 6);
  g.left = s->bitmap_left;
  g.top = s->bitmap_top;
  g.w = static_cast<int>(s->bitmap.width);
  g.h = static_cast<int>(s->bitmap.rows);
  g.cover.resize(static_cast<size_t>(g.w) * g.h);
  for (int y = 0; y < g.h; y++) {
    const unsigned char* row = s->bitmap.buffer + y * s->bitmap.pitch;
    for (int x = 0; x < g.w; x++) {
      uint8_t v = mono ? ((row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0) : row[x];
      g.cover[y * g.w + x] = v;
    }
  }
  return g;
}

std::u32string Utf32(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    if (c < 0x80) {
      out += c;
      i += 1;
    } else if ((c & 0xE0) == 0xC0) {
      out += static_cast<char32_t>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
    } else {
      out +=
          static_cast<char32_t>(((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F));
      i += 3;
    }
  }
  return out;
}

int TextWidth(const Face& f, const std::string& text) {
  int w = 0;
  for (char32_t c : Utf32(text)) w += Render(f, c, false).advance;
  return w;
}

// Draws antialiased text with its baseline at y, starting at x.
void Text(Image& img, const Face& f, const std::string& text, int x, int y, Rgb c) {
  for (char32_t ch : Utf32(text)) {
    Glyph g = Render(f, ch, false);
    for (int j = 0; j < g.h; j++)
      for (int i = 0; i < g.w; i++)
        img.blend(x + g.left + i, y - g.top + j, c, g.cover[j * g.w + i] / 255.0);
    x += g.advance;
  }
}

// Text centred on x, its capital letters' middle on cy.
void CentredText(Image& img, const Face& f, const std::string& text, double cx, double cy, Rgb c) {
  Glyph cap = Render(f, U'0', false);
  int x = static_cast<int>(std::lround(cx - TextWidth(f, text) / 2.0));
  int y = static_cast<int>(std::lround(cy + cap.top / 2.0));
  Text(img, f, text, x, y, c);
}

// Files --------------------------------------------------------------------------

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "make_resources: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

void InfoHeader(std::vector<uint8_t>& b, int w, int h, int bits, uint32_t image, uint32_t colours) {
  Put32(b, 40);
  Put32(b, static_cast<uint32_t>(w));
  Put32(b, static_cast<uint32_t>(h));
  Put16(b, 1);
  Put16(b, static_cast<uint32_t>(bits));
  Put32(b, 0);
  Put32(b, image);
  Put32(b, 2835);  // 72 dpi
  Put32(b, 2835);
  Put32(b, colours);
  Put32(b, 0);
}

void FileHeader(std::vector<uint8_t>& b, uint32_t total, uint32_t offBits) {
  Put16(b, 0x4D42);
  Put32(b, total);
  Put32(b, 0);
  Put32(b, offBits);
}

void Write24(const std::string& path, const Image& img) {
  uint32_t stride = (img.w * 3 + 3) / 4 * 4, image = stride * img.h;
  std::vector<uint8_t> b;
  FileHeader(b, 54 + image, 54);
  InfoHeader(b, img.w, img.h, 24, image, 0);
  for (int y = img.h - 1; y >= 0; y--) {
    for (int x = 0; x < img.w; x++) {
      const Rgb& c = img.at(x, y);
      b.push_back(static_cast<uint8_t>(c.b));
      b.push_back(static_cast<uint8_t>(c.g));
      b.push_back(static_cast<uint8_t>(c.r));
    }
    for (uint32_t i = img.w * 3; i < stride; i++) b.push_back(0);
  }
  WriteBytes(path, b);
}

int Distance2(const Rgb& a, const Rgb& b) {
  int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
  return 3 * dr * dr + 4 * dg * dg + 2 * db * db;
}

// An 8-bit palette image. The palette takes the colours by how often they
// occur, skipping any too close to one already taken; the distance grows
// until the palette fits in 256 entries, so that rare but distinct colours
// (a red tick's edge) keep an entry of their own. Every pixel then takes
// its nearest entry.
void Write8(const std::string& path, const Image& img) {
  std::map<Rgb, int> counts;
  for (const Rgb& c : img.px) counts[c]++;
  std::vector<std::pair<int, Rgb>> byCount;
  for (auto& [c, n] : counts) byCount.push_back({n, c});
  std::stable_sort(byCount.begin(), byCount.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<Rgb> palette;
  for (int limit = 0;; limit += 8) {
    palette.clear();
    for (auto& [n, c] : byCount) {
      bool near = false;
      for (const Rgb& p : palette)
        if (Distance2(p, c) <= limit) {
          near = true;
          break;
        }
      if (!near) palette.push_back(c);
      if (palette.size() > 256) break;
    }
    if (palette.size() <= 256) break;
  }
  std::map<Rgb, int> index;
  for (auto& [c, n] : counts) {
    int best = 0;
    for (size_t i = 1; i < palette.size(); i++)
      if (Distance2(palette[i], c) < Distance2(palette[best], c)) best = static_cast<int>(i);
    index[c] = best;
  }
  uint32_t stride = (img.w + 3) / 4 * 4, image = stride * img.h;
  uint32_t table = static_cast<uint32_t>(palette.size()) * 4;
  std::vector<uint8_t> b;
  FileHeader(b, 54 + table + image, 54 + table);
  InfoHeader(b, img.w, img.h, 8, image, static_cast<uint32_t>(palette.size()));
  for (const Rgb& c : palette) {
    b.push_back(static_cast<uint8_t>(c.b));
    b.push_back(static_cast<uint8_t>(c.g));
    b.push_back(static_cast<uint8_t>(c.r));
    b.push_back(0);
  }
  for (int y = img.h - 1; y >= 0; y--) {
    for (int x = 0; x < img.w; x++) b.push_back(static_cast<uint8_t>(index[img.at(x, y)]));
    for (uint32_t i = img.w; i < stride; i++) b.push_back(0);
  }
  WriteBytes(path, b);
}

// Palette ------------------------------------------------------------------------
// Colours are multiples of 8 where they are flat, so both 16-bit layouts
// show them exactly.

constexpr Rgb kPanel{208, 212, 216};      // scale panel
constexpr Rgb kPanelLine{136, 144, 152};  // panel edges
constexpr Rgb kScaleRed{192, 32, 32};     // ticks and arc
constexpr Rgb kInTune{48, 152, 72};       // the +-5 cent zone
constexpr Rgb kLabel{48, 48, 56};
constexpr Rgb kMound{168, 176, 184};
constexpr Rgb kMoundLight{232, 232, 240};
constexpr Rgb kMoundDark{112, 120, 128};
constexpr Rgb kBoss{40, 40, 48};
constexpr Rgb kCream{248, 240, 208};
constexpr Rgb kWhite{248, 248, 248};
constexpr Rgb kGrid{224, 228, 232};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kSlot{56, 56, 64};      // housing of the strength bar
constexpr Rgb kMagenta{255, 0, 255};  // transparent colour of sheets and strips

// The meter ------------------------------------------------------------------------

// The needle's pivot is pixel (120, 117); geometry is drawn around that
// pixel's centre so that the scale and the needle line agree.
constexpr double kPivotX = 120.5, kPivotY = 117.5;
constexpr double kTickInner = 70, kMinorInner = 76, kTickOuter = 84, kLabelRadius = 95;

struct Fonts {
  Face label, small;
};

void DrawMeter(Image& img, const Fonts& f, int baseline, bool buttons) {
  const int H = img.h;
  // Upper panel, with a recessed slot behind the strength bar (rows 6..9,
  // x 21..218).
  img.fill(0, 0, 240, 131, kPanel);
  img.fill(0, 131, 240, 132, kPanelLine);
  RoundRect(img, 18, 4, 222, 12, 2, kSlot);

  // In-tune zone, arc and ticks: 10 cents = 22.5 degrees, 40 flat to 40 sharp.
  ArcBand(img, kPivotX, kPivotY, kTickOuter + 1.5, kTickOuter + 4.5, -11.25, 11.25, kInTune);
  ArcBand(img, kPivotX, kPivotY, kTickOuter - 1.4, kTickOuter, -90.6, 90.6, kScaleRed);
  for (int k = -8; k <= 8; k++) {
    double a = k * 11.25 * M_PI / 180, sx = std::sin(a), sy = -std::cos(a);
    bool major = k % 2 == 0;
    double r0 = major ? kTickInner : kMinorInner, width = major ? 2.6 : 1.6;
    Bar(img, kPivotX + r0 * sx, kPivotY + r0 * sy, kPivotX + (kTickOuter - 0.5) * sx,
        kPivotY + (kTickOuter - 0.5) * sy, width, kScaleRed);
    if (major) {
      int cents = std::abs(k) * 5;
      CentredText(img, f.label, std::to_string(cents), kPivotX + kLabelRadius * sx,
                  kPivotY + kLabelRadius * sy, kLabel);
    }
  }

  // The mound at the panel's lower edge and the pivot boss on it.
  FillShape(
      img, 96, 105, 145, 131,
      [](double x, double y) { return y < 131 && std::hypot(x - 120.5, y - 134) <= 26; }, kMound);
  ArcBand(img, 120.5, 134, 24.5, 26, -75, 75, kMoundLight);
  ArcBand(img, 120.5, 134, 26, 27, -80, 80, kMoundDark);
  Disc(img, kPivotX, kPivotY, 7.5, kMoundDark);
  Disc(img, kPivotX, kPivotY, 6, kBoss);
  Disc(img, kPivotX - 2, kPivotY - 2, 1.6, Rgb{120, 120, 136});

  // Status band (the status text stands at y = 140).
  img.fill(0, 132, 240, 162, kCream);
  img.fill(0, 162, 240, 163, kPanelLine);

  // Spectrum panel: grid every 20 dB, the baseline, band numbers under the
  // bars (band j spans x = 20 + 25 j .. 41 + 25 j).
  int bottom = buttons ? 283 : H;
  img.fill(0, 163, 240, bottom, kWhite);
  int maxBar = baseline == 258 ? 60 : 30;
  for (int k = 1; k <= 5; k++) {
    int y = baseline - k * maxBar / 5;
    for (int x = 16; x < 224; x += 2) img.at(x, y) = kGrid;
  }
  img.fill(14, baseline, 226, baseline + 1, kBlack);
  for (int j = 0; j < 8; j++)
    CentredText(img, f.small, std::to_string(j), 20 + 25 * j + 10.5, baseline + 7.5, kLabel);

  // Button strip behind the two buttons (y = 290 .. 310).
  if (buttons) {
    img.fill(0, 283, 240, 284, kPanelLine);
    img.fill(0, 284, 240, 320, kCream);
  }
}

// Arrows -----------------------------------------------------------------------------

// One arrow in a cell of the sheet: pointing right (sharp) or left (flat),
// with the musical sign in its wide part. Edges are blended with the panel
// colour it is drawn on; the rest of the cell is transparent.
void DrawArrow(Image& sheet, int ox, int oy, int cw, int ch, bool sharp, bool lit,
               const Face& sign) {
  Image cell(cw, ch, kPanel);
  Image mask(cw, ch, kBlack);
  Rgb fill = lit ? Rgb{232, 64, 32} : Rgb{184, 188, 196};
  Rgb edge = lit ? Rgb{136, 24, 16} : Rgb{128, 132, 144};
  Rgb mark = lit ? Rgb{248, 240, 208} : Rgb{136, 140, 152};
  double tip = 1.5, back = cw - 1.5, mid = ch / 2.0;
  auto flip = [&](double x) { return sharp ? cw - x : x; };
  std::vector<std::pair<double, double>> outer = {
      {flip(back), 0.5}, {flip(back), ch - 0.5}, {flip(tip), mid}};
  std::vector<std::pair<double, double>> inner = {
      {flip(back - 1.5), 2.8}, {flip(back - 1.5), ch - 2.8}, {flip(tip + 3.2), mid}};
  for (Image* im : {&cell, &mask}) {
    Polygon(*im, outer, im == &mask ? kWhite : edge);
    Polygon(*im, inner, im == &mask ? kWhite : fill);
  }
  CentredText(cell, sign, sharp ? "\u266F" : "\u266D", flip(back - 9), mid, mark);
  for (int y = 0; y < ch; y++)
    for (int x = 0; x < cw; x++)
      sheet.at(ox + x, oy + y) = mask.at(x, y).r ? cell.at(x, y) : kMagenta;
}

// Fonts -----------------------------------------------------------------------------

struct Strip {
  Image img;
  std::vector<uint8_t> record;
};

// A width-list font: the characters of `chars` side by side from x = 0, each
// cell as wide as the character's advance, black on white, baseline at
// `ascent`; the record lists each code with its width.
Strip WidthListFont(const Face& f, const std::string& chars, int height, int ascent) {
  std::vector<Glyph> glyphs;
  int total = 0;
  for (char c : chars) {
    glyphs.push_back(Render(f, static_cast<unsigned char>(c), true));
    total += glyphs.back().advance;
  }
  Strip s{Image(total, height, Rgb{255, 255, 255}), {}};
  s.record.push_back(static_cast<uint8_t>(chars.size()));
  s.record.push_back(static_cast<uint8_t>(height));
  int x = 0;
  for (size_t i = 0; i < chars.size(); i++) {
    const Glyph& g = glyphs[i];
    for (int j = 0; j < g.h; j++)
      for (int k = 0; k < g.w; k++) {
        int px = x + g.left + k, py = ascent - g.top + j;
        if (g.cover[j * g.w + k] && px >= x && px < x + g.advance && py >= 0 && py < height)
          s.img.at(px, py) = kBlack;
      }
    s.record.push_back(static_cast<uint8_t>(chars[i]));
    s.record.push_back(static_cast<uint8_t>(g.advance));
    x += g.advance;
  }
  return s;
}

// The 145 codes of a marked-cell strip (Windows-1252), and the character
// each cell shows: the printable ASCII set, '_' again, then the second half
// of the old PC character set (code 0x50 stands in for the peseta sign, so
// its cell shows 'P', which it replaces).
std::vector<int> MarkedCodes() {
  std::vector<int> codes;
  for (int c = 32; c <= 126; c++) codes.push_back(c);
  for (int c : {95,   0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF,
                0xEE, 0xEC, 0xC4, 0xC5, 0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF,
                0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x50, 0x83, 0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1,
                0xAA, 0xBA, 0xBF, 0xAC, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB, 0x00})
    codes.push_back(c);
  return codes;
}

char32_t Unicode1252(int code) { return code == 0x83 ? U'\u0192' : static_cast<char32_t>(code); }

// A marked-cell font: row 0 marks each cell as a run of marker colour A as
// wide as the character followed by three pixels of colour B (spacing that
// is never drawn); row 1 is blank; the glyphs, in `ink` on the transparent
// colour, fill rows 2 to the bottom with their baseline at 2 + ascent.
Image MarkedCellFont(const Face& f, int height, int ascent, Rgb ink) {
  std::vector<int> codes = MarkedCodes();
  std::vector<Glyph> glyphs;
  int total = 1;
  for (int code : codes) {
    Glyph g = code == 0 ? Render(f, U' ', true) : Render(f, Unicode1252(code), true);
    g.advance = std::max(g.advance, 1);
    glyphs.push_back(g);
    total += g.advance + 3;
  }
  Image img(total, height + 2, kMagenta);
  const Rgb markA{255, 0, 0}, markB{0, 0, 255};
  int x = 1;
  for (size_t i = 0; i < codes.size(); i++) {
    const Glyph& g = glyphs[i];
    for (int k = 0; k < g.advance; k++) img.at(x + k, 0) = markA;
    for (int k = 0; k < 3; k++) img.at(x + g.advance + k, 0) = markB;
    if (codes[i] != 0)
      for (int j = 0; j < g.h; j++)
        for (int k = 0; k < g.w; k++) {
          int px = x + g.left + k, py = 2 + ascent - g.top + j;
          if (g.cover[j * g.w + k] && px >= x && px < x + g.advance && py >= 2 && py < height + 2)
            img.at(px, py) = ink;
        }
    x += g.advance + 3;
  }
  return img;
}

void WriteFont(const std::string& dir, const std::string& name, const Strip& s) {
  Write24(dir + "/" + name + ".BMP", s.img);
  WriteBytes(dir + "/" + name + ".INF", s.record);
}

// Particle images ---------------------------------------------------------------------

// Smooth deterministic noise in 0..1 from a lattice of hashed values.
double Hash(int x, int y, int seed) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
               static_cast<uint32_t>(seed) * 2147483647u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return ((h ^ (h >> 16)) & 0xFFFF) / 65535.0;
}
double Noise(double x, double y, int seed) {
  int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
  double fx = x - xi, fy = y - yi;
  auto s = [](double t) { return t * t * (3 - 2 * t); };
  double a = Hash(xi, yi, seed), b = Hash(xi + 1, yi, seed), c = Hash(xi, yi + 1, seed),
         d = Hash(xi + 1, yi + 1, seed);
  return (a + (b - a) * s(fx)) * (1 - s(fy)) + (c + (d - c) * s(fx)) * s(fy);
}

// A 64x64 grey image from a brightness function of the offset from the
// centre; 0 stays exactly black (the transparent colour).
Image Particle(const std::function<double(double, double)>& level) {
  Image img(64, 64);
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) {
      double v = std::clamp(level(x + 0.5 - 32, y + 0.5 - 32), 0.0, 1.0);
      int g = static_cast<int>(std::lround(v * 255));
      img.at(x, y) = {g, g, g};
    }
  return img;
}

Image Smoke() {
  return Particle([](double x, double y) {
    double r = std::hypot(x, y) / 30;
    double n = 0.55 * Noise(x / 9 + 10, y / 9 + 10, 1) + 0.3 * Noise(x / 4.5, y / 4.5, 2) +
               0.15 * Noise(x / 2.2, y / 2.2, 3);
    double fall = std::max(0.0, 1 - r * r);
    return fall * fall * (0.35 + 0.9 * n);
  });
}

Image Spark() {
  return Particle([](double x, double y) {
    double r = std::hypot(x, y);
    double core = std::exp(-r * r / 18);
    double ray = std::exp(-std::fabs(x) * 1.6) * std::max(0.0, 1 - std::fabs(y) / 30) +
                 std::exp(-std::fabs(y) * 1.6) * std::max(0.0, 1 - std::fabs(x) / 30);
    double d1 = std::fabs(x - y) / std::sqrt(2.0), d2 = std::fabs(x + y) / std::sqrt(2.0);
    double diag = 0.45 * (std::exp(-d1 * 2) + std::exp(-d2 * 2)) * std::max(0.0, 1 - r / 20);
    double glow = 0.25 * std::exp(-r * r / 120);
    return core + 0.9 * ray + diag + glow;
  });
}

Image Bubble() {
  return Particle([](double x, double y) {
    double r = std::hypot(x, y);
    double rim = std::exp(-std::pow((r - 26) / 2.2, 2));
    double inner = r < 26 ? 0.12 + 0.18 * std::pow(r / 26, 4) : 0;
    double hl = std::exp(-(std::pow(x + 10, 2) + std::pow(y + 11, 2)) / 18);
    double hl2 = 0.5 * std::exp(-(std::pow(x - 12, 2) + std::pow(y - 13, 2)) / 10);
    return r > 30 ? 0 : rim + inner + hl + hl2;
  });
}

Image Flare() {
  return Particle([](double x, double y) {
    double r = std::hypot(x, y), a = std::atan2(y, x);
    double glow = std::exp(-r / 7);
    double halo = 0.35 * std::exp(-std::pow((r - 20) / 3, 2));
    double rays = 0.5 * std::pow(std::fabs(std::cos(3 * a)), 24) * std::max(0.0, 1 - r / 31);
    return r > 31.5 ? 0 : glow + halo + rays;
  });
}

// Splash and icon ---------------------------------------------------------------------

Image Splash(const Fonts& f, const Face& title, const Face& sub) {
  Image img(240, 320);
  for (int y = 0; y < 320; y++)
    for (int x = 0; x < 240; x++) img.at(x, y) = Mix(Rgb{28, 52, 72}, Rgb{8, 16, 28}, y / 319.0);
  // A meter scale, the needle just sharp of centre.
  double cx = 120.5, cy = 170.5;
  ArcBand(img, cx, cy, 78, 80, -90, 90, Rgb{200, 216, 224});
  ArcBand(img, cx, cy, 82, 87, -11.25, 11.25, Rgb{96, 200, 120});
  for (int k = -8; k <= 8; k++) {
    double a = k * 11.25 * M_PI / 180, sx = std::sin(a), sy = -std::cos(a);
    double r0 = k % 2 == 0 ? 64 : 70;
    Bar(img, cx + r0 * sx, cy + r0 * sy, cx + 79 * sx, cy + 79 * sy, k % 2 == 0 ? 2.6 : 1.6,
        Rgb{200, 216, 224});
  }
  double a = 4 * M_PI / 180;
  Bar(img, cx, cy, cx + 74 * std::sin(a), cy - 74 * std::cos(a), 2.6, Rgb{240, 96, 64});
  Disc(img, cx, cy, 6, Rgb{200, 216, 224});
  Disc(img, cx, cy, 3.5, Rgb{28, 52, 72});
  CentredText(img, title, "Zelvaro", 120, 210, Rgb{248, 248, 248});
  CentredText(img, sub, "chromatic tuner", 120, 238, Rgb{168, 192, 208});
  CentredText(img, f.small, "\u266D   A = 440 Hz   \u266F", 120, 60, Rgb{120, 152, 176});
  return img;
}

// The program icon: a small meter face on a rounded tile, described once in
// a 32 x 32 box and drawn from that description at every size (the window's
// 32-pixel ICO, the desktop's PNGs) and as an SVG. The first shape, the
// tile, is also the icon's outline: outside it the icon is transparent.
struct IconShape {
  enum Kind { kRoundRect, kArcBand, kBar, kDisc } kind;
  // kRoundRect: x0 y0 x1 y1 radius; kArcBand: cx cy r0 r1 a0 a1 (degrees, 0
  // straight up, clockwise); kBar: x0 y0 x1 y1 width; kDisc: cx cy radius.
  std::array<double, 6> p;
  Rgb colour;
};

std::vector<IconShape> IconDescription() {
  const double tipX = 16 + 13 * std::sin(0.35), tipY = 24 - 13 * std::cos(0.35);
  return {{IconShape::kRoundRect, {0.5, 0.5, 31.5, 31.5, 6}, Rgb{28, 52, 72}},
          {IconShape::kRoundRect, {3, 3, 29, 29, 4}, kPanel},
          {IconShape::kArcBand, {16, 24, 10, 12, -90, 90}, kScaleRed},
          {IconShape::kBar, {16, 24, tipX, tipY, 2}, kBlack},
          {IconShape::kDisc, {16, 24, 2.5}, kBoss}};
}

// The icon at `size` pixels: its colours over black, and its coverage as
// white over black (the outline's share of each pixel).
struct IconPicture {
  Image colour, cover;
};

IconPicture DrawIcon(int size) {
  IconPicture icon{Image(size, size, kBlack), Image(size, size, kBlack)};
  const double k = size / 32.0;
  bool outline = true;
  for (const IconShape& s : IconDescription()) {
    const auto& p = s.p;
    for (Image* im : {&icon.colour, &icon.cover}) {
      if (im == &icon.cover && !outline) continue;
      const Rgb c = im == &icon.cover ? kWhite : s.colour;
      switch (s.kind) {
        case IconShape::kRoundRect:
          RoundRect(*im, p[0] * k, p[1] * k, p[2] * k, p[3] * k, p[4] * k, c);
          break;
        case IconShape::kArcBand:
          ArcBand(*im, p[0] * k, p[1] * k, p[2] * k, p[3] * k, p[4], p[5], c);
          break;
        case IconShape::kBar:
          Bar(*im, p[0] * k, p[1] * k, p[2] * k, p[3] * k, p[4] * k, c);
          break;
        case IconShape::kDisc:
          Disc(*im, p[0] * k, p[1] * k, p[2] * k, c);
          break;
      }
    }
    outline = false;
  }
  return icon;
}

uint8_t IconAlpha(const IconPicture& icon, int x, int y) {
  return static_cast<uint8_t>(icon.cover.at(x, y).r * 255 / kWhite.r);
}

// The window icon: 32x32, a 32-bit ICO.
void WriteIcon(const std::string& path) {
  const IconPicture icon = DrawIcon(32);
  std::vector<uint8_t> b;
  uint32_t xorBytes = 32 * 32 * 4, andBytes = 32 * 4, dib = 40 + xorBytes + andBytes;
  Put16(b, 0);
  Put16(b, 1);
  Put16(b, 1);
  b.push_back(32);
  b.push_back(32);
  b.push_back(0);
  b.push_back(0);
  Put16(b, 1);
  Put16(b, 32);
  Put32(b, dib);
  Put32(b, 6 + 16);
  InfoHeader(b, 32, 64, 32, xorBytes + andBytes, 0);
  for (int y = 31; y >= 0; y--)
    for (int x = 0; x < 32; x++) {
      const Rgb& c = icon.colour.at(x, y);
      b.push_back(static_cast<uint8_t>(c.b));
      b.push_back(static_cast<uint8_t>(c.g));
      b.push_back(static_cast<uint8_t>(c.r));
      b.push_back(IconAlpha(icon, x, y));
    }
  for (int y = 31; y >= 0; y--)
    for (int x = 0; x < 32; x += 8) {
      uint8_t bits = 0;
      for (int i = 0; i < 8; i++)
        if (icon.cover.at(x + i, y).r == 0) bits |= static_cast<uint8_t>(0x80 >> i);
      b.push_back(bits);
    }
  WriteBytes(path, b);
}

void PutBig32(std::vector<uint8_t>& b, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}

void PngChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  PutBig32(png, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  PutBig32(png, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// The icon at `size` pixels as an 8-bit RGBA PNG. Edge pixels were blended
// towards black by their coverage; their colour is divided back out, since
// PNG's alpha is not premultiplied.
void WriteIconPng(const std::string& path, int size) {
  const IconPicture icon = DrawIcon(size);
  std::vector<uint8_t> raw;
  for (int y = 0; y < size; y++) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < size; x++) {
      const Rgb& c = icon.colour.at(x, y);
      const int a = IconAlpha(icon, x, y);
      for (int v : {c.r, c.g, c.b})
        raw.push_back(static_cast<uint8_t>(a ? std::min(255, (v * 255 + a / 2) / a) : 0));
      raw.push_back(static_cast<uint8_t>(a));
    }
  }
  uLongf packed = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> idat(packed);
  if (compress2(idat.data(), &packed, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) {
    std::fprintf(stderr, "make_resources: cannot compress %s\n", path.c_str());
    std::exit(1);
  }
  idat.resize(packed);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBig32(ihdr, static_cast<uint32_t>(size));
  PutBig32(ihdr, static_cast<uint32_t>(size));
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  PngChunk(png, "IHDR", ihdr);
  PngChunk(png, "IDAT", idat);
  PngChunk(png, "IEND", {});
  WriteBytes(path, png);
}

// The icon as an SVG drawing in its 32 x 32 box.
void WriteIconSvg(const std::string& path) {
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" "
      "viewBox=\"0 0 32 32\">\n";
  char line[400];
  auto number = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    std::string t = text;
    while (t.back() == '0') t.pop_back();
    if (t.back() == '.') t.pop_back();
    return t == "-0" ? std::string("0") : t;
  };
  for (const IconShape& s : IconDescription()) {
    const auto& p = s.p;
    char fill[8];
    std::snprintf(fill, sizeof fill, "#%02x%02x%02x", s.colour.r, s.colour.g, s.colour.b);
    switch (s.kind) {
      case IconShape::kRoundRect:
        std::snprintf(line, sizeof line,
                      "  <rect x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" rx=\"%s\" "
                      "fill=\"%s\"/>\n",
                      number(p[0]).c_str(), number(p[1]).c_str(), number(p[2] - p[0]).c_str(),
                      number(p[3] - p[1]).c_str(), number(p[4]).c_str(), fill);
        break;
      case IconShape::kArcBand: {
        auto at = [&](double r, double a) {
          const double rad = a * M_PI / 180;
          return number(p[0] + r * std::sin(rad)) + " " + number(p[1] - r * std::cos(rad));
        };
        const int large = p[5] - p[4] > 180 ? 1 : 0;
        std::snprintf(line, sizeof line,
                      "  <path d=\"M %s A %s %s 0 %d 1 %s L %s A %s %s 0 %d 0 %s Z\" "
                      "fill=\"%s\"/>\n",
                      at(p[3], p[4]).c_str(), number(p[3]).c_str(), number(p[3]).c_str(), large,
                      at(p[3], p[5]).c_str(), at(p[2], p[5]).c_str(), number(p[2]).c_str(),
                      number(p[2]).c_str(), large, at(p[2], p[4]).c_str(), fill);
        break;
      }
      case IconShape::kBar:
        std::snprintf(line, sizeof line,
                      "  <line x1=\"%s\" y1=\"%s\" x2=\"%s\" y2=\"%s\" stroke=\"%s\" "
                      "stroke-width=\"%s\"/>\n",
                      number(p[0]).c_str(), number(p[1]).c_str(), number(p[2]).c_str(),
                      number(p[3]).c_str(), fill, number(p[4]).c_str());
        break;
      case IconShape::kDisc:
        std::snprintf(line, sizeof line, "  <circle cx=\"%s\" cy=\"%s\" r=\"%s\" fill=\"%s\"/>\n",
                      number(p[0]).c_str(), number(p[1]).c_str(), number(p[2]).c_str(), fill);
        break;
    }
    svg += line;
  }
  svg += "</svg>\n";
  WriteBytes(path, std::vector<uint8_t>(svg.begin(), svg.end()));
}

// The desktop's icon set: NxN.png at the sizes of the hicolor theme's
// fixed-size folders, and scalable.svg.
void WriteDesktopIcons(const std::string& dir) {
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    WriteIconPng(dir + "/" + std::to_string(size) + "x" + std::to_string(size) + ".png", size);
  WriteIconSvg(dir + "/scalable.svg");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr,
                 "usage: make_resources <output folder> [<DejaVu font folder>]\n"
                 "       make_resources <output folder> --icons\n");
    return 2;
  }
  std::string out = argv[1];
  if (argc == 3 && std::string(argv[2]) == "--icons") {
    WriteDesktopIcons(out);
    return 0;
  }
  std::string fonts = argc > 2 ? argv[2] : "/usr/share/fonts/truetype/dejavu";
  if (FT_Init_FreeType(&g_ft)) {
    std::fprintf(stderr, "make_resources: cannot start FreeType\n");
    return 1;
  }

  Fonts f{OpenFace(fonts, "DejaVuSans-Bold.ttf", 10), OpenFace(fonts, "DejaVuSans.ttf", 10)};

  Image meter(240, 320);
  DrawMeter(meter, f, 258, true);
  Write8(out + "/METER.BMP", meter);
  Image small(240, 240);
  DrawMeter(small, f, 219, false);
  Write8(out + "/METER_SMALL.BMP", small);

  // Arrow sheet: sharp unlit | sharp lit over flat unlit | flat lit, 40x24 each.
  Image arrows(80, 48, kMagenta);
  Face sign = OpenFace(fonts, "DejaVuSans-Bold.ttf", 15);
  DrawArrow(arrows, 0, 0, 40, 24, true, false, sign);
  DrawArrow(arrows, 40, 0, 40, 24, true, true, sign);
  DrawArrow(arrows, 0, 24, 40, 24, false, false, sign);
  DrawArrow(arrows, 40, 24, 40, 24, false, true, sign);
  Write24(out + "/ARROWS.BMP", arrows);

  std::string ascii;
  for (int c = 32; c <= 126; c++) ascii += static_cast<char>(c);
  WriteFont(out, "FONT2", WidthListFont(OpenFace(fonts, "DejaVuSans-Bold.ttf", 11), ascii, 13, 10));
  WriteFont(out, "FONT3", WidthListFont(OpenFace(fonts, "DejaVuSans-Bold.ttf", 28), ascii, 33, 26));
  WriteFont(out, "BUTTONFONT",
            WidthListFont(OpenFace(fonts, "DejaVuSans-Bold.ttf", 13), ascii, 16, 12));
  Write24(out + "/MENUFONT.BMP",
          MarkedCellFont(OpenFace(fonts, "DejaVuSans.ttf", 11), 13, 10, Rgb{24, 24, 32}));

  Write24(out + "/SMOKE.BMP", Smoke());
  Write24(out + "/SPARK.BMP", Spark());
  Write24(out + "/BUBBLE.BMP", Bubble());
  Write24(out + "/FLARE.BMP", Flare());
  Write24(out + "/SPLASH.BMP", Splash(f, OpenFace(fonts, "DejaVuSans-Bold.ttf", 34),
                                      OpenFace(fonts, "DejaVuSans.ttf", 14)));
  WriteIcon(out + "/PROGRAMICON.ICO");
  FT_Done_FreeType(g_ft);
  return 0;
}

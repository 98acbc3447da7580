// Bitmap fonts: a strip image holding every character side by side, and the
// position and width of each character's cell in it.
//
// Two forms load. A width-list font is a strip plus a record (CHARMAPHEADER:
// number of characters and cell height, then a CHARMAP pair per character:
// code, width), the cells following one another from x = 0 in record order.
// A marked-cell font is a strip alone whose top row marks the cells and
// whose cell k holds the k-th code of a fixed list of 145 (the glyphs start
// at row 2).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common_code/dib.h"

#pragma pack(push, 1)
struct CHARMAPHEADER {
  unsigned char NoChars;
  unsigned char Height;
};
struct CHARMAP {
  unsigned char Character;
  unsigned char width;
};
#pragma pack(pop)

// The codes of a marked-cell strip's cells, in order.
inline constexpr int kGAPIFontCodes = 145;
extern const unsigned char GAPIFontCodes[kGAPIFontCodes];

class Font {
 public:
  // Width-list font: the strip is the bitmap resource `name`, the record the
  // resource of the same name and the type "TEXT" (desk) or "INFO" (pocket).
  // Returns 0 when either is missing.
  int LoadFont(void* hInstance, const char* name);
  // Width-list font from files: the strip is the BMP file `fname`, the
  // record the file of the same name with its extension (the part of the
  // file name from its last ".") replaced by ".INF". Returns 0 when either
  // cannot be read; the pocket build then says "Error loading font" for a
  // strip that failed.
  int LoadFont(const char* fname);
  // Marked-cell font from the bitmap resource `name`, or from the BMP file
  // `name` when hInstance is null.
  int LoadGAPIFont(void* hInstance, const char* name);
  // Fills the cells from a record image: at most the pairs present and at
  // most NoChars of them are read. Returns 0 for fewer than the two header
  // bytes.
  int SetCharMap(const unsigned char* record, size_t size);
  // Finds the cells from the strip's marker row.
  void ScanMarkers();

  // Opacity of the strip for the blending copy modes.
  void SetOpacity(unsigned char opacity) { dib.SetOpacity(opacity); }

  // Draws `text` with its top-left corner at (x, y) of `ddib`, each cell
  // copied with CDib::BitBlt in copy mode `flags` (8: the glyph in `colour`,
  // 1: the glyph in its own colours). A negative x centres the text on
  // `ddib` and moves it |x| - 1 pixels right and down (x = -3 gives the
  // offset copy of a drop shadow). No line breaks.
  void Print(CDib* ddib, int x, int y, const unsigned char* text, unsigned short colour, int flags);
  void Print(CDib* ddib, int x, int y, const char* text, unsigned short colour, int flags) {
    Print(ddib, x, y, reinterpret_cast<const unsigned char*>(text), colour, flags);
  }
  // Sum of the widths of the characters of `text`.
  int GetTextLength(const char* text) const;
  // How many characters of `text` to put on a line `maxwid` pixels wide:
  // when the widths reach maxwid, up to and including the last space (0 if
  // none); a carriage return ends the line and is counted; else the whole
  // text.
  int GetMaxLineLength(const char* text, int maxwid) const;

  unsigned char NoChars = 0;
  unsigned char Height = 0;
  unsigned char TopOffset = 0;  // first strip row of the cells
  uint16_t Offset[256] = {};    // x of each code's cell in the strip
  uint16_t Width[256] = {};     // 0 for codes the font lacks
  CDib dib;                     // the strip; its top-left pixel is transparent

 private:
  void Reset();
};

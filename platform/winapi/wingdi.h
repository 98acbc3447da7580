// The BMP records: the file header, the device-independent bitmap's info
// header and colour table entries, byte for byte as they are stored in a BMP
// file (little-endian, no padding). A bitmap resource starts at its
// BITMAPINFOHEADER, as on Windows. And the little of GDI that puts such a
// bitmap's pixels in a window: GetDC, SetDIBitsToDevice, ReleaseDC.
//
// Field types are fixed-width so that the layout is the same everywhere;
// code that reads these records from bytes of unknown alignment copies them
// field by field instead of casting the bytes.
#pragma once

#include <cstdint>

#include "platform/winapi/win32.h"

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
  uint16_t bfType;  // "BM", 0x4D42
  uint32_t bfSize;
  uint16_t bfReserved1;
  uint16_t bfReserved2;
  uint32_t bfOffBits;  // from the start of the file to the first pixel row
};
#pragma pack(pop)

struct BITMAPINFOHEADER {
  uint32_t biSize;  // 40, or larger for the later header versions
  int32_t biWidth;
  int32_t biHeight;  // positive: bottom row first; negative: top row first
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};

// The header of the oldest bitmaps (12 bytes).
struct BITMAPCOREHEADER {
  uint32_t bcSize;
  uint16_t bcWidth;
  uint16_t bcHeight;
  uint16_t bcPlanes;
  uint16_t bcBitCount;
};

struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

typedef BITMAPFILEHEADER* LPBITMAPFILEHEADER;
typedef BITMAPINFOHEADER* LPBITMAPINFOHEADER;
typedef BITMAPCOREHEADER* LPBITMAPCOREHEADER;
typedef BITMAPINFO* LPBITMAPINFO;

static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPCOREHEADER) == 12);
static_assert(sizeof(RGBQUAD) == 4);

// biCompression values.
#define BI_RGB 0
#define BI_RLE8 1
#define BI_RLE4 2
#define BI_BITFIELDS 3

// GDI -----------------------------------------------------------------------------

typedef struct DeviceContext* HDC;

#define DIB_RGB_COLORS 0

// A device context for drawing into `hwnd` (GetDC(nullptr): the screen's,
// which nothing here draws into). Release it with ReleaseDC.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);

// Painting in answer to WM_PAINT: BeginPaint gives a device context for the
// whole window (the display keeps its picture, so nothing is ever invalid
// here) and EndPaint releases it.
struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
typedef PAINTSTRUCT* LPPAINTSTRUCT;
HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT ps);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps);

// Puts w x h pixels of a DIB at (xDest, yDest) of the window: those whose
// top-left is (xSrc, ySrc) of the image (counted from the top for a
// top-down DIB, from the bottom for a bottom-up one, as on Windows).
// `bits` holds `lines` scan lines starting at scan line `startScan`; pixels
// of other scan lines are left out. The window's display (its display
// window, platform/services/backend.h) opens at the DIB's size when it is first drawn
// into. Only 16-bit 5-5-5 DIBs (BI_RGB) are drawn. Returns the number of
// scan lines drawn, or 0 when nothing could be: no window, another format,
// or a display that would not open (said once, as a failure notice).
// Our own: whether the window is on the screen, its display open. FALSE
// before it is first drawn into, when its display could not be opened, and
// once the window is gone.
BOOL IsDisplayOpen(HWND hwnd);

int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* bmi,
                      UINT colorUse);

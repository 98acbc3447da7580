// GetDC, ReleaseDC and SetDIBitsToDevice (wingdi.h) over the backend's
// display service.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/services/backend.h"
#include "platform/winapi/alert.h"
#include "platform/winapi/internal/win32_kernel.h"
#include "platform/winapi/wingdi.h"

struct DeviceContext {
  HWND Window = nullptr;
};

HDC GetDC(HWND hwnd) { return new DeviceContext{hwnd}; }

int ReleaseDC(HWND, HDC hdc) {
  delete hdc;
  return 1;
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT ps) {
  if (!ps || !IsWindow(hwnd)) return nullptr;
  *ps = PAINTSTRUCT{};
  ps->hdc = GetDC(hwnd);
  return ps->hdc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  if (ps && ps->hdc) ReleaseDC(hwnd, ps->hdc);
  return TRUE;
}

namespace {

// Opens the window's display at the DIB's size, if it has none yet.
bool EnsureDisplay(HWND hwnd, int width, int height) {
  platform::DisplayRequest request;
  request.Width = width;
  request.Height = height;
  request.Format = platform::kDisplay555;
  platform::kernel::DescribeDisplay(hwnd, &request);
  std::string error;
  if (platform::CurrentBackend().OpenDisplay(hwnd, request, nullptr, &error)) return true;
  static std::atomic<bool> told{false};
  if (!told.exchange(true)) Alert(("Unable to show the window: " + error).c_str(), "Display");
  return false;
}

}  // namespace

BOOL IsDisplayOpen(HWND hwnd) {
  return IsWindow(hwnd) && platform::CurrentBackend().HasDisplay(hwnd) ? TRUE : FALSE;
}

int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* bmi,
                      UINT colorUse) {
  if (!hdc || !hdc->Window || !bits || !bmi || colorUse != DIB_RGB_COLORS || !IsWindow(hdc->Window))
    return 0;
  const BITMAPINFOHEADER& hdr = bmi->bmiHeader;
  if (hdr.biBitCount != 16 || hdr.biCompression != BI_RGB || hdr.biWidth <= 0 ||
      hdr.biHeight == 0 || hdr.biHeight == INT32_MIN || hdr.biWidth > 16384 ||
      std::abs(hdr.biHeight) > 16384)
    return 0;
  const long long width = hdr.biWidth, height = std::abs(hdr.biHeight);
  const bool topDown = hdr.biHeight < 0;
  const long long stride = (width * 16 + 31) / 32 * 4;

  // The drawn part: columns j (0 at the rectangle's left) whose image column
  // exists, and rows i (0 at its top) whose scan line `bits` holds.
  const long long rw = w, rh = h;
  long long c0 = std::max<long long>(0, -static_cast<long long>(xSrc));
  long long c1 = std::min<long long>(rw, width - xSrc);
  long long first = startScan;
  long long last = std::min<long long>(height, static_cast<long long>(startScan) + lines);
  auto scanOf = [&](long long i) { return topDown ? ySrc + i : ySrc + rh - 1 - i; };
  long long i0, i1;
  if (topDown) {
    i0 = first - ySrc;
    i1 = last - ySrc;
  } else {
    i0 = ySrc + rh - last;
    i1 = ySrc + rh - first;
  }
  i0 = std::max<long long>(i0, 0);
  i1 = std::min<long long>(i1, rh);
  if (c0 >= c1 || i0 >= i1) return 0;
  if (!EnsureDisplay(hdc->Window, static_cast<int>(width), static_cast<int>(height))) return 0;
  const auto* data = static_cast<const unsigned char*>(bits);
  auto rowAt = [&](long long i) {
    return data + (scanOf(i) - startScan) * stride + (xSrc + c0) * 2;
  };
  const int dx = static_cast<int>(xDest + c0), dy = static_cast<int>(yDest + i0);
  const int n = static_cast<int>(c1 - c0), rows = static_cast<int>(i1 - i0);
  platform::Backend& b = platform::CurrentBackend();
  if (topDown) {
    b.PresentDisplay(hdc->Window, reinterpret_cast<const uint16_t*>(rowAt(i0)),
                     static_cast<int>(stride), dx, dy, n, rows);
  } else {
    std::vector<uint16_t> rect(static_cast<size_t>(n) * rows);
    for (long long i = i0; i < i1; i++)
      std::memcpy(rect.data() + (i - i0) * n, rowAt(i), static_cast<size_t>(n) * 2);
    b.PresentDisplay(hdc->Window, rect.data(), n * 2, dx, dy, n, rows);
  }
  return rows;
}

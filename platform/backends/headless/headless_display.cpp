// The headless backend's displays: frame memory laid out by the display's
// pitches, the last frame shown kept as a plain picture, a count of frames,
// and 24-bit BMP files of that picture. Nothing reaches a screen and no
// input comes from one: tests inject it (headless.h).
#include "platform/backends/headless/headless_display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/backends/headless/headless.h"
#include "platform/services/byte_order.h"
#include "platform/services/files.h"
#include "platform/services/pixels.h"

namespace headless {
namespace {

struct HeadlessDisplay {
  DisplayState State;
  std::vector<unsigned char> Memory;  // the frame memory
  size_t Origin = 0;                  // byte of pixel (0, 0) in Memory
};

struct Displays {
  std::mutex Mutex;
  std::map<HWND, HeadlessDisplay> ByWindow;
  int XPitch = 0, YPitch = 0;  // for full-screen displays; 0, 0: default
};

Displays& All() {
  static auto* displays = new Displays;
  return *displays;
}

using platform::PutLE16;
using platform::PutLE32;

bool WriteBmp(const DisplayState& s, const std::string& path, std::string* error) {
  const int w = s.Layout.Width, h = s.Layout.Height;
  if (w <= 0 || h <= 0 || s.Pixels.size() != static_cast<size_t>(w) * h) {
    if (error) *error = "the display has shown no frame";
    return false;
  }
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
  std::vector<unsigned char> file(54 + stride * h, 0);
  unsigned char* f = file.data();
  PutLE16(f, 0x4D42);
  PutLE32(f + 2, static_cast<uint32_t>(file.size()));
  PutLE32(f + 10, 54);
  PutLE32(f + 14, 40);
  PutLE32(f + 18, static_cast<uint32_t>(w));
  PutLE32(f + 22, static_cast<uint32_t>(h));
  PutLE16(f + 26, 1);
  PutLE16(f + 28, 24);
  PutLE32(f + 34, static_cast<uint32_t>(stride * h));
  for (int y = 0; y < h; y++) {
    unsigned char* row = f + 54 + stride * static_cast<size_t>(h - 1 - y);
    for (int x = 0; x < w; x++) {
      unsigned char r, g, b;
      platform::PixelChannels(s.Pixels[static_cast<size_t>(y) * w + x],
                              s.Layout.Format == platform::kDisplay565, r, g, b);
      row[x * 3] = b;
      row[x * 3 + 1] = g;
      row[x * 3 + 2] = r;
    }
  }
  return WriteFileAtomically(path, file.data(), file.size(), error);
}

// Reads the frame memory into the picture; lock held.
void TakeFrame(HeadlessDisplay& d) {
  const platform::DisplayLayout& l = d.State.Layout;
  for (int y = 0; y < l.Height; y++)
    for (int x = 0; x < l.Width; x++) {
      long long at = static_cast<long long>(d.Origin) + static_cast<long long>(x) * l.XPitch +
                     static_cast<long long>(y) * l.YPitch;
      uint16_t p;
      std::memcpy(&p, d.Memory.data() + at, 2);
      d.State.Pixels[static_cast<size_t>(y) * l.Width + x] = p;
    }
  d.State.Frames++;
}

}  // namespace

namespace display {

bool Open(HWND hwnd, const platform::DisplayRequest& request, platform::DisplayLayout* layout,
          std::string* error) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  auto it = all.ByWindow.find(hwnd);
  if (it != all.ByWindow.end() && it->second.State.Open) {
    if (layout) *layout = it->second.State.Layout;
    return true;
  }
  if (request.Width <= 0 || request.Height <= 0 || request.Width > 16384 ||
      request.Height > 16384 ||
      (request.Format != platform::kDisplay555 && request.Format != platform::kDisplay565)) {
    if (error) *error = "unsupported display size or format";
    return false;
  }
  HeadlessDisplay d;
  platform::DisplayLayout& l = d.State.Layout;
  l.Width = request.Width;
  l.Height = request.Height;
  l.Format = request.Format;
  l.Scale = request.FullScreen ? 0
                               : platform::ChooseDisplayScale(platform::DisplayScale(), l.Height,
                                                              display::kScreenHeight);
  l.XPitch = 2;
  l.YPitch = 2 * l.Width;
  if (request.FullScreen && (all.XPitch != 0 || all.YPitch != 0)) {
    l.XPitch = all.XPitch;
    l.YPitch = all.YPitch;
  }
  // The memory spans every address the pitches reach.
  long long xs = static_cast<long long>(l.Width - 1) * l.XPitch;
  long long ys = static_cast<long long>(l.Height - 1) * l.YPitch;
  long long low = std::min(0LL, xs) + std::min(0LL, ys);
  long long high = std::max(0LL, xs) + std::max(0LL, ys) + 2;
  if (l.XPitch == 0 || l.YPitch == 0 || high - low > (1LL << 30)) {
    if (error) *error = "unusable display pitches";
    return false;
  }
  d.Memory.assign(static_cast<size_t>(high - low), 0);
  d.Origin = static_cast<size_t>(-low);
  d.State.Open = true;
  d.State.Title = request.Title;
  d.State.FullScreen = request.FullScreen;
  if (request.Icon) {
    d.State.IconWidth = request.Icon->Width;
    d.State.IconHeight = request.Icon->Height;
  }
  d.State.Pixels.assign(static_cast<size_t>(l.Width) * l.Height, 0);
  if (layout) *layout = l;
  all.ByWindow[hwnd] = std::move(d);
  return true;
}

void Close(HWND hwnd) {
  DisplayState last;
  {
    Displays& all = All();
    std::lock_guard<std::mutex> lk(all.Mutex);
    auto it = all.ByWindow.find(hwnd);
    if (it == all.ByWindow.end() || !it->second.State.Open) return;
    it->second.State.Open = false;
    it->second.Memory.clear();
    last = it->second.State;
  }
  const char* path = std::getenv("ZELVARO_HEADLESS_SCREENSHOT");
  if (path && *path && last.Frames > 0) {
    std::string error;
    if (!WriteBmp(last, path, &error))
      std::fprintf(stderr, "headless: screenshot %s: %s\n", path, error.c_str());
  }
}

bool IsOpen(HWND hwnd) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  auto it = all.ByWindow.find(hwnd);
  return it != all.ByWindow.end() && it->second.State.Open;
}

bool Present(HWND hwnd, const uint16_t* rect, int pitch, int x, int y, int w, int h) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  auto it = all.ByWindow.find(hwnd);
  if (it == all.ByWindow.end() || !it->second.State.Open || !rect) return false;
  HeadlessDisplay& d = it->second;
  const platform::DisplayLayout& l = d.State.Layout;
  long long x0 = std::max(x, 0), y0 = std::max(y, 0);
  long long x1 = std::min<long long>(static_cast<long long>(x) + w, l.Width);
  long long y1 = std::min<long long>(static_cast<long long>(y) + h, l.Height);
  const auto* bytes = reinterpret_cast<const unsigned char*>(rect);
  const size_t run = x1 > x0 ? static_cast<size_t>(x1 - x0) * 2 : 0;
  for (long long row = y0; row < y1 && run; row++) {
    const unsigned char* from = bytes + (row - y) * pitch + (x0 - x) * 2;
    std::memcpy(d.State.Pixels.data() + row * l.Width + x0, from, run);
    long long at = static_cast<long long>(d.Origin) + x0 * l.XPitch + row * l.YPitch;
    if (l.XPitch == 2) {
      std::memcpy(d.Memory.data() + at, from, run);
    } else {
      for (long long col = x0; col < x1; col++, at += l.XPitch)
        std::memcpy(d.Memory.data() + at, from + (col - x0) * 2, 2);
    }
  }
  d.State.Frames++;
  return true;
}

void* BeginFrame(HWND hwnd) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  auto it = all.ByWindow.find(hwnd);
  if (it == all.ByWindow.end() || !it->second.State.Open) return nullptr;
  return it->second.Memory.data() + it->second.Origin;
}

void EndFrame(HWND hwnd) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  auto it = all.ByWindow.find(hwnd);
  if (it == all.ByWindow.end() || !it->second.State.Open) return;
  TakeFrame(it->second);
}

void SetGameKeys(HWND, bool) {}

void Raise(HWND hwnd) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  auto it = all.ByWindow.find(hwnd);
  if (it != all.ByWindow.end() && it->second.State.Open) {
    it->second.State.Raised++;
    it->second.State.Minimised = false;
  }
}

void Minimise(HWND hwnd) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  auto it = all.ByWindow.find(hwnd);
  if (it != all.ByWindow.end() && it->second.State.Open) it->second.State.Minimised = true;
}

bool PointerAt(HWND hwnd, int x, int y, LPARAM* lParam) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  auto it = all.ByWindow.find(hwnd);
  if (it == all.ByWindow.end() || !it->second.State.Open) return false;
  const platform::DisplayLayout& l = it->second.State.Layout;
  int outw = kScreenWidth, outh = kScreenHeight;
  if (!it->second.State.FullScreen) {
    outw = l.Width * std::max(l.Scale, 1);
    outh = l.Height * std::max(l.Scale, 1);
  }
  int vx, vy, vw, vh, dx, dy;
  platform::DisplayViewport(outw, outh, l.Width, l.Height, &vx, &vy, &vw, &vh);
  platform::ViewportToDisplay(vx, vy, vw, vh, l.Width, l.Height, x, y, &dx, &dy);
  *lParam = MAKELPARAM(dx, dy);
  return true;
}

void Reset() {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  for (auto it = all.ByWindow.begin(); it != all.ByWindow.end();)
    it = it->second.State.Open ? std::next(it) : all.ByWindow.erase(it);
  all.XPitch = all.YPitch = 0;
}

}  // namespace display

void SetDisplayPitches(int xPitch, int yPitch) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  all.XPitch = xPitch;
  all.YPitch = yPitch;
}

DisplayState Display(HWND hwnd) {
  Displays& all = All();
  std::lock_guard<std::mutex> lk(all.Mutex);
  auto it = all.ByWindow.find(hwnd);
  return it == all.ByWindow.end() ? DisplayState{} : it->second.State;
}

bool SaveDisplay(HWND hwnd, const std::string& path, std::string* error) {
  return WriteBmp(Display(hwnd), path, error);
}

}  // namespace headless

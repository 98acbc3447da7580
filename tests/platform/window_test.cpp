// Showing windows over the display service: visibility, bringing a display
// to the front and minimising it, GAPI stepping aside, the screen's size,
// class icons decoded from icon files and given to displays, pointer input
// mapped from window pixels at any scale, and painting.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/services/icon.h"
#include "platform/winapi/gx.h"
#include "platform/winapi/resources.h"
#include "platform/winapi/wingdi.h"
#include "support/headless.h"

namespace {

using testing_support::HeadlessTest;

class Windows : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    hwnd = OpenWindow("WindowsTest", nullptr, "Shown", 0, LoadIcon(nullptr, "PROGRAMICON"));
    ASSERT_NE(hwnd, nullptr);
  }
  void TearDown() override {
    GXCloseDisplay();
    CloseWindow();
    platform::SetDisplayScale(0);
  }
  // Opens the window's display by drawing into it, as the desk screen does.
  void Draw(int width = 240, int height = 320) {
    std::vector<uint16_t> pixels(static_cast<size_t>(width) * height, 0x1234);
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 16;
    HDC dc = GetDC(hwnd);
    SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, pixels.data(), &bmi,
                      DIB_RGB_COLORS);
    ReleaseDC(hwnd, dc);
  }
  static std::vector<MSG> Drain() {
    std::vector<MSG> out;
    MSG m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) out.push_back(m);
    return out;
  }

  HWND hwnd = nullptr;
};

TEST_F(Windows, ShowingSetsVisibilityAndRaisesOrMinimisesAnOpenDisplay) {
  EXPECT_FALSE(ShowWindow(hwnd, SW_SHOW));  // was hidden
  EXPECT_TRUE(ShowWindow(hwnd, SW_SHOWNORMAL));
  EXPECT_EQ(headless::Display(hwnd).Raised, 0);  // no display yet: nothing to raise
  EXPECT_FALSE(IsDisplayOpen(hwnd));
  Draw();
  ASSERT_TRUE(IsDisplayOpen(hwnd));
  EXPECT_TRUE(ShowWindow(hwnd, SW_MINIMIZE));
  EXPECT_TRUE(headless::Display(hwnd).Minimised);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  EXPECT_FALSE(headless::Display(hwnd).Minimised);
  EXPECT_EQ(headless::Display(hwnd).Raised, 1);
  ShowWindow(hwnd, SW_SHOW);  // shows, raises nothing
  EXPECT_EQ(headless::Display(hwnd).Raised, 1);
  EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
  EXPECT_FALSE(ShowWindow(hwnd, SW_SHOW));
  EXPECT_FALSE(ShowWindow(nullptr, SW_SHOW));
}

TEST_F(Windows, TopmostOrForegroundBringsTheDisplayForwardAndOthersDoNot) {
  Draw();
  const UINT keep = SWP_NOMOVE | SWP_NOSIZE;
  EXPECT_TRUE(SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, keep));
  EXPECT_EQ(headless::Display(hwnd).Raised, 1);
  EXPECT_TRUE(SetWindowPos(hwnd, HWND_NOTOPMOST, 0, 0, 0, 0, keep));
  EXPECT_TRUE(SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, keep | SWP_NOZORDER));
  EXPECT_TRUE(SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, keep));
  EXPECT_EQ(headless::Display(hwnd).Raised, 1);
  EXPECT_TRUE(SetForegroundWindow(hwnd));
  EXPECT_EQ(headless::Display(hwnd).Raised, 2);
  DestroyWindow(hwnd);
  EXPECT_FALSE(IsDisplayOpen(hwnd));
  EXPECT_FALSE(SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, keep));
  EXPECT_FALSE(SetForegroundWindow(hwnd));
}

TEST_F(Windows, GapiStepsAsideWhileSuspendedAndDrawsAgainWhenResumed) {
  EXPECT_EQ(GXSuspend(), 0);
  ASSERT_EQ(GXOpenDisplay(hwnd, GX_FULLSCREEN), 1);
  ASSERT_EQ(GXSuspend(), 1);
  EXPECT_TRUE(headless::Display(hwnd).Minimised);
  EXPECT_EQ(GXBeginDraw(), nullptr);
  ASSERT_EQ(GXResume(), 1);
  EXPECT_FALSE(headless::Display(hwnd).Minimised);
  EXPECT_EQ(headless::Display(hwnd).Raised, 1);
  ASSERT_NE(GXBeginDraw(), nullptr);
  EXPECT_EQ(GXEndDraw(), 1);
  // Closing forgets the suspension.
  GXSuspend();
  GXCloseDisplay();
  ASSERT_EQ(GXOpenDisplay(hwnd, GX_FULLSCREEN), 1);
  EXPECT_NE(GXBeginDraw(), nullptr);
  GXEndDraw();
}

TEST_F(Windows, TheScreenHasASizeAndWindowRectanglesAreTheirClientArea) {
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);
  EXPECT_EQ(GetSystemMetrics(42), 0);
  RECT r{0, 0, 240, 320};
  EXPECT_TRUE(AdjustWindowRect(&r, WS_VISIBLE | WS_CAPTION | WS_SYSMENU, FALSE));
  EXPECT_EQ(r.right, 240);
  EXPECT_EQ(r.bottom, 320);
  EXPECT_FALSE(AdjustWindowRect(nullptr, 0, FALSE));
  EXPECT_NE(LoadCursor(nullptr, IDC_ARROW), nullptr);
  EXPECT_NE(GetSysColorBrush(COLOR_BTNFACE), nullptr);
}

TEST_F(Windows, AClassIconGoesToTheDisplaysOfItsWindows) {
  HICON icon = LoadIcon(nullptr, "PROGRAMICON");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(LoadIcon(nullptr, "programicon"), icon);  // decoded once
  EXPECT_EQ(LoadIcon(nullptr, "NOSUCHICON"), nullptr);
  EXPECT_EQ(LoadIcon(nullptr, "METER"), nullptr);  // a bitmap, not an icon
  Draw();
  headless::DisplayState s = headless::Display(hwnd);
  EXPECT_EQ(s.Title, "Shown");
  EXPECT_EQ(s.IconWidth, 32);
  EXPECT_EQ(s.IconHeight, 32);
  const auto* decoded = static_cast<const platform::DisplayIcon*>(icon);
  ASSERT_EQ(decoded->Pixels.size(), 32u * 32u);
  // The program's icon is opaque in the middle and clear in a corner.
  EXPECT_EQ(decoded->Pixels[16 * 32 + 16] >> 24, 0xFFu);
  EXPECT_EQ(decoded->Pixels[0] >> 24, 0u);
}

TEST_F(Windows, PointerInputArrivesInDisplayPixelsAtEveryScale) {
  for (int scale : {1, 2, 3}) {
    platform::SetDisplayScale(scale);
    Draw();
    ASSERT_EQ(headless::Display(hwnd).Layout.Scale, scale);
    ASSERT_TRUE(headless::InjectPointer(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 239 * scale + scale - 1,
                                        319 * scale));
    ASSERT_TRUE(headless::InjectPointer(hwnd, WM_MOUSEMOVE, 0, 10 * scale, 20 * scale + scale - 1));
    ASSERT_TRUE(headless::InjectPointer(hwnd, WM_LBUTTONUP, 0, -5, 5000));
    std::vector<MSG> got = Drain();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].message, static_cast<UINT>(WM_LBUTTONDOWN));
    EXPECT_EQ(got[0].wParam, static_cast<WPARAM>(MK_LBUTTON));
    EXPECT_EQ(got[0].lParam, MAKELPARAM(239, 319));
    EXPECT_EQ(got[1].lParam, MAKELPARAM(10, 20));
    EXPECT_EQ(got[2].lParam, MAKELPARAM(0, 319));  // held within the display
    GXCloseDisplay();
    DestroyWindow(hwnd);
    hwnd = CreateWindowEx(0, "WindowsTest", "Shown", 0, 0, 0, 240, 320, nullptr, nullptr, nullptr,
                          nullptr);
  }
  EXPECT_FALSE(headless::InjectPointer(hwnd, WM_LBUTTONDOWN, 0, 1, 1));  // no display
  // A full-screen display is centred on the screen at the largest whole factor.
  ASSERT_EQ(GXOpenDisplay(hwnd, GX_FULLSCREEN), 1);
  ASSERT_TRUE(headless::InjectPointer(hwnd, WM_LBUTTONDOWN, 0, 600 + 3 * 239, 60 + 3 * 319 + 2));
  ASSERT_TRUE(headless::InjectPointer(hwnd, WM_LBUTTONDOWN, 0, 599, 59));
  std::vector<MSG> got = Drain();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].lParam, MAKELPARAM(239, 319));
  EXPECT_EQ(got[1].lParam, MAKELPARAM(0, 0));
}

TEST_F(Windows, PaintingGivesAContextForTheWindow) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(ps.hdc, dc);
  EXPECT_TRUE(EndPaint(hwnd, &ps));
  EXPECT_EQ(BeginPaint(nullptr, &ps), nullptr);
  EXPECT_EQ(BeginPaint(hwnd, nullptr), nullptr);
  EXPECT_NE(GetModuleHandle(nullptr), nullptr);
  EXPECT_EQ(GetModuleHandle("other.dll"), nullptr);
}

// Icon files -----------------------------------------------------------------------------------

void Put16(std::vector<unsigned char>& v, size_t at, uint32_t x) {
  v[at] = static_cast<unsigned char>(x);
  v[at + 1] = static_cast<unsigned char>(x >> 8);
}
void Put32(std::vector<unsigned char>& v, size_t at, uint32_t x) {
  Put16(v, at, x);
  Put16(v, at + 2, x >> 16);
}

// An icon file of one w x h image of `bits` bits: every colour-table entry
// and every pixel (index 1 for palettes) as given, alpha 0 for 32 bits, and
// the mask bit of the first pixel of the top row set.
std::vector<unsigned char> IconFile(int w, int h, int bits, uint32_t bgra) {
  const size_t colours = bits <= 8 ? (1u << bits) : 0;
  const size_t stride = (static_cast<size_t>(w) * bits + 31) / 32 * 4;
  const size_t maskStride = (static_cast<size_t>(w) + 31) / 32 * 4;
  const size_t image = 40 + 4 * colours + stride * h + maskStride * h;
  std::vector<unsigned char> f(6 + 16 + image, 0);
  Put16(f, 2, 1);
  Put16(f, 4, 1);
  f[6] = static_cast<unsigned char>(w);
  f[7] = static_cast<unsigned char>(h);
  Put16(f, 6 + 6, static_cast<uint32_t>(bits));
  Put32(f, 6 + 8, static_cast<uint32_t>(image));
  Put32(f, 6 + 12, 22);
  const size_t dib = 22;
  Put32(f, dib, 40);
  Put32(f, dib + 4, static_cast<uint32_t>(w));
  Put32(f, dib + 8, static_cast<uint32_t>(2 * h));
  Put16(f, dib + 12, 1);
  Put16(f, dib + 14, static_cast<uint32_t>(bits));
  for (size_t c = 0; c < colours; c++) Put32(f, dib + 40 + 4 * c, bgra);
  const size_t pixels = dib + 40 + 4 * colours;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      unsigned char* p = f.data() + pixels + stride * y;
      if (bits == 32) Put32(f, pixels + stride * y + 4 * x, bgra & 0x00FFFFFF);
      if (bits == 24) {
        p[3 * x] = static_cast<unsigned char>(bgra);
        p[3 * x + 1] = static_cast<unsigned char>(bgra >> 8);
        p[3 * x + 2] = static_cast<unsigned char>(bgra >> 16);
      }
      if (bits == 8) p[x] = 1;
      if (bits == 4) p[x / 2] |= static_cast<unsigned char>(x % 2 ? 0x01 : 0x10);
      if (bits == 1) p[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
  // The mask's rows are stored bottom up too: the top row is the last.
  f[pixels + stride * h + maskStride * (h - 1)] = 0x80;
  return f;
}

TEST(IconFile, EveryBitmapDepthDecodesWithItsMask) {
  for (int bits : {1, 4, 8, 24, 32}) {
    std::vector<unsigned char> file = IconFile(16, 8, bits, 0x00336699);
    platform::DisplayIcon icon;
    std::string error;
    ASSERT_TRUE(DecodeIcon(file.data(), file.size(), &icon, &error)) << bits << ": " << error;
    EXPECT_EQ(icon.Width, 16);
    EXPECT_EQ(icon.Height, 8);
    EXPECT_EQ(icon.Pixels[0], 0u) << bits;  // masked
    EXPECT_EQ(icon.Pixels[1], 0xFF336699u) << bits;
    EXPECT_EQ(icon.Pixels[16 * 7 + 15], 0xFF336699u) << bits;
  }
}

TEST(IconFile, MalformedFilesAreRefusedWithAReason) {
  const std::vector<unsigned char> good = IconFile(16, 16, 32, 0x00FF0000);
  auto refused = [](std::vector<unsigned char> f) {
    platform::DisplayIcon icon;
    std::string error;
    bool ok = DecodeIcon(f.data(), f.size(), &icon, &error);
    return !ok && !error.empty();
  };
  EXPECT_TRUE(refused({}));
  EXPECT_TRUE(refused({0, 0, 2, 0, 1, 0}));  // a cursor file
  EXPECT_TRUE(refused({0, 0, 1, 0, 0, 0}));  // no image
  std::vector<unsigned char> f = good;
  Put16(f, 4, 300);  // a directory longer than the file
  EXPECT_TRUE(refused(f));
  for (size_t cut : {size_t{22}, size_t{60}, good.size() - 1}) {
    f = good;
    f.resize(cut);
    EXPECT_TRUE(refused(f)) << cut;
  }
  f = good;
  Put32(f, 6 + 12, 0xFFFFFFF0u);  // image offset past the end
  EXPECT_TRUE(refused(f));
  f = good;
  Put32(f, 6 + 8, 0xFFFFFFFFu);  // image size past the end
  EXPECT_TRUE(refused(f));
  f = good;
  Put32(f, 22 + 4, 0);  // no width
  EXPECT_TRUE(refused(f));
  f = good;
  Put32(f, 22 + 8, 33);  // odd doubled height
  EXPECT_TRUE(refused(f));
  f = good;
  Put32(f, 22 + 4, 100000);
  EXPECT_TRUE(refused(f));
  f = good;
  Put16(f, 22 + 14, 16);  // a depth not read
  EXPECT_TRUE(refused(f));
  f = good;
  Put32(f, 22 + 16, 3);  // compressed
  EXPECT_TRUE(refused(f));
  f = good;
  f[22] = 0x89;  // a PNG image is passed over
  f[23] = 'P';
  EXPECT_TRUE(refused(f));
}

TEST(IconFile, TheLargestAndThenDeepestImageIsChosen) {
  std::vector<unsigned char> small = IconFile(16, 16, 32, 0x000000FF);
  std::vector<unsigned char> big = IconFile(32, 32, 4, 0x0000FF00);
  std::vector<unsigned char> deep = IconFile(32, 32, 24, 0x00FF0000);
  // One file of the three images, each after the directory.
  std::vector<std::vector<unsigned char>*> images = {&small, &big, &deep};
  std::vector<unsigned char> f(6 + 16 * 3, 0);
  Put16(f, 2, 1);
  Put16(f, 4, 3);
  for (size_t i = 0; i < images.size(); i++) {
    std::vector<unsigned char>& one = *images[i];
    std::copy(one.begin() + 6, one.begin() + 22, f.begin() + 6 + 16 * i);
    Put32(f, 6 + 16 * i + 12, static_cast<uint32_t>(f.size()));
    f.insert(f.end(), one.begin() + 22, one.end());
  }
  platform::DisplayIcon icon;
  ASSERT_TRUE(DecodeIcon(f.data(), f.size(), &icon, nullptr));
  EXPECT_EQ(icon.Width, 32);
  EXPECT_EQ(icon.Pixels[5], 0xFFFF0000u);
}

}  // namespace

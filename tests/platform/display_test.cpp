// The display service: window scale and tap mapping, the headless displays
// (pictures, frames, pitches, BMP files), SetDIBitsToDevice and the GAPI
// functions over them, the SDL displays on SDL's dummy video driver, and
// failure notices shown as message boxes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common_code/dib.h"
#include "platform/services/backend.h"
#include "platform/winapi/alert.h"
#include "platform/winapi/gx.h"
#include "platform/winapi/wingdi.h"
#include "support/headless.h"
#include "support/wav.h"

namespace {

using testing_support::HeadlessTest;

class Display : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    hwnd = OpenWindow("DisplayTest");
    ASSERT_NE(hwnd, nullptr);
  }
  void TearDown() override {
    CloseWindow();
    headless::SetDisplayPitches(0, 0);
  }

  // A 16-bit DIB header for a w x h image (top-down for h < 0).
  static BITMAPINFO Header(int w, int h) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 16;
    bmi.bmiHeader.biCompression = BI_RGB;
    return bmi;
  }
  // Pixel (x, y) of the numbered picture.
  static uint16_t Numbered(int x, int y) { return static_cast<uint16_t>(x + 256 * y + 1); }
  static std::vector<uint16_t> NumberedPicture(int w, int h) {
    std::vector<uint16_t> p(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) p[static_cast<size_t>(y) * w + x] = Numbered(x, y);
    return p;
  }

  HWND hwnd = nullptr;
};

// Scale and mapping ------------------------------------------------------------------

TEST(DisplayScale, DefaultIsTheLargestWholeFactorWithinTwoThirdsOfTheScreenHeight) {
  EXPECT_EQ(platform::ChooseDisplayScale(0, 320, 1080), 2);
  EXPECT_EQ(platform::ChooseDisplayScale(0, 320, 1440), 3);
  EXPECT_EQ(platform::ChooseDisplayScale(0, 320, 2160), 4);
  EXPECT_EQ(platform::ChooseDisplayScale(0, 320, 768), 1);
  EXPECT_EQ(platform::ChooseDisplayScale(0, 320, 400), 1);  // never below 1
  EXPECT_EQ(platform::ChooseDisplayScale(0, 320, 0), 1);
  EXPECT_EQ(platform::ChooseDisplayScale(3, 320, 768), 3);  // a chosen scale wins
  platform::SetDisplayScale(5);
  EXPECT_EQ(platform::DisplayScale(), 5);
  platform::SetDisplayScale(-2);
  EXPECT_EQ(platform::DisplayScale(), 0);
}

TEST(DisplayScale, PointsMapBackToDisplayPixelsAndStayWithinThem) {
  int x = -1, y = -1;
  platform::ViewportToDisplay(0, 0, 480, 640, 240, 320, 0, 0, &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  platform::ViewportToDisplay(0, 0, 480, 640, 240, 320, 479, 639, &x, &y);
  EXPECT_EQ(x, 239);
  EXPECT_EQ(y, 319);
  platform::ViewportToDisplay(0, 0, 480, 640, 240, 320, 3, 5, &x, &y);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 2);
  // A letterboxed viewport on a full screen, and points on its border.
  platform::ViewportToDisplay(320, 0, 720, 960, 240, 320, 320 + 6, 9, &x, &y);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 3);
  platform::ViewportToDisplay(320, 0, 720, 960, 240, 320, 10, 5000, &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 319);
  platform::ViewportToDisplay(0, 0, 0, 0, 240, 320, 10, 10, &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
}

// Headless displays -------------------------------------------------------------------

TEST_F(Display, HeadlessDisplayKeepsEachPresentedRectangleAndCountsFrames) {
  platform::Backend& b = platform::CurrentBackend();
  platform::DisplayRequest request;
  request.Title = "t";
  platform::DisplayLayout layout;
  std::string error;
  ASSERT_TRUE(b.OpenDisplay(hwnd, request, &layout, &error)) << error;
  EXPECT_EQ(layout.Width, 240);
  EXPECT_EQ(layout.Height, 320);
  EXPECT_EQ(layout.XPitch, 2);
  EXPECT_EQ(layout.YPitch, 480);
  EXPECT_GE(layout.Scale, 1);

  std::vector<uint16_t> picture = NumberedPicture(240, 320);
  ASSERT_TRUE(b.PresentDisplay(hwnd, picture.data(), 480, 0, 0, 240, 320));
  std::vector<uint16_t> patch(4 * 3, 7);
  ASSERT_TRUE(b.PresentDisplay(hwnd, patch.data(), 8, 238, 318, 4, 3));  // partly outside
  headless::DisplayState s = headless::Display(hwnd);
  EXPECT_TRUE(s.Open);
  EXPECT_EQ(s.Frames, 2u);
  ASSERT_EQ(s.Pixels.size(), 240u * 320u);
  EXPECT_EQ(s.Pixels[0], Numbered(0, 0));
  EXPECT_EQ(s.Pixels[318 * 240 + 237], Numbered(237, 318));
  EXPECT_EQ(s.Pixels[318 * 240 + 238], 7);
  EXPECT_EQ(s.Pixels[319 * 240 + 239], 7);
  EXPECT_FALSE(b.PresentDisplay(nullptr, patch.data(), 8, 0, 0, 4, 3));
}

TEST_F(Display, DestroyingTheWindowClosesItsDisplayAndTheLastFrameCanBeSaved) {
  HDC dc = GetDC(hwnd);
  std::vector<uint16_t> picture(240 * 320, 0x7C00);  // red in 5-5-5
  BITMAPINFO bmi = Header(240, -320);
  ASSERT_EQ(
      SetDIBitsToDevice(dc, 0, 0, 240, 320, 0, 0, 0, 320, picture.data(), &bmi, DIB_RGB_COLORS),
      320);
  ReleaseDC(hwnd, dc);
  DestroyWindow(hwnd);
  headless::DisplayState s = headless::Display(hwnd);
  EXPECT_FALSE(s.Open);
  EXPECT_EQ(s.Frames, 1u);
  testing_support::TempDir dir;
  std::string path = dir.File("frame.bmp");
  std::string error;
  ASSERT_TRUE(headless::SaveDisplay(hwnd, path, &error)) << error;
  CDib saved;
  ASSERT_EQ(saved.LoadBMP(path.c_str()), 1);
  EXPECT_EQ(saved.W, 240);
  EXPECT_EQ(saved.H, 320);
  unsigned char r, g, bl;
  ColorComponents(saved.GetPixel(100, 100), r, g, bl);
  EXPECT_EQ(r, 248);
  EXPECT_EQ(g, 0);
  EXPECT_FALSE(headless::SaveDisplay(reinterpret_cast<HWND>(1), path, &error));
}

TEST_F(Display, AHeadlessRunCanHaveEachDisplaysLastFrameWrittenAsItCloses) {
  testing_support::TempDir dir;
  std::string path = dir.File("last.bmp");
  setenv("ZELVARO_HEADLESS_SCREENSHOT", path.c_str(), 1);
  platform::Backend& b = platform::CurrentBackend();
  platform::DisplayRequest request;
  ASSERT_TRUE(b.OpenDisplay(hwnd, request, nullptr, nullptr));
  b.CloseDisplay(hwnd);  // nothing shown: nothing written
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  ASSERT_TRUE(b.OpenDisplay(hwnd, request, nullptr, nullptr));
  std::vector<uint16_t> first(240 * 320, 0x001F), second(240 * 320, 0x03E0);
  b.PresentDisplay(hwnd, first.data(), 480, 0, 0, 240, 320);
  b.PresentDisplay(hwnd, second.data(), 480, 0, 0, 240, 320);
  DestroyWindow(hwnd);
  unsetenv("ZELVARO_HEADLESS_SCREENSHOT");
  CDib saved;
  ASSERT_EQ(saved.LoadBMP(path.c_str()), 1);
  EXPECT_EQ(saved.W, 240);
  unsigned char r, g, bl;
  ColorComponents(saved.GetPixel(239, 319), r, g, bl);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(g, 248);
  EXPECT_EQ(bl, 0);
}

TEST_F(Display, FullScreenFrameMemoryFollowsTheChosenPitches) {
  platform::Backend& b = platform::CurrentBackend();
  for (auto [xp, yp] : std::vector<std::pair<int, int>>{
           {2, 480}, {-2, 480}, {2, -480}, {-2, -480}, {640, -2}, {-640, 2}, {4, 1000}}) {
    headless::SetDisplayPitches(xp, yp);
    platform::DisplayRequest request;
    request.FullScreen = true;
    request.Format = platform::kDisplay565;
    platform::DisplayLayout layout;
    ASSERT_TRUE(b.OpenDisplay(hwnd, request, &layout, nullptr));
    EXPECT_EQ(layout.XPitch, xp);
    EXPECT_EQ(layout.YPitch, yp);
    EXPECT_EQ(layout.Scale, 0);
    auto* base = static_cast<unsigned char*>(b.BeginDisplayFrame(hwnd));
    ASSERT_NE(base, nullptr);
    for (int y = 0; y < 320; y++)
      for (int x = 0; x < 240; x++) {
        uint16_t v = Numbered(x, y);
        std::memcpy(base + static_cast<long>(x) * xp + static_cast<long>(y) * yp, &v, 2);
      }
    b.EndDisplayFrame(hwnd);
    headless::DisplayState s = headless::Display(hwnd);
    EXPECT_TRUE(s.FullScreen);
    EXPECT_EQ(s.Layout.Format, platform::kDisplay565);
    EXPECT_EQ(s.Pixels, NumberedPicture(240, 320)) << xp << ", " << yp;
    b.CloseDisplay(hwnd);
  }
}

// SetDIBitsToDevice ------------------------------------------------------------------------

TEST_F(Display, FirstDrawingOpensTheWindowsDisplayAtTheImagesSizeWithItsTitle) {
  HDC dc = GetDC(hwnd);
  std::vector<uint16_t> picture = NumberedPicture(240, 320);
  BITMAPINFO bmi = Header(240, -320);
  EXPECT_EQ(
      SetDIBitsToDevice(dc, 0, 0, 240, 320, 0, 0, 0, 320, picture.data(), &bmi, DIB_RGB_COLORS),
      320);
  ReleaseDC(hwnd, dc);
  headless::DisplayState s = headless::Display(hwnd);
  EXPECT_TRUE(s.Open);
  EXPECT_FALSE(s.FullScreen);
  EXPECT_EQ(s.Title, "Zelvaro (Version 1.5)");
  EXPECT_EQ(s.Layout.Format, platform::kDisplay555);
  EXPECT_EQ(s.Pixels, picture);
}

TEST_F(Display, ARectangleOfATopDownOrBottomUpImageLandsWhereAsked) {
  std::vector<uint16_t> picture = NumberedPicture(240, 320);
  BITMAPINFO topDown = Header(240, -320);
  HDC dc = GetDC(hwnd);
  ASSERT_EQ(
      SetDIBitsToDevice(dc, 0, 0, 240, 320, 0, 0, 0, 320, picture.data(), &topDown, DIB_RGB_COLORS),
      320);
  std::vector<uint16_t> zero(240 * 320, 0);
  // Rows 10..19, columns 20..29 of a black top-down image, placed at (20, 10).
  EXPECT_EQ(
      SetDIBitsToDevice(dc, 20, 10, 10, 10, 20, 10, 0, 320, zero.data(), &topDown, DIB_RGB_COLORS),
      10);
  headless::DisplayState s = headless::Display(hwnd);
  EXPECT_EQ(s.Pixels[10 * 240 + 20], 0);
  EXPECT_EQ(s.Pixels[19 * 240 + 29], 0);
  EXPECT_EQ(s.Pixels[10 * 240 + 30], Numbered(30, 10));
  EXPECT_EQ(s.Pixels[20 * 240 + 20], Numbered(20, 20));

  // A bottom-up image: its first scan line is the bottom row; ySrc counts
  // from the bottom.
  std::vector<uint16_t> bottomUp(240 * 320);
  for (int scan = 0; scan < 320; scan++)
    for (int x = 0; x < 240; x++) bottomUp[scan * 240 + x] = static_cast<uint16_t>(1000 + scan);
  BITMAPINFO up = Header(240, 320);
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 5, 2, 0, 0, 0, 320, bottomUp.data(), &up, DIB_RGB_COLORS),
            2);
  s = headless::Display(hwnd);
  EXPECT_EQ(s.Pixels[0], 1001);        // top row of the rectangle: scan line 1
  EXPECT_EQ(s.Pixels[240 + 4], 1000);  // its bottom row: scan line 0
  EXPECT_EQ(s.Pixels[5], Numbered(5, 0));

  // Only the scan lines `bits` holds are drawn: here 100..109.
  EXPECT_EQ(
      SetDIBitsToDevice(dc, 0, 0, 240, 320, 0, 0, 100, 10, zero.data(), &topDown, DIB_RGB_COLORS),
      10);
  s = headless::Display(hwnd);
  EXPECT_EQ(s.Pixels[99 * 240], Numbered(0, 99));
  EXPECT_EQ(s.Pixels[100 * 240], 0);
  EXPECT_EQ(s.Pixels[109 * 240 + 239], 0);
  EXPECT_EQ(s.Pixels[110 * 240], Numbered(0, 110));
  ReleaseDC(hwnd, dc);
}

TEST_F(Display, SetDIBitsToDeviceRefusesWhatItCannotDraw) {
  std::vector<uint16_t> picture(240 * 320, 1);
  BITMAPINFO bmi = Header(240, -320);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(
      SetDIBitsToDevice(screen, 0, 0, 240, 320, 0, 0, 0, 320, picture.data(), &bmi, DIB_RGB_COLORS),
      0);
  ReleaseDC(nullptr, screen);
  HDC dc = GetDC(hwnd);
  BITMAPINFO deep = Header(240, -320);
  deep.bmiHeader.biBitCount = 24;
  EXPECT_EQ(
      SetDIBitsToDevice(dc, 0, 0, 240, 320, 0, 0, 0, 320, picture.data(), &deep, DIB_RGB_COLORS),
      0);
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 240, 320, 0, 0, 0, 320, nullptr, &bmi, DIB_RGB_COLORS), 0);
  EXPECT_EQ(
      SetDIBitsToDevice(dc, 0, 0, 240, 320, 500, 0, 0, 320, picture.data(), &bmi, DIB_RGB_COLORS),
      0);
  EXPECT_FALSE(headless::Display(hwnd).Open);
  ReleaseDC(hwnd, dc);
}

// GAPI -----------------------------------------------------------------------------------

TEST_F(Display, GapiOpensOneFullScreenDisplayAndReportsItsPitch) {
  GXDisplayProperties before = GXGetDisplayProperties();
  EXPECT_EQ(before.cxWidth, 240u);
  EXPECT_EQ(before.cyHeight, 320u);
  EXPECT_EQ(before.cbxPitch, 2);
  EXPECT_EQ(before.cbyPitch, 480);
  EXPECT_EQ(before.cBPP, 16);
  EXPECT_EQ(before.ffFormat, kfDirect565);

  headless::SetDisplayPitches(2, 512);
  ASSERT_EQ(GXOpenDisplay(hwnd, GX_FULLSCREEN), 1);
  EXPECT_EQ(GXGetDisplayProperties().cbyPitch, 512);
  HWND other =
      CreateWindowEx(0, "DisplayTest", "other", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(GXOpenDisplay(other, GX_FULLSCREEN), 0);
  EXPECT_EQ(GXOpenInput(), 1);

  EXPECT_EQ(GXEndDraw(), 0);  // no frame begun
  auto* frame = static_cast<unsigned char*>(GXBeginDraw());
  ASSERT_NE(frame, nullptr);
  for (int y = 0; y < 320; y++)
    for (int x = 0; x < 240; x++) {
      uint16_t v = Numbered(x, y);
      std::memcpy(frame + x * 2 + y * 512, &v, 2);
    }
  EXPECT_EQ(GXEndDraw(), 1);
  headless::DisplayState s = headless::Display(hwnd);
  EXPECT_TRUE(s.FullScreen);
  EXPECT_EQ(s.Frames, 1u);
  EXPECT_EQ(s.Pixels, NumberedPicture(240, 320));

  EXPECT_EQ(GXCloseInput(), 1);
  EXPECT_EQ(GXCloseDisplay(), 1);
  EXPECT_EQ(GXCloseDisplay(), 0);
  EXPECT_EQ(GXBeginDraw(), nullptr);
  EXPECT_EQ(GXGetDisplayProperties().cbyPitch, 480);
  DestroyWindow(other);
}

TEST(Gapi, DefaultKeysAreTheArrowsABCAndReturn) {
  GXKeyList k = GXGetDefaultKeys(GX_NORMALKEYS);
  EXPECT_EQ(k.vkUp, VK_UP);
  EXPECT_EQ(k.vkDown, VK_DOWN);
  EXPECT_EQ(k.vkLeft, VK_LEFT);
  EXPECT_EQ(k.vkRight, VK_RIGHT);
  EXPECT_EQ(k.vkA, 'A');
  EXPECT_EQ(k.vkB, 'B');
  EXPECT_EQ(k.vkC, 'C');
  EXPECT_EQ(k.vkStart, VK_RETURN);
}

// SDL on the dummy video driver --------------------------------------------------------

TEST_F(Display, SdlDisplaysOpenPresentAndHandOutTheirFrameOnTheDummyDriver) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  std::string error;
  ASSERT_TRUE(platform::SelectBackend("sdl", &error)) << error;
  platform::Backend& b = platform::CurrentBackend();
  platform::DisplayRequest request;
  request.Title = "Zelvaro";
  platform::DisplayLayout layout;
  bool opened = b.OpenDisplay(hwnd, request, &layout, &error);
  if (opened) {
    EXPECT_EQ(layout.Width, 240);
    EXPECT_EQ(layout.YPitch, 480);
    EXPECT_EQ(layout.Scale, 1);  // the dummy screen is 1024 x 768
    std::vector<uint16_t> picture = NumberedPicture(240, 320);
    EXPECT_TRUE(b.PresentDisplay(hwnd, picture.data(), 480, 0, 0, 240, 320));
    EXPECT_TRUE(b.PresentDisplay(hwnd, picture.data(), 480, -5, 300, 100, 100));
    EXPECT_EQ(b.BeginDisplayFrame(nullptr), nullptr);
    void* frame = b.BeginDisplayFrame(hwnd);
    EXPECT_NE(frame, nullptr);
    EXPECT_FALSE(b.PresentDisplay(hwnd, picture.data(), 480, 0, 0, 240, 320));  // frame begun
    b.EndDisplayFrame(hwnd);
    MSG m;
    PeekMessage(&m, nullptr, 0, 0, PM_REMOVE);  // pumps SDL's events
    DestroyWindow(hwnd);                        // closes the display
    EXPECT_FALSE(b.PresentDisplay(hwnd, picture.data(), 480, 0, 0, 240, 320));
  }
  ASSERT_TRUE(platform::SelectBackend("headless", &error)) << error;
  ASSERT_TRUE(opened) << error;
}

// Failure notices --------------------------------------------------------------------------

TEST_F(Display, FailureNoticesAreShownAsMessageBoxes) {
  Alert("LoadBMP Failed", "Debug");
  std::vector<headless::RecordedMessageBox> boxes = headless::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "LoadBMP Failed");
  EXPECT_EQ(boxes[0].Caption, "Debug");
  EXPECT_EQ(boxes[0].Type, static_cast<unsigned>(MB_OK));
}

TEST_F(Display, WindowTextIsTheTitleCutToTheBuffer) {
  char text[8];
  EXPECT_EQ(GetWindowText(hwnd, text, sizeof(text)), 7);
  EXPECT_STREQ(text, "Zelvaro");
  EXPECT_EQ(GetWindowText(nullptr, text, sizeof(text)), 0);
  EXPECT_STREQ(text, "");
}

}  // namespace

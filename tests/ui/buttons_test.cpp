// Buttons: adding, hit testing, the setters, the faces and captions, the
// command a tap posts, and the modal waits driven by injected messages,
// with golden images of every face style and of the tuner's two buttons.
#include <gtest/gtest.h>

#include <vector>

#include "common_code/button.h"
#include "common_code/particle.h"
#include "common_code/shader.h"
#include "support/frame_globals.h"
#include "support/golden.h"
#include "support/pixel_format.h"

namespace {

using testing_support::FrameTest;
using testing_support::MatchesGolden;
using testing_support::ScopedPixelFormat;

std::vector<MSG> g_Dispatched;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_KEYDOWN || message == WM_CLOSE)
    g_Dispatched.push_back(MSG{hwnd, message, wParam, lParam, 0, {0, 0}});
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class Buttons : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    DisplayProperties.ffFormat = kfDirect555;
    hwnd = OpenWindow("ButtonsTest", RecordingProc, "Zelvaro");
    ASSERT_NE(hwnd, nullptr);
    g_Dispatched.clear();
    initcharset();
    InitButtons();
    particlesystem.Reset();
  }
  void TearDown() override {
    screen.Exit();
    FrameTest::TearDown();
    MSG m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    releasecharset();
  }

  void Tap(UINT message, int x, int y) {
    headless::InjectWindowMessage(hwnd, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON,
                                  MAKELPARAM(x, y));
  }
  // Every message waiting in the queue, taken out.
  static std::vector<MSG> Drain() {
    std::vector<MSG> out;
    MSG m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) out.push_back(m);
    return out;
  }
  static int Count(const CDib& d, PIXEL c) {
    int n = 0;
    for (int i = 0; i < d.W * d.H; i++) n += d.m_Bits[i] == c;
    return n;
  }

  HWND hwnd = nullptr;
  CScreen screen;
  ButtonArray ba;
};

// Adding and hit testing -------------------------------------------------------------

TEST_F(Buttons, AddButtonKeepsTheRectangleAndDefaultsAndRefusesThe13th) {
  EXPECT_EQ(ba.NoButtons, 0);
  ASSERT_EQ(ba.AddButton(30, "Trigger", 15, 290, 100, 20, 0x1FF), 1);
  const Button& b = ba.button[0];
  EXPECT_EQ(b.r.left, 15);
  EXPECT_EQ(b.r.top, 290);
  EXPECT_EQ(b.r.right, 115);
  EXPECT_EQ(b.r.bottom, 310);
  EXPECT_EQ(b.ID, 30);
  EXPECT_EQ(b.Flags, 0xFF);  // the low 8 bits
  EXPECT_STREQ(b.Text, "Trigger");
  EXPECT_EQ(b.TextColor, ColorValue(0, 0, 0));
  EXPECT_EQ(b.BtnColor, ColorValue(192, 192, 192));
  EXPECT_EQ(b.BorderColor, ColorValue(0, 0, 0));
  EXPECT_EQ(b.GrayText, ColorValue(128, 128, 128));
  for (int i = 1; i < 12; i++) ASSERT_EQ(ba.AddButton(i, "", i, 0, 1, 1, 0), 1);
  EXPECT_EQ(ba.AddButton(99, "", 0, 0, 1, 1, 0), 0);
  EXPECT_EQ(ba.NoButtons, 12);
  EXPECT_EQ(ba.GetIndexFromID(99), 0);
  ba.DeleteButtons();
  EXPECT_EQ(ba.NoButtons, 0);
  EXPECT_EQ(ba.AddButton(99, "", 0, 0, 1, 1, 0), 1);
}

TEST_F(Buttons, TapsHitTheLeftAndTopEdgesAndMissTheRightAndBottom) {
  ba.AddButton(20, "Exit", 125, 290, 100, 20, 0);
  EXPECT_EQ(ba.GetSelectedIndex(125, 290), 1);
  EXPECT_EQ(ba.GetSelectedIndex(224, 309), 1);
  EXPECT_EQ(ba.GetSelectedIndex(225, 300), 0);
  EXPECT_EQ(ba.GetSelectedIndex(200, 310), 0);
  EXPECT_EQ(ba.GetSelectedIndex(124, 300), 0);
  EXPECT_EQ(ba.GetSelectedIndex(200, 289), 0);
}

TEST_F(Buttons, OverlappingButtonsGoToTheFirstAddedAndHiddenOrDisabledOnesAreFound) {
  ba.AddButton(1, "a", 0, 0, 50, 50, BUTTON_HIDDEN);
  ba.AddButton(2, "b", 25, 25, 50, 50, 0);
  ba.AddButton(3, "c", 100, 0, 10, 10, BUTTON_DISABLED);
  EXPECT_EQ(ba.GetSelectedIndex(30, 30), 1);
  EXPECT_EQ(ba.GetSelectedIndex(60, 60), 2);
  EXPECT_EQ(ba.GetSelectedIndex(105, 5), 3);
  EXPECT_EQ(ba.GetIndexFromID(3), 3);
}

TEST_F(Buttons, SettersChangeTheButtonWithThatIDOnly) {
  ba.AddButton(1, "a", 0, 0, 10, 10, 0);
  ba.AddButton(2, "b", 0, 0, 10, 10, 0);
  char caption[] = "Trigger: 1";
  ba.SetButtonText(2, caption);
  caption[9] = '2';  // the button shows the caller's text as it changes
  EXPECT_STREQ(ba.button[1].Text, "Trigger: 2");
  ba.SetButtonColor(2, 5, -1, 7, -1);
  EXPECT_EQ(ba.button[1].TextColor, 5);
  EXPECT_EQ(ba.button[1].BtnColor, ColorValue(192, 192, 192));
  EXPECT_EQ(ba.button[1].BorderColor, 7);
  EXPECT_EQ(ba.button[1].GrayText, ColorValue(128, 128, 128));
  ba.SetButtonFlags(2, BUTTON_FLAT | BUTTON_DISABLED);
  EXPECT_EQ(ba.button[1].Flags, BUTTON_FLAT | BUTTON_DISABLED);
  ba.EnableButton(2, 1);
  EXPECT_EQ(ba.button[1].Flags, BUTTON_FLAT);
  ba.EnableButton(2, 0);
  EXPECT_EQ(ba.button[1].Flags, BUTTON_FLAT | BUTTON_DISABLED);
  // Unknown IDs change nothing.
  ba.SetButtonText(9, "x");
  ba.SetButtonColor(9, 1, 1, 1, 1);
  ba.SetButtonFlags(9, 0);
  ba.EnableButton(9, 0);
  EXPECT_STREQ(ba.button[0].Text, "a");
  EXPECT_EQ(ba.button[0].Flags, 0);
  EXPECT_EQ(ba.button[0].TextColor, 0);
}

// Commands -----------------------------------------------------------------------------

TEST_F(Buttons, ATapPostsExactlyOneCommandWithTheButtonsID) {
  ba.AddButton(30, "Trigger", 15, 290, 100, 20, 0);
  ASSERT_EQ(ba.ProcessEvent(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 295)), 1);
  EXPECT_TRUE(g_Dispatched.empty());  // posted, not sent
  std::vector<MSG> queued = Drain();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].hwnd, hwnd);
  EXPECT_EQ(queued[0].message, static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(queued[0].wParam, 30u);
  EXPECT_EQ(queued[0].lParam, 0);
}

TEST_F(Buttons, DisabledHiddenMissedOrOtherMessagesPostNothing) {
  ba.AddButton(1, "off", 0, 0, 50, 20, BUTTON_DISABLED);
  ba.AddButton(2, "gone", 0, 30, 50, 20, BUTTON_HIDDEN);
  ba.AddButton(3, "on", 0, 60, 50, 20, 0);
  EXPECT_EQ(ba.ProcessEvent(hwnd, WM_LBUTTONDOWN, 0, MAKELPARAM(5, 5)), 0);
  EXPECT_EQ(ba.ProcessEvent(hwnd, WM_LBUTTONDOWN, 0, MAKELPARAM(5, 35)), 0);
  EXPECT_EQ(ba.ProcessEvent(hwnd, WM_LBUTTONDOWN, 0, MAKELPARAM(100, 100)), 0);
  EXPECT_EQ(ba.ProcessEvent(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 65)), 0);
  EXPECT_EQ(ba.ProcessEvent(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 65)), 0);
  EXPECT_TRUE(Drain().empty());
  ba.EnableButton(1, 1);
  EXPECT_EQ(ba.ProcessEvent(hwnd, WM_LBUTTONDOWN, 0, MAKELPARAM(5, 5)), 1);
  EXPECT_EQ(Drain().size(), 1u);
}

// Drawing ---------------------------------------------------------------------------------

TEST_F(Buttons, BevelledFaceIsLitFromTheTopLeftInsideItsOutline) {
  CDib d;
  ASSERT_EQ(d.Create(40, 30), 1);
  d.Clear(ColorValue(0, 0, 255));
  ba.AddButton(1, "", 5, 5, 20, 10, 0);  // L 5, T 5, R 25, B 15
  ba.Paint(&d);
  const PIXEL black = ColorValue(0, 0, 0), white = ColorValue(255, 255, 255),
              g64 = ColorValue(64, 64, 64), g128 = ColorValue(128, 128, 128),
              face = ColorValue(192, 192, 192), blue = ColorValue(0, 0, 255);
  EXPECT_EQ(d.GetPixel(5, 5), black);
  EXPECT_EQ(d.GetPixel(25, 15), black);  // the outline includes the far corner
  EXPECT_EQ(d.GetPixel(26, 15), blue);
  EXPECT_EQ(d.GetPixel(6, 6), white);
  EXPECT_EQ(d.GetPixel(6, 13), white);  // left side: rows T+1 .. B-2
  EXPECT_EQ(d.GetPixel(6, 14), g64);    // bottom line from L+1
  EXPECT_EQ(d.GetPixel(24, 6), g64);    // right line from T+1
  EXPECT_EQ(d.GetPixel(23, 7), g128);
  EXPECT_EQ(d.GetPixel(7, 13), g128);
  EXPECT_EQ(d.GetPixel(10, 10), face);

  ba.SetButtonFlags(1, BUTTON_FLAT);
  d.Clear(blue);
  ba.Paint(&d);
  EXPECT_EQ(d.GetPixel(6, 6), face);
  EXPECT_EQ(d.GetPixel(24, 14), face);
  EXPECT_EQ(d.GetPixel(25, 10), black);
}

TEST_F(Buttons, DisabledCaptionIsGreyUntilEnabledAgain) {
  CDib d;
  ASSERT_EQ(d.Create(120, 40), 1);
  ba.AddButton(1, "Exit", 10, 10, 100, 20, 0);
  const PIXEL red = ColorValue(255, 0, 0), green = ColorValue(0, 255, 0);
  ba.SetButtonColor(1, red, -1, -1, green);
  ba.EnableButton(1, 0);
  d.Clear(0);
  ba.Paint(&d);
  EXPECT_GT(Count(d, green), 0);
  EXPECT_EQ(Count(d, red), 0);
  ba.EnableButton(1, 1);
  d.Clear(0);
  ba.Paint(&d);
  EXPECT_GT(Count(d, red), 0);
  EXPECT_EQ(Count(d, green), 0);
}

TEST_F(Buttons, NoFaceShowsOnlyTheCaptionAndHiddenShowsNothing) {
  CDib d;
  ASSERT_EQ(d.Create(120, 40), 1);
  const PIXEL back = ColorValue(10, 200, 30), ink = ColorValue(255, 255, 255);
  ba.AddButton(1, "Trigger", 10, 10, 100, 20, BUTTON_NOFACE);
  ba.SetButtonColor(1, ink, -1, -1, -1);
  d.Clear(back);
  ba.Paint(&d);
  int caption = Count(d, ink);
  EXPECT_GT(caption, 0);
  EXPECT_EQ(Count(d, back) + caption, 120 * 40);
  ba.SetButtonFlags(1, BUTTON_HIDDEN);
  d.Clear(back);
  ba.Paint(&d);
  EXPECT_EQ(Count(d, back), 120 * 40);
}

TEST_F(Buttons, SmallTextIsCentredInTheBuiltInSetAndTooWideTextIsNotDrawn) {
  CDib d;
  ASSERT_EQ(d.Create(60, 30), 1);
  const PIXEL ink = ColorValue(255, 255, 0);
  ba.AddButton(1, "AB", 0, 0, 40, 20, BUTTON_SMALLTEXT | BUTTON_NOFACE);
  ba.SetButtonColor(1, ink, -1, -1, -1);
  d.Clear(0);
  ba.Paint(&d);
  // x = (40 - 16) / 2 = 12, y = (20 - 8) / 2 = 6; "a" starts "oooo:::".
  EXPECT_EQ(d.GetPixel(12, 6), ink);
  EXPECT_EQ(d.GetPixel(15, 6), ink);
  EXPECT_EQ(d.GetPixel(16, 6), 0);
  EXPECT_EQ(d.GetPixel(11, 6), 0);
  ba.SetButtonText(1, "much too wide");
  d.Clear(0);
  ba.Paint(&d);
  EXPECT_EQ(Count(d, ink), 0);
}

TEST_F(Buttons, RoundedFaceIsTheShadedCapsuleAcrossTheButton) {
  CDib got, want;
  ASSERT_EQ(got.Create(180, 40), 1);
  got.Clear(ColorValue(255, 255, 255));
  ASSERT_EQ(CopyDib(&want, &got), 1);
  ba.AddButton(1, "", 10, 5, 160, 21, BUTTON_ROUNDED);
  ba.Paint(&got);
  DrawButton(&want, 10 + 10, 5 + 10, 10, 160 - 21, nullptr);
  for (int i = 0; i < 180 * 40; i++) ASSERT_EQ(got.m_Bits[i], want.m_Bits[i]) << i;
}

// Modal waits -----------------------------------------------------------------------------

TEST_F(Buttons, WaitEndsOnlyWhenPressAndReleaseMeetOnOneButton) {
  ba.AddButton(11, "one", 0, 0, 50, 20, 0);
  ba.AddButton(22, "two", 60, 0, 50, 20, BUTTON_DISABLED);  // not excluded here
  Tap(WM_LBUTTONDOWN, 5, 5);
  Tap(WM_LBUTTONUP, 65, 5);  // released on another: no end
  Tap(WM_LBUTTONDOWN, 200, 200);
  Tap(WM_LBUTTONUP, 200, 200);  // on none
  headless::InjectWindowMessage(hwnd, WM_APP, 7, 0);
  headless::InjectWindowMessage(hwnd, WM_MOUSEMOVE, 0, 0);
  Tap(WM_LBUTTONDOWN, 65, 5);
  Tap(WM_LBUTTONUP, 66, 6);
  EXPECT_EQ(ba.WaitOnButtonPress(), 22);
  ASSERT_EQ(g_Dispatched.size(), 1u);  // the rest of the window's messages go on
  EXPECT_EQ(g_Dispatched[0].message, static_cast<UINT>(WM_APP));
  EXPECT_TRUE(Drain().empty());
}

TEST_F(Buttons, WaitGivesZeroAndPassesTheQuitOnWhenTheProgramEnds) {
  ba.AddButton(11, "one", 0, 0, 50, 20, 0);
  Tap(WM_LBUTTONDOWN, 5, 5);
  PostQuitMessage(3);
  EXPECT_EQ(ba.WaitOnButtonPress(), 0);
  std::vector<MSG> queued = Drain();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(queued[0].wParam, 3u);
}

TEST_F(Buttons, WaitHandlesKeysAsTheBuildSays) {
  ba.AddButton(11, "one", 0, 0, 50, 20, 0);
  headless::InjectWindowMessage(hwnd, WM_KEYDOWN, VK_F1, 0);
  headless::InjectWindowMessage(hwnd, WM_KEYUP, VK_F1, 0);
  headless::InjectWindowMessage(hwnd, WM_KEYDOWN, VK_LEFT, 0);
  Tap(WM_LBUTTONDOWN, 5, 5);
  Tap(WM_LBUTTONUP, 5, 5);
  if constexpr (kPocket) {
    // Other keys are dropped, key up is dispatched, the pad ends the wait.
    EXPECT_EQ(ba.WaitOnButtonPress(), kGameKeyLeft);
    ASSERT_EQ(g_Dispatched.size(), 1u);
    EXPECT_EQ(g_Dispatched[0].message, static_cast<UINT>(WM_KEYUP));
    Drain();
    headless::InjectWindowMessage(hwnd, WM_KEYDOWN, 'B', 0);
    EXPECT_EQ(ba.WaitOnButtonPress(), 0);
    headless::InjectWindowMessage(hwnd, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(ba.WaitOnButtonPress(), kGameKeyUp);
  } else {
    EXPECT_EQ(ba.WaitOnButtonPress(), 11);
    EXPECT_TRUE(g_Dispatched.empty());
  }
}

TEST_F(Buttons, Wait2RedrawsTheScreenWithTheButtonsUntilAnEnabledButtonIsReleasedOn) {
  ASSERT_EQ(screen.Init(hwnd, 0), 1);
  screen.Clear(ColorValue(0, 0, 128));
  ba.AddButton(11, "one", 10, 10, 50, 20, BUTTON_DISABLED);
  ba.AddButton(22, "two", 10, 40, 50, 20, BUTTON_HIDDEN);  // hidden ones count here
  // 100 other messages keep the wait busy for 100 ms of the virtual clock.
  for (int i = 0; i < 100; i++) headless::InjectWindowMessage(hwnd, WM_APP, i, 0);
  Tap(WM_LBUTTONDOWN, 15, 15);
  Tap(WM_LBUTTONUP, 15, 15);  // disabled: no end
  Tap(WM_LBUTTONUP, 15, 45);
  uint64_t before = headless::Now();
  EXPECT_EQ(ba.WaitOnButtonPress2(&screen), 22);
  uint64_t elapsed = headless::Now() - before;
  EXPECT_EQ(g_Dispatched.size(), 100u);
  // A frame at once and then one every 40 ms (20 on the handheld).
  const uint64_t interval = kPocket ? 20 : 40;
  EXPECT_EQ(headless::Display(hwnd).Frames, 1 + (elapsed - 1) / (interval + 1));
  // The screen as it was with the buttons over it.
  CDib want;
  ASSERT_EQ(want.Create(240, 320), 1);
  want.Clear(ColorValue(0, 0, 128));
  ba.Paint(&want);
  for (int i = 0; i < 240 * 320; i++) ASSERT_EQ(screen.m_Bits[i], want.m_Bits[i]) << i;
  EXPECT_EQ(headless::Display(hwnd).Pixels,
            std::vector<uint16_t>(want.m_Bits, want.m_Bits + 240 * 320));
}

TEST_F(Buttons, Wait2GivesZeroAndPassesTheQuitOnOrOneWithoutAScreen) {
  EXPECT_EQ(ba.WaitOnButtonPress2(nullptr), 1);
  EXPECT_EQ(ba.WaitOnButtonPress2(&screen), 1);  // no surface to copy
  ASSERT_EQ(screen.Init(hwnd, 0), 1);
  PostQuitMessage(4);
  EXPECT_EQ(ba.WaitOnButtonPress2(&screen), 0);
  std::vector<MSG> queued = Drain();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(queued[0].wParam, 4u);
}

// Golden images ----------------------------------------------------------------------------

TEST_F(Buttons, GoldenEveryFaceStyle) {
  ScopedPixelFormat layout(kfDirect555);
  CDib d;
  ASSERT_EQ(d.Create(240, 160), 1);
  d.VGradient(ColorValue(200, 220, 255), ColorValue(90, 110, 160));
  ba.AddButton(1, "Bevelled", 10, 10, 100, 20, 0);
  ba.AddButton(2, "Flat", 130, 10, 100, 20, BUTTON_FLAT);
  ba.AddButton(3, "No face", 10, 40, 100, 20, BUTTON_NOFACE);
  ba.AddButton(4, "Disabled", 130, 40, 100, 20, BUTTON_DISABLED);
  ba.AddButton(5, "small text", 10, 70, 100, 20, BUTTON_SMALLTEXT);
  ba.AddButton(6, "Hidden", 130, 70, 100, 20, BUTTON_HIDDEN);
  ba.AddButton(7, "Rounded", 10, 100, 160, 21, BUTTON_ROUNDED);
  ba.AddButton(8, "Go", 180, 100, 21, 21, BUTTON_ROUNDED | BUTTON_SMALLTEXT);
  ba.AddButton(9, "Coloured", 10, 130, 220, 24, 0);
  ba.SetButtonColor(7, ColorValue(255, 255, 255), -1, -1, -1);
  ba.SetButtonColor(8, ColorValue(255, 255, 0), -1, -1, -1);
  ba.SetButtonColor(9, ColorValue(128, 0, 0), ColorValue(224, 224, 192), ColorValue(0, 0, 128), -1);
  ba.Paint(&d);
  EXPECT_TRUE(MatchesGolden(d, "button-faces"));
}

// The tuner's bottom strip: its two buttons as the application adds them.
TEST_F(Buttons, GoldenTheTunersTwoButtons) {
  ScopedPixelFormat layout(kfDirect555);
  static int module;
  CDib meter, d;
  ASSERT_EQ(meter.LoadBMP(&module, "METER"), 1);
  ASSERT_EQ(d.Create(240, 40), 1);
  d.BitBlt(0, 0, 240, 40, &meter, 0, 280, 0);
  char trigger[] = "Trigger: 1";
  ba.AddButton(30, trigger, 15, 10, 100, 20, 0);
  ba.AddButton(20, "Exit", 125, 10, 100, 20, 0);
  ba.SetButtonColor(20, ColorValue(0, 0, 0), ColorValue(224, 224, 192), -1, -1);
  ba.SetButtonColor(30, ColorValue(0, 0, 0), ColorValue(224, 224, 192), -1, -1);
  ba.Paint(&d);
  EXPECT_TRUE(MatchesGolden(d, "tuner-buttons"));
}

}  // namespace

// The pop-up menu: the item string, the layout of the tuner's trigger menu
// and of longer menus, the flags of Go with its pacing on the virtual
// clock, the chosen value, quitting, the pocket's game keys, and golden
// images of the open menu.
#include "common_code/menu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common_code/button.h"
#include "common_code/shader.h"
#include "platform/winapi/resources.h"
#include "support/frame_globals.h"
#include "support/golden.h"

namespace {

using testing_support::FrameTest;
using testing_support::MatchesGolden;

using testing_support::kTriggerItems;

class Menus : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    ASSERT_EQ(InitLLSLibrary(), 1);
    InitSQRTables();
    InitButtons();
    hwnd = OpenWindow("MenuTest");
    ASSERT_NE(hwnd, nullptr);
    ASSERT_EQ(screen.Init(hwnd, 0), 1);
    // The tuner's screen is the meter.
    CDib meter;
    ASSERT_EQ(meter.LoadBMP(GetModuleHandle(nullptr), "METER"), 1);
    screen.BitBlt(0, 0, 240, 320, &meter, 0, 0, kCopyBlock);
    screen.Refresh();
    before.assign(screen.m_Bits, screen.m_Bits + 240 * 320);
  }
  void TearDown() override {
    screen.Exit();
    FrameTest::TearDown();
    ExitLLSLibrary();
  }

  void Tap(int x, int y) {
    headless::InjectWindowMessage(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    headless::InjectWindowMessage(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }
  std::vector<uint16_t> Pixels() const {
    return std::vector<uint16_t>(screen.m_Bits, screen.m_Bits + 240 * 320);
  }
  uint64_t Frames() const { return headless::Display(hwnd).Frames; }
  // The last frame shown, as a surface.
  void Shown(CDib& out) const {
    headless::DisplayState s = headless::Display(hwnd);
    ASSERT_EQ(out.Create(240, 320), 1);
    std::memcpy(out.m_Bits, s.Pixels.data(), 240 * 320 * sizeof(PIXEL));
  }

  HWND hwnd = nullptr;
  CScreen screen;
  std::vector<uint16_t> before;
};

// Layout ------------------------------------------------------------------------------------------

TEST_F(Menus, TheTriggerMenuIsLaidOutForTheTuner) {
  Menu m;
  ASSERT_EQ(m.Init("Trigger Level", kTriggerItems), 4);
  EXPECT_EQ(m.Height, 21);
  EXPECT_EQ(m.Pitch, 28);
  EXPECT_EQ(m.TitleHgt, 20);
  EXPECT_EQ(m.StartY, 117);  // (320 - 105) / 2 + 10
  const int left = kPocket ? 25 : 40, width = kPocket ? 190 : 160;
  EXPECT_EQ(m.StartX, left);
  EXPECT_EQ(m.Width, width);
  ASSERT_EQ(m.ba.NoButtons, 4);
  const int tops[] = {117, 145, 173, 201};
  const char* captions[] = {"Off", "1", "2", "3"};
  for (int i = 0; i < 4; i++) {
    const Button& b = m.ba.button[i];
    EXPECT_EQ(b.ID, i + 1);
    EXPECT_EQ(b.r.left, left);
    EXPECT_EQ(b.r.right, left + width);
    EXPECT_EQ(b.r.top, tops[i]);
    EXPECT_EQ(b.r.bottom, tops[i] + 21);
    EXPECT_STREQ(b.Text, captions[i]);
    EXPECT_EQ(m.Val[i], i + 1);
    EXPECT_EQ(b.Flags, kPocket ? 0 : BUTTON_ROUNDED);
    EXPECT_EQ(b.TextColor, kPocket ? ColorValue(0, 0, 0) : ColorValue(255, 255, 255));
  }
  EXPECT_EQ(m.MenuRect.left, left - 10);
  EXPECT_EQ(m.MenuRect.top, 87);
  EXPECT_EQ(m.MenuRect.right, left + width + 10);
  EXPECT_EQ(m.MenuRect.bottom, 232);
  EXPECT_STREQ(m.Title, "Trigger Level");
}

TEST_F(Menus, NineItemsAreLowerAndCloserAndNoTitleTakesNoRoom) {
  Menu m;
  ASSERT_EQ(m.Init("", "01a,02b,03c,04d,05e,06f,07g,08h"), 8);
  EXPECT_EQ(m.Height, 21);
  EXPECT_EQ(m.Pitch, 28);
  ASSERT_EQ(m.Init("", "01a,02b,03c,04d,05e,06f,07g,08h,09i"), 9);
  EXPECT_EQ(m.Height, 19);
  EXPECT_EQ(m.Pitch, 25);
  EXPECT_EQ(m.TitleHgt, 0);
  EXPECT_EQ(m.StartY, 50);  // (320 - 219) / 2
  EXPECT_EQ(m.ba.button[8].r.top, 250);
  EXPECT_EQ(m.ba.button[8].r.bottom, 269);
  EXPECT_EQ(m.MenuRect.top, 40);
  EXPECT_EQ(m.MenuRect.bottom, 279);
}

TEST_F(Menus, ItemStringsFollowTheirFormatAndStayWithinTheirBuffers) {
  Menu m;
  ASSERT_EQ(m.Init("T", "07"), 1);
  EXPECT_EQ(m.Val[0], 7);
  EXPECT_STREQ(m.Args[0], "");
  // Empty items are skipped, and so is one without its two digits.
  ASSERT_EQ(m.Init("T", ",,05five,,7,99,x,"), 2);
  EXPECT_EQ(m.Val[0], 5);
  EXPECT_STREQ(m.Args[0], "five");
  EXPECT_EQ(m.Val[1], 99);
  EXPECT_STREQ(m.Args[1], "");
  // Other characters count by their codes, kept in 8 bits.
  ASSERT_EQ(m.Init("T", "9A,zz"), 2);
  EXPECT_EQ(m.Val[0], 9 * 10 + ('A' - '0'));
  EXPECT_EQ(m.Val[1], static_cast<unsigned char>(10 * ('z' - '0') + ('z' - '0')));
  // Items after the twelfth are ignored.
  std::string many;
  for (int i = 1; i <= 14; i++) many += (i > 1 ? "," : "") + std::to_string(10 + i) + "x";
  ASSERT_EQ(m.Init("T", many.c_str()), 12);
  EXPECT_EQ(m.Val[11], 22);
  EXPECT_EQ(m.ba.NoButtons, 12);
  // A string or a title longer than its buffer is cut to fit.
  std::string long_item = "42" + std::string(400, 'c');
  std::string long_title(100, 't');
  ASSERT_EQ(m.Init(long_title.c_str(), long_item.c_str()), 1);
  EXPECT_EQ(std::strlen(m.Args[0]), 252u);
  EXPECT_EQ(std::strlen(m.Title), 63u);
  for (int i = 0; i < m.NoItems; i++) {
    EXPECT_GE(m.Args[i], m.ItemString);
    EXPECT_LT(m.Args[i], m.ItemString + sizeof m.ItemString);
  }
  EXPECT_EQ(m.Init(nullptr, nullptr), 0);
}

// Go
// ------------------------------------------------------------------------------------------------

TEST_F(Menus, NoItemsMeansNothingIsDrawnAndNothingChosen) {
  Menu m;
  const uint64_t frames = Frames(), now = headless::Now();
  EXPECT_EQ(m.Go(&screen, "Trigger Level", "", 7), 0);
  EXPECT_EQ(m.Go(&screen, "Trigger Level", ",,,", 7), 0);
  EXPECT_EQ(m.Go(nullptr, "Trigger Level", kTriggerItems, 7), 0);
  EXPECT_EQ(Pixels(), before);
  EXPECT_EQ(Frames(), frames);
  EXPECT_EQ(headless::Now(), now);
}

TEST_F(Menus, FlagsZeroShowNothingAndChooseNothing) {
  Menu m;
  const uint64_t frames = Frames(), now = headless::Now();
  Tap(100, 130);
  EXPECT_EQ(m.Go(&screen, "Trigger Level", kTriggerItems, 0), 0);
  EXPECT_EQ(Pixels(), before);
  EXPECT_EQ(Frames(), frames);
  EXPECT_EQ(headless::Now(), now);
}

TEST_F(Menus, FlagsFourShowTheMenuAtOnceAndRemoveItAtOnceWithTheChosenValue) {
  Menu m;
  const uint64_t frames = Frames(), now = headless::Now();
  Tap(100, 173 + 10);  // the item "2", value 3
  EXPECT_EQ(m.Go(&screen, "Trigger Level", kTriggerItems, MENU_WAIT), 3);
  EXPECT_EQ(Frames(), frames + 1);
  EXPECT_EQ(headless::Now(), now);
  // Put back as it was, not shown: the caller's next frame shows it.
  EXPECT_EQ(Pixels(), before);
  CDib shown;
  Shown(shown);
  // Outside the panel the screen is darkened by a quarter on the desk.
  CDib dark;
  ASSERT_EQ(dark.Create(240, 320), 1);
  std::memcpy(dark.m_Bits, before.data(), before.size() * sizeof(PIXEL));
  if constexpr (!kPocket) dark.Darken(0, 0, 240, 320, 0);
  for (auto [x, y] : {std::pair{0, 0}, {239, 319}, {5, 150}, {120, 60}, {232, 240}})
    EXPECT_EQ(shown.GetPixel(x, y), dark.GetPixel(x, y)) << x << "," << y;
  // The panel's outline: cyan inside blue.
  const int left = m.MenuRect.left, top = m.MenuRect.top;
  EXPECT_EQ(shown.GetPixel(left - 1, top + 30), ColorValue(0, 255, 255));
  EXPECT_EQ(shown.GetPixel(left - 2, top + 30), ColorValue(0, 0, 255));
}

TEST_F(Menus, TheZoomOpensAndClosesInPacedStepsAroundTheWait) {
  Menu m;
  m.Init("Trigger Level", kTriggerItems);
  const RECT r = m.MenuRect;
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int step = kPocket ? 10 : 5;
  const uint64_t pace = kPocket ? 5 : 10;
  uint64_t steps = 0;
  for (int i = 1; i < w / 2; i += step) steps++;
  for (int i = 1; i < h / 2; i += step) steps++;
  for (int i = h / 2; i > 0; i -= step) steps++;
  for (int i = w / 2; i >= 0; i -= step) steps++;
  EXPECT_EQ(steps, kPocket ? 11u + 8u + 8u + 11u : 18u + 15u + 15u + 19u);

  const uint64_t frames = Frames(), now = headless::Now();
  Tap(100, 117 + 5);  // "Off", value 1
  EXPECT_EQ(m.Go(&screen, "Trigger Level", kTriggerItems, MENU_OPEN | MENU_WAIT | MENU_CLOSE), 1);
  EXPECT_EQ(Frames(), frames + steps + 1);
  EXPECT_EQ(headless::Now(), now + steps * pace);
  EXPECT_EQ(Pixels(), before);

  // The last step is the thinnest bar across the middle, two rows high: on
  // the desk it has shrunk to nothing, on the pocket it is 10 pixels wide.
  CDib shown, background;
  Shown(shown);
  ASSERT_EQ(background.Create(240, 320), 1);
  std::memcpy(background.m_Bits, before.data(), before.size() * sizeof(PIXEL));
  if constexpr (!kPocket) background.Darken(0, 0, 240, 320, 0);
  const int cx = r.left + w / 2, cy = r.top + h / 2;
  for (int dy : {-2, -1, 0, 1})
    for (int dx : {-6, -5, 0, 4, 5}) {
      const bool bar = kPocket && dx >= -5 && dx < 5 && dy >= -1 && dy < 1;
      const PIXEL b = background.GetPixel(cx + dx, cy + dy);
      const PIXEL want = bar ? ColorOnColor(b, ColorValue(255, 255, 255), 128) : b;
      EXPECT_EQ(shown.GetPixel(cx + dx, cy + dy), want) << dx << "," << dy;
    }
}

TEST_F(Menus, QuittingDuringTheWaitClosesTheMenuWithNothingChosen) {
  Menu m;
  PostQuitMessage(5);
  EXPECT_EQ(m.Go(&screen, "Trigger Level", kTriggerItems, MENU_WAIT | MENU_CLOSE), 0);
  EXPECT_EQ(Pixels(), before);
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 5u);
}

TEST_F(Menus, PocketGameKeysEndTheWaitWithNothingChosen) {
  Menu m;
  headless::InjectWindowMessage(hwnd, WM_KEYDOWN, VK_LEFT, 0);
  Tap(100, 145 + 5);
  const int got = m.Go(&screen, "Trigger Level", kTriggerItems, MENU_WAIT);
  if constexpr (kPocket) {
    EXPECT_EQ(got, 0);
  } else {
    EXPECT_EQ(got, 2);  // the desk drops keys and takes the tap
  }
}

// Golden images -------------------------------------------------------------------------------

TEST_F(Menus, GoldenTheOpenTriggerMenu) {
  Menu m;
  Tap(100, 201 + 5);
  EXPECT_EQ(m.Go(&screen, "Trigger Level", kTriggerItems, MENU_WAIT), 4);
  CDib shown;
  Shown(shown);
  EXPECT_TRUE(MatchesGolden(shown, "trigger-menu"));
}

TEST_F(Menus, GoldenANineItemMenuWithoutTitle) {
  Menu m;
  Tap(100, 60);
  EXPECT_EQ(m.Go(&screen, "", "10A,20B,30C,40D,50E,60F,70G,80H,90I", MENU_WAIT), 10);
  CDib shown;
  Shown(shown);
  EXPECT_TRUE(MatchesGolden(shown, "nine-item-menu"));
}

}  // namespace

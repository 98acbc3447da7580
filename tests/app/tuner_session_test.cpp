// A whole session of the tuner in this process: the frame's WinMain with
// the program's own application object on the headless backend, a 440 Hz
// tone on the scripted microphone and the virtual clock, while a second
// thread plays the user: it looks at what the display shows and taps and
// presses keys. It sets the trigger level through the menu, calibrates the
// meter and exits, and the settings are in PREFS.DAT afterwards (in the
// test's own configuration folder).
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common_code/font.h"
#include "platform/winapi/resources.h"
#include "support/frame_globals.h"
#include "support/pixel_format.h"
#include "support/private_folders.h"
#include "support/process.h"
#include "support/tuner_globals.h"
#include "support/wav.h"
#include "tuner/app.h"

namespace {

using testing_support::FrameTest;
using testing_support::ReadFile;
using testing_support::ScopedPixelFormat;
using testing_support::TempDir;
using testing_support::TestSettingsFile;
using testing_support::WaitFor;

// The display's pixel layout: the desk window's 5-5-5, the pocket's 5-6-5.
constexpr uint32_t kLayout = kPocket ? kfDirect565 : kfDirect555;
constexpr int kW = 240, kH = 320;
constexpr int kStatusY = 140;
// The trigger menu's frame (its outer top-left corner is cyan while it
// waits for a choice) and the centre of its item "3".
constexpr int kMenuCornerX = kPocket ? 14 : 29, kMenuCornerY = 86;
constexpr int kItem3X = 120, kItem3Y = 211;
constexpr int kTimeoutMs = 60000;

uint16_t Rgb(int r, int g, int b) {
  if constexpr (kPocket) return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
  return static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | b >> 3);
}

class Session : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    headless::AddCaptureDevice(headless::ToneScript(440, 0.5));
  }
  void TearDown() override {
    if (user.joinable()) user.join();
    FrameTest::TearDown();
    testing_support::ResetTunerGlobals();
  }

  // The rows of the status line as they look with `text` on it.
  std::vector<uint16_t> StatusRows(const char* text) {
    ScopedPixelFormat layout{kLayout};
    CDib meter;
    Font status;
    EXPECT_EQ(meter.LoadBMP(GetModuleHandle(nullptr), "METER"), 1);
    EXPECT_EQ(status.LoadGAPIFont(GetModuleHandle(nullptr), "MENUFONT"), 1);
    status.Print(&meter, -1, kStatusY, text, 0, kCopyTransparent);
    statusHeight = status.Height;
    return std::vector<uint16_t>(meter.m_Bits + kStatusY * kW,
                                 meter.m_Bits + (kStatusY + statusHeight) * kW);
  }

  // The user's side, on its own thread. Each step waits for what the
  // display shows; a step that waits in vain ends the program.
  HWND Window() { return FindWindow(kFrameClassName, kFrameTitle); }
  bool Shows(const std::function<bool(const std::vector<uint16_t>&)>& seen) {
    return WaitFor(
        [&] {
          HWND h = Window();
          if (!h) return false;
          headless::DisplayState d = headless::Display(h);
          return d.Open && d.Pixels.size() == static_cast<size_t>(kW * kH) && seen(d.Pixels);
        },
        kTimeoutMs);
  }
  static uint16_t At(const std::vector<uint16_t>& p, int x, int y) { return p[y * kW + x]; }
  void Tap(int x, int y) {
    headless::InjectWindowMessage(Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    headless::InjectWindowMessage(Window(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }
  void Key(unsigned vk) { headless::InjectWindowMessage(Window(), WM_KEYDOWN, vk, 0); }
  void Fail(const std::string& step) {
    failedStep = step;
    headless::InjectQuit();
  }

  TempDir dir;
  testing_support::CurrentFolder here{dir.Path()};
  std::thread user;
  std::string failedStep;  // written by the user's thread, read after join
  int statusHeight = 0;
};

TEST_F(Session, TriggerThreeAndAdjustmentTwoChosenOnScreenAreSavedAtExit) {
  const std::vector<uint16_t> adjust2 = StatusRows("Adjust: 2");
  ASSERT_GT(statusHeight, 0);
  const uint16_t cyan = Rgb(0, 255, 255), red = Rgb(255, 0, 0), green = Rgb(0, 255, 0);

  user = std::thread([&] {
    // The tuner shows the note: band 4 red, the first strength segment lit.
    if (!Shows([&](const auto& p) { return At(p, 130, 257) == red && At(p, 25, 7) == green; }))
      return Fail("the tuner never showed the tone");
    Tap(65, 300);  // "Trigger: 1"
    if (!Shows([&](const auto& p) { return At(p, kMenuCornerX, kMenuCornerY) == cyan; }))
      return Fail("the trigger menu never opened");
    Tap(kItem3X, kItem3Y);
    if (!Shows([&](const auto& p) { return At(p, kMenuCornerX, kMenuCornerY) != cyan; }))
      return Fail("the trigger menu never closed");
    Key(VK_UP);
    Key(VK_RIGHT);
    Key(VK_RIGHT);
    if (!Shows([&](const auto& p) {
          return std::equal(adjust2.begin(), adjust2.end(), p.begin() + kStatusY * kW);
        }))
      return Fail("the status line never showed Adjust: 2");
    Tap(175, 300);  // "Exit"
  });
  const int status = WinMain(game, GetModuleHandle(nullptr));
  user.join();
  EXPECT_EQ(failedStep, "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(TriggerLevel, 3);
  EXPECT_EQ(MeterAdjust, 2);
  EXPECT_STREQ(szTriggerLevel, "Trigger: 3");
  EXPECT_EQ(ReadFile(TestSettingsFile()), (std::vector<unsigned char>{3, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_TRUE(headless::MessageBoxes().empty());
  EXPECT_FALSE(headless::DisplayHeldAwake());  // given back at the end
}

TEST_F(Session, PocketHardwareKeysOpenTheMenuAndEndTheProgram) {
  if constexpr (!kPocket) GTEST_SKIP() << "the desk has no hardware keys";
  const uint16_t cyan = Rgb(0, 255, 255), red = Rgb(255, 0, 0);
  bool heldAwake = false;
  user = std::thread([&] {
    if (!Shows([&](const auto& p) { return At(p, 130, 257) == red; }))
      return Fail("the tuner never showed the tone");
    heldAwake = headless::DisplayHeldAwake();
    Key('A');
    if (!Shows([&](const auto& p) { return At(p, kMenuCornerX, kMenuCornerY) == cyan; }))
      return Fail("the A key opened no menu");
    Tap(kItem3X, kItem3Y - 28);  // "2"
    if (!Shows([&](const auto& p) { return At(p, kMenuCornerX, kMenuCornerY) != cyan; }))
      return Fail("the trigger menu never closed");
    Key('B');
  });
  const int status = WinMain(game, GetModuleHandle(nullptr));
  user.join();
  EXPECT_EQ(failedStep, "");
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(heldAwake);
  EXPECT_FALSE(headless::DisplayHeldAwake());
  EXPECT_EQ(ReadFile(TestSettingsFile()), (std::vector<unsigned char>{2, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace

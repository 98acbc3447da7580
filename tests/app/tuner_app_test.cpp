// The tuner application object: its start and end (settings, capture, the
// pocket's display hold), keys, taps and commands, the trigger menu and its
// golden screen, the pocket's idle-timer resets, and capture that overflows
// or cannot start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common_code/menu.h"
#include "common_code/shader.h"
#include "platform/services/power.h"
#include "support/frame_globals.h"
#include "support/golden.h"
#include "support/private_folders.h"
#include "support/queued_audio.h"
#include "support/tuner_globals.h"
#include "support/wav.h"
#include "tuner/analysis.h"
#include "tuner/app.h"

namespace {

using testing_support::FrameTest;
using testing_support::MatchesGolden;
using testing_support::QueuedAudio;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::TestSettingsFile;
using testing_support::WriteFile;

using testing_support::kTriggerItems;
constexpr UINT kSnapshotMessage = WM_USER + 7;

// What the test window was sent, and the display as it stood when the
// snapshot message arrived.
std::vector<UINT> g_Received;
std::vector<uint16_t> g_Snapshot;

LRESULT CALLBACK TestProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  g_Received.push_back(message);
  if (message == kSnapshotMessage) g_Snapshot = headless::Display(hwnd).Pixels;
  if (message == WM_CLOSE) return 0;  // the test decides when the window goes
  return DefWindowProc(hwnd, message, wParam, lParam);
}

std::vector<unsigned char> PrefsImage(int trigger, int adjust) {
  std::vector<unsigned char> b(8);
  for (int i = 0; i < 4; i++) {
    b[i] = static_cast<unsigned char>(static_cast<unsigned>(trigger) >> (8 * i));
    b[4 + i] = static_cast<unsigned char>(static_cast<unsigned>(adjust) >> (8 * i));
  }
  return b;
}

// The application object on a window of the test's own, with its screen
// and artwork; PREFS.DAT lives in the test's own configuration folder for
// both builds, and the current folder is one of the test's own.
class TunerApp : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    ResetSettings();
    g_Received.clear();
    g_Snapshot.clear();
    ASSERT_EQ(InitLLSLibrary(), 1);
    InitSQRTables();
    InitButtons();
    hwnd = OpenWindow("TunerAppTest", TestProc);
    ASSERT_NE(hwnd, nullptr);
    game.hWindow = hwnd;
    ASSERT_EQ(game.screen.Init(hwnd, 0), 1);
  }
  void TearDown() override {
    waveIn.StopThread();
    calc_end();
    KeepDisplayAwake(false);
    game.screen.Exit();
    game.hWindow = nullptr;
    FrameTest::TearDown();
    ExitLLSLibrary();
    ResetSettings();
    DefaultKeys = GXKeyList{};
  }
  static void ResetSettings() {
    testing_support::ResetTunerGlobals();
    IdleTimerCount = 0;
    UpdateButtonBuffers();
  }

  void Key(unsigned vk) { game.ProcessMessage(WM_KEYDOWN, vk, 0); }
  // A tap as the frame passes it on: down to the application, up queued.
  void Tap(int x, int y) { game.ProcessMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
  // A tap the next message loop will find, in screen pixels.
  void QueueTap(int x, int y) {
    headless::InjectWindowMessage(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    headless::InjectWindowMessage(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }
  // Commands waiting in the window's queue, in order.
  std::vector<unsigned> PostedCommands() {
    std::vector<unsigned> ids;
    MSG m;
    while (PeekMessage(&m, hwnd, WM_COMMAND, WM_COMMAND, PM_REMOVE))
      ids.push_back(static_cast<unsigned>(m.wParam));
    return ids;
  }
  // The centre of the trigger menu's item `i` ("Off", "1", "2", "3").
  POINT MenuItem(int i) {
    Menu m;
    EXPECT_EQ(m.Init("Trigger Level", kTriggerItems), 4);
    const RECT& r = m.ba.button[i].r;
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  int Sent(UINT message) const {
    int n = 0;
    for (UINT m : g_Received) n += m == message;
    return n;
  }
  bool ScreenIs(const std::vector<PIXEL>& pixels) const {
    return std::memcmp(game.screen.m_Bits, pixels.data(), pixels.size() * sizeof(PIXEL)) == 0;
  }
  std::vector<PIXEL> ScreenPixels() const {
    return std::vector<PIXEL>(game.screen.m_Bits,
                              game.screen.m_Bits + game.screen.W * game.screen.H);
  }

  TempDir dir;
  testing_support::CurrentFolder here{dir.Path()};
  HWND hwnd = nullptr;
};

// Keys ------------------------------------------------------------------------------------------

TEST_F(TunerApp, ArrowKeysMoveTheAdjustmentOnlyInAdjustModeAndStopAtTheLimits) {
  Key(VK_RIGHT);
  Key(VK_LEFT);
  EXPECT_EQ(MeterAdjust, 0);  // adjust mode is off
  Key(VK_UP);
  EXPECT_EQ(AdjustMode, 1);
  Key(VK_RIGHT);
  Key(VK_RIGHT);
  Key(VK_LEFT);
  EXPECT_EQ(MeterAdjust, 1);
  MeterAdjust = 99;
  Key(VK_RIGHT);
  Key(VK_RIGHT);
  EXPECT_EQ(MeterAdjust, 100);
  MeterAdjust = -99;
  Key(VK_LEFT);
  Key(VK_LEFT);
  EXPECT_EQ(MeterAdjust, -100);
  Key(VK_DOWN);  // no function
  Key(VK_RETURN);
  EXPECT_EQ(MeterAdjust, -100);
  EXPECT_EQ(AdjustMode, 1);
  Key(VK_UP);
  EXPECT_EQ(AdjustMode, 0);
  EXPECT_EQ(MeterAdjust, -100);  // the value stays when the mode goes off
  Key(VK_RIGHT);
  EXPECT_EQ(MeterAdjust, -100);
  EXPECT_TRUE(PostedCommands().empty());
}

TEST_F(TunerApp, PocketAAndBKeysPostTheTriggerAndExitCommandsBeforeTheArrowsAreLookedAt) {
  DefaultKeys = GXGetDefaultKeys(GX_NORMALKEYS);
  Key('A');
  Key('B');
  if constexpr (!kPocket) {
    EXPECT_TRUE(PostedCommands().empty());
    return;
  }
  EXPECT_EQ(PostedCommands(), (std::vector<unsigned>{ID_TRIGGER, ID_EXIT}));
  // A handheld whose A key is the left arrow: the key is the trigger key.
  AdjustMode = 1;
  DefaultKeys.vkA = VK_LEFT;
  Key(VK_LEFT);
  EXPECT_EQ(MeterAdjust, 0);
  EXPECT_EQ(PostedCommands(), std::vector<unsigned>{ID_TRIGGER});
  Key(VK_RIGHT);
  EXPECT_EQ(MeterAdjust, 1);
}

// Taps and commands -----------------------------------------------------------------------------

TEST_F(TunerApp, TapsOnTheButtonsPostTheirCommandsAndOthersNothing) {
  game.DisplayInit();
  Tap(65, 300);
  Tap(175, 300);
  Tap(120, 200);
  Tap(120, 300);  // between the buttons
  EXPECT_EQ(PostedCommands(), (std::vector<unsigned>{ID_TRIGGER, ID_EXIT}));
  // Only a press counts; releases and moves are the buttons' business in a
  // modal wait.
  game.ProcessMessage(WM_LBUTTONUP, 0, MAKELPARAM(65, 300));
  game.ProcessMessage(WM_MOUSEMOVE, 0, MAKELPARAM(65, 300));
  EXPECT_TRUE(PostedCommands().empty());
}

TEST_F(TunerApp, ExitAsksTheWindowToCloseAndTheApplicationAlwaysAgrees) {
  game.ProcessMessage(WM_COMMAND, ID_EXIT, 0);
  EXPECT_EQ(Sent(WM_CLOSE), 1);
  EXPECT_EQ(game.DisplayExit(), 1);
  game.ProcessMessage(WM_COMMAND, 99, 0);  // no such command
  EXPECT_EQ(Sent(WM_CLOSE), 1);
  EXPECT_EQ(TriggerLevel, 1);
}

// The trigger menu ------------------------------------------------------------------------------

TEST_F(TunerApp, EachTriggerMenuChoiceSetsTheLevelAndTheButtonCaption) {
  game.DisplayInit();
  const char* captions[] = {"Trigger: OFF", "Trigger: 1", "Trigger: 2", "Trigger: 3"};
  for (int item : {3, 0, 2, 1}) {
    POINT p = MenuItem(item);
    QueueTap(p.x, p.y);
    game.ProcessMessage(WM_COMMAND, ID_TRIGGER, 0);
    EXPECT_EQ(TriggerLevel, item) << item;
    EXPECT_STREQ(szTriggerLevel, captions[item]) << item;
    // The button shows the buffer itself.
    EXPECT_EQ(buttons.button[buttons.GetIndexFromID(ID_TRIGGER) - 1].Text, szTriggerLevel);
  }
}

TEST_F(TunerApp, AMenuLeftWithoutAChoiceKeepsTheLevel) {
  game.DisplayInit();
  TriggerLevel = 2;
  UpdateButtonBuffers();
  if constexpr (kPocket) {
    // A hardware key puts the menu away.
    headless::InjectWindowMessage(hwnd, WM_KEYDOWN, 'A', 0);
  } else {
    // A tap beside the items, then the program is asked to quit.
    QueueTap(5, 5);
    PostQuitMessage(0);
  }
  SelectTrigger(&game.screen);
  EXPECT_EQ(TriggerLevel, 2);
  EXPECT_STREQ(szTriggerLevel, "Trigger: 2");
  if constexpr (!kPocket) {
    MSG m;
    EXPECT_TRUE(PeekMessage(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // kept for the loop
  }
}

TEST_F(TunerApp, GoldenTriggerMenuOverASteadyA440) {
  game.DisplayInit();
  QueuedAudio audio;
  audio.AddTone(440, 60, 20);
  for (int i = 0; i < kWindowSize / kPieceSize + 4; i++)
    ASSERT_EQ(PaintTunerFrame(&game.screen, audio), 1);
  game.screen.Refresh();
  const std::vector<PIXEL> tuner = ScreenPixels();
  // The snapshot message is taken while the menu waits for its tap.
  PostMessage(hwnd, kSnapshotMessage, 0, 0);
  POINT p = MenuItem(3);
  QueueTap(p.x, p.y);
  game.ProcessMessage(WM_COMMAND, ID_TRIGGER, 0);
  EXPECT_EQ(TriggerLevel, 3);
  ASSERT_EQ(g_Snapshot.size(), 240u * 320u);
  CDib open;
  ASSERT_EQ(open.Create(240, 320), 1);
  std::memcpy(open.m_Bits, g_Snapshot.data(), g_Snapshot.size() * sizeof(PIXEL));
  EXPECT_TRUE(MatchesGolden(open, "tuner-trigger-menu"));
  // The menu leaves the screen as it found it; the next frame shows the
  // new caption.
  EXPECT_TRUE(ScreenIs(tuner));
}

// Start and end ---------------------------------------------------------------------------------

TEST_F(TunerApp, StartLoadsTheSettingsAndStartsCaptureAndTheEndSavesAndStops) {
  std::filesystem::create_directories(std::filesystem::path(TestSettingsFile()).parent_path());
  WriteFile(TestSettingsFile(), PrefsImage(2, -7));
  headless::AddCaptureDevice(headless::ToneScript(440));
  int orientation = 5;
  game.ProgramStart(orientation);
  EXPECT_EQ(TriggerLevel, 2);
  EXPECT_EQ(MeterAdjust, -7);
  EXPECT_EQ(waveIn.IsActive(), 1);
  EXPECT_TRUE(headless::MessageBoxes().empty());
  EXPECT_EQ(orientation, kPocket ? 0 : 5);  // the pocket asks for portrait
  EXPECT_EQ(headless::DisplayHeldAwake(), kPocket);
  EXPECT_EQ(SquareScreen, 0);  // the display is 240 x 320
  game.DisplayInit();
  EXPECT_STREQ(szTriggerLevel, "Trigger: 2");
  EXPECT_EQ(buttons.NoButtons, 2);

  Key(VK_UP);
  Key(VK_RIGHT);
  EXPECT_EQ(game.DisplayExit(), 1);
  EXPECT_EQ(waveIn.IsActive(), kPocket ? 0 : 1);  // the pocket stops before the window goes
  game.ProgramEnd();
  EXPECT_EQ(waveIn.IsActive(), 0);
  EXPECT_EQ(outbuf, nullptr);
  EXPECT_FALSE(headless::DisplayHeldAwake());
  EXPECT_EQ(ReadFile(TestSettingsFile()), PrefsImage(2, -6));
}

// Frames for `ms` milliseconds of the clock, one per piece's worth of time.
void PaintFor(int ms) {
  const int piece = 1000 * kPieceSize / kSampleRate;
  for (int t = 0; t < ms; t += piece) {
    Sleep(piece);
    game.Paint();
  }
}

// No reading on the meter: the needle rests at the flat stop, the strength
// bar is dark.
bool ShowsNoReading() {
  return game.screen.GetPixel(60, 117) == ColorValue(0, 0, 0) &&
         game.screen.GetPixel(25, 7) != ColorValue(0, 255, 0);
}

TEST_F(TunerApp, WithoutACaptureDeviceFramesShowSilenceAndOneIsTriedEveryTwoSeconds) {
  headless::CaptureScript refusing = headless::ToneScript(440);
  refusing.FailOpen = true;
  const int refused = headless::AddCaptureDevice(refusing);
  int orientation = 0;
  game.ProgramStart(orientation);
  std::vector<headless::RecordedMessageBox> boxes = headless::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "Unable to start WAVEIN thread");
  EXPECT_EQ(boxes[0].Caption, "Debug");
  EXPECT_EQ(boxes[0].Type, static_cast<unsigned>(MB_OK));
  game.DisplayInit();
  game.screen.Clear(ColorValue(0, 0, 255));
  PaintFor(3000);
  EXPECT_EQ(headless::CaptureStatsOf(refused).Opens, 0);  // refusals are not counted
  EXPECT_EQ(Tuner.bufferlen, kWindowSize);                // filled with silence
  EXPECT_TRUE(ShowsNoReading());
  // The buttons are there to be used (the trigger button's face, not the blue).
  EXPECT_NE(game.screen.GetPixel(65, 300), ColorValue(0, 0, 255));

  // A device that answers is taken up at the next try, within 2 s.
  headless::RemoveDevices();
  const int tone = headless::AddCaptureDevice(headless::ToneScript(440, 0.5));
  testing::internal::CaptureStderr();
  PaintFor(2000);
  EXPECT_EQ(waveIn.IsActive(), 1);
  PaintFor(1500);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("recording again from Default device (Scripted tone 440 Hz)"),
            std::string::npos)
      << said;
  EXPECT_EQ(headless::CaptureStatsOf(tone).Opens, 1);
  EXPECT_NEAR(Tuner.LastFrequency, 440.0, 0.5);
  EXPECT_FALSE(ShowsNoReading());
  EXPECT_EQ(headless::MessageBoxes().size(), 1u);
  // The settings still go through the run.
  MeterAdjust = 4;
  game.ProgramEnd();
  EXPECT_EQ(ReadFile(TestSettingsFile()), PrefsImage(1, 4));
}

TEST_F(TunerApp, ACaptureDeviceThatGoesAwayLeavesNoStaleReadingAndIsOpenedAgain) {
  headless::CaptureScript tone = headless::ToneScript(440, 0.5);
  tone.VanishAfterSeconds = 2;  // after each opening
  const int id = headless::AddCaptureDevice(tone);
  int orientation = 0;
  game.ProgramStart(orientation);
  game.DisplayInit();
  testing::internal::CaptureStderr();
  PaintFor(1900);
  EXPECT_NEAR(Tuner.LastFrequency, 440.0, 0.5);
  PaintFor(300);  // it goes, and the very next frame shows it
  EXPECT_EQ(waveIn.IsActive(), 0);
  EXPECT_EQ(Tuner.LastFrequency, 0.0);
  EXPECT_TRUE(ShowsNoReading());
  PaintFor(1500);
  EXPECT_TRUE(ShowsNoReading());
  PaintFor(1500);  // opened again 2 s after it went, and read
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(headless::CaptureStatsOf(id).Opens, 2);
  EXPECT_NEAR(Tuner.LastFrequency, 440.0, 0.5);
  EXPECT_FALSE(ShowsNoReading());
  EXPECT_NE(said.find("the capture device went away; trying again every 2 seconds"),
            std::string::npos)
      << said;
  game.ProgramEnd();
}

TEST_F(TunerApp, PocketResetsTheSystemIdleTimerOnEvery200thFrame) {
  headless::AddCaptureDevice(headless::ToneScript(440));
  int orientation = 0;
  game.ProgramStart(orientation);
  game.DisplayInit();
  ASSERT_EQ(waveIn.IsActive(), 1);
  for (int i = 0; i < 199; i++) game.Paint();
  EXPECT_EQ(headless::IdleTimerResets(), 0u);
  game.Paint();
  EXPECT_EQ(headless::IdleTimerResets(), kPocket ? 1u : 0u);
  for (int i = 0; i < 399; i++) game.Paint();
  EXPECT_EQ(headless::IdleTimerResets(), kPocket ? 2u : 0u);
  EXPECT_EQ(IdleTimerCount, kPocket ? 199 : 0);
  game.ProgramEnd();
}

TEST_F(TunerApp, FramesDrawTheTunerOnceCaptureDeliversAudio) {
  headless::AddCaptureDevice(headless::ToneScript(440, 0.5));
  int orientation = 0;
  game.ProgramStart(orientation);
  game.DisplayInit();
  // Each piece takes 64 ms (desk) or 128 ms (pocket) to record.
  for (int i = 0; i < 40; i++) {
    Sleep(1000 * kPieceSize / kSampleRate);
    game.Paint();
  }
  EXPECT_GE(Tuner.bufferlen, kWindowSize);
  EXPECT_NEAR(Tuner.LastFrequency, 440.0, 0.5);
  // The strength bar is lit and band 4 is red.
  EXPECT_EQ(game.screen.GetPixel(25, 7), ColorValue(0, 255, 0));
  EXPECT_EQ(game.screen.GetPixel(130, 257), ColorValue(255, 0, 0));
  game.ProgramEnd();
}

// Capture ---------------------------------------------------------------------------------------

// A recording whose every byte says which second it was recorded in.
headless::CaptureScript SecondsScript() {
  headless::CaptureScript s;
  s.Fill = [](const platform::StreamFormat& format, uint64_t offset, unsigned char* out,
              size_t len) {
    for (size_t i = 0; i < len; i++)
      out[i] = static_cast<unsigned char>((offset + i) / format.BytesPerSecond());
  };
  return s;
}

TEST_F(TunerApp, OverflowDiscardsTheStaleRingAndResumesWithFreshAudio) {
  headless::AddCaptureDevice(SecondsScript());
  // The object takes one configuration per run (an earlier test of the same
  // run may have given it this one already).
  waveIn.Init(waveInEventCB, kPriorityNormal, 4, kPieceSize, 1, kSampleRate, 8);
  ASSERT_EQ(waveIn.StartThread(), 1);
  // Nobody reads for two seconds: the ring of four pieces overflows long
  // before, and each overflow starts it afresh.
  const DWORD piece_ms = 1000 * kPieceSize / kSampleRate;
  Sleep(2000);
  Sleep(piece_ms);
  EXPECT_EQ(waveIn.IsActive(), 1);
  std::vector<unsigned char> got(kPieceSize);
  ASSERT_EQ(waveIn.ReadData(got.data(), kPieceSize), 1);
  // Audio of the last second, not the first pieces ever recorded.
  EXPECT_GE(got.front(), 1);
}

}  // namespace

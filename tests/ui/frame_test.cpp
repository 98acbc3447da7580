// The program frame on the headless backend and its virtual clock, driving
// an application of the test's own: the frame clock, one message per pass,
// the close request and DisplayExit, the splash, input routing and tap
// coordinates at every window scale, the window and its display, a failed
// start, the pocket's memory check and activation, and a second start of
// the real program bringing this one to the front.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common_code/PPCAPI.h"
#include "common_code/sound.h"
#include "platform/winapi/mmsystem.h"
#include "platform/winapi/resources.h"
#include "support/frame_globals.h"
#include "support/process.h"
#include "support/wav.h"

namespace {

using testing_support::FrameTest;
using testing_support::TempDir;

constexpr DWORD kFrameTime = kPocket ? 50 : 33;
const char* const kProgramPath = kPocket ? ZELVARO_POCKET_PATH : ZELVARO_DESK_PATH;

struct Received {
  unsigned Message;
  unsigned WParam;
  long LParam;
  DWORD Time;
};

// An application that records what the frame does with it.
class TestApp : public TPocketPCWindow {
 public:
  void ProgramStart(int& orientation) override {
    Started++;
    StartTime = timeGetTime();
    orientation = Orientation;
  }
  void ProgramEnd() override { Ended++; }
  void DisplayInit() override {
    DisplayInits++;
    InitTime = timeGetTime();
    headless::DisplayState shown = headless::Display(hWindow);
    InitFrames = shown.Frames;
    PixelsAtInit = shown.Pixels;
    ScreenAtInit.Create(screen.W, screen.H);
    CopyDib(&ScreenAtInit, &screen);
  }
  int DisplayExit() override {
    ExitAsked++;
    return ExitAnswer;
  }
  void DisplaySplash() override {
    SplashFramesBefore = headless::Display(hWindow).Frames;
    SplashTimeBefore = timeGetTime();
    if (SplashResource)
      ShowSplash(screen, SplashResource);
    else
      TPocketPCWindow::DisplaySplash();
    SplashFramesAfter = headless::Display(hWindow).Frames;
    SplashTimeAfter = timeGetTime();
  }
  void Paint() override {
    Log.push_back({'P', timeGetTime()});
    PaintTimes.push_back(timeGetTime());
    FramesAtPaint.push_back(headless::Display(hWindow).Frames);
    if (OnPaint) OnPaint(*this);
  }
  void ProcessMessage(unsigned message, unsigned wParam, long lParam) override {
    Log.push_back({'M', timeGetTime()});
    Messages.push_back({message, wParam, lParam, timeGetTime()});
  }

  std::vector<Received> Of(unsigned message) const {
    std::vector<Received> out;
    for (const Received& r : Messages)
      if (r.Message == message) out.push_back(r);
    return out;
  }

  std::function<void(TestApp&)> OnPaint;
  int Orientation = 0;  // what ProgramStart asks for
  int ExitAnswer = 1;
  const char* SplashResource = nullptr;  // null: the base class's splash

  int Started = 0, Ended = 0, DisplayInits = 0, ExitAsked = 0;
  DWORD StartTime = 0, InitTime = 0, SplashTimeBefore = 0, SplashTimeAfter = 0;
  uint64_t InitFrames = 0, SplashFramesBefore = 0, SplashFramesAfter = 0;
  std::vector<uint16_t> PixelsAtInit;  // the last frame shown before DisplayInit
  CDib ScreenAtInit;                   // the screen then
  std::vector<DWORD> PaintTimes;
  std::vector<uint64_t> FramesAtPaint;
  std::vector<Received> Messages;
  std::vector<std::pair<char, DWORD>> Log;  // 'P' Paint, 'M' ProcessMessage, in order
};

class Frame : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    // The single-instance lock of each test lives in a folder of its own.
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) savedRuntime = old;
    hadRuntime = old != nullptr;
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
  }
  void TearDown() override {
    if (hadRuntime)
      setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
    FrameTest::TearDown();
  }

  int Run(TestApp& app, unsigned long frames) {
    ProgramOptions.CloseAfterFrames = frames;
    return WinMain(app, GetModuleHandle(nullptr));
  }

  TempDir runtime;
  std::string savedRuntime;
  bool hadRuntime = false;
};

// The frame clock ---------------------------------------------------------------------------

TEST_F(Frame, FramesComeOnlyOnceMoreThanTheFrameTimeHasPassedEachShownOnce) {
  TestApp app;
  ASSERT_EQ(Run(app, 20), 0);
  ASSERT_EQ(app.PaintTimes.size(), 20u);
  for (size_t i = 1; i < app.PaintTimes.size(); i++) {
    // The loop sleeps 1 ms a pass, so the first due pass is exactly 34 ms
    // (desk) or 51 ms (pocket) after the last frame.
    EXPECT_EQ(app.PaintTimes[i] - app.PaintTimes[i - 1], kFrameTime + 1) << i;
    EXPECT_EQ(app.FramesAtPaint[i] - app.FramesAtPaint[i - 1], 1u) << i;
  }
  EXPECT_EQ(app.Started, 1);
  EXPECT_EQ(app.DisplayInits, 1);
  EXPECT_EQ(app.ExitAsked, 1);  // --frames asks the window to close
  EXPECT_EQ(app.Ended, 1);
  EXPECT_FALSE(IsWindow(app.hWindow));
  EXPECT_EQ(app.bUpdate, 0);
}

TEST_F(Frame, TwoMessagesArrivingTogetherAreHandledOnePassApart) {
  TestApp app;
  app.OnPaint = [](TestApp& a) {
    if (a.PaintTimes.size() != 2) return;
    headless::InjectWindowMessage(a.hWindow, WM_KEYDOWN, VK_LEFT, 0);
    headless::InjectWindowMessage(a.hWindow, WM_KEYDOWN, VK_RIGHT, 0);
  };
  ASSERT_EQ(Run(app, 4), 0);
  std::vector<Received> keys = app.Of(WM_KEYDOWN);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].WParam, static_cast<unsigned>(VK_LEFT));
  EXPECT_EQ(keys[1].WParam, static_cast<unsigned>(VK_RIGHT));
  EXPECT_EQ(keys[1].Time - keys[0].Time, 1u);
  // The frames keep their pace around them.
  for (size_t i = 1; i < app.PaintTimes.size(); i++)
    EXPECT_EQ(app.PaintTimes[i] - app.PaintTimes[i - 1], kFrameTime + 1) << i;
}

TEST_F(Frame, APassHandlesItsMessageBeforeTheFrameOnTheDeskAndAfterItOnThePocket) {
  TestApp app;
  // One message for each pass until the next frame is due, so that the
  // last one and that frame fall in the same pass. Messages posted during a
  // frame are taken from the next pass on (desk) or in the same pass, after
  // the frame (pocket).
  const DWORD count = kPocket ? kFrameTime + 2 : kFrameTime + 1;
  app.OnPaint = [count](TestApp& a) {
    if (a.PaintTimes.size() == 2)
      for (DWORD i = 0; i < count; i++)
        headless::InjectWindowMessage(a.hWindow, WM_KEYDOWN, VK_UP, 0);
  };
  ASSERT_EQ(Run(app, 3), 0);
  ASSERT_EQ(app.Of(WM_KEYDOWN).size(), count);
  ASSERT_GE(app.Log.size(), 2u);
  const auto last = app.Log.back(), before = app.Log[app.Log.size() - 2];
  EXPECT_EQ(last.second, before.second);  // the same pass
  if constexpr (kPocket) {
    EXPECT_EQ(before.first, 'P');
    EXPECT_EQ(last.first, 'M');
  } else {
    EXPECT_EQ(before.first, 'M');
    EXPECT_EQ(last.first, 'P');
  }
}

TEST_F(Frame, ACloseRequestThatDisplayExitRefusesKeepsTheWindowAndItsFrames) {
  TestApp app;
  app.ExitAnswer = 0;
  bool keptOpen = false;
  app.OnPaint = [&](TestApp& a) {
    if (a.PaintTimes.size() == 3) headless::InjectWindowMessage(a.hWindow, WM_CLOSE, 0, 0);
    if (a.PaintTimes.size() == 10) {
      keptOpen = a.ExitAsked == 1 && IsWindow(a.hWindow) && a.bUpdate == 1;
      a.ExitAnswer = 1;
      a.Exit();
    }
  };
  ASSERT_EQ(Run(app, 0), 0);
  EXPECT_TRUE(keptOpen);
  EXPECT_EQ(app.PaintTimes.size(), 10u);
  EXPECT_EQ(app.ExitAsked, 2);
  EXPECT_FALSE(IsWindow(app.hWindow));
  EXPECT_EQ(app.Ended, 1);
}

// Start-up -------------------------------------------------------------------------------------

TEST_F(Frame, StartUpShowsTheSplashBeforeTheFirstFrame) {
  TestApp app;
  ASSERT_EQ(Run(app, 1), 0);
  if constexpr (kPocket) {
    // Inside Init, between ProgramStart and DisplayInit: a fade in of 7
    // frames in steps of 50, the picture once more, 2 s.
    EXPECT_EQ(app.InitFrames, 8u);
    EXPECT_EQ(app.InitTime - app.StartTime, 2000u);
    EXPECT_EQ(app.SplashFramesAfter, 0u);  // the virtual is not called
  } else {
    // After Init: 27 frames of fade in, the picture, 2 s, 27 of fade out.
    EXPECT_EQ(app.SplashFramesAfter - app.SplashFramesBefore, 27u + 1u + 27u);
    EXPECT_EQ(app.SplashTimeAfter - app.SplashTimeBefore, 2000u);
  }
}

TEST_F(Frame, DeskSplashWithoutItsPictureStillFadesTheEmptyScreenOut) {
  if constexpr (kPocket) GTEST_SKIP() << "the pocket has no fade-out";
  TestApp app;
  app.SplashResource = "NOSUCHSPLASH";
  ASSERT_EQ(Run(app, 1), 0);
  EXPECT_EQ(app.SplashFramesAfter - app.SplashFramesBefore, 27u);
  EXPECT_EQ(app.SplashTimeAfter, app.SplashTimeBefore);  // no pause
  ASSERT_EQ(app.FramesAtPaint.size(), 1u);
}

TEST_F(Frame, PocketSplashIsThePictureWithTheVersionInWhite) {
  if constexpr (!kPocket) GTEST_SKIP() << "the desk splash has no text";
  TestApp app;
  ASSERT_EQ(Run(app, 1), 0);
  // The splash is as wide as the screen, so it is not turned.
  CDib want;
  ASSERT_EQ(want.LoadBMP(GetModuleHandle(nullptr), "SPLASH"), 1);
  ASSERT_EQ(want.W, 240);
  initcharset();
  want.Print("Version 1.2", -1, 270, ColorValue(255, 255, 255));
  releasecharset();
  ASSERT_EQ(app.PixelsAtInit.size(), 240u * 320u);
  EXPECT_EQ(app.PixelsAtInit, std::vector<uint16_t>(want.m_Bits, want.m_Bits + 240 * 320));
  int white = 0;
  for (int x = 0; x < 240; x++) white += app.PixelsAtInit[272 * 240 + x] == 0xFFFF;
  EXPECT_GT(white, 10);
}

TEST_F(Frame, PocketSplashIsTurnedAQuarterClockwiseOnALandscapeScreen) {
  if constexpr (!kPocket) GTEST_SKIP() << "the desk screen is always portrait";
  TestApp app;
  app.Orientation = 1;
  ASSERT_EQ(Run(app, 1), 0);
  const CDib& shown = app.ScreenAtInit;
  ASSERT_EQ(shown.W, 320);
  ASSERT_EQ(shown.H, 240);
  CDib splash;
  ASSERT_EQ(splash.LoadBMP(GetModuleHandle(nullptr), "SPLASH"), 1);
  // (x, y) of the picture lands on (319 - y, x). The version's row, 270,
  // lies below a landscape screen.
  for (int y = 0; y < 320; y++)
    for (int x = 0; x < 240; x++)
      ASSERT_EQ(shown.GetPixel(319 - y, x), splash.GetPixel(x, y)) << x << "," << y;
}

TEST_F(Frame, TheSoundMixerStartsWithTheWindowAndThePocketPutsTheVolumeBack) {
  headless::AddPlaybackDevice(headless::PlaybackScript{});
  const HWAVEOUT defaultDevice = reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER));
  ASSERT_EQ(waveOutSetVolume(defaultDevice, 0x80008000), MMSYSERR_NOERROR);
  Volume = -1;
  TestApp app;
  int volumeAtInit = -1;
  app.OnPaint = [&](TestApp&) {
    volumeAtInit = Volume;
    waveOutSetVolume(defaultDevice, 0x10001000);  // someone turns it down meanwhile
  };
  ASSERT_EQ(Run(app, 1), 0);
  EXPECT_EQ(volumeAtInit, 0x8000 / 13107);
  DWORD after = 0;
  ASSERT_EQ(waveOutGetVolume(defaultDevice, &after), MMSYSERR_NOERROR);
  EXPECT_EQ(after, kPocket ? 0x80008000u : 0x10001000u);
  waveOutSetVolume(defaultDevice, 0xFFFFFFFF);
}

TEST_F(Frame, TheWindowHasItsClassTitleIconAndScreen) {
  TestApp app;
  HWND found = nullptr;
  headless::DisplayState shown;
  app.OnPaint = [&](TestApp& a) {
    found = FindWindow("PPCAPICLASS", "Zelvaro (Version 1.5)");
    shown = headless::Display(a.hWindow);
  };
  ASSERT_EQ(Run(app, 1), 0);
  EXPECT_EQ(found, app.hWindow);
  EXPECT_TRUE(shown.Open);
  EXPECT_EQ(shown.Title, "Zelvaro (Version 1.5)");
  EXPECT_EQ(shown.IconWidth, 32);
  EXPECT_EQ(shown.IconHeight, 32);
  EXPECT_EQ(shown.Layout.Width, 240);
  EXPECT_EQ(shown.Layout.Height, 320);
  EXPECT_EQ(shown.FullScreen, kPocket);
  EXPECT_EQ(shown.Layout.Format, kPocket ? platform::kDisplay565 : platform::kDisplay555);
  if constexpr (!kPocket) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_STREQ(ProgramPath, cwd);
  }
}

TEST_F(Frame, AWindowThatCannotBeMadeEndsTheProgramWithAFailureAfterProgramEnd) {
  WNDCLASS taken{};
  taken.lpfnWndProc = DefWindowProc;
  taken.lpszClassName = "PPCAPICLASS";
  ASSERT_NE(RegisterClass(&taken), 0);
  TestApp app;
  EXPECT_EQ(Run(app, 1), 1);
  EXPECT_TRUE(app.PaintTimes.empty());
  EXPECT_EQ(app.Ended, app.Started);
  UnregisterClass("PPCAPICLASS", nullptr);

  if constexpr (kPocket) {
    // The display will not open: both notices, then the end.
    headless::SetDisplayPitches(0, 2);
    TestApp pocket;
    EXPECT_EQ(Run(pocket, 1), 1);
    headless::SetDisplayPitches(0, 0);
    EXPECT_EQ(pocket.Started, 1);
    EXPECT_EQ(pocket.Ended, 1);
    EXPECT_TRUE(pocket.PaintTimes.empty());
    auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Text, "GXOpenDisplay");
    EXPECT_EQ(boxes[0].Caption, "Init Failed");
    EXPECT_EQ(boxes[1].Text, "GAME INIT ERROR");
    EXPECT_EQ(boxes[1].Caption, "DEBUG");
  }
  // Nothing is left queued for the next loop.
  MSG m;
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Frame, PocketNeedsTwoMillionBytesOfFreeMemory) {
  EXPECT_EQ(CheckFreeMemory(2048000), 1);
  EXPECT_TRUE(headless::MessageBoxes().empty());
  EXPECT_EQ(CheckFreeMemory(2047999), 0);
  auto boxes = headless::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Caption, "Insufficient Memory");
  EXPECT_EQ(boxes[0].Text.rfind("This program requires at least 2Mb of free Program memory", 0),
            0u);
}

// Input ------------------------------------------------------------------------------------------

TEST_F(Frame, KeysCommandsTimersAndMouseReachTheApplication) {
  TestApp app;
  app.OnPaint = [](TestApp& a) {
    if (a.PaintTimes.size() != 1) return;
    const UINT routed[] = {WM_KEYDOWN,      WM_COMMAND,       WM_TIMER,         WM_MOUSEMOVE,
                           WM_LBUTTONDOWN,  WM_LBUTTONUP,     WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                           WM_RBUTTONUP,    WM_RBUTTONDBLCLK, WM_KEYUP,         WM_APP + 7,
                           kParticleMessage};
    for (UINT m : routed) headless::InjectWindowMessage(a.hWindow, m, 30, MAKELPARAM(5, 6));
  };
  ASSERT_EQ(Run(app, 3), 0);
  std::vector<unsigned> got;
  for (const Received& r : app.Messages) {
    got.push_back(r.Message);
    EXPECT_EQ(r.WParam, 30u);
    EXPECT_EQ(r.LParam, MAKELPARAM(5, 6));
  }
  std::vector<unsigned> want = {WM_KEYDOWN,     WM_COMMAND,      WM_TIMER,         WM_MOUSEMOVE,
                                WM_LBUTTONDOWN, WM_LBUTTONUP,    WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                                WM_RBUTTONUP,   WM_RBUTTONDBLCLK};
  if constexpr (kPocket) want.push_back(kParticleMessage);
  EXPECT_EQ(got, want);
}

TEST_F(Frame, ATapOnTheCornerArrivesAsTheCornerPixelAtEveryScale) {
  const std::vector<int> scales = kPocket ? std::vector<int>{0} : std::vector<int>{1, 2, 3};
  for (int scale : scales) {
    platform::SetDisplayScale(scale);
    TestApp app;
    app.OnPaint = [scale](TestApp& a) {
      if (a.PaintTimes.size() != 1) return;
      // The window pixels that show screen pixel (239, 319): its first and
      // last at this scale, and one past the window's edge.
      int x0, y0, last;
      if (kPocket) {
        int vx, vy, vw, vh;
        platform::DisplayViewport(1920, 1080, 240, 320, &vx, &vy, &vw, &vh);
        const int k = vw / 240;
        x0 = vx + 239 * k;
        y0 = vy + 319 * k;
        last = k - 1;
      } else {
        x0 = 239 * scale;
        y0 = 319 * scale;
        last = scale - 1;
      }
      for (int d : {0, last, last + 1})
        headless::InjectPointer(a.hWindow, WM_LBUTTONDOWN, MK_LBUTTON, x0 + d, y0 + d);
      headless::InjectPointer(a.hWindow, WM_LBUTTONUP, 0, x0 - 1, y0 - 1);
    };
    ASSERT_EQ(Run(app, 3), 0) << scale;
    std::vector<Received> downs = app.Of(WM_LBUTTONDOWN), ups = app.Of(WM_LBUTTONUP);
    ASSERT_EQ(downs.size(), 3u) << scale;
    for (const Received& r : downs) {
      EXPECT_EQ(LOWORD(r.LParam), 239) << scale;
      EXPECT_EQ(HIWORD(r.LParam), 319) << scale;
    }
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(LOWORD(ups[0].LParam), 238) << scale;
    EXPECT_EQ(HIWORD(ups[0].LParam), 318) << scale;
  }
}

TEST_F(Frame, PocketTapsAreScaledByTheStylusFactor) {
  if constexpr (!kPocket) GTEST_SKIP() << "the desk's client area is the screen";
  TestApp app;
  app.OnPaint = [](TestApp& a) {
    if (a.PaintTimes.size() != 1) return;
    StylusScale = 1.33f;
    headless::InjectWindowMessage(a.hWindow, WM_LBUTTONDOWN, 0, MAKELPARAM(239, 240));
  };
  ASSERT_EQ(Run(app, 3), 0);
  std::vector<Received> downs = app.Of(WM_LBUTTONDOWN);
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(LOWORD(downs[0].LParam), 239);
  EXPECT_EQ(HIWORD(downs[0].LParam), 319);  // 240 x 1.33, truncated
}

TEST_F(Frame, PocketRepaintsOnItsPrivateMessage) {
  TestApp app;
  size_t paintsBefore = 0, paintsAfter = 0;
  app.OnPaint = [&](TestApp& a) {
    if (a.PaintTimes.size() != 1) return;
    paintsBefore = a.PaintTimes.size();
    SendMessage(a.hWindow, kRepaintMessage, 0, 0);
    paintsAfter = a.PaintTimes.size();
  };
  ASSERT_EQ(Run(app, 1), 0);
  EXPECT_EQ(paintsAfter - paintsBefore, kPocket ? 1u : 0u);
}

TEST_F(Frame, PocketStepsAsideWhileAnotherProgramHasTheFocus) {
  TestApp app;
  std::vector<uint64_t> frames;
  std::vector<bool> minimised;
  int raisedAtEnd = 0;
  app.OnPaint = [&](TestApp& a) {
    size_t n = a.PaintTimes.size();
    headless::DisplayState s = headless::Display(a.hWindow);
    frames.push_back(s.Frames);
    minimised.push_back(s.Minimised);
    if (n == 2) headless::InjectWindowMessage(a.hWindow, WM_ACTIVATE, WA_INACTIVE, 0);
    if (n == 5) headless::InjectWindowMessage(a.hWindow, WM_ACTIVATE, WA_ACTIVE, 0);
    raisedAtEnd = s.Raised;
  };
  ASSERT_EQ(Run(app, 8), 0);
  ASSERT_EQ(frames.size(), 8u);
  if constexpr (kPocket) {
    // Frames 3 to 5 are drawn but not shown while minimised; reactivation
    // brings the display forward and shows the screen again at once, before
    // frame 6.
    for (int i : {2, 3, 4}) EXPECT_TRUE(minimised[i]) << i;
    EXPECT_EQ(frames[3], frames[2]);
    EXPECT_EQ(frames[4], frames[3]);
    EXPECT_FALSE(minimised[5]);
    EXPECT_EQ(frames[5] - frames[4], 1u);
    EXPECT_EQ(frames[6] - frames[5], 1u);
    EXPECT_GT(raisedAtEnd, 0);
  } else {
    for (size_t i = 1; i < frames.size(); i++) EXPECT_EQ(frames[i] - frames[i - 1], 1u) << i;
    EXPECT_EQ(raisedAtEnd, 0);
  }
}

// One instance at a time -------------------------------------------------------------------------

TEST_F(Frame, ASecondStartEndsQuietlyAndBringsTheRunningOneForward) {
  TempDir logs;
  TestApp app;
  pid_t child = -1;
  int childStatus = -2;
  int raised = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  app.OnPaint = [&](TestApp& a) {
    if (child < 0) {
      child = testing_support::StartProcess({kProgramPath, "--headless"},
                                            {"XDG_RUNTIME_DIR=" + runtime.Path()}, logs.File("out"),
                                            logs.File("err"));
      if (child < 0) a.Exit();
      return;
    }
    raised = headless::Display(a.hWindow).Raised;
    int status = -1;
    if (childStatus == -2 && !testing_support::ProcessRunning(child, &status)) childStatus = status;
    bool done = childStatus != -2 && raised > 0;
    if (done || std::chrono::steady_clock::now() > deadline) a.Exit();
  };
  ASSERT_EQ(Run(app, 0), 0);
  ASSERT_GT(child, 0);
  if (childStatus == -2) childStatus = testing_support::WaitProcess(child, 10000);
  EXPECT_EQ(childStatus, 0);
  EXPECT_GT(raised, 0);
  EXPECT_EQ(testing_support::ReadFileText(logs.File("err")), "");
  EXPECT_EQ(testing_support::ReadFileText(logs.File("out")), "");
}

}  // namespace

// zelvaro-desk and zelvaro-pocket as a user runs them: the command line,
// headless runs with the virtual clock, SDL's dummy video and disk audio
// drivers, and a window on an X server of the test's own (Xvfb): its
// title, size at two scales and icon, a second start that ends at once,
// the window manager's close request, and the stop signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/wav.h"
#include "support/x11_window.h"

namespace {

using namespace testing_support;

const std::string kDesk = ZELVARO_DESK_PATH;
const std::string kPocket = ZELVARO_POCKET_PATH;

uint32_t Le32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

class Program : public ::testing::Test {
 protected:
  // Runs a program in the test's folder, with its own runtime folder;
  // `env` is what env(1) is given before that (options first).
  CommandResult Run(const std::string& program, const std::string& env, const std::string& args) {
    return RunCommand("cd " + ShellQuote(dir.Path()) + " && env " + env + " XDG_RUNTIME_DIR=" +
                      ShellQuote(runtime.Path()) + " " + ShellQuote(program) + " " + args);
  }
  // Whether `path` is a 240 x 320 24-bit BMP image.
  static bool IsScreenshot(const std::string& path) {
    std::vector<unsigned char> b = ReadFile(path);
    return b.size() == 54 + 240 * 3 * 320 && b[0] == 'B' && b[1] == 'M' && Le32(b, 18) == 240 &&
           Le32(b, 22) == 320 && b[28] == 24;
  }
  // A raw 8000 Hz 8-bit tone, what SDL's disk driver records from.
  std::string RawTone() {
    std::string path = dir.File("tone.raw");
    WriteFile(path, Tone8({{440, 60}}, 8000, 8000 * 10));
    return path;
  }
  std::string SdlDummy() {
    return "ZELVARO_BACKEND=sdl SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN=" +
           ShellQuote(RawTone()) + " SDL_DISKAUDIOFILE=/dev/null";
  }

  TempDir dir, runtime;
};

TEST_F(Program, HelpListsTheOptionsOfEachProgram) {
  auto desk = Run(kDesk, "", "--help");
  EXPECT_EQ(desk.Status, 0);
  for (const char* option :
       {"--scale", "--device", "--input", "--frames", "--screenshot", "--headless", "--help"})
    EXPECT_NE(desk.Out.find(option), std::string::npos) << option;
  auto pocket = Run(kPocket, "", "-h");
  EXPECT_EQ(pocket.Status, 0);
  EXPECT_EQ(pocket.Out.find("--scale"), std::string::npos);  // the pocket fills the screen
  EXPECT_NE(pocket.Out.find("--input"), std::string::npos);
}

TEST_F(Program, BadOptionsAreAOneLineErrorWithStatusTwo) {
  WriteFile(dir.File("junk.wav"), {'R', 'I', 'F', 'F'});
  struct Case {
    std::string program, env, args, says;
  } cases[] = {
      {kDesk, "", "--scale 0", "--scale needs a whole factor from 1 to 16"},
      {kDesk, "", "--scale=17", "--scale needs"},
      {kDesk, "", "--frames", "--frames needs"},
      {kDesk, "", "--frames -3", "--frames needs"},
      {kDesk, "", "--screenshot", "--screenshot needs"},
      {kDesk, "", "--bogus", "unknown option '--bogus'"},
      {kDesk, "", "--device 1 --input x.wav", "--device and --input"},
      {kDesk, "ZELVARO_HEADLESS_CAPTURE=tone=440", "--headless --device 5",
       "--device 5: no capture device with id 5 (ids 0 to 1)"},
      {kDesk, "", "--headless --input missing.wav", "--input missing.wav: "},
      {kDesk, "", "--headless --input junk.wav", "--input junk.wav: "},
      {kPocket, "", "--scale 2", "unknown option '--scale'"},
  };
  for (const Case& c : cases) {
    auto r = Run(c.program, c.env, c.args);
    EXPECT_EQ(r.Status, 2) << c.args << ": " << r.Err;
    EXPECT_EQ(r.Out, "") << c.args;
    EXPECT_NE(r.Err.find(c.says), std::string::npos) << c.args << ": " << r.Err;
    EXPECT_NE(r.Err.find("--help"), std::string::npos) << c.args;
  }
}

TEST_F(Program, HeadlessRunsCloseAfterTheirFramesAndSaveTheLast) {
  WriteFile(dir.File("a.wav"), WaveImage(Sine(440, 0.5, 8000, 0.5), 1, 8000, 16));
  for (const std::string& program : {kDesk, kPocket}) {
    for (const std::string& input :
         {std::string(""), std::string("--input a.wav"), std::string("--device 1")}) {
      std::remove(dir.File("shot.bmp").c_str());
      auto r = Run(program, "ZELVARO_HEADLESS_CAPTURE=tone=440",
                   "--headless --frames 30 --screenshot shot.bmp " + input);
      EXPECT_EQ(r.Status, 0) << program << " " << input << ": " << r.Err;
      EXPECT_EQ(r.Err, "") << program << " " << input;
      EXPECT_TRUE(IsScreenshot(dir.File("shot.bmp"))) << program << " " << input;
    }
  }
  auto unwritable = Run(kDesk, "", "--headless --frames 2 --screenshot no/such/folder/shot.bmp");
  EXPECT_EQ(unwritable.Status, 1);
  EXPECT_NE(unwritable.Err.find("could not be written"), std::string::npos) << unwritable.Err;
}

TEST_F(Program, AStopSignalClosesTheWindowAndTheProgramEndsWell) {
  pid_t pid = StartProcess({kDesk, "--headless"}, {"XDG_RUNTIME_DIR=" + runtime.Path()},
                           dir.File("out"), dir.File("err"));
  ASSERT_GT(pid, 0);
  // Once it listens for later starts it is past its start (a probe of the
  // lock itself could make it think another instance runs).
  const std::string socket = runtime.Path() + "/zelvaro-desk.socket";
  ASSERT_TRUE(WaitFor([&] { return access(socket.c_str(), F_OK) == 0; }, 10000))
      << ReadFileText(dir.File("err"));
  EXPECT_EQ(StopProcess(pid, SIGTERM, 10000), 0) << ReadFileText(dir.File("err"));
}

// SDL's dummy drivers -----------------------------------------------------------------------

TEST_F(Program, OnSdlsDummyDriversBothProgramsRunTheirFramesAndSaveTheLast) {
  for (const std::string& program : {kDesk, kPocket}) {
    std::remove(dir.File("out.bmp").c_str());
    auto r = Run(program, SdlDummy(), "--frames 60 --screenshot out.bmp");
    EXPECT_EQ(r.Status, 0) << program << ": " << r.Err;
    EXPECT_TRUE(IsScreenshot(dir.File("out.bmp"))) << program;
  }
}

TEST_F(Program, WithoutAScreenToShowItOnTheProgramEndsWithAFailure) {
  const std::string noScreen =
      "-u DISPLAY -u WAYLAND_DISPLAY ZELVARO_BACKEND=sdl SDL_VIDEODRIVER=nosuchdriver";
  auto desk = Run(kDesk, noScreen, "--frames 5");
  EXPECT_EQ(desk.Status, 1);
  EXPECT_NE(desk.Err.find("Unable to show the window"), std::string::npos) << desk.Err;
  auto pocket = Run(kPocket, noScreen, "--frames 5");
  EXPECT_EQ(pocket.Status, 1);
  EXPECT_NE(pocket.Err.find("Init Failed: GXOpenDisplay"), std::string::npos) << pocket.Err;
  EXPECT_NE(pocket.Err.find("DEBUG: GAME INIT ERROR"), std::string::npos) << pocket.Err;
}

// A window on an X server -------------------------------------------------------------------

class OnXvfb : public Program {
 protected:
  void SetUp() override {
    xvfb = StartProcess({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten",
                         "tcp", "-noreset"},
                        {}, dir.File("xvfb.out"), dir.File("xvfb.err"));
    ASSERT_GT(xvfb, 0);
    ASSERT_TRUE(WaitFor(
        [&] {
          std::string out = ReadFileText(dir.File("xvfb.out"));
          if (out.find('\n') == std::string::npos) return false;
          display = ":" + out.substr(0, out.find('\n'));
          return true;
        },
        20000))
        << ReadFileText(dir.File("xvfb.err"));
  }
  void TearDown() override {
    if (program > 0) StopProcess(program, SIGKILL, 5000);
    if (xvfb > 0) StopProcess(xvfb, SIGTERM, 10000);
  }

  pid_t Start(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kDesk};
    argv.insert(argv.end(), args.begin(), args.end());
    return StartProcess(argv,
                        {"DISPLAY=" + display, "XDG_RUNTIME_DIR=" + runtime.Path(),
                         "ZELVARO_BACKEND=sdl", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=disk",
                         "SDL_DISKAUDIOFILEIN=" + RawTone(), "SDL_DISKAUDIOFILE=/dev/null"},
                        dir.File("out"), dir.File("err"));
  }

  // Waits for the program's window to be on the screen.
  X11WindowInfo WaitForWindow(X11Client& x) {
    X11WindowInfo w;
    WaitFor(
        [&] {
          w = x.Find("Zelvaro (Version 1.5)");
          return w.Id != 0 && w.Viewable;
        },
        30000);
    return w;
  }

  pid_t xvfb = -1, program = -1;
  std::string display;
};

TEST_F(OnXvfb, TheWindowHasItsTitleSizeAndIconAndClosesWhenTheWindowManagerAsks) {
  for (int scale : {1, 2}) {
    program = Start({"--scale", std::to_string(scale)});
    ASSERT_GT(program, 0);
    X11Client x(display);
    ASSERT_TRUE(x.Connected());
    X11WindowInfo w = WaitForWindow(x);
    ASSERT_NE(w.Id, 0u) << ReadFileText(dir.File("err"));
    EXPECT_EQ(w.Width, 240 * scale);
    EXPECT_EQ(w.Height, 320 * scale);
    EXPECT_TRUE(w.HasIcon);
    ASSERT_TRUE(x.AskToClose(w.Id));
    EXPECT_EQ(WaitProcess(program, 30000), 0) << ReadFileText(dir.File("err"));
    program = -1;
    EXPECT_TRUE(WaitFor([&] { return x.Find("Zelvaro (Version 1.5)").Id == 0; }, 5000));
  }
}

TEST_F(OnXvfb, ASecondStartEndsAtOnceAndLeavesTheFirstRunning) {
  program = Start({});
  ASSERT_GT(program, 0);
  X11Client x(display);
  ASSERT_TRUE(x.Connected());
  X11WindowInfo w = WaitForWindow(x);
  ASSERT_NE(w.Id, 0u) << ReadFileText(dir.File("err"));
  auto second = RunCommand("env DISPLAY=" + display + " XDG_RUNTIME_DIR=" +
                           ShellQuote(runtime.Path()) + " ZELVARO_BACKEND=sdl " + ShellQuote(kDesk));
  EXPECT_EQ(second.Status, 0) << second.Err;
  EXPECT_EQ(second.Err, "");
  EXPECT_TRUE(ProcessRunning(program));
  EXPECT_EQ(x.Find("Zelvaro (Version 1.5)").Id, w.Id);  // still the one window
  EXPECT_EQ(StopProcess(program, SIGTERM, 30000), 0);
  program = -1;
}

}  // namespace

// zelvaro-desk and zelvaro-pocket as a user runs them: the command line,
// headless runs with the virtual clock, SDL's dummy video and disk audio
// drivers, and a window on an X server of the test's own (Xvfb): its
// title, size at two scales and icon, a second start that ends at once,
// the window manager's close request, and the stop signal. Played a 440 Hz
// tone, each run shows the tuner reading it, and the settings file is left
// where the program keeps it (the desk: the working folder; the pocket:
// beside the program, which these tests run from a copy in their folder).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/pipewire.h"
#include "support/process.h"
#include "support/pulse.h"
#include "support/wav.h"
#include "support/golden.h"
#include "support/x11_window.h"

namespace {

using namespace testing_support;

const std::string kDesk = ZELVARO_DESK_PATH;
const std::string kPocket = ZELVARO_POCKET_PATH;

uint32_t Le32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

const std::vector<unsigned char> kBuiltInPrefs = {1, 0, 0, 0, 0, 0, 0, 0};

// A picture as 0xRRGGBB pixels, top row first.
struct Picture {
  int Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;
  uint32_t At(int x, int y) const { return Pixels[static_cast<size_t>(y * Width + x)]; }
};

int Red(uint32_t c) { return static_cast<int>(c >> 16 & 0xFF); }
int Green(uint32_t c) { return static_cast<int>(c >> 8 & 0xFF); }
int Blue(uint32_t c) { return static_cast<int>(c & 0xFF); }
bool IsBlack(uint32_t c) { return Red(c) < 48 && Green(c) < 48 && Blue(c) < 48; }
bool IsRed(uint32_t c) { return Red(c) > 200 && Green(c) < 64 && Blue(c) < 64; }
bool IsGreen(uint32_t c) { return Green(c) > 200 && Red(c) < 64 && Blue(c) < 64; }
// Within what 16-bit pixels keep of 8-bit colours.
bool Close(uint32_t a, uint32_t b) {
  return std::abs(Red(a) - Red(b)) <= 12 && std::abs(Green(a) - Green(b)) <= 12 &&
         std::abs(Blue(a) - Blue(b)) <= 12;
}

// A 24-bit BMP file (bottom-up rows); an empty picture when it is not one.
Picture ReadBmp24(const std::string& path) {
  std::vector<unsigned char> b = ReadFile(path);
  Picture p;
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || b[28] != 24) return p;
  const int w = static_cast<int>(Le32(b, 18)), h = static_cast<int>(Le32(b, 22));
  const size_t offset = Le32(b, 10), row = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
  if (w <= 0 || h <= 0 || w > 4096 || h > 4096 || b.size() < offset + row * h) return p;
  p.Width = w;
  p.Height = h;
  p.Pixels.resize(static_cast<size_t>(w * h));
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const unsigned char* q = &b[offset + row * (h - 1 - y) + static_cast<size_t>(x) * 3];
      p.Pixels[static_cast<size_t>(y * w + x)] = q[2] << 16 | q[1] << 8 | q[0];
    }
  return p;
}

// Whether the arrow at (x, y) of `p` is the sheet's quadrant at (sx, sy):
// each of the quadrant's opaque pixels is there.
bool ShowsArrow(const Picture& p, int x, int y, const Picture& sheet, int sx, int sy) {
  const int w = sheet.Width / 2, h = sheet.Height / 2;
  const uint32_t clear = sheet.At(0, 0);
  for (int j = 0; j < h; j++)
    for (int i = 0; i < w; i++) {
      uint32_t a = sheet.At(sx + i, sy + j);
      if (a != clear && !Close(p.At(x + i, y + j), a)) return false;
    }
  return true;
}

// What keeps `p` from being the tuner screen with a steady A at 440 Hz:
// the needle straight up, neither arrow lit, band 4 of the spectrum red and
// the strength bar lit. Empty when nothing does.
std::string NotTheTunerOnA440(const Picture& p) {
  if (p.Width != 240 || p.Height != 320)
    return "a picture of " + std::to_string(p.Width) + "x" + std::to_string(p.Height);
  std::string wrong;
  auto blackIn = [&](int y, int x0, int x1) {
    for (int x = x0; x <= x1; x++)
      if (IsBlack(p.At(x, y))) return true;
    return false;
  };
  // The needle runs from the pivot (120, 117) to (120, 37): near its tip
  // and below the reference frequency, and nowhere else on those rows.
  if (!blackIn(40, 117, 123) || !blackIn(100, 118, 122)) wrong += " needle not up;";
  if (blackIn(100, 90, 114) || blackIn(100, 126, 150)) wrong += " needle slanted;";
  if (IsBlack(p.At(60, 117)) || IsBlack(p.At(180, 117))) wrong += " needle at a stop;";
  const Picture sheet = ReadBmp24(SourceDir() + "/resources/ARROWS.BMP");
  if (sheet.Width == 0) return "no arrow sheet";
  const int aw = sheet.Width / 2, ah = sheet.Height / 2;
  if (!ShowsArrow(p, 15, 15, sheet, 0, ah)) wrong += " flat arrow not dark;";
  if (!ShowsArrow(p, 225 - aw, 15, sheet, 0, 0)) wrong += " sharp arrow not dark;";
  if (!IsRed(p.At(130, 257))) wrong += " band 4 not red;";
  for (int j : {0, 1, 2, 3, 5, 6, 7})
    if (IsRed(p.At(30 + 25 * j, 257))) wrong += " band " + std::to_string(j) + " red;";
  if (!IsGreen(p.At(30, 8))) wrong += " strength bar dark;";
  return wrong;
}

// What keeps `p` from being the tuner screen with no reading at all: the
// buttons drawn, the needle at its flat stop, no band of the spectrum red,
// the strength bar dark. Empty when nothing does.
std::string NotSilence(const Picture& p) {
  if (p.Width != 240 || p.Height != 320) return "no picture";
  std::string wrong;
  if (IsBlack(p.At(20, 300)) || IsBlack(p.At(130, 300))) wrong += " no buttons;";
  if (!IsBlack(p.At(60, 117))) wrong += " needle not at the flat stop;";
  for (int j = 0; j < 8; j++)
    if (IsRed(p.At(30 + 25 * j, 257))) wrong += " band " + std::to_string(j) + " red;";
  if (IsGreen(p.At(30, 8))) wrong += " strength bar lit;";
  return wrong;
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
  // zelvaro-pocket copied into the test's folder, so that the settings
  // file it keeps beside itself lands there.
  std::string Pocket() {
    const std::string copy = dir.File("zelvaro-pocket");
    if (!std::filesystem::exists(copy))
      std::filesystem::copy_file(kPocket, copy);
    return copy;
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
  // A header claiming 2 GB of 8 kHz sound (some 37 hours) over nothing.
  std::vector<unsigned char> huge = WaveImage({}, 1, 8000, 16);
  huge[40] = huge[41] = huge[42] = 0;
  huge[43] = 0x80;
  WriteFile(dir.File("huge.wav"), huge);
  std::filesystem::resize_file(dir.File("huge.wav"), (1ull << 31) + 44);
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
      {kDesk, "", "--headless --input .", "--input .: Is a directory"},
      {kDesk, "", "--headless --input /dev/zero", "--input /dev/zero: not a RIFF WAVE file"},
      {kDesk, "", "--headless --input huge.wav", "--input huge.wav: too long: more than 3600 s"},
      {kDesk, "ZELVARO_HEADLESS_CAPTURE=wav=.", "--headless",
       "ZELVARO_HEADLESS_CAPTURE: .: Is a directory"},
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

TEST_F(Program, HeadlessRunsTuneTheirInputCloseAfterTheirFramesAndSaveTheLast) {
  WriteFile(dir.File("a.wav"), WaveImage(Sine(440, 0.5, 8000, 0.5), 1, 8000, 16));
  for (const std::string& program : {kDesk, Pocket()}) {
    for (const std::string& input :
         {std::string(""), std::string("--input a.wav"), std::string("--device 1")}) {
      std::remove(dir.File("shot.bmp").c_str());
      std::remove(dir.File("PREFS.DAT").c_str());
      auto r = Run(program, "ZELVARO_HEADLESS_CAPTURE=tone=440",
                   "--headless --frames 30 --screenshot shot.bmp " + input);
      EXPECT_EQ(r.Status, 0) << program << " " << input << ": " << r.Err;
      EXPECT_EQ(r.Err, "") << program << " " << input;
      EXPECT_TRUE(IsScreenshot(dir.File("shot.bmp"))) << program << " " << input;
      EXPECT_EQ(NotTheTunerOnA440(ReadBmp24(dir.File("shot.bmp"))), "") << program << " " << input;
      EXPECT_EQ(ReadFile(dir.File("PREFS.DAT")), kBuiltInPrefs) << program << " " << input;
    }
  }
  auto unwritable = Run(kDesk, "", "--headless --frames 2 --screenshot no/such/folder/shot.bmp");
  EXPECT_EQ(unwritable.Status, 1);
  EXPECT_NE(unwritable.Err.find("could not be written"), std::string::npos) << unwritable.Err;
}

TEST_F(Program, AScreenshotReplacesNothingButARegularFile) {
  WriteFile(dir.File("victim"), {'v'});
  ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("link.bmp").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.File("fifo.bmp").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.File("folder.bmp").c_str(), 0700), 0);
  struct Case {
    std::string path, says;
  } cases[] = {{"link.bmp", "a symbolic link"}, {"fifo.bmp", "a FIFO"}, {"folder.bmp", "a directory"}};
  for (const Case& c : cases) {
    auto r = Run(kDesk, "", "--headless --frames 2 --screenshot " + c.path);
    EXPECT_EQ(r.Status, 1) << c.path;
    EXPECT_NE(r.Err.find("--screenshot " + c.path + ": " + c.says), std::string::npos) << r.Err;
  }
  struct stat st {};
  EXPECT_TRUE(lstat(dir.File("link.bmp").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_TRUE(lstat(dir.File("fifo.bmp").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_EQ(ReadFile(dir.File("victim")), std::vector<unsigned char>{'v'});
}

TEST_F(Program, ACaptureDeviceThatIsSilentIsNamedAndOneThatWillNotOpenLeavesAScreenOfSilence) {
  struct Case {
    std::string devices, says;  // the program's lines carry its name, the message box its caption
    bool silence;
  } cases[] = {
      {"tone=440,stall=1", ": no sound from Default device (Scripted tone 440 Hz) for 2 seconds; "
                           "still waiting", false},
      {"tone=440,fail", "Debug: Unable to start WAVEIN thread", true},
  };
  for (const std::string& program : {kDesk, Pocket()}) {
    const std::string name = program == kDesk ? "zelvaro-desk" : "zelvaro-pocket";
    for (const Case& c : cases) {
      std::remove(dir.File("shot.bmp").c_str());
      auto r = Run(program, "ZELVARO_HEADLESS_CAPTURE=" + c.devices,
                   "--headless --frames 200 --screenshot shot.bmp");
      EXPECT_EQ(r.Status, 0) << name << " " << c.devices << ": " << r.Err;
      EXPECT_EQ(r.Err, (c.silence ? "" : name) + c.says + "\n") << c.devices;
      if (c.silence) {
        EXPECT_EQ(NotSilence(ReadBmp24(dir.File("shot.bmp"))), "") << name;
      }
    }
  }
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

TEST_F(Program, ALockHolderThatDoesNotAnswerIsNamedAndTheSecondStartFails) {
  const std::string lock = runtime.Path() + "/zelvaro-desk.lock";
  // A frozen instance (its socket still takes connections) and a process
  // that holds the lock without listening at all.
  pid_t frozen = StartProcess({kDesk, "--headless"}, {"XDG_RUNTIME_DIR=" + runtime.Path()},
                              dir.File("out"), dir.File("err"));
  ASSERT_GT(frozen, 0);
  const std::string socket = runtime.Path() + "/zelvaro-desk.socket";
  ASSERT_TRUE(WaitFor([&] { return access(socket.c_str(), F_OK) == 0; }, 10000));
  kill(frozen, SIGSTOP);
  auto second = Run(kDesk, "", "--headless --frames 2");
  kill(frozen, SIGCONT);
  EXPECT_EQ(StopProcess(frozen, SIGTERM, 10000), 0);
  pid_t holder = StartProcess({"flock", "--no-fork", lock, "sleep", "30"}, {}, "", "");
  ASSERT_TRUE(WaitFor([&] { return system(("flock -n " + lock + " true").c_str()) != 0; }, 5000));
  auto third = Run(kDesk, "", "--headless --frames 2");
  StopProcess(holder, SIGKILL, 5000);
  for (const CommandResult& r : {second, third}) {
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_EQ(r.Err, "zelvaro-desk: another zelvaro-desk holds the lock " + lock +
                         " and does not answer\n");
  }
}

// SDL's dummy drivers -----------------------------------------------------------------------

TEST_F(Program, OnSdlsDummyDriversBothProgramsTuneTheDiskRecordingAndKeepTheirSettings) {
  for (const std::string& program : {kDesk, Pocket()}) {
    std::remove(dir.File("out.bmp").c_str());
    std::remove(dir.File("PREFS.DAT").c_str());
    auto r = Run(program, SdlDummy(), "--frames 60 --screenshot out.bmp");
    EXPECT_EQ(r.Status, 0) << program << ": " << r.Err;
    EXPECT_TRUE(IsScreenshot(dir.File("out.bmp"))) << program;
    EXPECT_EQ(NotTheTunerOnA440(ReadBmp24(dir.File("out.bmp"))), "") << program;
    EXPECT_EQ(ReadFile(dir.File("PREFS.DAT")), kBuiltInPrefs) << program;
  }
}

TEST_F(Program, WithoutAScreenToShowItOnTheProgramEndsWithAFailure) {
  // A video driver that does not exist, and none chosen at all: SDL would
  // then settle on one that draws nowhere, and the window would run unseen.
  for (const std::string noScreen :
       {"-u DISPLAY -u WAYLAND_DISPLAY ZELVARO_BACKEND=sdl SDL_VIDEODRIVER=nosuchdriver",
        "-u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER ZELVARO_BACKEND=sdl"}) {
    auto desk = Run(kDesk, noScreen, "--frames 5");
    EXPECT_EQ(desk.Status, 1) << noScreen;
    EXPECT_NE(desk.Err.find("Unable to show the window"), std::string::npos) << desk.Err;
    if (noScreen.find("-u SDL_VIDEODRIVER") != std::string::npos) {
      EXPECT_NE(desk.Err.find("neither DISPLAY nor WAYLAND_DISPLAY is set"), std::string::npos)
          << desk.Err;
    }
    auto pocket = Run(Pocket(), noScreen, "--frames 5");
    EXPECT_EQ(pocket.Status, 1) << noScreen;
    EXPECT_NE(pocket.Err.find("Init Failed: GXOpenDisplay"), std::string::npos) << pocket.Err;
    EXPECT_NE(pocket.Err.find("DEBUG: GAME INIT ERROR"), std::string::npos) << pocket.Err;
  }
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

  // What the window shows, as a picture (empty when it cannot be read).
  static Picture Shot(X11Client& x, unsigned long window) {
    Picture p;
    if (!x.Capture(window, &p.Width, &p.Height, &p.Pixels)) p = Picture{};
    return p;
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

TEST_F(OnXvfb, TheTunerReadsAToneFromPulseAudiosDefaultSourceAndSavesItsSettingsWhenClosed) {
  TempDir pulseDir;
  PulseServer pulse(pulseDir);
  ASSERT_TRUE(pulse.Ready()) << pulse.Log();
  const std::string wav = pulseDir.File("a4.wav");
  WriteFile(wav, WaveImage(Sine(440, 0.5, 44100, 120.0), 1, 44100, 16));
  ASSERT_TRUE(pulse.Play(wav));
  std::vector<std::string> env = pulse.EnvList();
  for (const char* e : {"ZELVARO_BACKEND=sdl", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=pulseaudio"})
    env.push_back(e);
  env.push_back("DISPLAY=" + display);
  program = StartProcess({kDesk, "--scale", "1"}, env, dir.File("out"), dir.File("err"), dir.Path());
  ASSERT_GT(program, 0);
  X11Client x(display);
  ASSERT_TRUE(x.Connected());
  X11WindowInfo w = WaitForWindow(x);
  ASSERT_NE(w.Id, 0u) << ReadFileText(dir.File("err"));
  // After the splash the tone is on the meter within a few seconds.
  std::string wrong = "no picture";
  WaitFor(
      [&] {
        wrong = NotTheTunerOnA440(Shot(x, w.Id));
        return wrong.empty();
      },
      60000);
  EXPECT_EQ(wrong, "") << ReadFileText(dir.File("err")) << pulse.Log();
  ASSERT_TRUE(x.AskToClose(w.Id));
  EXPECT_EQ(WaitProcess(program, 30000), 0) << ReadFileText(dir.File("err"));
  program = -1;
  EXPECT_EQ(ReadFile(dir.File("PREFS.DAT")), kBuiltInPrefs);
}

// PipeWire without its session manager never links a new stream, so SDL's
// PulseAudio driver waits on every device it opens (the server gives up
// after 30 s): the window comes all the same, says why it hears nothing,
// and ends when asked.
TEST_F(OnXvfb, OnPipeWireWithoutItsSessionManagerTheWindowComesAndSaysItHearsNothing) {
  TempDir pwDir;
  PipeWireSession pw(pwDir, PipeWireSession::Manager::None);
  ASSERT_TRUE(pw.Ready()) << pw.Log();
  std::vector<std::string> env = pw.EnvList();
  std::erase(env, "DISPLAY=");
  for (const char* e : {"ZELVARO_BACKEND=sdl", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=pulseaudio"})
    env.push_back(e);
  env.push_back("DISPLAY=" + display);
  env.push_back("XDG_RUNTIME_DIR=" + runtime.Path());
  program = StartProcess({kDesk, "--scale", "1"}, env, dir.File("out"), dir.File("err"), dir.Path());
  ASSERT_GT(program, 0);
  X11Client x(display);
  ASSERT_TRUE(x.Connected());
  ASSERT_NE(WaitForWindow(x).Id, 0u) << ReadFileText(dir.File("err"));
  const std::string line = "zelvaro-desk: no sound from Default device for 2 seconds; still waiting\n";
  EXPECT_TRUE(WaitFor([&] { return ReadFileText(dir.File("err")) == line; }, 20000))
      << ReadFileText(dir.File("err"));
  EXPECT_EQ(StopProcess(program, SIGTERM, 20000), 0) << ReadFileText(dir.File("err"));
  program = -1;
}

TEST_F(OnXvfb, WhenTheSoundServerGoesAndComesBackTheMeterFallsSilentAndReadsAgain) {
  TempDir pulseDir;
  auto pulse = std::make_unique<PulseServer>(pulseDir);
  ASSERT_TRUE(pulse->Ready()) << pulse->Log();
  const std::string wav = pulseDir.File("a4.wav");
  WriteFile(wav, WaveImage(Sine(440, 0.5, 44100, 120.0), 1, 44100, 16));
  ASSERT_TRUE(pulse->Play(wav));
  std::vector<std::string> env = pulse->EnvList();
  for (const char* e : {"ZELVARO_BACKEND=sdl", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=pulseaudio"})
    env.push_back(e);
  env.push_back("DISPLAY=" + display);
  env.push_back("XDG_RUNTIME_DIR=" + runtime.Path());
  program = StartProcess({kDesk, "--scale", "1"}, env, dir.File("out"), dir.File("err"), dir.Path());
  ASSERT_GT(program, 0);
  X11Client x(display);
  ASSERT_TRUE(x.Connected());
  X11WindowInfo w = WaitForWindow(x);
  ASSERT_NE(w.Id, 0u) << ReadFileText(dir.File("err"));
  // Waits up to a minute for the window to show what `wrong` finds nothing
  // wrong with.
  auto shows = [&](std::string (*wrong)(const Picture&)) {
    std::string why = "no picture";
    WaitFor(
        [&] {
          why = wrong(Shot(x, w.Id));
          return why.empty();
        },
        60000);
    return why;
  };
  ASSERT_EQ(shows(NotTheTunerOnA440), "") << ReadFileText(dir.File("err"));
  pulse.reset();  // the server goes: no reading stays on the meter
  EXPECT_EQ(shows(NotSilence), "") << ReadFileText(dir.File("err"));
  pulse = std::make_unique<PulseServer>(pulseDir);  // and comes back
  ASSERT_TRUE(pulse->Ready()) << pulse->Log();
  ASSERT_TRUE(pulse->Play(wav));
  EXPECT_EQ(shows(NotTheTunerOnA440), "") << ReadFileText(dir.File("err"));
  const std::string err = ReadFileText(dir.File("err"));
  EXPECT_NE(err.find("zelvaro-desk: the capture device went away"), std::string::npos) << err;
  EXPECT_NE(err.find("zelvaro-desk: recording again from Default device"), std::string::npos)
      << err;
  EXPECT_EQ(StopProcess(program, SIGTERM, 30000), 0) << ReadFileText(dir.File("err"));
  program = -1;
}

}  // namespace

// zelvaro-desk and zelvaro-pocket as a user runs them: the command line,
// headless runs with the virtual clock, SDL's dummy video and disk audio
// drivers, and a window on an X server of the test's own (Xvfb): its
// title, size at two scales and icon, its pixels at every scale, a second
// start that ends at once, the window manager's close request, and the
// stop signal; the pocket filling a screen with no window manager, and
// stepping aside for another window under one (openbox). Played a 440 Hz
// tone (from a file, a PulseAudio server or a PipeWire session), each run
// shows the tuner reading it, and the settings file is left where the
// programs keep it: in the test's own configuration folder, or in the file
// --settings names, and nowhere else.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/golden.h"
#include "support/pipewire.h"
#include "support/private_folders.h"
#include "support/process.h"
#include "support/pulse.h"
#include "support/wav.h"
#include "support/x11_window.h"

namespace {

using namespace testing_support;

const std::string kDesk = ZELVARO_DESK_PATH;
const std::string kPocket = ZELVARO_POCKET_PATH;

uint32_t Le32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

using Bytes = std::vector<unsigned char>;
const Bytes kBuiltInPrefs = {1, 0, 0, 0, 0, 0, 0, 0};

// The names in a folder, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

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

// The 240 x 320 screen in a window's picture: the largest whole factor
// that fits, centred, one pixel from each block. *whole (when given) says
// whether every block is of one colour.
Picture Unscaled(const Picture& window, bool* whole = nullptr) {
  Picture p;
  const int k = std::min(window.Width / 240, window.Height / 320);
  if (whole) *whole = k >= 1;
  if (k < 1) return p;
  const int x0 = (window.Width - 240 * k) / 2, y0 = (window.Height - 320 * k) / 2;
  p.Width = 240;
  p.Height = 320;
  for (int y = 0; y < 320; y++)
    for (int x = 0; x < 240; x++) {
      const uint32_t c = window.At(x0 + x * k, y0 + y * k);
      p.Pixels.push_back(c);
      for (int j = 0; whole && *whole && j < k * k; j++)
        if (window.At(x0 + x * k + j % k, y0 + y * k + j / k) != c) *whole = false;
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
  std::string SdlDummy() {
    return "ZELVARO_BACKEND=sdl SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN=" +
           ShellQuote(RawTone()) + " SDL_DISKAUDIOFILE=/dev/null";
  }

  TempDir dir, runtime;
};

TEST_F(Program, HelpListsTheOptionsOfEachProgramAndVersionNamesIt) {
  auto desk = Run(kDesk, "", "--help");
  EXPECT_EQ(desk.Status, 0);
  for (const char* option : {"--scale", "--device", "--input", "--frames", "--screenshot",
                             "--steady", "--headless", "--settings", "--help", "--version"})
    EXPECT_NE(desk.Out.find(option), std::string::npos) << option;
  auto pocket = Run(kPocket, "", "-h");
  EXPECT_EQ(pocket.Status, 0);
  EXPECT_EQ(pocket.Out.find("--scale"), std::string::npos);  // the pocket fills the screen
  EXPECT_NE(pocket.Out.find("--input"), std::string::npos);
  EXPECT_EQ(Run(kDesk, "", "--version").Out, "zelvaro-desk (Zelvaro) 1.5\n");
  auto version = Run(kPocket, "", "--headless --version");
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, "zelvaro-pocket (Zelvaro) 1.5\n");
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
  for (const std::string& program : {kDesk, kPocket}) {
    for (const std::string& input :
         {std::string(""), std::string("--input a.wav"), std::string("--device 1")}) {
      std::remove(dir.File("shot.bmp").c_str());
      std::remove(TestSettingsFile().c_str());
      auto r = Run(program, "ZELVARO_HEADLESS_CAPTURE=tone=440",
                   "--headless --frames 30 --screenshot shot.bmp " + input);
      EXPECT_EQ(r.Status, 0) << program << " " << input << ": " << r.Err;
      EXPECT_EQ(r.Err, "") << program << " " << input;
      EXPECT_TRUE(IsScreenshot(dir.File("shot.bmp"))) << program << " " << input;
      EXPECT_EQ(NotTheTunerOnA440(ReadBmp24(dir.File("shot.bmp"))), "") << program << " " << input;
      EXPECT_EQ(ReadFile(TestSettingsFile()), kBuiltInPrefs) << program << " " << input;
    }
  }
  auto unwritable = Run(kDesk, "", "--headless --frames 2 --screenshot no/such/folder/shot.bmp");
  EXPECT_EQ(unwritable.Status, 1);
  EXPECT_NE(unwritable.Err.find("could not be written"), std::string::npos) << unwritable.Err;
}

// Settings -----------------------------------------------------------------------------------

const std::string kTone = "ZELVARO_HEADLESS_CAPTURE=tone=440";

TEST_F(Program, SettingsAreKeptInTheConfigurationFolderOrInTheNamedFileAndNowhereElse) {
  const Bytes named = {2, 0, 0, 0, 0xF9, 0xFF, 0xFF, 0xFF};
  const Bytes old = {0, 0, 0, 0, 3, 0, 0, 0};
  for (const std::string& program : {kDesk, kPocket}) {
    std::filesystem::remove_all(TestConfigHome());
    for (const std::string& name : Names(dir.Path())) std::filesystem::remove(dir.File(name));

    auto r = Run(program, kTone, "--headless --frames 2");
    EXPECT_EQ(r.Status, 0) << program << ": " << r.Err;
    EXPECT_EQ(r.Err, "") << program;
    EXPECT_EQ(ReadFile(TestSettingsFile()), kBuiltInPrefs) << program;
    struct stat st {};
    ASSERT_EQ(stat((TestConfigHome() + "/zelvaro").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << program;
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{}) << program;

    // A named file is read and written back (its first 8 bytes), and the
    // usual one is left alone.
    std::filesystem::remove(TestSettingsFile());
    Bytes longer(named.begin(), named.end());
    longer.resize(10, 0xAA);
    WriteFile(dir.File("mine.dat"), longer);
    r = Run(program, kTone, "--headless --frames 2 --settings mine.dat");
    EXPECT_EQ(r.Status, 0) << program << ": " << r.Err;
    EXPECT_EQ(ReadFile(dir.File("mine.dat")), named) << program;
    EXPECT_FALSE(std::filesystem::exists(TestSettingsFile())) << program;
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"mine.dat"}) << program;

    // An earlier version's file in the current folder is taken over, once.
    WriteFile(dir.File("PREFS.DAT"), old);
    r = Run(program, kTone, "--headless --frames 2");
    EXPECT_EQ(r.Status, 0) << program << ": " << r.Err;
    EXPECT_NE(r.Err.find(TestSettingsFile()), std::string::npos) << program << ": " << r.Err;
    EXPECT_EQ(ReadFile(TestSettingsFile()), old) << program;
    EXPECT_EQ(ReadFile(dir.File("PREFS.DAT")), old) << program;
  }
}

TEST_F(Program, AnUnusableConfigurationFolderIsOneLineOnStderrAndTheRunEndsWell) {
  TempDir home;
  WriteFile(dir.File("a-file"), {});
  struct Case {
    std::string env, says;
  } cases[] = {
      {"XDG_CONFIG_HOME=" + ShellQuote(dir.File("a-file")), "cannot save the settings"},
      {"XDG_CONFIG_HOME=/sys", "cannot save the settings"},  // no one may write there
      {"XDG_CONFIG_HOME=relative/folder HOME=" + ShellQuote(home.Path()),
       "XDG_CONFIG_HOME is not an absolute path"},
  };
  for (const std::string& program : {kDesk, kPocket}) {
    for (const Case& c : cases) {
      std::remove(dir.File("shot.bmp").c_str());
      auto r = Run(program, c.env + " " + kTone, "--headless --frames 2 --screenshot shot.bmp");
      EXPECT_EQ(r.Status, 0) << program << " " << c.env << ": " << r.Err;
      EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << c.env << ": " << r.Err;
      EXPECT_NE(r.Err.find(c.says), std::string::npos) << c.env << ": " << r.Err;
      EXPECT_TRUE(IsScreenshot(dir.File("shot.bmp"))) << c.env;
      // Nothing half-written anywhere: no settings, no temporary file, no folder.
      EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"a-file", "shot.bmp"})) << c.env;
      EXPECT_FALSE(std::filesystem::exists(TestConfigHome() + "/zelvaro")) << c.env;
    }
    // ~/.config stands in for the relative folder.
    EXPECT_EQ(ReadFile(home.Path() + "/.config/zelvaro/PREFS.DAT"), kBuiltInPrefs) << program;
  }
}

TEST_F(Program, SteadyShowsTheOctaveWhoseOwnPartialsItHears) {
  // 440 Hz whose even partials are the loudest: the original reading names
  // the octave above (band 5 of the spectrum red), the steady one A 440.
  WriteFile(
      dir.File("even.wav"),
      WaveImage(
          Tone({{440, 0.08}, {880, 0.4}, {1320, 0.04}, {1760, 0.24}, {2200, 0.02}, {2640, 0.14}},
               8000, 1.0),
          1, 8000, 16));
  for (const std::string& program : {kDesk, kPocket}) {
    for (const bool steady : {false, true}) {
      std::remove(dir.File("shot.bmp").c_str());
      auto r = Run(program, "",
                   std::string("--headless --frames 30 --screenshot shot.bmp --input even.wav") +
                       (steady ? " --steady" : ""));
      EXPECT_EQ(r.Status, 0) << program << ": " << r.Err;
      const Picture shot = ReadBmp24(dir.File("shot.bmp"));
      ASSERT_EQ(shot.Width, 240) << program << " " << steady;
      EXPECT_EQ(NotTheTunerOnA440(shot) == "", steady) << program << " " << steady;
      EXPECT_EQ(IsRed(shot.At(155, 257)), !steady) << program << " " << steady;  // band 5
    }
  }
}

TEST_F(Program, AScreenshotReplacesNothingButARegularFile) {
  WriteFile(dir.File("victim"), {'v'});
  ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("link.bmp").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.File("fifo.bmp").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.File("folder.bmp").c_str(), 0700), 0);
  struct Case {
    std::string path, says;
  } cases[] = {
      {"link.bmp", "a symbolic link"}, {"fifo.bmp", "a FIFO"}, {"folder.bmp", "a directory"}};
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
      {"tone=440,stall=1",
       ": no sound from Default device (Scripted tone 440 Hz) for 2 seconds; "
       "still waiting",
       false},
      {"tone=440,fail", "Debug: Unable to start WAVEIN thread", true},
  };
  for (const std::string& program : {kDesk, kPocket}) {
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
  for (const std::string& program : {kDesk, kPocket}) {
    std::remove(dir.File("out.bmp").c_str());
    std::remove(TestSettingsFile().c_str());
    auto r = Run(program, SdlDummy(), "--frames 60 --screenshot out.bmp");
    EXPECT_EQ(r.Status, 0) << program << ": " << r.Err;
    EXPECT_TRUE(IsScreenshot(dir.File("out.bmp"))) << program;
    EXPECT_EQ(NotTheTunerOnA440(ReadBmp24(dir.File("out.bmp"))), "") << program;
    EXPECT_EQ(ReadFile(TestSettingsFile()), kBuiltInPrefs) << program;
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
    auto pocket = Run(kPocket, noScreen, "--frames 5");
    EXPECT_EQ(pocket.Status, 1) << noScreen;
    EXPECT_NE(pocket.Err.find("Init Failed: GXOpenDisplay"), std::string::npos) << pocket.Err;
    EXPECT_NE(pocket.Err.find("DEBUG: GAME INIT ERROR"), std::string::npos) << pocket.Err;
  }
}

// A window on an X server -------------------------------------------------------------------

const std::string kTitle = "Zelvaro (Version 1.5)";

// An 8-bit channel of a screenshot (the pixel's bits at the top) as the
// window shows it: the bits repeated into the low ones.
uint32_t AsShown(uint32_t c, bool is565) {
  auto widen = [](uint32_t v, int bits) { return v | v >> bits; };
  return widen(c >> 16 & 0xFF, 5) << 16 | widen(c >> 8 & 0xFF, is565 ? 6 : 5) << 8 |
         widen(c & 0xFF, 5);
}

class OnXvfb : public Program {
 protected:
  void SetUp() override {
    // Tall enough for a window at scale 4.
    xvfb = StartProcess(
        {"Xvfb", "-displayfd", "1", "-screen", "0", "1920x1440x24", "-nolisten", "tcp", "-noreset"},
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
    if (windowManager > 0) StopProcess(windowManager, SIGTERM, 10000);
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

  // SDL's disk audio driver recording the raw 8000 Hz 8-bit file `raw`.
  static std::vector<std::string> DiskRecording(const std::string& raw) {
    return {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILEIN=" + raw, "SDL_DISKAUDIOFILE=/dev/null"};
  }

  // Starts `argv` (either program) on this X server in the test's folder,
  // with the test's runtime folder and the sound `env` gives.
  pid_t StartProgram(const std::vector<std::string>& argv, std::vector<std::string> env) {
    for (const std::string& e :
         {"DISPLAY=" + display, "XDG_RUNTIME_DIR=" + runtime.Path(),
          std::string("ZELVARO_BACKEND=sdl"), std::string("SDL_VIDEODRIVER=x11")}) {
      const std::string key = e.substr(0, e.find('=') + 1);
      env.erase(std::remove_if(env.begin(), env.end(),
                               [&](const std::string& given) { return given.rfind(key, 0) == 0; }),
                env.end());
      env.push_back(e);
    }
    program = StartProcess(argv, env, dir.File("out"), dir.File("err"), dir.Path());
    return program;
  }

  // Plays a 440 Hz tone into the sound server's default sink and starts
  // `argv` recording the default source through SDL's audio `driver`.
  pid_t StartOnTone(SoundServer& sound, const std::string& driver,
                    const std::vector<std::string>& argv) {
    if (!sound.Ready()) return -1;
    const std::string wav = dir.File("a4.wav");
    WriteFile(wav, WaveImage(Sine(440, 0.5, 44100, 120.0), 1, 44100, 16));
    if (!sound.Play(wav)) return -1;
    std::vector<std::string> env = sound.EnvList();
    env.push_back("SDL_AUDIODRIVER=" + driver);
    return StartProgram(argv, env);
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

  // What keeps the window from showing the tuner on a steady A, at any
  // scale, within a minute (the splash comes first).
  static std::string WaitForTheTunerOnA440(X11Client& x, unsigned long window) {
    std::string wrong = "no picture";
    WaitFor(
        [&] {
          wrong = NotTheTunerOnA440(Unscaled(Shot(x, window)));
          return wrong.empty();
        },
        60000);
    return wrong;
  }

  // Plays the tone into `sound` and shows the desk window at `scale` until
  // it tunes the default source, read through SDL's `driver`; then closes it.
  void ExpectTheDeskToTune(SoundServer& sound, const std::string& driver, int scale) {
    ASSERT_GT(StartOnTone(sound, driver, {kDesk, "--scale", std::to_string(scale)}), 0)
        << sound.Log();
    X11Client x(display);
    X11WindowInfo w = WaitForWindow(x);
    ASSERT_NE(w.Id, 0u) << ReadFileText(dir.File("err"));
    EXPECT_EQ(WaitForTheTunerOnA440(x, w.Id), "") << ReadFileText(dir.File("err")) << sound.Log();
    EXPECT_EQ(Close(x, w.Id), 0) << ReadFileText(dir.File("err"));
  }

  // Closes the window as a window manager does; the program's exit status.
  int Close(X11Client& x, unsigned long window) {
    if (!x.AskToClose(window)) return -1;
    const int status = WaitProcess(program, 30000);
    program = -1;
    return status;
  }

  // openbox, with home and configuration folders of its own.
  void StartWindowManager() {
    const std::string home = dir.File("wm");
    windowManager =
        StartProcess({"openbox", "--sm-disable"},
                     {"DISPLAY=" + display, "HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                      "XDG_CACHE_HOME=" + home + "/cache", "XDG_DATA_HOME=" + home + "/data"},
                     dir.File("wm.out"), dir.File("wm.err"));
  }

  pid_t xvfb = -1, program = -1, windowManager = -1;
  std::string display;
};

TEST_F(OnXvfb, TheWindowHasItsTitleSizeIconAndClassAndClosesWhenTheWindowManagerAsks) {
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
    EXPECT_EQ(w.Class, "io.github.zelvaro.Zelvaro");  // the name of its desktop entry
    ASSERT_TRUE(x.AskToClose(w.Id));
    EXPECT_EQ(WaitProcess(program, 30000), 0) << ReadFileText(dir.File("err"));
    program = -1;
    EXPECT_TRUE(WaitFor([&] { return x.Find("Zelvaro (Version 1.5)").Id == 0; }, 5000));
  }
}

TEST_F(OnXvfb, TheWindowShowsTheScreenPixelForPixelAtEveryScale) {
  // In silence the tuner's screen stands still, as a headless run draws it.
  const std::string silence = dir.File("silence.raw");
  WriteFile(silence, std::vector<unsigned char>(8000 * 120, 128));
  struct Case {
    std::string program;
    int scale;  // 0: the pocket, filling the screen
  } cases[] = {{kDesk, 1}, {kDesk, 2}, {kDesk, 4}, {kPocket, 0}};
  for (const Case& c : cases) {
    const bool pocket = c.scale == 0;
    auto reference = Run(c.program, "ZELVARO_HEADLESS_CAPTURE=silence",
                         "--headless --frames 30 --screenshot reference.bmp");
    ASSERT_EQ(reference.Status, 0) << reference.Err;
    Picture expected = ReadBmp24(dir.File("reference.bmp"));
    for (uint32_t& pixel : expected.Pixels) pixel = AsShown(pixel, pocket);
    std::vector<std::string> argv = {c.program};
    if (!pocket) argv = {c.program, "--scale", std::to_string(c.scale)};
    ASSERT_GT(StartProgram(argv, DiskRecording(silence)), 0);
    X11Client x(display);
    X11WindowInfo w = WaitForWindow(x);
    ASSERT_NE(w.Id, 0u) << ReadFileText(dir.File("err"));
    EXPECT_EQ(w.Width, pocket ? 1920 : 240 * c.scale);
    EXPECT_EQ(w.Height, pocket ? 1440 : 320 * c.scale);
    bool whole = false;
    size_t wrong = 0;
    WaitFor(
        [&] {
          Picture seen = Unscaled(Shot(x, w.Id), &whole);
          wrong = expected.Pixels.size();
          if (seen.Pixels.size() == wrong)
            for (size_t i = 0; i < seen.Pixels.size(); i++)
              wrong -= seen.Pixels[i] == expected.Pixels[i];
          return whole && wrong == 0;
        },
        30000);
    EXPECT_TRUE(whole) << c.program << " " << c.scale;
    EXPECT_EQ(wrong, 0u) << c.program << " " << c.scale;
    EXPECT_EQ(Close(x, w.Id), 0) << ReadFileText(dir.File("err"));
  }
}

TEST_F(OnXvfb, ASecondStartEndsAtOnceAndLeavesTheFirstRunning) {
  program = Start({});
  ASSERT_GT(program, 0);
  X11Client x(display);
  ASSERT_TRUE(x.Connected());
  X11WindowInfo w = WaitForWindow(x);
  ASSERT_NE(w.Id, 0u) << ReadFileText(dir.File("err"));
  auto second =
      RunCommand("env DISPLAY=" + display + " XDG_RUNTIME_DIR=" + ShellQuote(runtime.Path()) +
                 " ZELVARO_BACKEND=sdl " + ShellQuote(kDesk));
  EXPECT_EQ(second.Status, 0) << second.Err;
  EXPECT_EQ(second.Err, "");
  EXPECT_TRUE(ProcessRunning(program));
  EXPECT_EQ(x.Find("Zelvaro (Version 1.5)").Id, w.Id);  // still the one window
  EXPECT_EQ(StopProcess(program, SIGTERM, 30000), 0);
  program = -1;
}

// The desk tuner on the sound servers desktops run: a PulseAudio server
// read through SDL's pulseaudio driver, and PipeWire (with WirePlumber and
// pipewire-pulse) through SDL's own pipewire driver.
TEST_F(OnXvfb, TheTunerReadsAToneFromPulseAudiosDefaultSourceAndSavesItsSettingsWhenClosed) {
  TempDir pulseDir;
  PulseServer pulse(pulseDir);
  ExpectTheDeskToTune(pulse, "pulseaudio", 1);
  EXPECT_EQ(ReadFile(TestSettingsFile()), kBuiltInPrefs);
}

TEST_F(OnXvfb, TheTunerReadsAToneFromAPipeWireSessionThroughSdlsPipeWireDriver) {
  TempDir soundDir;
  PipeWireSession pipewire(soundDir);
  ExpectTheDeskToTune(pipewire, "pipewire", 2);
}

// The pocket on a display of its own (a kiosk, xinit): no window manager
// makes its window full screen or gives it the focus, and it tunes at once.
TEST_F(OnXvfb, WithoutAWindowManagerThePocketFillsTheScreenAndTunesFromTheStart) {
  TempDir soundDir;
  PulseServer pulse(soundDir);
  ASSERT_GT(StartOnTone(pulse, "pulseaudio", {kPocket}), 0) << pulse.Log();
  X11Client x(display);
  X11WindowInfo w = WaitForWindow(x);
  ASSERT_NE(w.Id, 0u) << ReadFileText(dir.File("err"));
  EXPECT_FALSE(x.HasWindowManager());
  EXPECT_EQ(w.Width, 1920);
  EXPECT_EQ(w.Height, 1440);
  EXPECT_EQ(WaitForTheTunerOnA440(x, w.Id), "") << ReadFileText(dir.File("err")) << pulse.Log();
  EXPECT_EQ(Close(x, w.Id), 0) << ReadFileText(dir.File("err"));
}

// Under a window manager the pocket steps aside (minimised) while another
// window has the focus, and comes back, drawing again, when chosen again.
TEST_F(OnXvfb, UnderAWindowManagerThePocketStepsAsideForAnotherWindowAndComesBack) {
  StartWindowManager();
  ASSERT_GT(windowManager, 0);
  X11Client x(display);
  ASSERT_TRUE(WaitFor([&] { return x.HasWindowManager(); }, 20000))
      << ReadFileText(dir.File("wm.err"));
  TempDir soundDir;
  PulseServer pulse(soundDir);
  ASSERT_GT(StartOnTone(pulse, "pulseaudio", {kPocket}), 0) << pulse.Log();
  X11WindowInfo w = WaitForWindow(x);
  ASSERT_NE(w.Id, 0u) << ReadFileText(dir.File("err"));
  EXPECT_EQ(WaitForTheTunerOnA440(x, w.Id), "") << ReadFileText(dir.File("err"));

  const unsigned long other = x.OpenWindow("Another program");
  ASSERT_NE(other, 0u);
  x.Activate(other);
  EXPECT_TRUE(WaitFor([&] { return !x.Find(kTitle).Viewable; }, 10000));

  // The tone ends while the pocket is away: back, it shows the silence.
  pulse.StopPlaying();
  x.Activate(w.Id);
  EXPECT_TRUE(WaitFor([&] { return x.Find(kTitle).Viewable; }, 10000));
  EXPECT_EQ(x.Find(kTitle).Width, 1920);
  EXPECT_TRUE(WaitFor(
      [&] {
        const Picture p = Unscaled(Shot(x, w.Id));
        return p.Width == 240 && !IsGreen(p.At(30, 8)) && !IsRed(p.At(130, 257));
      },
      20000));
  EXPECT_EQ(Close(x, w.Id), 0) << ReadFileText(dir.File("err"));
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
  env.push_back("SDL_AUDIODRIVER=pulseaudio");
  ASSERT_GT(StartProgram({kDesk, "--scale", "1"}, env), 0);
  X11Client x(display);
  ASSERT_TRUE(x.Connected());
  ASSERT_NE(WaitForWindow(x).Id, 0u) << ReadFileText(dir.File("err"));
  const std::string line =
      "zelvaro-desk: no sound from Default device for 2 seconds; still waiting\n";
  EXPECT_TRUE(WaitFor([&] { return ReadFileText(dir.File("err")) == line; }, 20000))
      << ReadFileText(dir.File("err"));
  EXPECT_EQ(StopProcess(program, SIGTERM, 20000), 0) << ReadFileText(dir.File("err"));
  program = -1;
}

TEST_F(OnXvfb, WhenTheSoundServerGoesAndComesBackTheMeterFallsSilentAndReadsAgain) {
  TempDir pulseDir;
  auto pulse = std::make_unique<PulseServer>(pulseDir);
  ASSERT_GT(StartOnTone(*pulse, "pulseaudio", {kDesk, "--scale", "1"}), 0) << pulse->Log();
  X11Client x(display);
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
  ASSERT_TRUE(pulse->Play(dir.File("a4.wav")));
  EXPECT_EQ(shows(NotTheTunerOnA440), "") << ReadFileText(dir.File("err"));
  const std::string err = ReadFileText(dir.File("err"));
  EXPECT_NE(err.find("zelvaro-desk: the capture device went away"), std::string::npos) << err;
  EXPECT_NE(err.find("zelvaro-desk: recording again from Default device"), std::string::npos)
      << err;
  EXPECT_EQ(StopProcess(program, SIGTERM, 30000), 0) << ReadFileText(dir.File("err"));
  program = -1;
}

}  // namespace

// zelvaro-analyze --live as a user runs it: with scripted devices and the
// virtual clock (--headless), with SDL's disk audio driver, and with a
// PulseAudio server and a PipeWire session of their own whose null sink
// plays a tone into the default source. Also the device list, the choice of device, Ctrl-C,
// refusals, and a device that goes away in the middle.
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/pipewire.h"
#include "support/process.h"
#include "support/pulse.h"
#include "support/wav.h"

namespace {

using namespace testing_support;

const std::string kAnalyze = ZELVARO_ANALYZE_PATH;

struct Reading {
  double Time = 0, Freq = 0;
  std::string Note;
  int Cents = 0;
};

std::vector<Reading> ParseReadings(const std::string& out) {
  std::vector<Reading> lines;
  std::istringstream in(out);
  std::string text, s_unit, hz, cents_word;
  while (std::getline(in, text)) {
    Reading r;
    std::istringstream f(text);
    f >> r.Time >> s_unit >> r.Freq >> hz >> r.Note >> r.Cents >> cents_word;
    EXPECT_EQ(hz, "Hz") << text;
    lines.push_back(r);
  }
  return lines;
}

double CentsOff(double f, double target) { return 1200 * std::log2(f / target); }

class AnalyzeLive : public ::testing::Test {
 protected:
  CommandResult Run(const std::string& env, const std::string& args) {
    return RunCommand("cd " + ShellQuote(dir.Path()) + " && env " + env + " " +
                      ShellQuote(kAnalyze) + " " + args);
  }
  CommandResult Headless(const std::string& devices, const std::string& args) {
    return Run("ZELVARO_HEADLESS_CAPTURE=" + ShellQuote(devices), "--headless " + args);
  }
  TempDir dir;
};

TEST_F(AnalyzeLive, AMinuteOfAScriptedToneIsNamedInEveryReading) {
  auto r = Headless("tone=196,amp=0.6", "--live --seconds 60");
  ASSERT_EQ(r.Status, 0) << r.Err;
  auto lines = ParseReadings(r.Out);
  // 60 s give 937 pieces of 512 bytes; the first 8 fill the window.
  EXPECT_GE(lines.size(), 920u);
  EXPECT_LE(lines.size(), 930u);
  for (const Reading& l : lines) {
    ASSERT_EQ(l.Note, "G3") << l.Time;
    ASSERT_NEAR(CentsOff(l.Freq, 196.0), 0.0, 1.0) << l.Time;
  }
  EXPECT_DOUBLE_EQ(lines.front().Time, 0.512);
}

TEST_F(AnalyzeLive, DevicesAreListedWithIdsAndOneCanBeChosen) {
  const std::string devices = "tone=220,name=Low;tone=880,name=High";
  auto list = Headless(devices, "--list-devices");
  ASSERT_EQ(list.Status, 0) << list.Err;
  EXPECT_EQ(list.Out, "0  Default device (Low)\n1  Low\n2  High\n");

  auto high = ParseReadings(Headless(devices, "--live --seconds 2 --device 2").Out);
  ASSERT_FALSE(high.empty());
  EXPECT_EQ(high[0].Note, "A5");
  auto low = ParseReadings(Headless(devices, "--live --seconds 2").Out);
  ASSERT_FALSE(low.empty());
  EXPECT_EQ(low[0].Note, "A3");
  auto json = Headless(devices, "--live --seconds 1 --json --every-piece");
  EXPECT_EQ(json.Out.rfind("{\"time\":0.512,", 0), 0u) << json.Out;
}

TEST_F(AnalyzeLive, NoWorkingDeviceIsAOneLineErrorWithStatusTwo) {
  struct Case {
    std::string env, args, expect;
  } cases[] = {
      {"ZELVARO_HEADLESS_CAPTURE=", "--headless --live", "no audio capture device"},
      {"ZELVARO_HEADLESS_CAPTURE=", "--headless --list-devices", "no audio capture device"},
      {"ZELVARO_HEADLESS_CAPTURE='tone=440,fail'", "--headless --live",
       "cannot record from any capture device: the scripted device refuses to open"},
      {"ZELVARO_HEADLESS_CAPTURE='tone=440;tone=220,fail'", "--headless --live --device 2",
       "cannot record from Scripted tone 220 Hz: the scripted device refuses to open"},
      {"ZELVARO_HEADLESS_CAPTURE='tone=440'", "--headless --live --device 7",
       "no capture device with id 7 (ids 0 to 1"},
      {"ZELVARO_BACKEND=sdl SDL_AUDIODRIVER=nosuchdriver", "--live", "no audio capture device"},
  };
  for (const Case& c : cases) {
    auto r = Run(c.env, c.args);
    EXPECT_EQ(r.Status, 2) << c.args << ": " << r.Err;
    EXPECT_EQ(r.Out, "") << c.args;
    EXPECT_NE(r.Err.find(c.expect), std::string::npos) << c.args << ": " << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << c.args << ": " << r.Err;
  }
  for (const std::string& bad : {std::string("--seconds 2 x.wav"), std::string("--live x.wav"),
                                 std::string("--live --seconds 0"), std::string("--device 1 x.wav"),
                                 std::string("--live --device -1")}) {
    auto r = Run("ZELVARO_HEADLESS_CAPTURE=tone=440", "--headless " + bad);
    EXPECT_EQ(r.Status, 2) << bad;
    EXPECT_EQ(r.Out, "") << bad;
  }
}

TEST_F(AnalyzeLive, ADeviceThatGoesAwayEndsTheRunWithItsReadingsKept) {
  WriteFile(dir.File("a.wav"), WaveImage(Sine(440, 0.6, 22050, 2.0), 1, 22050, 16));
  auto r = Headless("wav=" + dir.File("a.wav"), "--live --seconds 30");
  EXPECT_EQ(r.Status, 3) << r.Err;
  auto lines = ParseReadings(r.Out);
  // 2 s: 31 whole pieces, 8 to fill the window.
  EXPECT_GE(lines.size(), 22u);
  for (const Reading& l : lines) EXPECT_EQ(l.Note, "A4") << l.Time;
  EXPECT_NE(r.Err.find("the capture device went away after 2.0"), std::string::npos) << r.Err;
}

// The line a device that is open but silent earns, once per silence.
const std::string kNoSound = "no sound from ";
size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

TEST_F(AnalyzeLive, ADeviceThatGoesSilentIsNamedOnceAndSecondsStillEndTheRun) {
  struct Case {
    std::string devices, seconds;
    size_t fewest, most;  // readings
  } cases[] = {{"tone=440,stall", "3", 0, 0}, {"tone=440,stall=1.5", "6", 10, 16}};
  for (const Case& c : cases) {
    auto r = Headless(c.devices, "--live --seconds " + c.seconds);
    EXPECT_EQ(r.Status, 0) << c.devices << ": " << r.Err;
    EXPECT_EQ(Count(r.Err,
                    "zelvaro-analyze: no sound from Default device (Scripted tone 440 Hz) "
                    "for 2 seconds; still waiting\n"),
              1u)
        << c.devices << ": " << r.Err;
    const size_t lines = ParseReadings(r.Out).size();
    EXPECT_GE(lines, c.fewest) << c.devices;
    EXPECT_LE(lines, c.most) << c.devices;
  }
}

TEST_F(AnalyzeLive, HelpDescribesTheLiveOptions) {
  auto help = Run("", "--help");
  EXPECT_EQ(help.Status, 0);
  for (const char* word : {"--live", "--seconds", "--device", "--list-devices", "--headless"})
    EXPECT_NE(help.Out.find(word), std::string::npos) << word;
}

// Whole-program runs against real audio services -------------------------------

// A raw 8 kHz unsigned 8-bit tone, the form the disk driver reads.
std::string RawTone(const TempDir& dir, double hz, double seconds) {
  std::string path = dir.File("tone.raw");
  WriteFile(path, Tone8({{hz, 90}}, 8000, static_cast<size_t>(seconds * 8000)));
  return path;
}

TEST_F(AnalyzeLive, SdlDiskDriverToneIsNamedWithinOneCent) {
  const double hz = 246.9417;  // B3
  std::string raw = RawTone(dir, hz, 6);
  auto r = Run("ZELVARO_BACKEND=sdl SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN=" + ShellQuote(raw) +
                   " SDL_DISKAUDIOFILE=/dev/null",
               "--live --seconds 3");
  ASSERT_EQ(r.Status, 0) << r.Err;
  auto lines = ParseReadings(r.Out);
  ASSERT_GE(lines.size(), 10u) << r.Err;
  for (const Reading& l : lines) {
    EXPECT_EQ(l.Note, "B3") << l.Time;
    EXPECT_NEAR(CentsOff(l.Freq, hz), 0.0, 1.0) << l.Time << ": " << l.Freq;
  }
}

TEST_F(AnalyzeLive, CtrlCEndsALiveRunCleanly) {
  std::string raw = RawTone(dir, 440, 20);
  std::string out = dir.File("out"), err = dir.File("err");
  pid_t pid = StartProcess({kAnalyze, "--live"},
                           {"ZELVARO_BACKEND=sdl", "SDL_AUDIODRIVER=disk",
                            "SDL_DISKAUDIOFILEIN=" + raw, "SDL_DISKAUDIOFILE=/dev/null"},
                           out, err);
  ASSERT_GT(pid, 0);
  bool reading = WaitFor([&] { return ParseReadings(ReadFileText(out)).size() >= 2; }, 30000);
  int status = StopProcess(pid, SIGINT, 20000);
  ASSERT_TRUE(reading) << ReadFileText(err);
  EXPECT_EQ(status, 0) << ReadFileText(err);
  for (const Reading& l : ParseReadings(ReadFileText(out))) EXPECT_EQ(l.Note, "A4");
}

TEST_F(AnalyzeLive, APulseAudioServersDefaultSourceToneIsNamed) {
  PulseServer pulse(dir);
  ASSERT_TRUE(pulse.Ready()) << pulse.Log();
  const double hz = 329.6276;  // E4
  std::string wav = dir.File("e4.wav");
  WriteFile(wav, WaveImage(Sine(hz, 0.5, 44100, 30.0), 1, 44100, 16));
  ASSERT_TRUE(pulse.Play(wav));
  auto list =
      Run("ZELVARO_BACKEND=sdl SDL_AUDIODRIVER=pulseaudio " + pulse.Env(), "--list-devices");
  EXPECT_EQ(list.Status, 0) << list.Err;
  EXPECT_NE(list.Out.find("0  Default device (Monitor of Null Output)"), std::string::npos)
      << list.Out;
  auto r =
      Run("ZELVARO_BACKEND=sdl SDL_AUDIODRIVER=pulseaudio " + pulse.Env(), "--live --seconds 6");
  ASSERT_EQ(r.Status, 0) << r.Err << pulse.Log();
  auto lines = ParseReadings(r.Out);
  ASSERT_GE(lines.size(), 5u) << r.Err;
  int named = 0;
  for (const Reading& l : lines)
    if (l.Note == "E4" && std::fabs(CentsOff(l.Freq, hz)) <= 1.0) named++;
  // The stream may open on a moment of silence before the tone arrives.
  EXPECT_GE(named, static_cast<int>(lines.size()) - 2) << r.Out;
}

TEST_F(AnalyzeLive, APulseAudioServerThatStopsEndsTheRunWithItsReadingsKept) {
  auto pulse = std::make_unique<PulseServer>(dir);
  ASSERT_TRUE(pulse->Ready()) << pulse->Log();
  std::string wav = dir.File("a4.wav");
  WriteFile(wav, WaveImage(Sine(440, 0.5, 44100, 30.0), 1, 44100, 16));
  ASSERT_TRUE(pulse->Play(wav));
  std::string out = dir.File("out"), err = dir.File("err");
  std::vector<std::string> env = pulse->EnvList();
  env.push_back("ZELVARO_BACKEND=sdl");
  env.push_back("SDL_AUDIODRIVER=pulseaudio");
  pid_t pid = StartProcess({kAnalyze, "--live", "--seconds", "60"}, env, out, err);
  ASSERT_GT(pid, 0);
  bool reading = WaitFor([&] { return ParseReadings(ReadFileText(out)).size() >= 3; }, 30000);
  pulse.reset();  // the server goes away
  int status = WaitProcess(pid, 30000);
  ASSERT_TRUE(reading) << ReadFileText(err);
  EXPECT_EQ(status, 3) << ReadFileText(err);
  EXPECT_NE(ReadFileText(err).find("went away"), std::string::npos) << ReadFileText(err);
  EXPECT_GE(ParseReadings(ReadFileText(out)).size(), 3u);
}

TEST_F(AnalyzeLive, AFrozenPulseAudioServerIsNamedAndSecondsStillEndTheRun) {
  PulseServer pulse(dir);
  ASSERT_TRUE(pulse.Ready()) << pulse.Log();
  std::string wav = dir.File("a4.wav");
  WriteFile(wav, WaveImage(Sine(440, 0.5, 44100, 30.0), 1, 44100, 16));
  ASSERT_TRUE(pulse.Play(wav));
  std::string out = dir.File("out"), err = dir.File("err");
  std::vector<std::string> env = pulse.EnvList();
  env.push_back("ZELVARO_BACKEND=sdl");
  env.push_back("SDL_AUDIODRIVER=pulseaudio");
  pid_t pid = StartProcess({kAnalyze, "--live", "--seconds", "8"}, env, out, err);
  ASSERT_GT(pid, 0);
  bool reading = WaitFor([&] { return ParseReadings(ReadFileText(out)).size() >= 3; }, 7000);
  // (A slow start may have earned the line already.)
  const size_t before = ReadFileText(err).size();
  kill(pulse.Pid(), SIGSTOP);  // the server's destructor lets it go on to end it
  // Closing a device of a frozen server would wait for it for good.
  EXPECT_EQ(WaitProcess(pid, 20000), 0) << ReadFileText(err);
  EXPECT_TRUE(reading) << ReadFileText(err);
  EXPECT_EQ(
      Count(ReadFileText(err).substr(before), kNoSound + "Default device (Monitor of Null Output)"),
      1u)
      << ReadFileText(err);
}

// A PipeWire session that nothing manages: SDL's PulseAudio driver opens a
// stream that is never linked (the server gives up on it after 30 s), its
// PipeWire driver finds no device.
TEST_F(AnalyzeLive, OnPipeWireWithoutItsSessionManagerTheRunSaysSoAndEndsInTime) {
  PipeWireSession pw(dir, PipeWireSession::Manager::None);
  ASSERT_TRUE(pw.Ready()) << pw.Log();
  std::vector<std::string> env = pw.EnvList();
  env.push_back("ZELVARO_BACKEND=sdl");
  env.push_back("SDL_AUDIODRIVER=pulseaudio");
  std::string out = dir.File("out"), err = dir.File("err");
  pid_t pid = StartProcess({kAnalyze, "--live", "--seconds", "3"}, env, out, err);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitProcess(pid, 20000), 0) << ReadFileText(err);
  EXPECT_EQ(Count(ReadFileText(err), "zelvaro-analyze: " + kNoSound +
                                         "Default device for 2 "
                                         "seconds; still waiting"),
            1u)
      << ReadFileText(err);
  auto native =
      Run("ZELVARO_BACKEND=sdl SDL_AUDIODRIVER=pipewire " + pw.Env(), "--live --seconds 3");
  EXPECT_EQ(native.Status, 2) << native.Err;
  EXPECT_NE(native.Err.find("no audio capture device"), std::string::npos) << native.Err;
}

// A desktop's PipeWire (with WirePlumber and pipewire-pulse), through SDL's
// own PipeWire driver and through its PulseAudio driver.
class AnalyzeOnPipeWire : public AnalyzeLive, public ::testing::WithParamInterface<const char*> {};

TEST_P(AnalyzeOnPipeWire, TheDefaultSourcesToneIsNamed) {
  PipeWireSession pw(dir);
  ASSERT_TRUE(pw.Ready()) << pw.Log();
  const double hz = 329.6276;  // E4
  std::string wav = dir.File("e4.wav");
  WriteFile(wav, WaveImage(Sine(hz, 0.5, 44100, 30.0), 1, 44100, 16));
  ASSERT_TRUE(pw.Play(wav));
  const std::string env =
      std::string("ZELVARO_BACKEND=sdl SDL_AUDIODRIVER=") + GetParam() + " " + pw.Env();
  auto list = Run(env, "--list-devices");
  EXPECT_EQ(list.Status, 0) << list.Err;
  EXPECT_EQ(list.Out.rfind("0  Default device (", 0), 0u) << list.Out;
  EXPECT_NE(list.Out.find("zelvaro_null"), std::string::npos) << list.Out;
  auto r = Run(env, "--live --seconds 6");
  ASSERT_EQ(r.Status, 0) << r.Err << pw.Log();
  auto lines = ParseReadings(r.Out);
  ASSERT_GE(lines.size(), 5u) << r.Err;
  int named = 0;
  for (const Reading& l : lines)
    if (l.Note == "E4" && std::fabs(CentsOff(l.Freq, hz)) <= 1.0) named++;
  EXPECT_GE(named, static_cast<int>(lines.size()) - 2) << r.Out;
}

INSTANTIATE_TEST_SUITE_P(Drivers, AnalyzeOnPipeWire, ::testing::Values("pipewire", "pulseaudio"));

}  // namespace

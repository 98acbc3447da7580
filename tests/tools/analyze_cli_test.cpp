// zelvaro-analyze as a user runs it: recordings in many encodings, the
// output forms, the settings, and clean refusals of bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/private_folders.h"
#include "support/wav.h"

namespace {

using namespace testing_support;

const std::string kAnalyze = ZELVARO_ANALYZE_PATH;

struct Line {
  double Time = 0, Freq = 0;
  std::string Note;
  int Cents = 0, Bars = 0;
};

std::vector<Line> ParseLines(const std::string& out) {
  std::vector<Line> lines;
  std::istringstream in(out);
  std::string text;
  while (std::getline(in, text)) {
    Line l;
    std::string s_unit, hz, cents_word, bars;
    std::istringstream f(text);
    f >> l.Time >> s_unit >> l.Freq >> hz >> l.Note >> l.Cents >> cents_word >> bars;
    EXPECT_EQ(s_unit, "s") << text;
    EXPECT_EQ(hz, "Hz") << text;
    EXPECT_EQ(cents_word, "cents") << text;
    l.Bars = std::stoi(bars.substr(0, bars.find('/')));
    lines.push_back(l);
  }
  return lines;
}

class AnalyzeCli : public ::testing::Test {
 protected:
  // Runs the program in a fresh folder, with the test's own settings (none
  // unless a test puts them there).
  CommandResult Run(const std::string& args) {
    return RunCommand("cd " + ShellQuote(dir.Path()) + " && " + ShellQuote(kAnalyze) + " " + args);
  }
  std::string Wave(const std::string& name, const std::vector<unsigned char>& image) {
    WriteFile(dir.File(name), image);
    return ShellQuote(dir.File(name));
  }
  TempDir dir;
};

TEST_F(AnalyzeCli, NamesA440WithinHalfACentInEveryEncoding) {
  struct Enc {
    int bits, channels, rate;
    bool is_float, extensible;
  } encs[] = {{8, 1, 8000, false, false},   {16, 1, 44100, false, false},
              {16, 2, 48000, false, false}, {24, 2, 96000, false, true},
              {32, 1, 22050, false, false}, {32, 6, 44100, true, true},
              {32, 1, 11025, true, false}};
  for (const Enc& e : encs) {
    auto img = WaveImage(Sine(440.0, 0.6, e.rate, 1.5, e.channels), e.channels, e.rate, e.bits,
                         e.is_float, e.extensible);
    auto r = Run(Wave("a440.wav", img));
    std::string what = std::to_string(e.bits) + " bits, " + std::to_string(e.channels) + " ch, " +
                       std::to_string(e.rate) + " Hz";
    ASSERT_EQ(r.Status, 0) << what << ": " << r.Err;
    auto lines = ParseLines(r.Out);
    // 1.5 s at 8000 Hz gives 23 pieces of 512; the window takes 8 of them.
    ASSERT_GE(lines.size(), 13u) << what;
    for (const Line& l : lines) {
      EXPECT_EQ(l.Note, "A4") << what;
      EXPECT_NEAR(1200 * std::log2(l.Freq / 440.0), 0.0, 0.5) << what << ": " << l.Freq;
      EXPECT_EQ(l.Cents, 0) << what;
      EXPECT_GE(l.Bars, 8) << what;
    }
  }
}

TEST_F(AnalyzeCli, ReadsAFileRecordedBySox) {
  std::string path = dir.File("sox.wav");
  auto gen =
      RunCommand("sox -n -r 44100 -b 16 -c 2 " + ShellQuote(path) + " synth 2 pluck A2 2>&1");
  if (gen.Status != 0) GTEST_SKIP() << "sox not available: " << gen.Out;
  auto r = Run(ShellQuote(path));
  ASSERT_EQ(r.Status, 0) << r.Err;
  auto lines = ParseLines(r.Out);
  ASSERT_GT(lines.size(), 5u);
  EXPECT_EQ(lines[0].Note, "A2");
  EXPECT_NEAR(lines[0].Freq, 110.0, 0.5);
}

TEST_F(AnalyzeCli, TimesAndTheEstimateRhythm) {
  auto img = WaveImage(Sine(261.63, 0.5, 8000, 1.0), 1, 8000, 16);
  auto r = Run(Wave("c4.wav", img));
  ASSERT_EQ(r.Status, 0) << r.Err;
  auto lines = ParseLines(r.Out);
  // 8000 samples: 15 whole pieces, 8 to fill the window, 7 readings.
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0].Note, "C4");
  // Every second reading repeats the one before, window end and all.
  EXPECT_DOUBLE_EQ(lines[0].Time, 0.512);
  EXPECT_DOUBLE_EQ(lines[1].Time, 0.512);
  EXPECT_DOUBLE_EQ(lines[2].Time, 0.640);
  EXPECT_DOUBLE_EQ(lines[3].Time, 0.640);
  EXPECT_EQ(lines[1].Freq, lines[0].Freq);

  auto every = ParseLines(Run("--every-piece " + ShellQuote(dir.File("c4.wav"))).Out);
  ASSERT_EQ(every.size(), 7u);
  for (size_t i = 0; i < every.size(); i++) EXPECT_DOUBLE_EQ(every[i].Time, 0.512 + 0.064 * i) << i;
}

TEST_F(AnalyzeCli, JsonLines) {
  auto img = WaveImage(Sine(440.0, 0.6, 8000, 0.7), 1, 8000, 16);
  auto r = Run("--json " + Wave("a.wav", img));
  ASSERT_EQ(r.Status, 0) << r.Err;
  std::istringstream in(r.Out);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  const std::string head = "{\"time\":0.512,\"frequency\":";
  ASSERT_EQ(line.rfind(head, 0), 0u) << line;
  EXPECT_NEAR(std::stod(line.substr(head.size())), 440.0, 0.1) << line;
  EXPECT_NE(line.find("\"valid\":true,\"note\":\"A4\",\"name\":\"A\",\"octave\":4"),
            std::string::npos)
      << line;
  EXPECT_NE(line.find("\"cents\":0,\"nearest\":440.00,"), std::string::npos) << line;
  EXPECT_NE(line.find("\"fresh\":true}"), std::string::npos) << line;
  EXPECT_EQ(line.back(), '}');
}

TEST_F(AnalyzeCli, SilenceAndTheTriggerLevel) {
  auto quiet = WaveImage(Sine(440.0, 0.1, 8000, 0.8), 1, 8000, 16);  // one lit segment
  std::string file = Wave("quiet.wav", quiet);
  auto lines = ParseLines(Run(file).Out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].Note, "A4");
  lines = ParseLines(Run("--trigger 3 " + file).Out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].Note, "--");
  EXPECT_EQ(lines[0].Freq, 0.0);

  auto silent = WaveImage(std::vector<double>(8000, 0.0), 1, 8000, 16);
  lines = ParseLines(Run("--trigger=0 " + Wave("silent.wav", silent)).Out);
  ASSERT_FALSE(lines.empty());
  for (const Line& l : lines) EXPECT_EQ(l.Note, "--");
}

TEST_F(AnalyzeCli, AdjustmentFromTheOptionAndFromTheSettingsFile) {
  auto img = WaveImage(Sine(440.0, 0.6, 8000, 0.7), 1, 8000, 16);
  std::string file = Wave("a.wav", img);
  auto lines = ParseLines(Run("--adjust 10 " + file).Out);
  ASSERT_FALSE(lines.empty());
  EXPECT_NEAR(lines[0].Freq, 444.4, 0.1);

  // Trigger 3 and adjustment -10 from the tuner's settings; options override.
  std::filesystem::create_directories(TestConfigHome() + "/zelvaro");
  WriteFile(TestSettingsFile(), {3, 0, 0, 0, 0xF6, 0xFF, 0xFF, 0xFF});
  lines = ParseLines(Run(file).Out);
  ASSERT_FALSE(lines.empty());
  EXPECT_NEAR(lines[0].Freq, 435.6, 0.1);
  lines = ParseLines(Run("--adjust 0 " + file).Out);
  EXPECT_NEAR(lines[0].Freq, 440.0, 0.1);
  // Or from the file --settings names (adjustment +5).
  WriteFile(dir.File("other.dat"), {0, 0, 0, 0, 5, 0, 0, 0});
  lines = ParseLines(Run("--settings=other.dat " + file).Out);
  ASSERT_FALSE(lines.empty());
  EXPECT_NEAR(lines[0].Freq, 442.2, 0.1);
}

TEST_F(AnalyzeCli, SteadyNamesTheOctaveTheSpectrumShows) {
  // 220 Hz whose even partials are the loudest: the estimator names the
  // octave above; the steady reading finds the fundamental and its odd
  // partials.
  auto img = WaveImage(
      Tone({{220, 0.08}, {440, 0.4}, {660, 0.04}, {880, 0.24}, {1100, 0.02}, {1320, 0.14}}, 8000,
           1.5),
      1, 8000, 16);
  const std::string file = Wave("even.wav", img);
  auto original = ParseLines(Run(file).Out);
  auto steady = ParseLines(Run("--steady " + file).Out);
  ASSERT_EQ(original.size(), 15u);
  ASSERT_EQ(steady.size(), original.size());
  for (size_t i = 0; i < original.size(); i++) {
    EXPECT_EQ(original[i].Note, "A4") << i;
    EXPECT_EQ(steady[i].Note, "A3") << i;
    EXPECT_NEAR(1200 * std::log2(steady[i].Freq / 220.0), 0.0, 1.0) << i;
    EXPECT_EQ(steady[i].Time, original[i].Time) << i;
  }
  EXPECT_NE(Run("--help").Out.find("--steady"), std::string::npos);
}

TEST_F(AnalyzeCli, BadInputIsAOneLineErrorWithStatusTwo) {
  auto good = WaveImage(Sine(440.0, 0.6, 8000, 1.0), 1, 8000, 16);
  auto slow = good;
  slow[24] = 0xE7;  // 999 Hz: below the lowest rate read
  slow[25] = 0x03;
  auto alaw = good;
  alaw[20] = 6;  // format tag 6: A-law
  auto odd_bits = WaveImage(Sine(440.0, 0.6, 8000, 0.2), 1, 8000, 16);
  odd_bits[34] = 12;  // 12-bit samples
  auto no_data = std::vector<unsigned char>(good.begin(), good.begin() + 36);
  no_data[4] = 28;  // RIFF size that matches what is left
  std::vector<unsigned char> text = {'h', 'e', 'l', 'l', 'o', '\n'};

  struct Case {
    std::string name;
    std::vector<unsigned char> bytes;
    std::string expect;
  } cases[] = {{"slow.wav", slow, "unsupported sample rate (999 Hz"},
               {"alaw.wav", alaw, "unsupported encoding"},
               {"odd.wav", odd_bits, "unsupported sample size"},
               {"nodata.wav", no_data, "no data chunk"},
               {"text.wav", text, "not a RIFF WAVE file"},
               {"empty.wav", {}, "not a RIFF WAVE file"}};
  for (const Case& c : cases) {
    auto r = Run(Wave(c.name, c.bytes));
    EXPECT_EQ(r.Status, 2) << c.name;
    EXPECT_EQ(r.Out, "") << c.name;
    EXPECT_NE(r.Err.find(c.expect), std::string::npos) << c.name << ": " << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << c.name << ": " << r.Err;
  }

  struct Named {
    std::string path, expect;
  } others[] = {{dir.File("nowhere.wav"), "No such file"},
                {dir.Path(), "Is a directory"},
                {"/dev/zero", "not a RIFF WAVE file"}};
  for (const Named& o : others) {
    auto r = Run(ShellQuote(o.path));
    EXPECT_EQ(r.Status, 2) << o.path;
    EXPECT_NE(r.Err.find(o.expect), std::string::npos) << o.path << ": " << r.Err;
  }
}

TEST_F(AnalyzeCli, ARecordingCutShortIsReadAsFarAsItGoesFromAFileOrAPipe) {
  const auto whole = WaveImage(Sine(440.0, 0.6, 8000, 2.0), 1, 8000, 16);
  std::vector<unsigned char> cut(whole.begin(), whole.begin() + 44 + 2 * 8000), head = cut;
  head[40] = 0x80;  // the data chunk of the first second says so: 16000 bytes
  head[41] = 0x3E;
  head[42] = head[43] = 0;
  auto reference = Run(Wave("head.wav", head));
  ASSERT_EQ(reference.Status, 0) << reference.Err;
  ASSERT_FALSE(reference.Out.empty());
  const std::string file = Wave("cut.wav", cut), analyze = ShellQuote(kAnalyze);
  for (const std::string& how :
       {analyze + " " + file, "cat " + file + " | " + analyze + " /dev/stdin"}) {
    auto r = RunCommand(how);
    EXPECT_EQ(r.Status, 0) << how << ": " << r.Err;
    EXPECT_EQ(r.Out, reference.Out) << how;
    EXPECT_NE(r.Err.find("cut short: the data chunk claims 16000 sample frames, the file holds "
                         "8000 (1.000 s)"),
              std::string::npos)
        << how << ": " << r.Err;
  }
  // A whole recording streamed through a pipe reads as the file does.
  auto piped = RunCommand("cat " + Wave("whole.wav", whole) + " | " + analyze + " /dev/stdin");
  EXPECT_EQ(piped.Out, Run(Wave("whole.wav", whole)).Out);
  EXPECT_EQ(piped.Err, "");
}

TEST_F(AnalyzeCli, OptionsAndHelp) {
  auto help = Run("--help");
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("Usage: zelvaro-analyze"), std::string::npos);
  EXPECT_NE(help.Out.find("--every-piece"), std::string::npos);
  EXPECT_NE(help.Out.find("--version"), std::string::npos);
  auto version = Run("--version");
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, "zelvaro-analyze (Zelvaro) 1.5\n");

  EXPECT_EQ(Run("").Status, 2);
  EXPECT_EQ(Run("--settings").Status, 2);
  EXPECT_EQ(Run("--trigger 4 x.wav").Status, 2);
  EXPECT_EQ(Run("--adjust -101 x.wav").Status, 2);
  EXPECT_EQ(Run("--adjust x.wav").Status, 2);
  auto unknown = Run("--frobnicate x.wav");
  EXPECT_EQ(unknown.Status, 2);
  EXPECT_NE(unknown.Err.find("unknown option '--frobnicate'"), std::string::npos) << unknown.Err;
}

TEST_F(AnalyzeCli, AFailedWriteIsAnErrorAndAClosedPipeEndsQuietly) {
  // 20 s of JSON lines overflow a pipe's buffer long before the end.
  std::string file = Wave("long.wav", WaveImage(Sine(440.0, 0.6, 8000, 20.0), 1, 8000, 16));
  for (const std::string& args : {file, std::string("--headless --live --seconds 2")}) {
    auto full =
        RunCommand("cd " + ShellQuote(dir.Path()) + " && ZELVARO_HEADLESS_CAPTURE=tone=440 " +
                   ShellQuote(kAnalyze) + " --json " + args + " > /dev/full");
    EXPECT_EQ(full.Status, 2) << args;
    EXPECT_NE(full.Err.find("cannot write the readings: No space left on device"),
              std::string::npos)
        << args << ": " << full.Err;
  }
  // With SIGPIPE ignored the program sees the closed pipe as a failed write.
  auto piped =
      RunCommand("cd " + ShellQuote(dir.Path()) + " && (trap '' PIPE; " + ShellQuote(kAnalyze) +
                 " --json " + file + "; echo $? > status) | head -c 100 > /dev/null");
  EXPECT_EQ(piped.Err, "");
  EXPECT_EQ(ReadFileText(dir.File("status")), "0\n");
}

TEST_F(AnalyzeCli, ARecordingShorterThanTheWindowSaysSo) {
  auto r = Run(Wave("short.wav", WaveImage(Sine(440.0, 0.6, 8000, 0.3), 1, 8000, 16)));
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("too short"), std::string::npos) << r.Err;
}

}  // namespace

// The reading step: the two phases, the estimate's rhythm, validity, the
// needle and arrows, the strength bar and the status line.
#include "tuner/reading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "support/wav.h"
#include "tuner/analysis.h"

namespace {

using testing_support::Tone8;

// Hands out pieces of a prepared signal; `gaps` pieces report "nothing yet".
class ScriptedPieces : public PieceSource {
 public:
  explicit ScriptedPieces(std::vector<unsigned char> audio) : m_Audio(std::move(audio)) {}
  int ReadData(unsigned char* dest, unsigned long len) override {
    Calls++;
    if (Gaps > 0) {
      Gaps--;
      return 0;
    }
    if (m_Audio.size() - m_Pos < len) return 0;
    std::memcpy(dest, m_Audio.data() + m_Pos, len);
    m_Pos += len;
    return 1;
  }
  int Gaps = 0;
  int Calls = 0;

 private:
  std::vector<unsigned char> m_Audio;
  size_t m_Pos = 0;
};

class Reading : public ::testing::Test {
 protected:
  void TearDown() override { calc_end(); }
  TunerState state;
  TunerSettings settings;
  TunerReading r;
};

TEST_F(Reading, FillingPhaseShowsInitialisingUntilTheWindowIsFull) {
  ScriptedPieces src(Tone8({{440, 100}}, 8000, 20 * kPieceSize));
  const int pieces = kWindowSize / kPieceSize;  // 8 on the desk, 4 on the pocket
  for (int i = 0; i < pieces; i++) {
    ASSERT_EQ(ReadingStep(state, src, settings, r), 1);
    EXPECT_FALSE(r.Steady);
    EXPECT_FALSE(r.Fresh);
    EXPECT_FALSE(r.Valid);
    EXPECT_EQ(r.Bars, 0);
    EXPECT_EQ(r.Angle, -90);
    EXPECT_TRUE(r.FlatLit);
    EXPECT_FALSE(r.SharpLit);
    if (i < pieces - 1) {
      EXPECT_STREQ(r.Status, "Initialising") << i;
    }
  }
  EXPECT_EQ(state.bufferlen, kWindowSize);
  EXPECT_STREQ(r.Status, "Waiting for Signal");  // full now, but nothing estimated yet

  ASSERT_EQ(ReadingStep(state, src, settings, r), 1);
  EXPECT_TRUE(r.Steady);
  EXPECT_TRUE(r.Fresh);
  EXPECT_TRUE(r.Valid);
  EXPECT_NEAR(r.Frequency, 440.0, 0.05);
  EXPECT_STREQ(r.Name, "A ");
  EXPECT_EQ(r.Octave * 12 + r.Index, 0);  // A4, whichever side of 440.0 it falls
  EXPECT_EQ(r.Cents, 0);
  EXPECT_EQ(r.Angle, 0);
  EXPECT_FALSE(r.FlatLit);
  EXPECT_FALSE(r.SharpLit);
  EXPECT_FLOAT_EQ(r.Nearest, 440.0f);
  char status[32];
  std::snprintf(status, sizeof status, "%0.2f Hz", r.Frequency);
  EXPECT_STREQ(r.Status, status);
  EXPECT_TRUE(r.Bands);

  // Filling again (another device): the last spectrum is not shown meanwhile.
  state.bufferlen = 0;
  ASSERT_EQ(ReadingStep(state, src, settings, r), 1);
  EXPECT_FALSE(r.Bands);
}

TEST_F(Reading, MissingPiecesWhileFillingOnlyDelayTheWindow) {
  ScriptedPieces src(Tone8({{440, 100}}, 8000, 20 * kPieceSize));
  src.Gaps = 3;
  for (int i = 0; i < 3; i++) {
    ASSERT_EQ(ReadingStep(state, src, settings, r), 1);
    EXPECT_EQ(state.bufferlen, 0);
    EXPECT_STREQ(r.Status, "Initialising");
  }
  ASSERT_EQ(ReadingStep(state, src, settings, r), 1);
  EXPECT_EQ(state.bufferlen, kPieceSize);
}

TEST_F(Reading, EstimatesOnTheBuildsRhythmAndRepeatsBetween) {
  ScriptedPieces src(Tone8({{440, 100}}, 8000, 40 * kPieceSize));
  while (state.bufferlen < kWindowSize) ReadingStep(state, src, settings, r);
  std::string pattern;
  for (int i = 0; i < 6; i++) {
    ASSERT_EQ(ReadingStep(state, src, settings, r), 1);
    pattern += r.Fresh ? 'E' : '-';
  }
  EXPECT_EQ(pattern, kPocket ? "E--E--" : "E-E-E-");

  settings.EstimateEvery = 1;
  for (int i = 0; i < 3; i++) {
    ReadingStep(state, src, settings, r);
    EXPECT_TRUE(r.Fresh);
  }
}

TEST_F(Reading, NoPieceInTheSteadyPhaseAbandonsTheFrameButCountsIt) {
  ScriptedPieces src(Tone8({{440, 100}}, 8000, 40 * kPieceSize));
  while (state.bufferlen < kWindowSize) ReadingStep(state, src, settings, r);
  src.Gaps = 1;
  EXPECT_EQ(ReadingStep(state, src, settings, r), 0);  // estimated, then no piece
  EXPECT_EQ(state.LastFrequency, 0.0);                 // not updated
  ASSERT_EQ(ReadingStep(state, src, settings, r), 1);
  EXPECT_FALSE(r.Fresh);  // the counter moved on in the abandoned frame
}

TEST_F(Reading, EstimateCoversTheWindowBeforeThisFramesPiece) {
  // 8 pieces of 440 Hz, then 220 Hz: the first steady frame still sees
  // only 440 Hz, although it slides a 220 Hz piece in.
  auto audio = Tone8({{440, 100}}, 8000, kWindowSize);
  auto low = Tone8({{220, 100}}, 8000, 40 * kPieceSize);
  audio.insert(audio.end(), low.begin(), low.end());
  ScriptedPieces src(audio);
  while (state.bufferlen < kWindowSize) ReadingStep(state, src, settings, r);
  ASSERT_EQ(ReadingStep(state, src, settings, r), 1);
  EXPECT_NEAR(r.Frequency, 440.0, 0.5);
  EXPECT_EQ(0, std::memcmp(state.wavebuffer + kWindowSize - kPieceSize, low.data(), kPieceSize));
}

TEST_F(Reading, MeterAdjustmentScalesTheEstimate) {
  settings.MeterAdjust = 10;
  ScriptedPieces src(Tone8({{440, 100}}, 8000, 20 * kPieceSize));
  while (state.bufferlen < kWindowSize) ReadingStep(state, src, settings, r);
  ReadingStep(state, src, settings, r);
  EXPECT_NEAR(r.Frequency, 444.4, 0.05);

  TunerReading exact;
  DescribeReading(440.0 + 440.0 * 0.001 * 10, 128, false, settings, exact);
  EXPECT_STREQ(exact.Status, "444.40 Hz");
  settings.AdjustMode = 1;
  DescribeReading(444.4, 128, false, settings, exact);
  EXPECT_STREQ(exact.Status, "Adjust: 10");
}

TEST_F(Reading, ValidityRangeIsInclusive) {
  settings.TriggerLevel = 1;
  struct Case {
    double f;
    bool valid;
  } cases[] = {{60.0, true}, {4000.0, true}, {59.99, false}, {4000.01, false}, {0.0, false}};
  for (const Case& c : cases) {
    DescribeReading(c.f, 128, false, settings, r);
    EXPECT_EQ(r.Valid, c.valid) << c.f;
    if (!c.valid) {
      EXPECT_STREQ(r.Status, "Waiting for Signal");
      EXPECT_EQ(r.Angle, -90);
      EXPECT_TRUE(r.FlatLit);
    }
  }
}

TEST_F(Reading, TriggerLevelNeedsEnoughLitSegments) {
  // Level 25 lights one segment (25 * 10 / 128 = 1.95).
  settings.TriggerLevel = 0;
  DescribeReading(440.0, 0, false, settings, r);
  EXPECT_TRUE(r.Valid);
  EXPECT_EQ(r.Bars, 0);
  settings.TriggerLevel = 1;
  DescribeReading(440.0, 25, false, settings, r);
  EXPECT_EQ(r.Bars, 1);
  EXPECT_TRUE(r.Valid);
  settings.TriggerLevel = 3;
  DescribeReading(440.0, 25, false, settings, r);
  EXPECT_FALSE(r.Valid);
  EXPECT_STREQ(r.Status, "Waiting for Signal");
  DescribeReading(440.0, 39, false, settings, r);
  EXPECT_EQ(r.Bars, 3);
  EXPECT_TRUE(r.Valid);
}

TEST_F(Reading, SignalLevelFollowsTheSineCurve) {
  std::vector<unsigned char> piece(kPieceSize, 128);
  EXPECT_EQ(SignalLevel(piece.data(), kPieceSize), 0);
  piece[7] = 0;  // deviation 128
  EXPECT_EQ(SignalLevel(piece.data(), kPieceSize), 128);
  DescribeReading(440.0, 128, false, settings, r);
  EXPECT_EQ(r.Bars, 10);
  piece[7] = 192;  // deviation 64: 128 sin(pi/4) = 90.5
  EXPECT_EQ(SignalLevel(piece.data(), kPieceSize), 91);
  piece[7] = 129;  // deviation 1: quiet input rises fastest
  EXPECT_EQ(SignalLevel(piece.data(), kPieceSize), 2);
}

TEST_F(Reading, NeedleAngleAndArrows) {
  struct Case {
    double cents;
    int angle;
    bool sharp, flat;
  } cases[] = {{5, 11, false, false},   {6, 13, true, false},   {50 - 1, 90, true, false},
               {-5, -11, false, false}, {-6, -13, false, true}, {-20, -45, false, true},
               {0, 0, false, false}};
  for (const Case& c : cases) {
    double off = c.cents < 0 ? -0.4 : 0.4;  // truncation toward zero keeps c.cents
    double f = 440.0 * std::pow(2.0, (c.cents + off) / 1200);
    DescribeReading(f, 128, false, settings, r);
    ASSERT_TRUE(r.Valid);
    EXPECT_EQ(r.Cents, static_cast<int>(c.cents)) << c.cents;
    EXPECT_EQ(r.Angle, c.angle) << c.cents;
    EXPECT_EQ(r.SharpLit, c.sharp) << c.cents;
    EXPECT_EQ(r.FlatLit, c.flat) << c.cents;
  }
}

TEST_F(Reading, ScientificPitchNotation) {
  struct Case {
    double f;
    const char* name;
    int octave;
  } cases[] = {{440.0, "A", 4}, {261.63, "C", 4}, {82.41, "E", 2},   {870.0, "A", 5},
               {110.0, "A", 2}, {246.94, "B", 3}, {466.16, "A#", 4}, {4000.0, "B", 7}};
  for (const Case& c : cases) {
    DescribeReading(c.f, 128, false, settings, r);
    char name[4];
    int octave = 0;
    ASSERT_TRUE(ScientificName(r, name, sizeof name, &octave)) << c.f;
    EXPECT_STREQ(name, c.name) << c.f;
    EXPECT_EQ(octave, c.octave) << c.f;
  }
  DescribeReading(0.0, 128, false, settings, r);
  char name[4];
  int octave;
  EXPECT_FALSE(ScientificName(r, name, sizeof name, &octave));
}

}  // namespace

// Peak list and fundamental estimator: the list's order and capacity, the
// centroid, the subharmonic search, and whole estimates of synthetic notes
// at the right octave.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/wav.h"
#include "tuner/analysis.h"

namespace {

using testing_support::Partial;
using testing_support::Tone8;

constexpr int kRate = 8000;
constexpr int kLen = 4096;
constexpr double kHzPerBin = 8000.0 / 4096;

double Cents(double f, double ref) { return 1200 * std::log2(f / ref); }

class Estimator : public ::testing::Test {
 protected:
  void TearDown() override { calc_end(); }

  // A spectrum buffer for 4096 points, all zero, ready to be drawn on.
  void BlankSpectrum() {
    ASSERT_EQ(calc_init(kLen), 0);
    for (int i = 0; i < kLen; i++) outbuf[i] = 0.0;
  }

  static double Estimate(const std::vector<unsigned char>& block, int mode = 3) {
    return calc_freq(const_cast<unsigned char*>(block.data()), block.size(), kRate, mode, 0);
  }
};

// --- The peak list -------------------------------------------------------------------

TEST_F(Estimator, SinglePeakFillsOnlyTheTopEntry) {
  BlankSpectrum();
  outbuf[225] = 50.0;
  EXPECT_EQ(CalcPeaks(kRate, kLen), 225);
  EXPECT_EQ(list[kCalcPeakCount - 1].bin, 225);
  EXPECT_EQ(list[kCalcPeakCount - 1].power, 50.0);
  for (int i = 0; i < kCalcPeakCount - 1; i++) {
    EXPECT_EQ(list[i].bin, 0) << i;
    EXPECT_EQ(list[i].power, 0.0) << i;
  }
}

TEST_F(Estimator, ListKeepsTheStrongestPeaksInAscendingOrder) {
  BlankSpectrum();
  for (int p = 0; p < 12; p++) outbuf[100 + 10 * p] = 1.0 + p;  // powers 1 .. 12
  CalcPeaks(kRate, kLen);
  const int kept = kPocket ? 12 : 10;
  const int first = kCalcPeakCount - kept;
  for (int i = 0; i < first; i++) EXPECT_EQ(list[i].bin, 0) << i;
  for (int i = first; i < kCalcPeakCount; i++) {
    double power = 12 - (kCalcPeakCount - 1 - i);
    EXPECT_EQ(list[i].power, power) << i;
    EXPECT_EQ(list[i].bin, 100 + 10 * static_cast<int>(power - 1)) << i;
  }
}

TEST_F(Estimator, StrongestBinOfTheBandNeedNotBeAPeak) {
  BlankSpectrum();
  for (int i = 30; i < 2048; i++) outbuf[i] = i;  // rising to the top of the band
  outbuf[1500] = 1510.0;                          // one bump on the way up
  EXPECT_EQ(CalcPeaks(kRate, kLen), 2047);
  EXPECT_EQ(list[kCalcPeakCount - 1].bin, 2047);  // above the zero entry 2048
  EXPECT_EQ(list[kCalcPeakCount - 2].bin, 1500);
  EXPECT_EQ(list[kCalcPeakCount - 3].bin, 0);
}

TEST_F(Estimator, BandStartsAtSixtyHertz) {
  BlankSpectrum();
  outbuf[29] = 100.0;  // 56.6 Hz: below the band
  outbuf[40] = 1.0;
  EXPECT_EQ(CalcPeaks(kRate, kLen), 40);
  EXPECT_EQ(list[kCalcPeakCount - 1].bin, 40);
  EXPECT_EQ(list[kCalcPeakCount - 2].bin, 0);
}

TEST_F(Estimator, PeakTestIsStrictOnBothSides) {
  double spectrum[6] = {0, 1, 5, 5, 1, 0};
  EXPECT_EQ(_calc_is_peak(2, spectrum), 0);
  EXPECT_EQ(_calc_is_peak(3, spectrum), 0);
  double single[3] = {1, 2, 1};
  EXPECT_EQ(_calc_is_peak(1, single), 1);
  EXPECT_EQ(_calc_peak_in_range(1, 4, spectrum), 0);
  // An empty range reads nothing at all.
  EXPECT_EQ(_calc_peak_in_range(20, 10, nullptr), 0);
}

TEST_F(Estimator, AddIgnoresPeaksNoStrongerThanTheWeakestEntry) {
  BlankSpectrum();
  _calc_init_peak_list(list);
  _calc_peak_add(50, outbuf, list);  // power 0.0: never stored
  EXPECT_EQ(list[kCalcPeakCount - 1].bin, 0);
  outbuf[60] = 3.0;
  _calc_peak_add(60, outbuf, list);
  EXPECT_EQ(list[kCalcPeakCount - 1].bin, 60);
}

TEST_F(Estimator, CentroidOfThreePowers) {
  BlankSpectrum();
  outbuf[99] = 2.0, outbuf[100] = 7.0, outbuf[101] = 2.0;
  EXPECT_EQ(CalcExactValue(100, kRate, kLen), 100 * kHzPerBin);
  outbuf[199] = 0.0, outbuf[200] = 1.0, outbuf[201] = 1.0;
  EXPECT_EQ(CalcExactValue(200, kRate, kLen), 200.5 * kHzPerBin);
  // Outside its domain it answers 0.0 instead of reading before the buffer
  // or dividing by zero.
  EXPECT_EQ(CalcExactValue(0, kRate, kLen), 0.0);
  EXPECT_EQ(CalcExactValue(500, kRate, kLen), 0.0);
}

// --- The subharmonic search ----------------------------------------------------------

TEST_F(Estimator, SubharmonicSummationCases) {
  EXPECT_EQ(SubharmonicSummation(220, 110, 330), 110);
  EXPECT_EQ(SubharmonicSummation(440, 0, 0), 440);
  EXPECT_EQ(SubharmonicSummation(440, 0, 660), 220);
  EXPECT_EQ(SubharmonicSummation(200, 1800, 300), 100);  // the 1800 Hz flag stays set
  EXPECT_EQ(SubharmonicSummation(0, 0, 0), 0);
  EXPECT_EQ(SubharmonicSummation(50, 0, 0), 50);   // a lone peak has no floor
  EXPECT_EQ(SubharmonicSummation(50, 100, 0), 0);  // a search does
  EXPECT_EQ(SubharmonicSummation(100, 150, 0), 0);
}

// --- Whole estimates -----------------------------------------------------------------

TEST_F(Estimator, PureTonesFromSixtyToThirtyNineHundredHertzWithinTwoCents) {
  // Every semitone in range, each also a third of a semitone sharp, at two
  // levels and phases.
  int checked = 0;
  for (int m = 35; m <= 107; m++) {  // B1 (61.7 Hz) .. B7 (3951 Hz) as note numbers
    for (double detune : {0.0, 33.0}) {
      double f = 440.0 * std::pow(2.0, (m - 69 + detune / 100) / 12);
      if (f < 60 || f > 3900) continue;
      for (double amp : {100.0, 25.0}) {
        double est = Estimate(Tone8({{f, amp}}, kRate, kLen, amp / 50));
        ASSERT_NEAR(Cents(est, f), 0.0, 2.0) << f << " Hz at amplitude " << amp;
        _note_type got{}, want{};
        note(est, &got);
        note(f, &want);
        // Same note number: at an A the estimate may fall on either side of
        // the octave boundary, where `note` counts the octave differently.
        ASSERT_EQ(got.octave * 12 + got.index, want.octave * 12 + want.index) << f;
        checked++;
      }
    }
  }
  EXPECT_GT(checked, 250);
  EXPECT_NEAR(Cents(Estimate(Tone8({{60.0, 100}}, kRate, kLen)), 60.0), 0.0, 2.0);
  EXPECT_NEAR(Cents(Estimate(Tone8({{3900.0, 100}}, kRate, kLen)), 3900.0), 0.0, 2.0);
}

TEST_F(Estimator, LoudSecondHarmonicIsNamedAtTheFundamental) {
  auto block = Tone8({{110, 25}, {220, 50}, {330, 20}}, kRate, kLen);
  EXPECT_NEAR(Estimate(block, 3), 110.0, 0.5);
  if constexpr (!kPocket) {
    EXPECT_NEAR(Estimate(block, 0), 220.0, 1.0);
  }
}

TEST_F(Estimator, LowEWithAWeakFundamentalIsNamedAtItsOctave) {
  const double e2 = 82.41;
  auto block = Tone8({{e2, 8}, {2 * e2, 50}, {3 * e2, 40}, {4 * e2, 30}}, kRate, kLen);
  double est = Estimate(block);
  EXPECT_NEAR(est, e2, 0.5);
  _note_type nt{};
  note(est, &nt);
  EXPECT_STREQ(nt.name, "E ");
  EXPECT_EQ(nt.octave, -3);
  // The result is the strongest partial's exact frequency divided by two.
  EXPECT_NEAR(est * 2, list[kCalcPeakCount - 1].bin * kHzPerBin, 2 * kHzPerBin);
}

TEST_F(Estimator, SilenceGivesNoFrequency) {
  std::vector<unsigned char> silent(kLen, 128);
  EXPECT_EQ(Estimate(silent), 0.0);
  if constexpr (!kPocket) {
    for (int mode = 0; mode < 3; mode++) EXPECT_EQ(Estimate(silent, mode), 0.0) << mode;
  }
}

#if !ZELVARO_POCKET
TEST_F(Estimator, DeskRulesOutsideZeroToThreeGiveNothing) {
  auto block = Tone8({{440, 100}}, kRate, kLen);
  EXPECT_EQ(Estimate(block, 4), 0.0);
  EXPECT_EQ(Estimate(block, -1), 0.0);
  EXPECT_NEAR(Estimate(block, 0), 440.0, 0.5);
}

TEST_F(Estimator, DeskHarmonicVoteFindsTheFundamentalOfARichNote) {
  auto block = Tone8({{110, 30}, {220, 45}, {330, 30}, {440, 20}, {550, 10}}, kRate, kLen);
  EXPECT_NEAR(Estimate(block, 1), 110.0, 1.0);
}

// Raw input without a window: exact-bin and off-bin cosines give clean,
// monotonic lobes, so the peaks are exactly where they are placed.
std::vector<uint32_t> RawCosines(const std::vector<std::pair<double, double>>& bins_amps) {
  std::vector<uint32_t> v(kLen);
  for (int i = 0; i < kLen; i++) {
    double s = 2e9;
    for (auto [bin, amp] : bins_amps) s += amp * std::cos(2 * M_PI * bin * i / kLen);
    v[i] = static_cast<uint32_t>(std::llround(s));
  }
  return v;
}

TEST_F(Estimator, DeskSubOctaveCheckPicksTheLowerOctave) {
  auto raw = RawCosines({{400.0, 1e8}, {200.25, 2e7}, {599.25, 2e7}});
  double f = calc_freq(raw.data(), kLen, kRate, 2, 1);
  EXPECT_GT(f, 199.5 * kHzPerBin);
  EXPECT_LT(f, 201.0 * kHzPerBin);
  // Without the fifth above, the strongest bin stands.
  auto alone = RawCosines({{400.0, 1e8}, {200.25, 2e7}});
  EXPECT_NEAR(calc_freq(alone.data(), kLen, kRate, 2, 1), 400 * kHzPerBin, kHzPerBin);
}

TEST_F(Estimator, DeskTransformFailureKeepsThePeakList) {
  auto block = Tone8({{440, 100}}, kRate, kLen);
  Estimate(block);
  _calc_peak top = list[kCalcPeakCount - 1];
  std::vector<unsigned char> odd(1000, 200);
  EXPECT_EQ(calc_freq(odd.data(), odd.size(), kRate, 3, 0), 0.0);
  EXPECT_EQ(list[kCalcPeakCount - 1].bin, top.bin);
}
#else
TEST_F(Estimator, PocketAlwaysUsesTheSubharmonicSearch) {
  auto block = Tone8({{110, 25}, {220, 50}, {330, 20}}, kRate, kLen);
  EXPECT_NEAR(calc_freq(block.data(), kLen, kRate, 0, 0), 110.0, 0.5);
  EXPECT_NEAR(calc_freq(block.data(), kLen, kRate, 9, 0), 110.0, 0.5);
}
#endif

TEST_F(Estimator, BuffersAreKeptForOneLengthAndRemadeForAnother) {
  auto block = Tone8({{440, 100}}, kRate, kLen);
  Estimate(block);
  _calc_peak* kept_list = list;
  EXPECT_EQ(outbuf_size, 4096UL);
  // Entries from len/2 up are never written; a scribble there survives a
  // call of the same length, so the buffer was not remade.
  outbuf[3000] = 5.0;
  Estimate(block);
  EXPECT_EQ(outbuf[3000], 5.0);
  EXPECT_EQ(outbuf[2048], 0.0);

  auto shorter = Tone8({{440, 100}}, kRate, 2048);
  EXPECT_NEAR(Estimate(shorter), 440.0, 1.0);
  EXPECT_EQ(outbuf_size, 2048UL);
  EXPECT_EQ(list, kept_list);
  EXPECT_EQ(outbuf[1024], 0.0);

  calc_end();
  EXPECT_EQ(outbuf, nullptr);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(outbuf_size, 0UL);
  EXPECT_EQ(nn, 0UL);
  EXPECT_NEAR(Estimate(block), 440.0, 0.5);
}

TEST_F(Estimator, DegenerateArgumentsAreRefused) {
  unsigned char two[2] = {0, 255};
  EXPECT_EQ(calc_freq(two, 1, kRate, 3, 0), 0.0);
  EXPECT_EQ(calc_freq(two, 2, 0, 3, 0), 0.0);
  // A rate that puts 4000 Hz beyond the spectrum keeps the scan inside it.
  auto block = Tone8({{300, 100}}, 4000, kLen);
  EXPECT_NEAR(calc_freq(block.data(), kLen, 4000, 3, 0), 300.0, 0.5);
}

}  // namespace

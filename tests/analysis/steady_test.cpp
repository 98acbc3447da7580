// The steady reading's stage: the octave decided on constructed spectra
// (missing fundamentals, octave-ambiguous pairs, images folded back from
// above half the sampling rate), and the note held across fresh estimates
// (a lone octave flip ignored, cents averaged) and let go on windows of
// samples where one note follows another (a real octave jump followed at
// once, the tail of the note before not taken for the new one's
// fundamental).
#include "tuner/steady.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tuner/analysis.h"

namespace {

constexpr int kBins = 2048;
constexpr double kHzPerBin = 8000.0 / 4096;
constexpr int kSettling = 4;  // the desk: four fresh estimates to a window

double Cents(double f, double ref) { return 1200 * std::log2(f / ref); }

// A power spectrum as the estimator's transform leaves it: each partial
// spread over its neighbouring bins the way the analysis window spreads it,
// over a faint noise floor.
struct Spectrum {
  std::vector<double> Power = std::vector<double>(kBins + 1, 1e-3);

  // Partials m * f0 (m from 1) with amplitudes amps[m - 1]; 0 leaves one out.
  Spectrum& Tone(double f0, const std::vector<double>& amps) {
    for (size_t m = 1; m <= amps.size(); m++) Partial(m * f0, amps[m - 1]);
    return *this;
  }
  Spectrum& Partial(double hz, double amp) {
    const double k0 = hz / kHzPerBin;
    for (int k = static_cast<int>(k0) - 3; k <= static_cast<int>(k0) + 4; k++) {
      if (k < 0 || k >= kBins) continue;
      const double w = Lobe(k - k0) * amp * 1e5;
      Power[k] += w * w;
    }
    return *this;
  }
  // The 0.51 - 0.49 cos window's transform near its peak, in bins.
  static double Lobe(double d) {
    auto sinc = [](double x) {
      return std::fabs(x) < 1e-9 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
    };
    return std::fabs(0.51 * sinc(d) + 0.245 * (sinc(d - 1) + sinc(d + 1)));
  }
  double Fundamental(const OctaveBias& bias = OctaveBias{}) const {
    return SpectrumFundamental(Power.data(), kBins, kHzPerBin, bias).Hz;
  }
};

TEST(SteadyOctave, TheFundamentalIsWhereItsOwnPartialsAre) {
  struct Case {
    std::string what;
    Spectrum spectrum;
    double expect;
  } cases[] = {
      {"missing fundamental", Spectrum().Tone(110, {0, 1, 0.55, 0.4, 0.3, 0.22}), 110},
      {"loud second partial", Spectrum().Tone(110, {0.35, 1, 0.45, 0.3}), 110},
      {"third partial loudest", Spectrum().Tone(98, {0.3, 0.35, 1, 0.25}), 98},
      {"weak fundamental, weak odd partials", Spectrum().Tone(110, {0.2, 1, 0.1, 0.6, 0.05, 0.35}),
       110},
      {"even partials only: the octave above", Spectrum().Tone(110, {0, 1, 0, 0.5, 0, 0.3}), 220},
      {"odd partials only", Spectrum().Tone(147, {1, 0, 0.5, 0, 0.3, 0, 0.2}), 147},
      {"a lone sine", Spectrum().Tone(1500, {1}), 1500},
      {"a stray far below the share", Spectrum().Tone(440, {1, 0.5, 0.3}).Partial(110, 0.04), 440},
      // 8000 - 7 x 1123 = 139 Hz and 8000 - 5 x 1123 = 2385 Hz: images of
      // partials above 4 kHz, not partials of 1123 / 8 = 140.4 Hz.
      {"images folded back",
       Spectrum()
           .Tone(1123, {1, 0.3, 0.25})
           .Partial(8000 - 7 * 1123.0, 0.2)
           .Partial(8000 - 5 * 1123.0, 0.3),
       1123},
      // A double course: the fundamental a few cents below half the loudest
      // partial, where the image of 5 x 1776.7 = 8883.5 Hz would fall (883.5
      // Hz); too strong to be one.
      {"a strong partial is no image", Spectrum().Partial(884.5, 0.8).Partial(1776.7, 1), 888.35},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(Cents(c.spectrum.Fundamental(), c.expect), 0.0, 3.0) << c.what;

  Spectrum silent;
  for (double& p : silent.Power) p = 0;
  EXPECT_EQ(silent.Fundamental(), 0.0);
}

TEST(SteadyOctave, AnAmbiguousPairLeansToTheHeldNote) {
  // The partials of 220 Hz and, weakly, 110 Hz: not enough for the octave
  // below on its own, enough to keep it when it is the note held.
  const Spectrum pair = Spectrum().Tone(220, {1, 0.5, 0.3}).Partial(110, 0.11);
  OctaveBias held;
  EXPECT_NEAR(pair.Fundamental(), 220, 1);
  held.Held = 110;
  EXPECT_NEAR(pair.Fundamental(held), 110, 1);
  held.Held = 220;
  EXPECT_NEAR(pair.Fundamental(held), 220, 1);
  // A clear octave below wins whichever note is held.
  const Spectrum clear = Spectrum().Tone(220, {1, 0.5, 0.3}).Partial(110, 0.5);
  EXPECT_NEAR(clear.Fundamental(held), 110, 1);
  // Firm at 220 Hz asking for a share above what 110 Hz has: 220 Hz.
  held.Firm = 220;
  held.FirmShare = 0.9;
  EXPECT_NEAR(clear.Fundamental(held), 220, 1);
}

// An analysis window of 8-bit samples: tones, each over a span of it.
struct Window {
  static constexpr int kLength = 2 * kBins;
  std::vector<double> Wave = std::vector<double>(kLength, 0.0);

  // Partials m * f0 with amplitudes amps[m - 1] (1: 40 steps of the
  // samples) from sample `from` on, or up to sample `to`.
  Window& Tone(double f0, const std::vector<double>& amps, int from = 0, int to = kLength) {
    for (int i = from; i < to; i++)
      for (size_t m = 1; m <= amps.size(); m++)
        Wave[i] += 40 * amps[m - 1] * std::sin(2 * M_PI * m * f0 * i / 8000.0 + m);
    return *this;
  }
  std::vector<unsigned char> Bytes() const {
    std::vector<unsigned char> b;
    for (double v : Wave) b.push_back(static_cast<unsigned char>(128 + std::lround(v)));
    return b;
  }
};

class SteadyHold : public ::testing::Test {
 protected:
  void TearDown() override { calc_end(); }
  double Step(const Spectrum& s, double raw) {
    return SteadyEstimate(state, raw, s.Power.data(), kBins, kHzPerBin, nullptr, 0, kSettling);
  }
  // The estimate and the stage on a window of samples, as the reading does.
  double Listen(const Window& w) {
    std::vector<unsigned char> b = w.Bytes();
    const double raw = calc_freq(b.data(), Window::kLength, 8000, 3, 0);
    return SteadyEstimate(state, raw, outbuf, kBins, kHzPerBin, b.data(), Window::kLength,
                          kSettling);
  }
  SteadyState state;
  // 110 Hz with its fundamental loudest, and a spectrum that names 220 Hz.
  const Spectrum low = Spectrum().Tone(110, {1, 0.6, 0.4, 0.3});
  const Spectrum high = Spectrum().Tone(220, {1, 0.5, 0.3});
};

TEST_F(SteadyHold, ALoneOctaveFlipIsNotShownTwoInARowAre) {
  // From the note's second estimate on, as its first agreed with the estimator.
  EXPECT_NEAR(Step(low, 110), 110, 0.5);
  EXPECT_NEAR(Step(high, 110), 110, 0.5);  // seen once: the held note stays
  for (int i = 0; i < 2; i++) EXPECT_NEAR(Step(low, 110), 110, 0.5) << i;
  EXPECT_NEAR(Step(high, 110), 110, 0.5);
  EXPECT_NEAR(Step(low, 110), 110, 0.5);
  EXPECT_NEAR(Step(high, 110), 110, 0.5);
  EXPECT_NEAR(Step(high, 110), 220, 0.5);  // twice running: shown
}

TEST_F(SteadyHold, ARealOctaveJumpIsFollowedAtOnce) {
  // 110 Hz with a weak fundamental, held while it sounds on.
  const std::vector<double> partials = {0.25, 1, 0.5, 0.4, 0.2};
  for (int i = 0; i < 4; i++) EXPECT_NEAR(Listen(Window().Tone(110, partials)), 110, 0.5) << i;
  // The window's first 40 % still holds it, the rest 220 Hz.
  const int change = Window::kLength * 4 / 10;
  EXPECT_NEAR(Listen(Window().Tone(110, partials, 0, change).Tone(220, partials, change)), 220,
              0.5);
  EXPECT_NEAR(Listen(Window().Tone(220, partials)), 220, 0.5);
  // And back down.
  EXPECT_NEAR(Listen(Window().Tone(220, partials, 0, change).Tone(110, partials, change)), 110,
              0.5);
}

TEST_F(SteadyHold, TheTailOfTheNoteBeforeIsNotTheNewOnesFundamental) {
  // 262 Hz, then 393 Hz (a fifth up): over the whole window both are
  // partials of 131 Hz, which the estimator names too; the newest samples
  // hold 393 Hz alone.
  const std::vector<double> partials = {1, 0.6, 0.4, 0.3};
  for (int i = 0; i < 3; i++) Listen(Window().Tone(262, partials));
  const int change = Window::kLength * 4 / 10;
  EXPECT_NEAR(Listen(Window().Tone(262, partials, 0, change).Tone(393, partials, change)), 393, 1);
}

TEST_F(SteadyHold, CentsAreAveragedWithinTheNoteAndStartAfreshOnANewOne) {
  const Spectrum a = Spectrum().Tone(440, {1, 0.5});
  const Spectrum b = Spectrum().Tone(440 * std::pow(2.0, 1.5 / 1200), {1, 0.5});
  const double first = Step(a, 440), second = Step(b, 440);
  EXPECT_NEAR(Cents(second, first), 0.75, 0.1);  // the mean of the two
  const Spectrum far = Spectrum().Tone(440 * std::pow(2.0, 8 / 1200.0), {1, 0.5});
  EXPECT_NEAR(Cents(Step(far, 440), first), 8, 0.1);  // too far to average with
  const Spectrum other = Spectrum().Tone(494, {1, 0.5});
  EXPECT_NEAR(Step(other, 494), 494, 0.5);
}

TEST_F(SteadyHold, NoSignalPassesThroughAndEndsTheNote) {
  Step(low, 110);
  Step(low, 110);
  EXPECT_EQ(Step(low, 0.0), 0.0);
  EXPECT_EQ(state.Note, 0);
  EXPECT_EQ(Step(low, 5000.0), 5000.0);
  // With no note held, the first look at the octave above is shown.
  EXPECT_NEAR(Step(high, 110), 220, 0.5);
}

}  // namespace

// The reading step: audio in, what the tuner screen shows out.
#include "tuner/reading.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tuner/analysis.h"

namespace {
constexpr double kLowestNote = 60.0;     // Hz; below is no reading
constexpr double kHighestNote = 4000.0;  // Hz
constexpr double kDegreesPerCent = 2.25;
constexpr int kArrowThreshold = 12;  // degrees; within it both arrows stay dark
constexpr int kNeedleStop = 90;      // degrees
}  // namespace

int SignalLevel(const unsigned char* piece, int len) {
  int peak = 0;
  for (int i = 0; i < len; i++) {
    int d = std::abs(static_cast<int>(piece[i]) - 128);
    if (d > peak) peak = d;
  }
  return static_cast<int>(128 * std::sin(M_PI * peak / 256) + 0.5);
}

void DescribeReading(double f, int level, bool filling, const TunerSettings& settings,
                     TunerReading& out) {
  out.Frequency = f;
  out.Level = level;
  out.Nearest = FindNearestNote(static_cast<float>(f));
  _note_type nt{};
  nt.tolerance = 0.0;
  nt.name = blank;
  note(f, &nt);
  out.Name = nt.name;
  out.Index = nt.index;
  out.Octave = nt.octave;
  out.Cents = nt.cents;

  out.Bars = static_cast<int>(out.Level * 10 * 0.0078125);
  out.Valid = f >= kLowestNote && f <= kHighestNote && out.Bars >= settings.TriggerLevel;

  int angle = -kNeedleStop;
  if (out.Valid) {
    angle = static_cast<int>(out.Cents * kDegreesPerCent);
    if (settings.AdjustMode)
      std::snprintf(out.Status, sizeof(out.Status), "Adjust: %d", settings.MeterAdjust);
    else
      std::snprintf(out.Status, sizeof(out.Status), "%0.2f Hz", f);
  } else {
    std::snprintf(out.Status, sizeof(out.Status), "%s",
                  filling ? "Initialising" : "Waiting for Signal");
  }
  out.SharpLit = angle > kArrowThreshold;
  out.FlatLit = angle < -kArrowThreshold;
  if (angle > kNeedleStop) angle = kNeedleStop;
  if (angle < -kNeedleStop) angle = -kNeedleStop;
  out.Angle = angle;
}

namespace {
constexpr double kFullScale = 1073676289.0;  // 32767 squared: 0 dB
}  // namespace

bool OctaveBandLevels(int meterAdjust, double level[8]) {
  if (!outbuf || outbuf_size < 2) return false;
  // One pass over the bins with a running band index; bins below the first
  // band and on the gaps between bands count for none.
  double sum[8] = {};
  int count[8] = {};
  int c = 0;
  const unsigned long bins = outbuf_size / 2;
  for (unsigned long k = 0; k < bins; k++) {
    const long f =
        static_cast<long>(static_cast<unsigned long long>(k) * kSampleRate / outbuf_size);
    if (f > BinsOctave[c][1] && c < 7) c++;
    if (BinsOctave[c][0] <= f && f < BinsOctave[c][1]) {
      sum[c] += outbuf[k];
      count[c]++;
    }
  }
  for (int j = 0; j < 8; j++) {
    const double v = sum[j] + sum[j] * 0.001 * meterAdjust;
    double l = -100.0;
    if (v != 0 && count[j] > 0) l = 10 * std::log10(v / kFullScale / count[j]) - 30;
    if (!(l >= -100.0)) l = -100.0;  // also a spectrum gone bad (NaN)
    if (l > 0) l = 0;
    level[j] = l;
  }
  return true;
}

int ReadingStep(TunerState& state, PieceSource& source, const TunerSettings& settings,
                TunerReading& out) {
  out = TunerReading{};
  double f = state.LastFrequency;
  out.Steady = state.bufferlen >= kWindowSize;

  if (!out.Steady) {
    if (source.ReadData(state.wavebuffer + state.bufferlen, kPieceSize) == 1)
      state.bufferlen += kPieceSize;
  } else {
    const int every = settings.EstimateEvery > 0 ? settings.EstimateEvery : 1;
    if (state.Counter % every == 0) {
      f = calc_freq(state.wavebuffer, kWindowSize, kSampleRate, 3, 0);
      if (settings.Steady) {
        // Fresh estimates it takes the window to slide past a change of note.
        const int settling = (kWindowSize + every * kPieceSize - 1) / (every * kPieceSize);
        f = SteadyEstimate(state.Steady, f, outbuf, kWindowSize / 2,
                           static_cast<double>(kSampleRate) / kWindowSize, state.wavebuffer,
                           kWindowSize, settling);
      }
      f = f + f * 0.001 * settings.MeterAdjust;
      out.Fresh = true;
    }
    // Only the counter's phase matters, so keep it from ever overflowing.
    state.Counter = (state.Counter + 1) % every;

    unsigned char piece[kPieceSize];
    if (source.ReadData(piece, kPieceSize) != 1) return 0;
    state.Level = SignalLevel(piece, kPieceSize);
    // The estimate above covers the window as it stood before this piece.
    std::memmove(state.wavebuffer, state.wavebuffer + kPieceSize, kWindowSize - kPieceSize);
    std::memcpy(state.wavebuffer + kWindowSize - kPieceSize, piece, kPieceSize);
  }

  DescribeReading(f, state.Level, state.bufferlen < kWindowSize, settings, out);
  // The spectrum view waits for a full window, as the estimate does.
  out.Bands = settings.Bands && state.bufferlen >= kWindowSize &&
              OctaveBandLevels(settings.MeterAdjust, out.BandLevel);
  state.LastFrequency = f;
  return 1;
}

bool ScientificName(const TunerReading& r, char* name, int size, int* octave) {
  static const char* const kFromC[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                         "F#", "G",  "G#", "A",  "A#", "B"};
  if (!r.Name || std::strcmp(r.Name, blank) == 0) return false;
  // Note number with A 440 Hz = 69; `note` counts octaves from A to A.
  int m = r.Octave * 12 + r.Index + 69;
  int octave_from_c = (m >= 0 ? m / 12 : (m - 11) / 12) - 1;
  int pitch_class = ((m % 12) + 12) % 12;
  std::snprintf(name, static_cast<size_t>(size), "%s", kFromC[pitch_class]);
  *octave = octave_from_c;
  return true;
}

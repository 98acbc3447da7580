// The steady reading: the octave decided on the spectrum's evidence, the
// note held while it sounds.
#include "steady.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLowestCandidate = 55.0;   // Hz
constexpr double kLowestReading = 60.0;     // Hz: the tuner's range
constexpr double kHighestReading = 4000.0;  // Hz
constexpr int kMaxDivisor = 12;             // the strongest partial is taken to be at most the 12th
constexpr int kMaxHarmonic = 24;            // partials looked at per candidate

// A partial is a local maximum standing this far above the noise floor and
// within this range of the strongest partial (power ratios).
constexpr double kAboveFloor = 10.0;
constexpr double kBelowStrongest = 6e-4;  // -32 dB
// Bins either side of a partial's place searched for it; a candidate's
// first partial is searched 35 cents either side (at least that far), as it
// may be a source of its own tuned apart (an accordion's reeds an octave
// below the others).
constexpr double kReach = 1.5;
constexpr double kFirstReach = 0.0204;

// A lower candidate wins when its own partials carry this share of the
// weighted amplitude of the partials it shares with the higher one.
constexpr double kOwnShare = 0.10;
// The share needed to reach the held note, and to go below it.
constexpr double kKeepHeld = 0.7;
constexpr double kLeaveHeld = 1.25;
// The share given to a fundamental that is the strongest partial itself.
constexpr double kStrongestShare = 10.0;

// Partials up to this multiple of the strongest are followed past half the
// sampling rate to where they fold back.
constexpr double kFoldedReach = 24.0;

// While the window still holds some of the note before, after the
// estimator moved from one note to another, the reading goes below the new
// note only while the held note's own partials keep this part of the share
// they had.
constexpr double kKeptShare = 0.5;
// Estimates of the held note averaged: those within this many cents of the
// newest.
constexpr double kSmoothCents = 2.0;

struct View {
  const double* Power;
  int Bins;
  double BinHz;
  double Floor;  // least power of a partial
};

// Median of the power in bins spread evenly over the spectrum: between the
// partials of a tone most bins hold only noise.
double NoiseFloor(const double* power, int bins) {
  double sample[64];
  int n = 0;
  const int step = std::max(1, bins / 64);
  for (int k = step / 2; k < bins && n < 64; k += step) sample[n++] = power[k];
  std::nth_element(sample, sample + n / 2, sample + n);
  return sample[n / 2];
}

// Amplitude of the partial within `reach` bins of `hz`: the strongest bin
// there if it is a local maximum above the floor (its bin in *peak), else 0.
double PartialAt(const View& v, double hz, double reach, int* peak) {
  const double k0 = hz / v.BinHz;
  const int a = std::max(1, static_cast<int>(std::ceil(k0 - reach)));
  const int b = std::min(v.Bins - 1, static_cast<int>(std::floor(k0 + reach)));
  if (a > b) return 0.0;
  int m = a;
  for (int k = a + 1; k <= b; k++)
    if (v.Power[k] > v.Power[m]) m = k;
  const double p = v.Power[m];
  if (p < v.Floor || p < v.Power[m - 1] || p < v.Power[m + 1]) return 0.0;
  *peak = m;
  return std::sqrt(p);
}

// Three-point power centroid of bin k, in Hz (the estimator's refinement).
double PeakFrequency(const View& v, int k) {
  const double y0 = v.Power[k - 1], y1 = v.Power[k], y2 = v.Power[k + 1];
  const double sum = y0 + y1 + y2;
  if (!(sum > 0)) return k * v.BinHz;
  return ((k - 1) * y0 + k * y1 + (k + 1) * y2) / sum * v.BinHz;
}

// Whether a partial found at `hz`, `own` Hz from where a candidate wants it,
// lies nearer still to where a partial of `c` above half the sampling `rate`
// folds back to (partials up to `reach` Hz). The capture's resampling and
// its 8-bit rounding leave such images; they are no evidence of a lower
// candidate.
bool NearerFolded(double hz, double own, double c, double rate, double reach) {
  for (double n = rate; n - hz <= reach; n += rate) {
    for (double image : {n - hz, n + hz}) {
      const double j = std::round(image / c);
      if (j * c > 0.5 * rate && j * c <= reach && std::fabs(j * c - image) < own) return true;
    }
  }
  return false;
}

double CentsAbove440(double hz) { return 1200.0 * std::log2(hz / 440.0); }
double HzFromCents(double cents) { return 440.0 * std::pow(2.0, cents / 1200.0); }
int NoteOf(double hz) { return static_cast<int>(std::lround(CentsAbove440(hz) / 100.0)) + 69; }
bool SameNote(double a, double b) {
  return a > 0 && b > 0 && std::fabs(1200.0 * std::log2(a / b)) < 50;
}

}  // namespace

double SpectrumFundamental(const double* power, int bins, double binHz, const OctaveBias& bias,
                           double* share) {
  if (share) *share = 0.0;
  if (!power || bins < 8 || !(binHz > 0)) return 0.0;
  const int lo = std::max(1, static_cast<int>(std::ceil(kLowestCandidate / binHz)));
  if (lo + 2 >= bins) return 0.0;
  int strongest = lo;
  for (int k = lo + 1; k < bins - 1; k++)
    if (power[k] > power[strongest]) strongest = k;
  if (!(power[strongest] > 0)) return 0.0;

  const View v{power, bins, binHz,
               std::max(kAboveFloor * NoiseFloor(power, bins), kBelowStrongest * power[strongest])};
  const double rate = 2.0 * bins * binHz;
  const double top = std::min(kHighestReading, (bins - 1) * binHz);
  const double fs = PeakFrequency(v, strongest);

  // The candidates are fs / h. `explained` is the amplitude of the chosen
  // candidate's partials, each divided by its number (low partials decide
  // the pitch; noise and strays gather high up). A candidate below it (h a
  // multiple of the chosen divisor) has as own partials those m for which
  // m * chosen is not a multiple of h.
  int chosen = 1;
  double explained = 0, taken = kStrongestShare;
  int k = 0;
  for (int m = 1; m <= kMaxHarmonic && m * fs <= top; m++)
    explained += PartialAt(v, m * fs, kReach, &k) / m;
  for (int h = 2; h <= kMaxDivisor && fs / h >= kLowestCandidate; h++) {
    if (h % chosen != 0) continue;
    const double above = fs / chosen, c = fs / h;
    double own = 0;
    for (int m = 1; m <= kMaxHarmonic && m * c <= top; m++) {
      if ((m * chosen) % h == 0) continue;
      const double a =
          PartialAt(v, m * c, m == 1 ? std::max(kReach, c * kFirstReach / binHz) : kReach, &k);
      if (a <= 0) continue;
      const double at = PeakFrequency(v, k);
      if (!NearerFolded(at, std::fabs(at - m * c), above, rate, kFoldedReach * fs)) own += a / m;
    }
    double needed = kOwnShare;
    if (SameNote(above, bias.Firm))
      needed = std::max(needed, bias.FirmShare);
    else if (SameNote(c, bias.Held))
      needed *= kKeepHeld;
    else if (SameNote(above, bias.Held))
      needed *= kLeaveHeld;
    if (own >= needed * explained) {
      taken = own / explained;
      // The shared partials count from now on under their numbers below c.
      explained = explained * chosen / h + own;
      chosen = h;
    }
  }
  if (share) *share = taken;
  return fs / chosen;
}

double SteadyEstimate(SteadyState& s, double raw, const double* power, int bins, double binHz,
                      int settling) {
  if (!(raw >= kLowestReading && raw <= kHighestReading)) {
    s = SteadyState{};
    return raw;
  }
  // The estimator moving from one note to another is a change of note.
  const int rawNote = NoteOf(raw);
  if (s.RawNote != 0 && rawNote != s.RawNote)
    s.RawAge = 0;
  else if (s.RawAge < 1000)
    s.RawAge++;
  s.RawNote = rawNote;
  const bool moved = s.RawAge < settling;

  const double held = s.Note != 0 ? s.Shown : 0.0;
  OctaveBias bias;
  bias.Held = held;
  if (moved) {
    bias.Firm = raw;
    bias.FirmShare = kKeptShare * s.Share;
  }
  double share = 0;
  const double f = SpectrumFundamental(power, bins, binHz, bias, &share);
  if (!(f >= kLowestReading && f <= kHighestReading)) {
    // No fundamental in range: the note is held while the estimator still
    // names it in some octave; otherwise the estimator's result is shown.
    if (s.Note != 0 && (rawNote - s.Note) % 12 == 0) return held;
    s = SteadyState{};
    return raw;
  }
  const int note = NoteOf(f);

  // An octave away from a held note is shown once seen twice running, or
  // at once when the estimator has just moved to that very note.
  if (s.Note != 0 && s.Age > 1 && note != s.Note && (note - s.Note) % 12 == 0 &&
      s.Pending != note && !(moved && note == rawNote)) {
    s.Pending = note;
    return held;
  }
  s.Pending = 0;
  if (note != s.Note) {
    s.Note = note;
    s.Age = 0;
    s.Count = 0;
    s.Next = 0;
  }
  if (s.Age < 1000) s.Age++;
  s.Share = share;
  const double cents = CentsAbove440(f);
  s.Cents[s.Next] = cents;
  s.Next = (s.Next + 1) % kSteadyHistory;
  if (s.Count < kSteadyHistory) s.Count++;
  double sum = 0;
  int n = 0;
  for (int i = 0; i < s.Count; i++)
    if (std::fabs(s.Cents[i] - cents) <= kSmoothCents) sum += s.Cents[i], n++;
  s.Shown = HzFromCents(sum / n);
  return s.Shown;
}

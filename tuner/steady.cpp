// The steady reading: the octave decided on the spectrum's evidence, the
// note held while it sounds.
#include "tuner/steady.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>

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
// sampling rate to where they fold back, and a partial weaker than this
// part of the strongest one's amplitude may be such an image.
constexpr double kFoldedReach = 24.0;
constexpr double kImageLevel = 0.35;

// The newest samples of the window, 128 ms at 8000 Hz, are heard on their
// own: a fundamental below a higher note still sounds there when its first
// own partials keep this part of the weight against that note's that they
// have over the whole window; it is fading when they keep less than
// kFading. A result of the estimator within this part of a whole multiple
// of a fundamental (half a semitone) is taken as that multiple.
constexpr int kLatest = 1024;
constexpr double kStillSounding = 0.07;
constexpr double kFading = 0.3;
constexpr double kMultiple = 0.03;

// While the window still holds some of the note before, after the
// estimator moved from one note to another, the reading goes below the new
// note only while the held note's own partials keep this part of the share
// they had.
constexpr double kKeptShare = 0.5;
// Estimates of the held note averaged: those within this many cents of the
// newest.
constexpr double kSmoothCents = 2.0;

struct View {
  const double* Power = nullptr;
  int Bins = 0;
  double BinHz = 0;
  int Strongest = 0;  // bin of the strongest partial; 0 when silent
  double Floor = 0;   // least power of a partial
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

// The spectrum's strongest partial from 55 Hz up and the floor of partials
// (Strongest 0 when the spectrum is silent or too short to judge).
View Look(const double* power, int bins, double binHz) {
  View v;
  v.Power = power;
  v.Bins = bins;
  v.BinHz = binHz;
  if (!power || bins < 8 || !(binHz > 0)) return v;
  const int lo = std::max(1, static_cast<int>(std::ceil(kLowestCandidate / binHz)));
  if (lo + 2 >= bins) return v;
  // The greatest power first, in independent runs that do not wait on
  // each other, then where it is.
  double most[8] = {};
  int k = lo;
  for (; k + 8 <= bins - 1; k += 8)
    for (int j = 0; j < 8; j++) most[j] = std::max(most[j], power[k + j]);
  for (; k < bins - 1; k++) most[0] = std::max(most[0], power[k]);
  const double peak = *std::max_element(most, most + 8);
  if (!(peak > 0)) return v;
  int strongest = lo;
  while (power[strongest] != peak) strongest++;
  v.Strongest = strongest;
  v.Floor = std::max(kAboveFloor * NoiseFloor(power, bins), kBelowStrongest * power[strongest]);
  return v;
}

Fundamental Decide(const View& v, const OctaveBias& bias) {
  Fundamental found;
  if (v.Strongest == 0) return found;
  const double rate = 2.0 * v.Bins * v.BinHz;
  const double top = std::min(kHighestReading, (v.Bins - 1) * v.BinHz);
  const double fs = PeakFrequency(v, v.Strongest);
  const double image = kImageLevel * std::sqrt(v.Power[v.Strongest]);

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
    if (SameNote(c, bias.Floor) || c < bias.Floor) break;
    double own = 0;
    for (int m = 1; m <= kMaxHarmonic && m * c <= top; m++) {
      if ((m * chosen) % h == 0) continue;
      const double a =
          PartialAt(v, m * c, m == 1 ? std::max(kReach, c * kFirstReach / v.BinHz) : kReach, &k);
      if (a <= 0) continue;
      const double at = PeakFrequency(v, k);
      if (a > image || !NearerFolded(at, std::fabs(at - m * c), above, rate, kFoldedReach * fs))
        own += a / m;
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
  found.Hz = fs / chosen;
  found.Share = taken;
  found.Strongest = fs;
  return found;
}

// Amplitudes, in a unit of their own, of the last kLatest samples of
// window[0 .. length-1] (Hann-weighted) at hz[0 .. 3], sampled at `rate` Hz.
// Goertzel filters: one per frequency and quarter of the samples, all run
// side by side (the four frequencies in one vector), then each frequency's
// quarters joined with their phases.
void LatestAmplitudes(const unsigned char* window, int length, double rate, const double* hz,
                      double* amp) {
  typedef float Four __attribute__((vector_size(16)));
  constexpr int kParts = 4, kPart = kLatest / kParts;
  static const std::array<float, kLatest> hann = [] {
    std::array<float, kLatest> w{};
    for (int i = 0; i < kLatest; i++)
      w[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / kLatest));
    return w;
  }();
  const unsigned char* x = window + length - kLatest;
  Four coef;
  for (int j = 0; j < 4; j++) coef[j] = static_cast<float>(2 * std::cos(2 * M_PI * hz[j] / rate));
  auto filter = [&](Four& one, Four& two, int n) {
    const Four u = Four{} + (static_cast<float>(x[n]) - 128.0f) * hann[n];
    const Four next = (u - two) + coef * one;
    two = one;
    one = next;
  };
  // Each part's two last values, in variables of their own so that they
  // stay in registers.
  Four a1 = {}, a2 = {}, b1 = {}, b2 = {}, c1 = {}, c2 = {}, d1 = {}, d2 = {};
  for (int i = 0; i < kPart; i++) {
    filter(a1, a2, i);
    filter(b1, b2, kPart + i);
    filter(c1, c2, 2 * kPart + i);
    filter(d1, d2, 3 * kPart + i);
  }
  const Four last[kParts] = {a1, b1, c1, d1}, before[kParts] = {a2, b2, c2, d2};
  for (int j = 0; j < 4; j++) {
    // Part p ends with last - e^(-iw) before = e^(iw (kPart - 1)) times its
    // transform from its own start, and starts w * kPart * p later.
    const double w = 2 * M_PI * hz[j] / rate;
    const std::complex<double> back = std::polar(1.0, -w), later = std::polar(1.0, -w * kPart);
    std::complex<double> sum = 0, turn = 1;
    for (int p = 0; p < kParts; p++, turn *= later)
      sum += turn * (static_cast<double>(last[p][j]) - back * static_cast<double>(before[p][j]));
    amp[j] = std::abs(sum);
  }
}

// How far the fundamental c still sounds at the end of the window, next to
// the note `alt` above it: the weight of c's first own partials (1 to 3,
// less the multiples of alt / c, which it shares with alt) against alt's
// first partial over the newest samples, as a part of the same over the
// whole window. Near 1 while both sound on; small when c is the tail of
// the note before, or its mixture with a new one, and large when c is
// the new note. 0 when those partials are missing from the whole window
// too (c stands on higher ones alone); infinite when there is nothing to
// judge by (no samples, or no partial at alt).
double Lately(const View& v, const unsigned char* window, int length, double c, double alt) {
  const double none = HUGE_VAL;
  if (!window || length < kLatest || v.Strongest == 0 || !(alt > c)) return none;
  const long step = std::max(1L, std::lround(alt / c));
  int k = 0;
  const double ref = PartialAt(v, alt, std::max(kReach, alt * kFirstReach / v.BinHz), &k);
  if (!(ref > 0)) return none;
  double hz[4] = {PeakFrequency(v, k), 0, 0, 0}, weight[4] = {};
  double whole = 0;
  for (int m = 1, j = 1; m <= 3 && m * c < kHighestReading; m++) {
    if (m % step == 0) continue;
    const double a =
        PartialAt(v, m * c, m == 1 ? std::max(kReach, c * kFirstReach / v.BinHz) : kReach, &k);
    hz[j] = a > 0 ? PeakFrequency(v, k) : m * c;
    weight[j++] = 1.0 / m;
    whole += a / m;
  }
  if (!(whole > 0)) return 0.0;
  double amp[4];
  LatestAmplitudes(window, length, 2.0 * v.Bins * v.BinHz, hz, amp);
  if (!(amp[0] > 0)) return none;
  double latest = 0;
  for (int j = 1; j < 4; j++) latest += weight[j] * amp[j];
  return (latest / amp[0]) / (whole / ref);
}

}  // namespace

Fundamental SpectrumFundamental(const double* power, int bins, double binHz,
                                const OctaveBias& bias) {
  return Decide(Look(power, bins, binHz), bias);
}

double SteadyEstimate(SteadyState& s, double raw, const double* power, int bins, double binHz,
                      const unsigned char* window, int length, int settling) {
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
  const View v = Look(power, bins, binHz);
  Fundamental found = Decide(v, bias);
  // A fundamental below the strongest partial must still sound at the
  // window's end, next to the estimator's result when that is a multiple of
  // it (else the strongest partial). The tail of the note before, or a
  // fundamental common to it and the new note, does not: then the
  // estimator's result stands, or the decision is made again above it. The
  // bar is higher when the estimator has just moved to that multiple.
  bool heldGone = false;
  if (found.Hz > 0 && found.Strongest > 1.5 * found.Hz) {
    const double ratio = raw / found.Hz;
    const bool rawAbove = ratio > 1.5 && std::fabs(ratio - std::round(ratio)) < kMultiple * ratio;
    const double q = Lately(v, window, length, found.Hz, rawAbove ? raw : found.Strongest);
    if (q < (rawAbove && moved ? kFading : kStillSounding)) {
      heldGone = SameNote(found.Hz, held);
      if (rawAbove) {
        found.Hz = raw;
        found.Share = kStrongestShare;
      } else {
        bias.Floor = found.Hz;
        found = Decide(v, bias);
      }
    }
  }
  const double f = found.Hz;
  if (!(f >= kLowestReading && f <= kHighestReading)) {
    // No fundamental in range: the note is held while the estimator still
    // names it in some octave; otherwise the estimator's result is shown.
    if (s.Note != 0 && (rawNote - s.Note) % 12 == 0) return held;
    s = SteadyState{};
    return raw;
  }
  const int note = NoteOf(f);

  // An octave away from the held note is shown once seen twice running,
  // unless the note is new and was taken against the estimator's result
  // (the first window of a note may hold its onset). It is shown at once
  // when it lies above a held note that no longer sounds at the window's
  // end, or has faded there while the estimator moved to the new note; or
  // when it lies below and the estimator has just moved to that very note.
  if (s.Note != 0 && (s.Age > 1 || s.Agreed) && note != s.Note && (note - s.Note) % 12 == 0 &&
      s.Pending != note) {
    const bool withRaw = moved && note == rawNote;
    const bool follow = note > s.Note ? heldGone || Lately(v, window, length, held, f) <
                                                        (withRaw ? kFading : kStillSounding)
                                      : withRaw;
    if (!follow) {
      s.Pending = note;
      return held;
    }
  }
  s.Pending = 0;
  if (note != s.Note) {
    s.Note = note;
    s.Age = 0;
    s.Agreed = note == rawNote;
    s.Count = 0;
    s.Next = 0;
  }
  if (s.Age < 1000) s.Age++;
  s.Share = found.Share;
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

// make_pitch_set: writes the recordings the tuner's readings are measured
// on (tools/evaluate_reading.cpp prints the figures). Notes of General MIDI
// instruments across their ranges, rendered by fluidsynth from two Debian
// soundfonts and detuned by known amounts, and synthetic tones that are hard
// to name at the right octave; all brought to the tuner's 8000 Hz 8-bit mono
// by the programs' own conversion.
//
//   make_pitch_set <output folder> [--synthetic-only]
//
// Every recording holds two notes of one instrument, the second starting as
// the first ends (intervals from a semitone to an octave, up and down), so
// that one recording measures two held notes and a change of note. The
// folder gets one WAVE file per recording and manifest.tsv, one line per
// recording: file, set, source, instrument, then for each note its onset in
// seconds, MIDI note number, reference frequency and nominal frequency (the
// equal-tempered note moved by the detuning asked for), the reference's
// drift in cents between the two halves of the measured span, the spread in
// cents of the pitches of its strong partials, the divisor of the key's
// pitch it sounds at (2: an octave below, as with an organ's 16' stop), and
// 1 when a weak partial below leaves its octave in doubt.
//
// Sets: "judge", what the steady reading is judged on, holds 27 instruments
// from MuseScore General Lite (kInstruments) and one series of synthetic
// tones. "tune", what it was tuned on, holds the same 27 and 20 more from
// TimGM6mb, both dry and with fluidsynth's reverb and chorus, 30 MuseScore
// General Lite presets that share no sample with the judged ones
// (kTuneMuseScore), and another series of synthetic tones at other
// frequencies and detunings.
//
// The reference frequency of a rendered note is measured on fluidsynth's
// 44.1 kHz floating-point output over the span the evaluation judges (0.6 s
// to 2.2 s after the onset): the lowest of the first six partials that is
// within 30 dB of the strongest below 4 kHz, located on the Hann-windowed
// spectrum to a small fraction of a cent, divided by its number; or, when a
// partial at half (again) or a third of that pitch is within 20 dB of the
// strongest, that partial; or half the pitch when a partial at one and a
// half times it is (the sound then repeats only every two periods).
// Samples in a soundfont are not always tuned exactly; this is the pitch the
// recording really has.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/services/audioconvert.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kRenderRate = 44100;
constexpr int kTunerRate = 8000;
// Times within a recording, in seconds.
constexpr double kFirstOnset = 0.25;
constexpr double kNoteLength = 2.6;
constexpr double kRecordingLength = 7.0;
// The span each note is judged on, after its onset.
constexpr double kSpanFrom = 0.6, kSpanTo = 2.2;
constexpr int kCasesPerInstrument = 4;  // recordings per instrument and soundfont

const char kTuneFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const char kJudgeFont[] = "/usr/share/sounds/sf3/MuseScore_General_Lite.sf3";

struct Instrument {
  int Program;  // General MIDI program, from 0
  const char* Name;
  int Low, High;  // MIDI notes played, within the tuner's 60..4000 Hz
};

const Instrument kInstruments[] = {
    {0, "piano", 36, 96},          {16, "drawbar organ", 36, 84},
    {19, "church organ", 36, 84},  {21, "accordion", 53, 89},
    {22, "harmonica", 60, 84},     {24, "nylon guitar", 40, 76},
    {25, "steel guitar", 40, 76},  {27, "electric guitar", 40, 79},
    {32, "acoustic bass", 35, 55}, {33, "electric bass", 35, 60},
    {40, "violin", 55, 96},        {41, "viola", 48, 84},
    {42, "cello", 36, 72},         {43, "contrabass", 35, 55},
    {46, "harp", 36, 96},          {52, "choir", 48, 79},
    {56, "trumpet", 55, 82},       {57, "trombone", 40, 72},
    {58, "tuba", 35, 58},          {60, "horn", 41, 77},
    {65, "alto sax", 49, 81},      {66, "tenor sax", 44, 76},
    {68, "oboe", 58, 91},          {70, "bassoon", 35, 72},
    {71, "clarinet", 50, 89},      {73, "flute", 60, 96},
    {105, "banjo", 48, 84},
};

// More instruments for the tuning set only, so that what the steady reading
// was tuned on is broad and what it is judged on stays apart.
const Instrument kTuneOnly[] = {
    {1, "bright piano", 36, 96},  {4, "electric piano", 36, 91},   {6, "harpsichord", 36, 89},
    {11, "vibraphone", 53, 89},   {15, "dulcimer", 48, 84},        {17, "percussive organ", 36, 84},
    {20, "reed organ", 41, 84},   {23, "tango accordion", 53, 89}, {26, "jazz guitar", 40, 76},
    {34, "picked bass", 35, 60},  {35, "fretless bass", 35, 60},   {48, "strings", 36, 96},
    {53, "voice oohs", 48, 79},   {61, "brass section", 41, 77},   {67, "baritone sax", 36, 69},
    {69, "english horn", 52, 81}, {72, "piccolo", 74, 100},        {75, "pan flute", 60, 96},
    {79, "ocarina", 60, 84},      {110, "fiddle", 55, 88},
};

// MuseScore Lite's presets that share no sample with the presets judged
// (kInstruments): tuning material in the judged soundfont's own recordings.
const Instrument kTuneMuseScore[] = {
    {2, "electric grand", 36, 96}, {4, "tine electric piano", 36, 91},
    {6, "harpsichord", 36, 89},    {7, "clavinet", 36, 84},
    {11, "vibraphone", 53, 89},    {12, "marimba", 48, 96},
    {15, "dulcimer", 48, 84},      {17, "percussive organ", 36, 84},
    {18, "rock organ", 36, 84},    {20, "reed organ", 41, 84},
    {26, "jazz guitar", 40, 76},   {34, "picked bass", 35, 60},
    {35, "fretless bass", 35, 60}, {44, "strings tremolo", 36, 96},
    {48, "strings fast", 36, 96},  {49, "strings slow", 36, 96},
    {53, "voice oohs", 48, 79},    {59, "muted trumpet", 55, 82},
    {61, "brass section", 41, 77}, {64, "soprano sax", 56, 87},
    {69, "english horn", 52, 81},  {72, "piccolo", 74, 100},
    {74, "recorder", 60, 96},      {75, "pan flute", 60, 96},
    {79, "ocarina", 60, 84},       {80, "square lead", 36, 96},
    {81, "saw lead", 36, 96},      {104, "sitar", 48, 77},
    {106, "shamisen", 50, 79},     {111, "shenai", 60, 84},
};

// Steps from the first note to the second; octave jumps must be followed.
const int kIntervals[] = {12, -5, 7, -12, 1, -7, 5, -2};
const int kVelocities[] = {100, 80, 115, 90};
const double kLevels[] = {-3.0, -8.0, -13.0};  // peak of a recording, dB below full scale

// A small deterministic generator, so that the set is the same on every run.
class Lcg {
 public:
  explicit Lcg(uint64_t seed) : m_State(seed * 2862933555777941757ULL + 3037000493ULL) {}
  double Uniform() {  // [0, 1)
    m_State = m_State * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(m_State >> 11) / 9007199254740992.0;
  }
  double Gauss() {
    double u = Uniform(), v = Uniform();
    return std::sqrt(-2.0 * std::log(1.0 - u)) * std::cos(2 * M_PI * v);
  }

 private:
  uint64_t m_State;
};

double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

struct Note {
  int Midi = 0;
  double Detune = 0;      // cents, as realised by the pitch wheel
  double Onset = 0;       // seconds from the start of the recording
  double Reference = 0;   // Hz
  double Drift = 0;       // cents between the halves of the judged span
  double Spread = 0;      // cents between the strong partials' pitches
  int Below = 1;          // sounds at the key's pitch divided by this
  bool Doubtful = false;  // a weak partial below leaves its octave in doubt
  double Nominal() const { return MidiHz(Midi + Detune / 100.0); }
};

struct Recording {
  std::string File, Set, Source, Instrument;
  Note Notes[2];
};

// --- Standard MIDI file -----------------------------------------------------------

struct MidiEvent {
  long Tick;
  Bytes Data;
};

constexpr int kTicksPerSecond = 960;  // 480 per quarter note at the default 120 bpm

long Tick(double seconds) { return std::lround(seconds * kTicksPerSecond); }

void PutVarLen(Bytes& b, unsigned long v) {
  Bytes tmp{static_cast<uint8_t>(v & 0x7F)};
  while (v >>= 7) tmp.insert(tmp.begin(), static_cast<uint8_t>((v & 0x7F) | 0x80));
  b.insert(b.end(), tmp.begin(), tmp.end());
}

Bytes MidiFile(std::vector<MidiEvent> events) {
  std::stable_sort(events.begin(), events.end(),
                   [](const MidiEvent& a, const MidiEvent& b) { return a.Tick < b.Tick; });
  Bytes track;
  long last = 0;
  for (const MidiEvent& e : events) {
    PutVarLen(track, static_cast<unsigned long>(e.Tick - last));
    track.insert(track.end(), e.Data.begin(), e.Data.end());
    last = e.Tick;
  }
  const Bytes end = {0x00, 0xFF, 0x2F, 0x00};
  track.insert(track.end(), end.begin(), end.end());
  Bytes smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
  const uint32_t n = static_cast<uint32_t>(track.size());
  for (int s = 24; s >= 0; s -= 8) smf.push_back(static_cast<uint8_t>(n >> s));
  smf.insert(smf.end(), track.begin(), track.end());
  return smf;
}

// Pitch-wheel value for a detuning in cents at the usual range of two
// semitones; *realised is what that value plays.
int BendFor(double cents, double* realised) {
  long v = 8192 + std::lround(cents / 200.0 * 8192.0);
  v = std::clamp(v, 0L, 16383L);
  *realised = (v - 8192) * 200.0 / 8192.0;
  return static_cast<int>(v);
}

// --- Audio -------------------------------------------------------------------------

bool WriteBytes(const std::string& path, const Bytes& b) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return static_cast<bool>(out);
}

// fluidsynth's raw output: little-endian float stereo, mixed to mono.
std::vector<float> ReadRawStereo(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<float> mono;
  float frame[2];
  while (in.read(reinterpret_cast<char*>(frame), sizeof frame))
    mono.push_back(0.5f * (frame[0] + frame[1]));
  return mono;
}

// An 8-bit mono WAVE image.
Bytes WaveImage8(const Bytes& samples, int rate) {
  Bytes b = {'R', 'I', 'F', 'F'};
  auto put32 = [&](uint32_t v) {
    for (int s = 0; s < 32; s += 8) b.push_back(static_cast<uint8_t>(v >> s));
  };
  auto put16 = [&](uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  };
  put32(static_cast<uint32_t>(36 + samples.size() + samples.size() % 2));
  for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<uint8_t>(c));
  put32(16);
  put16(1);
  put16(1);
  put32(static_cast<uint32_t>(rate));
  put32(static_cast<uint32_t>(rate));
  put16(1);
  put16(8);
  for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
  put32(static_cast<uint32_t>(samples.size()));
  b.insert(b.end(), samples.begin(), samples.end());
  if (samples.size() % 2) b.push_back(0);
  return b;
}

// Scales `x` to a peak `level_db` below full scale and converts it to the
// tuner's format with the programs' own conversion.
bool ToTunerFormat(std::vector<float> x, double level_db, Bytes& out) {
  float peak = 0;
  for (float v : x) peak = std::max(peak, std::fabs(v));
  if (peak > 0) {
    const float gain = static_cast<float>(std::pow(10.0, level_db / 20.0) / peak);
    for (float& v : x) v *= gain;
  }
  std::string error;
  out.clear();
  if (!ConvertAudio(x.data(), x.size() * sizeof(float), {SampleFormat::F32, 1, kRenderRate},
                    {SampleFormat::U8, 1, kTunerRate}, out, &error)) {
    std::fprintf(stderr, "make_pitch_set: conversion failed: %s\n", error.c_str());
    return false;
  }
  return true;
}

// Magnitude of the windowed spectrum of `seg` at `hz`.
double Magnitude(const std::vector<double>& seg, double hz) {
  const double w = 2 * M_PI * hz / kRenderRate;
  const double c = std::cos(w), s = std::sin(w);
  double re = 0, im = 0, pr = 1, pi = 0;
  for (double v : seg) {
    re += v * pr;
    im -= v * pi;
    const double nr = pr * c - pi * s;
    pi = pr * s + pi * c;
    pr = nr;
  }
  return std::hypot(re, im);
}

// The peak of the windowed spectrum of `seg` between a and b (Hz), by
// golden sections.
double Refine(const std::vector<double>& seg, double a, double b, double* magnitude) {
  const double g = (std::sqrt(5.0) - 1) / 2;
  double x1 = b - g * (b - a), x2 = a + g * (b - a);
  double m1 = Magnitude(seg, x1), m2 = Magnitude(seg, x2);
  for (int i = 0; i < 24; i++) {
    if (m1 > m2) {
      b = x2, x2 = x1, m2 = m1, x1 = b - g * (b - a), m1 = Magnitude(seg, x1);
    } else {
      a = x1, x1 = x2, m1 = m2, x2 = a + g * (b - a), m2 = Magnitude(seg, x2);
    }
  }
  if (magnitude) *magnitude = std::max(m1, m2);
  return 0.5 * (a + b);
}

// Magnitudes of the spectrum of `seg` zero-padded to a power of two.
std::vector<double> Spectrum(const std::vector<double>& seg) {
  size_t n = 1;
  while (n < 2 * seg.size()) n <<= 1;
  std::vector<double> re(n, 0.0), im(n, 0.0);
  for (size_t i = 0, j = 0; i < n; i++) {
    if (i < seg.size()) re[j] = seg[i];
    // j runs through the bit-reversed order of i.
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j |= bit;
  }
  std::vector<double> cosine(n / 2), sine(n / 2);
  for (size_t k = 0; k < n / 2; k++) {
    cosine[k] = std::cos(2 * M_PI * k / n);
    sine[k] = -std::sin(2 * M_PI * k / n);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    for (size_t i = 0; i < n; i += len)
      for (size_t k = 0; k < len / 2; k++) {
        const double c = cosine[k * (n / len)], s = sine[k * (n / len)];
        const size_t p = i + k, q = p + len / 2;
        const double tr = c * re[q] - s * im[q], ti = c * im[q] + s * re[q];
        re[q] = re[p] - tr, im[q] = im[p] - ti;
        re[p] += tr, im[p] += ti;
      }
  }
  std::vector<double> mag(n / 2);
  for (size_t k = 0; k < n / 2; k++) mag[k] = std::hypot(re[k], im[k]);
  return mag;
}

// The strongest spectral peak of `seg` within `guess` +- `span` (relative),
// from its spectrum `mag`.
double PeakNear(const std::vector<double>& seg, const std::vector<double>& mag, double guess,
                double span, double* magnitude) {
  const double bin = static_cast<double>(kRenderRate) / (2 * mag.size());
  size_t a = static_cast<size_t>(guess * (1 - span) / bin),
         b = static_cast<size_t>(guess * (1 + span) / bin) + 1;
  b = std::min(b, mag.size() - 1);
  size_t best = a;
  for (size_t k = a; k <= b; k++)
    if (mag[k] > mag[best]) best = k;
  return Refine(seg, (best - 1.0) * bin, (best + 1.0) * bin, magnitude);
}

std::vector<double> HannSegment(const std::vector<float>& x, double from, double to) {
  const size_t a = static_cast<size_t>(from * kRenderRate);
  const size_t b = std::min(x.size(), static_cast<size_t>(to * kRenderRate));
  std::vector<double> seg;
  for (size_t i = a; i < b; i++) {
    double w = 0.5 - 0.5 * std::cos(2 * M_PI * (i - a) / (b - a));
    seg.push_back(w * x[i]);
  }
  return seg;
}

// Measures the reference frequency of `n` (see the top of the file);
// `before` is the pitch of the note sounding before it (0 if none).
void MeasureReference(const std::vector<float>& x, double start, Note& n, double before) {
  const double from = start + n.Onset + kSpanFrom, to = start + n.Onset + kSpanTo;
  const std::vector<double> seg = HannSegment(x, from, to);
  const std::vector<double> spectrum = Spectrum(seg);
  // Levels are measured against the strongest partial below 4 kHz, the band
  // the tuner hears and the one that decides the pitch.
  double freq[7], mag[7], strongest = 0;
  for (int h = 1; h <= 6; h++) {
    freq[h] = PeakNear(seg, spectrum, h * n.Nominal(), 0.05, &mag[h]);
    if (h == 1 || h * n.Nominal() <= 4000) strongest = std::max(strongest, mag[h]);
  }
  int h = 1;
  while (h < 6 && mag[h] < 0.03 * strongest) h++;
  n.Reference = freq[h] / h;
  double lo = 1e9, hi = -1e9;
  for (int k = 1; k <= 6; k++) {
    if (mag[k] < 0.1 * strongest) continue;
    double c = 1200 * std::log2(freq[k] / k / n.Reference);
    lo = std::min(lo, c), hi = std::max(hi, c);
  }
  n.Spread = hi - lo;
  const double mid = 0.5 * (from + to);
  const double width = 2.0 / (mid - from);  // the halves' main lobe
  double f1 = Refine(HannSegment(x, from, mid), freq[h] - width, freq[h] + width, nullptr);
  double f2 = Refine(HannSegment(x, mid, to), freq[h] - width, freq[h] + width, nullptr);
  n.Drift = 1200 * std::log2(f2 / f1);

  // Stops one or two octaves or a twelfth below the key (an organ's 16',
  // 32' or 10 2/3' rank) make the note sound that much lower: a partial at
  // half or a third of the pitch within 20 dB of the strongest. So does a
  // quint a fifth above the key (5 1/3'), a partial at one and a half times
  // the pitch: with the key's own it repeats only every two periods. One 20
  // to 30 dB down leaves the octave in doubt. Where that partial is also
  // one of the note before, it must not be fading like that note's end.
  for (int d : {2, 2, 3}) {
    double pitch = 0, level = 0;
    for (int j : {1, 3}) {
      if (j % d == 0) continue;
      double sub_mag = 0, m1 = 0, m2 = 0;
      const double sub = PeakNear(seg, spectrum, n.Reference * j / d, 0.01, &sub_mag);
      Refine(HannSegment(x, from, mid), sub - width, sub + width, &m1);
      Refine(HannSegment(x, mid, to), sub - width, sub + width, &m2);
      bool echo = false;
      for (int k = 1; k <= 8 && before > 0; k++)
        echo = echo || std::fabs(1200 * std::log2(sub / (k * before))) < 30;
      if (echo && m2 < 0.5 * m1) continue;
      if (sub_mag > level) pitch = sub / j, level = sub_mag;
    }
    if (level >= 0.1 * strongest) {
      n.Reference = pitch;
      n.Below *= d;
    } else if (level >= 0.03 * strongest) {
      n.Doubtful = true;
    }
  }
}

// --- Rendered instruments ------------------------------------------------------------

std::string Slug(const std::string& s) {
  std::string r;
  for (char c : s) r += (c == ' ') ? '-' : c;
  return r;
}

// One soundfont rendered into one set.
struct Rendering {
  const char* Font;
  const char* Source;  // its name in the manifest
  const char* Set;
  const char* Prefix;  // of the file names
  uint64_t Seed;
  bool Room;  // with fluidsynth's reverb and chorus, as a room would add
};

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Renders the recordings of every instrument of `instruments` into `dir`.
bool RenderFont(const std::string& dir, const Rendering& how,
                const std::vector<Instrument>& instruments, std::vector<Recording>& manifest) {
  if (!std::filesystem::exists(how.Font)) {
    std::fprintf(stderr, "make_pitch_set: no soundfont %s (scripts/install-deps installs it)\n",
                 how.Font);
    return false;
  }
  int index = 0;
  for (const Instrument& inst : instruments) {
    Lcg rng(how.Seed * 1000 + static_cast<uint64_t>(inst.Program));
    std::vector<MidiEvent> events;
    std::vector<Recording> cases;
    for (int c = 0; c < kCasesPerInstrument; c++, index++) {
      const double start = c * kRecordingLength;
      Recording r;
      r.Set = how.Set;
      r.Source = how.Source;
      r.Instrument = inst.Name;
      // The first note from the case's quarter of the range, the second an
      // interval away (the other way when that leaves the range).
      const double span = inst.High - inst.Low;
      int first = inst.Low + static_cast<int>((c + rng.Uniform()) / kCasesPerInstrument * span);
      int step = kIntervals[(index + c) % std::size(kIntervals)];
      if (first + step > inst.High || first + step < inst.Low) step = -step;
      first = std::clamp(first, inst.Low, inst.High);
      const int notes[2] = {first, std::clamp(first + step, inst.Low, inst.High)};
      for (int k = 0; k < 2; k++) {
        Note& n = r.Notes[k];
        n.Midi = notes[k];
        n.Onset = kFirstOnset + k * kNoteLength;
        const int bend = BendFor(rng.Uniform() * 60.0 - 30.0, &n.Detune);
        const uint8_t ch = static_cast<uint8_t>(k);
        const long t0 = Tick(start), on = Tick(start + n.Onset),
                   off = Tick(start + n.Onset + kNoteLength);
        events.push_back(
            {t0, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(inst.Program)}});
        // Pitch-wheel range two semitones, then the bend.
        for (Bytes cc : {Bytes{101, 0}, Bytes{100, 0}, Bytes{6, 2}, Bytes{38, 0}})
          events.push_back({t0, {static_cast<uint8_t>(0xB0 | ch), cc[0], cc[1]}});
        events.push_back({t0,
                          {static_cast<uint8_t>(0xE0 | ch), static_cast<uint8_t>(bend & 0x7F),
                           static_cast<uint8_t>(bend >> 7)}});
        const uint8_t vel = static_cast<uint8_t>(kVelocities[(c + k) % std::size(kVelocities)]);
        events.push_back(
            {on, {static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(n.Midi), vel}});
        events.push_back({off, {static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(n.Midi), 0}});
        // Nothing rings into the next case.
        events.push_back(
            {Tick(start + kRecordingLength - 0.05), {static_cast<uint8_t>(0xB0 | ch), 120, 0}});
      }
      cases.push_back(r);
    }
    const std::string base = dir + "/" + how.Prefix + "-" + Slug(inst.Name);
    if (!WriteBytes(base + ".mid", MidiFile(events))) return false;
    const std::string cmd = std::string("fluidsynth -ni -q ") +
                            (how.Room ? "-R 1 -C 1" : "-R 0 -C 0") +
                            " -g 0.3 -r 44100 -O float -T raw -E little -F " +
                            ShellQuote(base + ".raw") + " " + ShellQuote(how.Font) + " " +
                            ShellQuote(base + ".mid") + " >" + ShellQuote(base + ".log") + " 2>&1";
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "make_pitch_set: fluidsynth failed on %s (see %s.log)\n", how.Font,
                   base.c_str());
      return false;
    }
    const std::vector<float> audio = ReadRawStereo(base + ".raw");
    std::filesystem::remove(base + ".raw");
    std::filesystem::remove(base + ".mid");
    std::filesystem::remove(base + ".log");
    for (int c = 0; c < kCasesPerInstrument; c++) {
      Recording& r = cases[static_cast<size_t>(c)];
      const double start = c * kRecordingLength;
      const size_t a = static_cast<size_t>(start * kRenderRate);
      const size_t b =
          std::min(audio.size(), a + static_cast<size_t>(kRecordingLength * kRenderRate));
      if (a >= b) {
        std::fprintf(stderr, "make_pitch_set: fluidsynth rendered too little of %s\n",
                     base.c_str());
        return false;
      }
      MeasureReference(audio, start, r.Notes[0], 0.0);
      MeasureReference(audio, start, r.Notes[1], r.Notes[0].Reference);
      Bytes tuner;
      if (!ToTunerFormat(std::vector<float>(audio.begin() + static_cast<long>(a),
                                            audio.begin() + static_cast<long>(b)),
                         kLevels[c % std::size(kLevels)], tuner))
        return false;
      r.File =
          std::string(how.Prefix) + "-" + Slug(inst.Name) + "-" + std::to_string(c + 1) + ".wav";
      if (!WriteBytes(dir + "/" + r.File, WaveImage8(tuner, kTunerRate))) return false;
      manifest.push_back(r);
    }
    std::fprintf(stderr, "make_pitch_set: %s %s\n", how.Source, inst.Name);
  }
  return true;
}

// --- Synthetic tones ------------------------------------------------------------------

struct SyntheticKind {
  const char* Name;
  std::vector<double> Partials;  // amplitude of partial 1, 2, ...
  double Decay = 0;              // pluck: seconds for the first partial to fall by 1/e
  double Vibrato = 0;            // cents, at 5.5 Hz
  double NoiseDb = 0;            // signal to white noise, dB (0: none)
};

const SyntheticKind kSynthetic[] = {
    {"missing fundamental", {0, 1, 0.55, 0.4, 0.3, 0.22, 0.16, 0.12}},
    {"strong 2nd partial", {0.35, 1, 0.45, 0.3, 0.15, 0.1}},
    {"strong 3rd partial", {0.3, 0.35, 1, 0.25, 0.3, 0.1}},
    {"octave-heavy", {0.2, 1, 0.1, 0.6, 0.05, 0.35, 0.03, 0.2}},
    {"pluck", {1, 0.5, 0.33, 0.25, 0.2, 0.17, 0.14, 0.12, 0.11, 0.1}, 1.2},
    {"vibrato", {1, 0.5, 0.33, 0.25, 0.2, 0.17}, 0, 25},
    {"noise", {1, 0.5, 0.33, 0.25, 0.2, 0.17}, 0, 0, 10},
};

// Adds one note of `kind` at `hz` to `x` from `onset` for kNoteLength seconds,
// with 10 ms ramps at both ends.
void AddTone(std::vector<float>& x, const SyntheticKind& kind, double hz, double onset, Lcg& rng) {
  const size_t a = static_cast<size_t>(onset * kRenderRate);
  const size_t n = static_cast<size_t>(kNoteLength * kRenderRate);
  const double ramp = 0.01 * kRenderRate;
  std::vector<double> phase(kind.Partials.size(), 0.0);
  for (double& p : phase) p = 2 * M_PI * rng.Uniform();
  double cycle = 0;  // fundamental phase in cycles, following the vibrato
  for (size_t i = 0; i < n && a + i < x.size(); i++) {
    const double t = static_cast<double>(i) / kRenderRate;
    const double f = hz * std::pow(2.0, kind.Vibrato * std::sin(2 * M_PI * 5.5 * t) / 1200.0);
    cycle += f / kRenderRate;
    double v = 0;
    for (size_t h = 0; h < kind.Partials.size(); h++) {
      if ((h + 1) * f >= 0.45 * kRenderRate) break;
      double amp = kind.Partials[h];
      if (kind.Decay > 0) amp *= std::exp(-t * (1 + 0.4 * h) / kind.Decay);
      v += amp * std::sin(2 * M_PI * (h + 1) * cycle + phase[h]);
    }
    const double env = std::min({1.0, i / ramp, (n - i) / ramp});
    x[a + i] += static_cast<float>(env * v);
  }
}

bool MakeSynthetic(const std::string& dir, const char* set, uint64_t seed,
                   std::vector<Recording>& manifest) {
  Lcg rng(seed);
  int index = 0;
  for (const SyntheticKind& kind : kSynthetic) {
    for (int c = 0; c < kCasesPerInstrument; c++, index++) {
      Recording r;
      r.Set = set;
      r.Source = "synthetic";
      r.Instrument = kind.Name;
      std::vector<float> x(static_cast<size_t>(kRecordingLength * kRenderRate), 0.0f);
      // 65 Hz to 1 kHz, spread over the cases.
      const int low = 36 + static_cast<int>((c + rng.Uniform()) / kCasesPerInstrument * 47);
      int step = kIntervals[(index + c) % std::size(kIntervals)];
      if (low + step < 36) step = -step;
      const int notes[2] = {low, low + step};
      for (int k = 0; k < 2; k++) {
        Note& n = r.Notes[k];
        const double exact = notes[k] + rng.Uniform() * 0.6 - 0.3;
        n.Midi = static_cast<int>(std::lround(exact));
        n.Detune = (exact - n.Midi) * 100;
        n.Onset = kFirstOnset + k * kNoteLength;
        n.Reference = MidiHz(exact);
        AddTone(x, kind, n.Reference, n.Onset, rng);
      }
      if (kind.NoiseDb > 0) {
        double power = 0;
        for (float v : x) power += static_cast<double>(v) * v;
        const double rms = std::sqrt(power / x.size() * kRecordingLength / (2 * kNoteLength));
        const double sigma = rms * std::pow(10.0, -kind.NoiseDb / 20.0);
        for (float& v : x) v += static_cast<float>(sigma * rng.Gauss());
      }
      Bytes tuner;
      if (!ToTunerFormat(x, kLevels[c % std::size(kLevels)], tuner)) return false;
      r.File = std::string(set) + "-" + Slug(kind.Name) + "-" + std::to_string(c + 1) + ".wav";
      if (!WriteBytes(dir + "/" + r.File, WaveImage8(tuner, kTunerRate))) return false;
      manifest.push_back(r);
    }
  }
  return true;
}

bool WriteManifest(const std::string& path, const std::vector<Recording>& manifest) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  std::fprintf(f, "# file\tset\tsource\tinstrument");
  for (int k = 1; k <= 2; k++)
    std::fprintf(
        f, "\tonset%d\tmidi%d\treference%d\tnominal%d\tdrift%d\tspread%d\tbelow%d\tdoubtful%d", k,
        k, k, k, k, k, k, k);
  std::fprintf(f, "\n");
  for (const Recording& r : manifest) {
    std::fprintf(f, "%s\t%s\t%s\t%s", r.File.c_str(), r.Set.c_str(), r.Source.c_str(),
                 r.Instrument.c_str());
    for (const Note& n : r.Notes)
      std::fprintf(f, "\t%.3f\t%d\t%.4f\t%.4f\t%.2f\t%.2f\t%d\t%d", n.Onset, n.Midi, n.Reference,
                   n.Nominal(), n.Drift, n.Spread, n.Below, n.Doubtful ? 1 : 0);
    std::fprintf(f, "\n");
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && std::string(argv[2]) != "--synthetic-only")) {
    std::fprintf(stderr, "Usage: make_pitch_set <output folder> [--synthetic-only]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const bool synthetic_only = argc == 3;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "make_pitch_set: %s: %s\n", dir.c_str(), ec.message().c_str());
    return 1;
  }
  std::vector<Recording> manifest;
  bool ok = MakeSynthetic(dir, "tune", 1, manifest) && MakeSynthetic(dir, "judge", 2, manifest);
  if (ok && !synthetic_only) {
    std::vector<Instrument> tune(std::begin(kInstruments), std::end(kInstruments));
    tune.insert(tune.end(), std::begin(kTuneOnly), std::end(kTuneOnly));
    const std::vector<Instrument> judge(std::begin(kInstruments), std::end(kInstruments));
    ok = RenderFont(dir, {kTuneFont, "TimGM6mb", "tune", "tune", 1, false}, tune, manifest) &&
         RenderFont(dir, {kTuneFont, "TimGM6mb room", "tune", "tune-room", 3, true}, tune,
                    manifest) &&
         RenderFont(
             dir,
             {kJudgeFont, "MuseScore Lite, unjudged presets", "tune", "tune-musescore", 4, false},
             std::vector<Instrument>(std::begin(kTuneMuseScore), std::end(kTuneMuseScore)),
             manifest) &&
         RenderFont(dir, {kJudgeFont, "MuseScore Lite", "judge", "judge", 2, false}, judge,
                    manifest);
  }
  if (!ok || !WriteManifest(dir + "/manifest.tsv", manifest)) {
    std::fprintf(stderr, "make_pitch_set: could not write the set in %s\n", dir.c_str());
    return 1;
  }
  return 0;
}

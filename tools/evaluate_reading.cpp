// evaluate_reading: how well the tuner names real notes, in its original
// reading and in the steady one (--steady), on the recordings that
// make_pitch_set wrote. Runs the reading step of the tuner screen over each
// recording with the trigger off, the way zelvaro-analyze does, and prints
// per instrument:
//
//   reading  frames with a valid reading, of the frames judged
//   right    readings that name the right note
//   octave   readings an octave (or more) off
//   other    readings of another wrong note
//   c50 c90  median and 90th percentile of the cents error of the right
//            readings, from the frequency shown against the reference
//   flips    octave jumps between consecutive readings of a held note once
//            it has been named right (catching up with a change of note
//            that the window still holds the end of is no flip)
//   late     note onsets at which the steady reading showed the note more
//            than one fresh estimate after the original did (each from an
//            estimate whose window reached past the onset)
//
// A frame is judged when it falls 0.6 s to 2.2 s after a note's onset.
// Notes whose reference names no single note are left out and counted: out
// of the tuner's range, partials disagreeing by more than 30 cents (reeds
// or voices tuned apart), a weak partial below that leaves the octave in
// doubt, or a pitch too near the middle between two notes. The cents of
// notes whose partials disagree by more than 5 cents, or whose pitch drifts
// by more, are not judged.
//
//   evaluate_reading <set folder> [--set tune|judge|all] [--recordings] [--misses]
//
// --recordings adds a line per recording and mode; --misses lists every
// judged frame that names a wrong note and every late onset.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/services/wavefile.h"
#include "tuner/analysis.h"
#include "tuner/reading.h"

namespace {

const char kUsage[] =
    "Usage: evaluate_reading <set folder> [--set tune|judge|all] [--recordings] [--misses]\n";

int NearestMidi(double hz) {
  return static_cast<int>(std::lround(69 + 12 * std::log2(hz / 440.0)));
}

constexpr double kSpanFrom = 0.6, kSpanTo = 2.2;

struct NoteInfo {
  double Onset = 0;
  double Reference = 0;
  double Drift = 0, Spread = 0;  // cents; see make_pitch_set
  bool Doubtful = false;         // a weak partial below leaves the octave in doubt
  // The note is named unambiguously by its reference (one pitch, within
  // the tuner's range, not near the middle between two notes), and its
  // cents can be judged (it holds one steady pitch).
  bool NoteClear() const {
    if (Reference < 60.0 || Reference > 4000.0) return false;
    if (Doubtful || Spread > 30 || std::fabs(Drift) > 30) return false;
    const double off =
        std::fabs(1200 * std::log2(Reference / 440.0) - 100 * (NearestMidi(Reference) - 69));
    return off + (Spread + std::fabs(Drift)) / 2 < 45;
  }
  bool CentsClear() const { return NoteClear() && Spread <= 5 && std::fabs(Drift) <= 5; }
};

struct Recording {
  std::string File, Set, Source, Instrument;
  NoteInfo Notes[2];
};

// One reading as the screen would show it; Time is when it is shown (the
// end of the audio read so far), Heard the end of the window its estimate
// was made from.
struct Frame {
  double Time = 0;
  double Heard = 0;
  bool Valid = false;
  bool Fresh = false;
  int Note = 0;  // MIDI note number when valid
  double Frequency = 0;
};

class Samples : public PieceSource {
 public:
  explicit Samples(const std::vector<unsigned char>& s) : m_Samples(s) {}
  int ReadData(unsigned char* dest, unsigned long len) override {
    if (m_Samples.size() - m_Pos < len) return 0;
    std::memcpy(dest, m_Samples.data() + m_Pos, len);
    m_Pos += len;
    return 1;
  }
  size_t Position() const { return m_Pos; }

 private:
  const std::vector<unsigned char>& m_Samples;
  size_t m_Pos = 0;
};

std::vector<Frame> Read(const std::vector<unsigned char>& samples, bool steady) {
  TunerSettings settings;
  settings.TriggerLevel = 0;
  settings.Steady = steady;
  TunerState state;
  TunerReading r;
  Samples source(samples);
  std::vector<Frame> frames;
  double heard = 0;
  for (;;) {
    const bool full = state.bufferlen >= kWindowSize;
    const size_t before = source.Position();
    if (ReadingStep(state, source, settings, r) == 0 || source.Position() == before) break;
    if (!full) continue;
    // A fresh estimate is made before the step reads its piece.
    if (r.Fresh) heard = static_cast<double>(source.Position() - kPieceSize) / kSampleRate;
    Frame f;
    f.Time = static_cast<double>(source.Position()) / kSampleRate;
    f.Heard = heard;
    f.Valid = r.Valid;
    f.Fresh = r.Fresh;
    f.Frequency = r.Frequency;
    f.Note = r.Octave * 12 + r.Index + 69;
    frames.push_back(f);
  }
  calc_end();
  return frames;
}

struct Tally {
  long Notes = 0, LeftOut = 0;
  long Frames = 0, Valid = 0, Right = 0, Octave = 0, Other = 0, Flips = 0;
  long Onsets = 0, Late = 0;
  std::vector<double> Cents;
  void Add(const Tally& t) {
    Notes += t.Notes, LeftOut += t.LeftOut;
    Frames += t.Frames, Valid += t.Valid, Right += t.Right, Octave += t.Octave, Other += t.Other;
    Flips += t.Flips, Onsets += t.Onsets, Late += t.Late;
    Cents.insert(Cents.end(), t.Cents.begin(), t.Cents.end());
  }
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const double at = p * (v.size() - 1);
  const size_t i = static_cast<size_t>(at);
  return i + 1 < v.size() ? v[i] + (at - i) * (v[i + 1] - v[i]) : v[i];
}

bool g_Misses = false;

// The judged frames of one recording in one mode.
Tally Judge(const Recording& rec, const std::vector<Frame>& frames, const char* mode) {
  Tally t;
  for (const NoteInfo& n : rec.Notes) {
    t.Notes++;
    if (!n.NoteClear()) {
      t.LeftOut++;
      continue;
    }
    const int truth = NearestMidi(n.Reference);
    const Frame* last = nullptr;
    bool named = false;
    for (const Frame& f : frames) {
      if (f.Time < n.Onset + kSpanFrom || f.Time > n.Onset + kSpanTo) continue;
      t.Frames++;
      if (!f.Valid) continue;
      t.Valid++;
      const int diff = f.Note - truth;
      if (diff == 0) {
        t.Right++;
        if (n.CentsClear())
          t.Cents.push_back(std::fabs(1200 * std::log2(f.Frequency / n.Reference)));
      } else if (diff % 12 == 0) {
        t.Octave++;
      } else {
        t.Other++;
      }
      if (diff != 0 && g_Misses)
        std::printf("  miss %-34s %-8s %6.3f s  note %d shown %d (%.2f Hz, reference %.2f Hz)\n",
                    rec.File.c_str(), mode, f.Time, truth, f.Note, f.Frequency, n.Reference);
      if (named && last && last->Note != f.Note && (last->Note - f.Note) % 12 == 0) t.Flips++;
      named = named || diff == 0;
      last = &f;
    }
  }
  return t;
}

// When `frames` first show each note of the recording from an estimate made
// after its onset (< 0: not within the judged span's end). A frame showing
// the note from an estimate of the audio before it (a note an octave from
// the one before, misread) has not heard it yet.
std::vector<double> FirstShown(const Recording& rec, const std::vector<Frame>& frames) {
  std::vector<double> at;
  for (const NoteInfo& n : rec.Notes) {
    const int truth = NearestMidi(n.Reference);
    double when = -1;
    if (!n.NoteClear()) {
      at.push_back(when);
      continue;
    }
    for (const Frame& f : frames)
      if (f.Heard > n.Onset && f.Time <= n.Onset + kSpanTo && f.Valid && f.Note == truth) {
        when = f.Time;
        break;
      }
    at.push_back(when);
  }
  return at;
}

bool ReadManifest(const std::string& path, std::vector<Recording>& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) f.push_back(field);
    if (f.size() < 20) return false;
    Recording r;
    r.File = f[0], r.Set = f[1], r.Source = f[2], r.Instrument = f[3];
    for (int k = 0; k < 2; k++) {
      char* end = nullptr;
      auto number = [&](int i) {
        return std::strtod(f[static_cast<size_t>(i + 8 * k)].c_str(), &end);
      };
      NoteInfo& n = r.Notes[k];
      n.Onset = number(4);
      n.Reference = number(6);
      n.Drift = number(8);
      n.Spread = number(9);
      n.Doubtful = f[static_cast<size_t>(11 + 8 * k)] == "1";
      if (!(n.Reference > 0) || *end != '\0') return false;
    }
    out.push_back(r);
  }
  return true;
}

void PrintRow(const std::string& name, bool steady, const Tally& t) {
  auto pct = [](long n, long d) { return d > 0 ? 100.0 * n / d : 0.0; };
  std::printf("%-48s %-8s %5ld/%-3ld %6ld %6.1f%% %6.1f%% %6.1f%% %6.1f%% %6.2f %6.2f %5ld",
              name.c_str(), steady ? "steady" : "original", t.Notes - t.LeftOut, t.Notes, t.Frames,
              pct(t.Valid, t.Frames), pct(t.Right, t.Valid), pct(t.Octave, t.Valid),
              pct(t.Other, t.Valid), Percentile(t.Cents, 0.5), Percentile(t.Cents, 0.9), t.Flips);
  if (steady)
    std::printf(" %4ld/%ld\n", t.Late, t.Onsets);
  else
    std::printf("      -\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir, which = "all";
  bool per_recording = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--set" && i + 1 < argc) {
      which = argv[++i];
    } else if (a == "--recordings") {
      per_recording = true;
    } else if (a == "--misses") {
      g_Misses = true;
    } else if (dir.empty() && a[0] != '-') {
      dir = a;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (dir.empty() || (which != "tune" && which != "judge" && which != "all")) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::vector<Recording> recs;
  if (!ReadManifest(dir + "/manifest.tsv", recs) || recs.empty()) {
    std::fprintf(stderr,
                 "evaluate_reading: %s/manifest.tsv: missing or malformed (run make_pitch_set)\n",
                 dir.c_str());
    return 2;
  }

  const double estimate_period =
      static_cast<double>(kPieceSize) / kSampleRate * TunerSettings{}.EstimateEvery;
  // set -> row name -> [original, steady]
  std::map<std::string, std::map<std::string, Tally[2]>> groups;
  for (const Recording& rec : recs) {
    if (which != "all" && rec.Set != which) continue;
    std::vector<unsigned char> samples;
    std::string error;
    if (!LoadWaveToMono8(dir + "/" + rec.File, kSampleRate, samples, nullptr, &error)) {
      std::fprintf(stderr, "evaluate_reading: %s: %s\n", rec.File.c_str(), error.c_str());
      return 2;
    }
    std::vector<Frame> frames[2] = {Read(samples, false), Read(samples, true)};
    Tally t[2] = {Judge(rec, frames[0], "original"), Judge(rec, frames[1], "steady")};
    const std::vector<double> first[2] = {FirstShown(rec, frames[0]), FirstShown(rec, frames[1])};
    for (size_t k = 0; k < first[0].size(); k++) {
      if (first[0][k] < 0) continue;
      t[1].Onsets++;
      const double lag = first[1][k] < 0 ? 1e9 : first[1][k] - first[0][k];
      if (lag > estimate_period * 1.01) {
        t[1].Late++;
        if (g_Misses)
          std::printf("  late %-34s note %zu: original at %.3f s, steady at %.3f s\n",
                      rec.File.c_str(), k + 1, first[0][k], first[1][k]);
      }
    }
    const std::string row = rec.Source + ": " + rec.Instrument;
    for (int m = 0; m < 2; m++) groups[rec.Set][row][m].Add(t[m]);
    if (per_recording)
      for (int m = 0; m < 2; m++) PrintRow(rec.File, m == 1, t[m]);
  }

  std::printf(
      "The reading step of %s, trigger off, a fresh estimate every %.3f s; frames judged\n"
      "%.1f s to %.1f s after each onset. notes: judged/all (see the top of "
      "evaluate_reading.cpp).\n",
      kPocket ? "zelvaro-pocket" : "zelvaro-desk and zelvaro-analyze", estimate_period, kSpanFrom,
      kSpanTo);
  for (auto& [set, rows] : groups) {
    std::printf("\n%s set\n%-48s %-8s %9s %6s %7s %7s %7s %7s %6s %6s %5s %s\n", set.c_str(),
                "instrument", "mode", "notes", "frames", "reading", "right", "octave", "other",
                "c50", "c90", "flips", "late");
    Tally total[2], rendered[2];
    std::map<std::string, std::array<Tally, 2>> sources;
    for (auto& [name, t] : rows) {
      for (int m = 0; m < 2; m++) {
        PrintRow(name, m == 1, t[m]);
        total[m].Add(t[m]);
        sources[name.substr(0, name.find(':'))][static_cast<size_t>(m)].Add(t[m]);
        if (name.rfind("synthetic", 0) != 0) rendered[m].Add(t[m]);
      }
    }
    for (auto& [source, t] : sources)
      for (int m = 0; m < 2; m++) PrintRow("all " + source, m == 1, t[static_cast<size_t>(m)]);
    if (rendered[0].Notes > 0)
      for (int m = 0; m < 2; m++) PrintRow("all rendered instruments", m == 1, rendered[m]);
    for (int m = 0; m < 2; m++) PrintRow("all", m == 1, total[m]);
  }
  return 0;
}

// The tuner's per-frame model: one step takes the next piece of audio,
// slides the analysis window, estimates the fundamental every few frames,
// names it and decides everything the screen shows. The screen draws from
// the returned reading; the terminal tuner prints it.
#pragma once

#include "common_code/variant.h"
#include "tuner/steady.h"

// Where the pieces come from: the capture thread, a recording, a script.
class PieceSource {
 public:
  virtual ~PieceSource() = default;
  // Copies exactly `len` bytes into `dest` and returns 1, or copies nothing
  // and returns 0 when that much audio is not available yet.
  virtual int ReadData(unsigned char* dest, unsigned long len) = 0;
};

// Bytes of 8-bit mono audio at 8000 Hz taken per step: 64 ms (desk) or
// 128 ms (pocket) of sound.
inline constexpr int kPieceSize = kPocket ? 1024 : 512;
inline constexpr int kWindowSize = 4096;  // the analysis window, 0.512 s
inline constexpr int kSampleRate = 8000;

struct TunerSettings {
  int TriggerLevel = 1;  // minimum lit segments for a valid reading
  int MeterAdjust = 0;   // tenths of a percent added to every estimate
  int AdjustMode = 0;    // status line shows the adjustment instead of the frequency
  // A fresh estimate is made when the analysis counter is a multiple of this
  // (every second frame on the desk, every third on the pocket); 1 estimates
  // on every frame.
  int EstimateEvery = kPocket ? 3 : 2;
  bool Steady = false;  // the steady reading (see SteadyEstimate)
  bool Bands = true;    // measure the octave-band levels (for a screen that shows them)
};

// State carried from one step to the next. A new object starts in the
// filling phase with an empty window.
struct TunerState {
  unsigned char wavebuffer[kWindowSize] = {};  // the analysis window
  int bufferlen = 0;                           // bytes of wavebuffer filled, grows to 4096
  double LastFrequency = 0.0;                  // frequency shown by the previous frame
  int Counter = 0;                             // analysis counter
  int Level = 0;                               // signal level 0..128 of the last piece
  SteadyState Steady;                          // the steady reading's held note
};

// The spectrum view's octave bands: integer frequencies lower <= f < upper,
// in Hz.
inline constexpr int BinsOctave[8][2] = {
    {32, 64},   {65, 109},   {110, 219},   {220, 439},
    {440, 879}, {880, 1759}, {1760, 3519}, {3520, 7040},
};

struct TunerReading {
  bool Steady = false;         // the window was full when this step began
  bool Fresh = false;          // a new estimate was made this step
  double Frequency = 0.0;      // estimate in Hz after the meter adjustment (0 if none)
  bool Valid = false;          // in 60..4000 Hz and loud enough for the trigger
  const char* Name = nullptr;  // note name from the note table ("A ", "C#", or blanks)
  int Index = 0;               // semitones above A, 0..12
  int Octave = 0;              // octaves from A 440's octave (A at the top keeps the lower one)
  int Cents = 0;               // deviation from the named note
  float Nearest = 0.0f;        // frequency of the nearest equal-tempered note
  int Level = 0;               // signal level 0..128
  int Bars = 0;                // lit strength segments 0..10
  int Angle = -90;             // needle angle in degrees, -90 (flat stop) .. 90
  bool SharpLit = false;       // sharp arrow lit (angle beyond +12 degrees)
  bool FlatLit = true;         // flat arrow lit (angle beyond -12 degrees)
  char Status[32] = {};        // status line text
  // The power of each octave band of the last spectrum, in dB from -100 to
  // 0 (full scale), the meter adjustment applied; set when the settings ask
  // for them and the window is full.
  bool Bands = false;
  double BandLevel[8] = {};
};

// Performs one frame's audio step and naming. Returns 1 with `out` filled
// when the frame is to be drawn, or 0 when the window is full but no piece
// was available: the frame is abandoned (nothing is drawn, the previous
// frequency is kept, but the analysis counter has advanced).
int ReadingStep(TunerState& state, PieceSource& source, const TunerSettings& settings,
                TunerReading& out);

// The octave-band levels of the spectrum in `outbuf` (see TunerReading),
// with the meter adjustment `meterAdjust` scaling each band's energy as it
// scales the frequency. False, with `level` untouched, when there is no
// spectrum.
bool OctaveBandLevels(int meterAdjust, double level[8]);

// Steps after the audio: names the frame's frequency `f` (Hz, adjusted),
// tests it against 60..4000 Hz and the trigger level, and sets the needle,
// arrows and status text. `filling` tells whether the window is still
// filling (the status then reads "Initialising" instead of "Waiting for
// Signal"). Keeps Steady and Fresh as they are.
void DescribeReading(double f, int level, bool filling, const TunerSettings& settings,
                     TunerReading& out);

// Signal level 0..128 of a piece: 128 sin(pi peak / 256) rounded, where peak
// is the largest deviation from 128.
int SignalLevel(const unsigned char* piece, int len);

// Scientific pitch notation of a named reading: the note name without its
// padding ("A", "C#") and the octave number counted from C (A 440 Hz = A4,
// 261.63 Hz = C4). Returns false when the reading names no note.
bool ScientificName(const TunerReading& r, char* name, int size, int* octave);

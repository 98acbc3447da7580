// Pitch analysis: power spectrum, peak list, fundamental estimator, note
// naming, and (desk only) the noise gate and reference-tone generator.
//
// Results follow the module's convention: 0 for success and -1 for failure,
// frequencies as 0.0 when there is none. Everything here runs on one thread;
// the module state below is global and unlocked.
#pragma once

#include "common_code/variant.h"

// --- Spectrum transform ------------------------------------------------------

// Power spectrum of `len` samples at `data` into out[0 .. len/2-1]:
// out[k] = Re(X_k)^2 + Im(X_k)^2, unnormalised. raw = 0: `data` holds 8-bit
// unsigned samples (128 = silence), windowed; raw != 0: `len` 32-bit values,
// not windowed. Tables are (re)built when `len` changes. Returns -1, writing
// nothing and keeping the previous tables, when `len` is below 2, is not a
// power of two (desk), or the tables cannot be allocated.
int fft(void* data, unsigned long len, double* out, int raw);

// Builds every table for `len`; 0 on success, -1 (state untouched) otherwise.
int _fft_init(unsigned long len);

// Releases every table; a later fft() rebuilds them from nothing.
void fft_free();

#if !ZELVARO_POCKET
// The butterfly passes over rout/iout, which hold data in bit-reversed order.
void _fft_calculate();

// `i` with its lowest `lognn` bits in reverse order.
int _fft_reverse_bits(unsigned int i);
#endif

// Module state of the transform. The arrays are owned here; they are exposed
// read-only in spirit so that tests can tell a rebuild from a reuse.
extern unsigned long nn;    // length the tables were built for, 0 if none
extern unsigned int lognn;  // log2(nn)
extern double* window;      // nn analysis-window weights
#if !ZELVARO_POCKET
extern double* rout;               // nn real parts (working array)
extern double* iout;               // nn imaginary parts (working array)
extern double* costable;           // nn/2 twiddle cosines
extern double* sintable;           // nn/2 twiddle sines
extern unsigned int* bit_reverse;  // nn entries
#endif

// --- Peak list -----------------------------------------------------------------

struct _calc_peak {
  int bin;          // spectrum bin; 0 marks an empty entry
  double power;     // spectrum value at that bin; 0.0 when empty
  int max_related;  // harmonic-vote flag (decision rule 1)
  int votes;        // harmonic-vote counter (decision rule 1)
};

// Capacity of the peak list.
inline constexpr int kCalcPeakCount = kPocket ? 20 : 10;

int _calc_is_peak(int i, double* spectrum);
int _calc_peak_in_range(int from, int to, double* spectrum);
void _calc_init_peak_list(_calc_peak* list);
void _calc_peak_add(int i, double* spectrum, _calc_peak* list);
int _calc_compare_peaks_A(const void* a, const void* b);
int _calc_compare_peaks_I(const void* a, const void* b);

// Clears `list` and fills it with the strongest peaks of `outbuf` between
// 60 and 4000 Hz; returns the strongest bin of that band (0 if all silent).
int CalcPeaks(int rate, int len);

// Frequency in Hz of the power centroid of `bin` and its two neighbours in
// `outbuf`; 0.0 when `bin` has no two neighbours or the three powers sum to 0.
double CalcExactValue(int bin, int rate, int len);

// --- Frequency estimator ---------------------------------------------------------

// Makes the peak list (once) and a zero-filled spectrum buffer of `len`
// doubles. 0 on success; -1 on allocation failure, with the state unchanged.
int calc_init(unsigned long len);

// Fundamental of the block in Hz, or 0.0. mode selects the decision rule:
// 0 strongest bin, 1 harmonic vote, 2 sub-octave check, 3 subharmonic search
// (the pocket build always uses 3). Leaves the spectrum in `outbuf` and the
// peaks in `list` for the spectrum view.
double calc_freq(void* data, unsigned long len, int rate, int mode, int raw);

// Releases the spectrum buffer, the peak list and the transform tables.
void calc_end();

// Highest common subharmonic (>= 60 Hz) of up to three peak frequencies, f1
// being the strongest; a lone f1 is returned as it is; 0.0 when none.
double SubharmonicSummation(double f1, double f2, double f3);

extern double* outbuf;             // power spectrum of the last block
extern unsigned long outbuf_size;  // block length outbuf was made for
extern _calc_peak* list;           // kCalcPeakCount entries

// --- Note naming and smoothing ----------------------------------------------------

struct _note_type {
  const char* name;  // one of `notes`, or `blank`
  int index;         // semitones above A within the octave, 0 .. 12
  int cents;         // deviation from the named note, -50 .. 49
  int octave;        // whole octaves from the reference A's octave (440..880 Hz = 0)
  double tolerance;  // set by the caller: Hz around the note reported as 0 cents
};

extern double ref_freq;        // 440.0
extern const char* notes[13];  // "A ", "A#", ... "G#", "A "
extern const char* blank;      // "  "

// Names `freq`: 0 on success (a frequency of 8 Hz or less gets `blank` and
// -49 cents); -1 with the record unchanged when no semitone can be named
// (an infinite frequency).
int note(double freq, _note_type* nt);

// Frequency of the equal-tempered note nearest to `freq` (A = 440 Hz), or
// 0.0 when `freq` names no note (8 Hz and below, or not finite).
float FindNearestNote(float freq);

// Running mean of the last 6 (desk) or 12 (pocket) values, initial zeros
// included; the history is never reset.
float Smoothing(float x);

// --- Noise gate and reference tone (desk only) --------------------------------------

#if !ZELVARO_POCKET
// Silences quiet stretches of `len` 8-bit samples in place: a sample is quiet
// when strictly inside 128 +- threshold; the gate closes after more than
// hold_ms of quiet, fading over release_ms, and reopens over attack_ms.
// A release or attack shorter than one sample acts at once.
void noise_gate(unsigned char* data, int len, int rate, int threshold, int hold_ms, int release_ms,
                int attack_ms);

// Fills `len` bytes of `out` with a periodic waveform (type 1 square, 2 sine,
// 3 triangle) of `freq` Hz at `rate` samples per second and peak deviation
// `amplitude` (limited to 0..127). Returns 0, or -1 with `out` untouched for
// an unknown type, a period below one sample or above 2^24 samples, or a
// failed allocation.
int tone(unsigned char* out, unsigned long len, double freq, int rate, int amplitude, int type);

// Fill the module's period buffer with one period of each waveform, from the
// period length and amplitude that tone() has just set.
void _tone_square();
void _tone_sine();
void _tone_triang();
#endif

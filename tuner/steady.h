// The steady reading: a stage after the estimator for those who prefer a
// calm, octave-true display to the estimator's raw result. From the power
// spectrum the estimate was made from, it decides which partial is the
// fundamental, and it listens to the newest 128 ms of the window on their
// own so that the tail of the note before does not pass for the new note's
// fundamental. It holds the note while it sounds (a change of octave must
// be seen on two fresh estimates running, unless the note held has left the
// window's end or the estimator moved to the same note at the same time),
// and shows the mean of the note's last few fresh estimates that agree
// within a few cents.
#pragma once

// Fresh estimates of the held note kept for the mean.
inline constexpr int kSteadyHistory = 4;

// What the stage carries from one fresh estimate to the next. A new object
// holds no note.
struct SteadyState {
  int Note = 0;         // note held (MIDI numbering, A 440 Hz = 69); 0 when none
  int Age = 0;          // fresh estimates since the note was taken
  bool Agreed = false;  // the estimator named the note when it was taken
  int Pending = 0;      // an octave of the held note seen once, waiting for a second look
  double Share = 0;     // how far the held note's own partials stood out last time
  double Shown = 0;     // Hz shown for the held note
  int RawNote = 0;      // the note of the estimator's last result
  int RawAge = 1000;    // fresh estimates since the estimator moved between two notes
  int Count = 0;        // estimates of the held note in Cents, up to kSteadyHistory
  int Next = 0;         // where the next one goes
  double Cents[kSteadyHistory] = {};  // the held note's last estimates, cents above A 440 Hz
};

// Leanings of the octave decision, in Hz (0 for none).
struct OctaveBias {
  double Held = 0;  // the note held: easier to reach, harder to go below
  double Firm = 0;  // going below this note needs a share of at least FirmShare
  double FirmShare = 0;
  double Floor = 0;  // no fundamental at or below this note
};

// What the octave decision found.
struct Fundamental {
  double Hz = 0;         // 0.0 when the spectrum is silent
  double Share = 0;      // how far its own partials stood out (large when it
                         // is the strongest partial itself)
  double Strongest = 0;  // Hz of the strongest partial it was found from
};

// The fundamental of the sound whose power spectrum is power[0 .. bins-1]
// (bin k at k * binHz Hz; power[bins] is read too and should be 0). Starts
// from the strongest partial and moves to a lower candidate (the strongest
// partial divided by a whole number, down to 55 Hz) when the candidate's
// own partials, those the higher one does not have, carry enough of the
// amplitude; weak partials that are images of the higher candidate's,
// folded back from above half the sampling rate, do not count.
Fundamental SpectrumFundamental(const double* power, int bins, double binHz,
                                const OctaveBias& bias = OctaveBias{});

// The stage: `raw` is the estimator's result for the spectrum
// power[0 .. bins-1] of the 8-bit samples window[0 .. length-1] (128 is
// silence; sampled at 2 * bins * binHz Hz); returns the frequency to show.
// A result outside the tuner's 60..4000 Hz (no signal) passes through and
// ends the held note. `settling` is how many fresh estimates it takes the
// analysis window to move past a change of note. Without the samples
// (window null) the stage cannot tell what sounds at the window's end from
// what sounded at its start, and judges the spectrum alone.
double SteadyEstimate(SteadyState& s, double raw, const double* power, int bins, double binHz,
                      const unsigned char* window, int length, int settling);

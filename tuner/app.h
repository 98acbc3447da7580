// The tuner application: MyClass, the application object the frame
// (PPCAPI.h) drives; its module globals (capture, artwork, fonts, buttons,
// settings), the capture callbacks, the trigger button's caption and menu,
// and the tuner screen's drawing: the view half of a frame, drawn from what
// the reading step (reading.h) decided, and the octave-band spectrum view.
#pragma once

#include "common_code/PPCAPI.h"
#include "common_code/button.h"
#include "common_code/dib.h"
#include "common_code/font.h"
#include "common_code/variant.h"
#include "tuner/prefs.h"
#include "tuner/reading.h"
#include "tuner/wavethreads.h"

// Command identifiers of the two buttons (the wParam of WM_COMMAND).
inline constexpr unsigned short ID_EXIT = 20;
inline constexpr unsigned short ID_TRIGGER = 30;

extern CWaveInThread waveIn;    // audio capture
extern CWaveOutThread waveOut;  // playback object; the tuner never starts it
extern ButtonArray buttons;     // trigger and exit
extern Font font;               // "MENUFONT": the status line
extern Font bigfont;            // "FONT3": the note name
extern CDib Meter;      // the background ("METER", or "METER_SMALL" on a square pocket screen)
extern CDib Arrows;     // the arrow sheet ("ARROWS"), four quadrants
extern int AdjustMode;  // non-zero: the status line shows the adjustment
// Caption of the trigger button; the button keeps a pointer to it, so a new
// caption shows at once. Holds "Trigger: OFF" and any level.
extern char szTriggerLevel[24];
// Pocket: the display is square (240x240), so the short meter image is used,
// the spectrum view is flatter and the hardware keys replace the buttons.
// Always 0 on the desk.
extern int SquareScreen;
// The analysis window and the reading step's state between frames.
extern TunerState Tuner;

// Pocket: MyClass::Paint calls since the system's idle timer was last
// reset; every 200th call resets it.
extern int IdleTimerCount;

// Colours of the ten strength segments, left to right, as 8-bit red, green,
// blue; unlit segments show a quarter of each.
struct SegmentColour {
  unsigned char r, g, b;
};
extern const SegmentColour SignalStrength[10];

// "Trigger: %d" with TriggerLevel, or "Trigger: OFF" for level 0.
void UpdateButtonBuffers();

// Opens the "Trigger Level" menu on `screen` (items "Off", "1", "2", "3");
// a choice sets TriggerLevel to 0..3 and renews the button's caption, no
// choice changes nothing.
void SelectTrigger(CScreen* screen);

// Capture and playback callbacks; they run on the worker threads: they
// restart a stalled ring, and note blocks that arrive and a capture device
// that went away, for the next frame to act on.
void waveInEventCB(_WAVE_IN_EVENT event);
void waveOutEventCB(_WAVE_OUT_EVENT event);

// Loads the tuner screen's fonts and images from the program's resources
// (`module` is passed to FindResource), makes the arrow sheet's top-left
// pixel transparent, and adds and colours the two buttons (none on a square
// pocket screen, whose meter image gets the unlit arrows drawn in once).
// Missing resources leave the surfaces empty; drawing then skips them.
void LoadTunerScreen(void* module);

// The capture thread as the reading step's source of pieces.
class WaveInSource : public PieceSource {
 public:
  explicit WaveInSource(CWaveInThread& wave) : m_Wave(wave) {}
  int ReadData(unsigned char* dest, unsigned long len) override {
    return m_Wave.ReadData(dest, len);
  }

 private:
  CWaveInThread& m_Wave;
};

// One frame of the tuner screen after the capture test: the reading step on
// `Tuner` with the current settings, then the whole screen drawn into
// `screen`. Returns 0, drawing nothing, when the window is full and no
// piece was available; else 1, with the reading shown in *shown if given.
int PaintTunerFrame(CDib* screen, PieceSource& source, TunerReading* shown = nullptr);

// Draws the complete tuner screen for reading `r`: the background, the
// arrows, status line, note name and reference frequency, needle, spectrum
// view (when the reading carries the band levels), strength bar and buttons.
void DrawTunerScreen(CDib* screen, const TunerReading& r);

// A solid line `width` pixels wide from (x1, y1) to (x2, y2) with round
// ends: every pixel whose centre lies within width/2 of the segment, clipped
// to the surface. Used for the desk's needle.
void DrawWideLine(CDib* dib, int x1, int y1, int x2, int y2, int width, unsigned short colour);

// The octave-band spectrum view from the last estimate's power spectrum
// (`outbuf`): eight bars, the band that holds `notefreq` red, and for
// 0 < notefreq < 4000 a marker with `name` over it. notefreq 0 and a null
// name: no reading. Nothing is drawn before the first estimate. The pocket
// build has no octave argument.
#if ZELVARO_POCKET
void DrawSpectrumAnalyser2(CDib* dib, float notefreq, const char* name);
#else
void DrawSpectrumAnalyser2(CDib* dib, float notefreq, const char* name, int octave);
#endif
// Draws the octave-band view of the levels `level` (see TunerReading's
// BandLevel), the band holding `notefreq` red and marked with `name`.
// DrawSpectrumAnalyser2 draws the same from the last spectrum.
void DrawOctaveBands(CDib* dib, const double level[8], float notefreq, const char* name);

// The tuner. Its state lives in the module globals above.
//   ProgramStart  loads PREFS.DAT and starts capture (4 pieces); when
//                 capture cannot start it says "Unable to start WAVEIN
//                 thread". The pocket first holds the display awake and
//                 notes a square display.
//   DisplayInit   LoadTunerScreen.
//   Paint         one frame of the tuner screen (the pocket also resets the
//                 system's idle timer every 200th call). Without a capture
//                 device (none would start, or it went away) the frames
//                 show silence and opening one is tried every 2 s; a
//                 device silent for 2 s is named on stderr.
//   ProcessMessage  keys: up toggles adjust mode, left and right move the
//                 adjustment by 1 within -100..100 while it is on (pocket:
//                 the A key opens the trigger menu, B exits); taps on the
//                 buttons; commands ID_TRIGGER (the menu) and ID_EXIT.
//   DisplayExit   always agrees (the pocket stops capture first).
//   ProgramEnd    gives the display back (pocket), writes PREFS.DAT, stops
//                 capture and frees the estimator's buffers.
class MyClass : public TPocketPCWindow {
 public:
  void ProgramStart(int& orientation) override;
  void ProgramEnd() override;
  void DisplayInit() override;
  int DisplayExit() override;
  void Paint() override;
  void ProcessMessage(unsigned message, unsigned wParam, long lParam) override;
};

extern MyClass game;

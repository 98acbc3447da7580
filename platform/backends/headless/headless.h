// The headless backend: a deterministic stand-in for the real one, used by
// the tests and by the programs' `--headless` option.
//
// - Clock: virtual milliseconds that only Sleep moves. Sleep steps the clock
//   from one device period to the next and, after each, waits until every
//   other thread that runs a message loop has handled what was posted to it,
//   so a whole session runs the same way every time, faster than real time.
// - Audio: scripted capture devices (a buffer, a WAV file, a tone or any
//   generator; they can refuse to open, end blocks short, or vanish
//   mid-stream), the program's own generated capture devices, and playback
//   devices that record what they are given, all paced by the virtual clock.
// - Message boxes: recorded (and written to standard error); the answer is
//   the default button, or the one a test scripted.
// - Events: injected by tests (quit requests, window messages).
// - Power: the display-awake hold and the idle-timer resets are recorded.
// - Files: the program's folder is its file's, or one a test chose.
// - Displays: kept in memory on a 1920 x 1080 screen, each with the last
//   frame shown, a count of frames and of the times it was brought to the
//   front; a frame can be written as a BMP file. Full-screen displays can be
//   given any frame-buffer pitches, as handheld displays have.
//
// The capture devices of a program run with --headless come from the
// environment variable ZELVARO_HEADLESS_CAPTURE (ParseCaptureScripts).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/services/backend.h"

namespace headless {

// What a scripted capture device records.
struct CaptureScript {
  std::string Name = "Scripted capture";
  // Writes `len` bytes of the recording, from byte `offset` on, in the
  // format the device was opened with. Offsets count from the opening of
  // the device and run on with the clock whether or not it is recording.
  std::function<void(const platform::StreamFormat& format, uint64_t offset, unsigned char* out,
                     size_t len)>
      Fill;
  // Bytes the recording lasts in `format`; null: endless. The device
  // vanishes when they are used up.
  std::function<uint64_t(const platform::StreamFormat& format)> Length;
  double VanishAfterSeconds = -1;  // vanish after this much audio (< 0: never)
  // Stop delivering after this much audio, without vanishing: a device
  // that stays open and silent for good (< 0: never; 0: from the start).
  double StallAfterSeconds = -1;
  bool FailOpen = false;  // the device refuses to open
  std::string FailReason = "the scripted device refuses to open";
  uint32_t ShortBlockBytes = 0;  // > 0: end every block after this many bytes
  uint32_t PeriodMs = 8;         // how often the device delivers
  // Formats the device accepts; null: every PCM format.
  std::function<bool(const platform::StreamFormat& format)> Accepts;
};

// What a scripted playback device does.
struct PlaybackScript {
  std::string Name = "Headless playback";
  double VanishAfterSeconds = -1;
  bool FailOpen = false;  // the device refuses to open
  std::string FailReason = "the scripted device refuses to open";
  uint32_t PeriodMs = 8;
  // Formats the device plays; null: every PCM format.
  std::function<bool(const platform::StreamFormat& format)> Accepts;
};

// A tone of `frequency` Hz at `amplitude` (1 = full scale) on every channel.
CaptureScript ToneScript(double frequency, double amplitude = 0.5);
// Exactly these bytes, in whatever format the device is opened with; the
// device vanishes after the last one.
CaptureScript BufferScript(std::vector<unsigned char> bytes);
// A RIFF WAVE file, converted to the format the device is opened with; the
// device vanishes when the recording ends. False with *error set when the
// file cannot be read or decoded.
bool WavScript(const std::string& path, CaptureScript* script, std::string* error);

// Parses a list of capture devices, separated by ';', each a kind with its
// argument and options separated by ',':
//   tone=HZ | silence | wav=PATH
//   amp=0..1  vanish=SECONDS  stall[=SECONDS]  short=BYTES  fail  name=TEXT
// e.g. "tone=440,amp=0.8;wav=/tmp/a.wav,name=Guitar". False with *error set
// on a malformed entry.
bool ParseCaptureScripts(const std::string& list, std::vector<CaptureScript>* scripts,
                         std::string* error);

// Counters of one scripted capture device (all its openings).
struct CaptureStats {
  int Opens = 0;
  uint64_t Delivered = 0;  // bytes handed over while recording
  uint64_t Dropped = 0;    // of those, bytes that found no queued block
};

struct RecordedMessageBox {
  std::string Text;
  std::string Caption;
  unsigned Type = 0;
};

// The headless backend object.
platform::Backend& TheBackend();

// Makes the headless backend current (aborts with a message if it cannot).
void Use();

// Forgets the devices, recorded message boxes, the scripted answer, injected
// events, closed displays and display pitches, the display-awake hold, the
// idle-timer resets and the chosen program folder, and puts back one playback device and the
// capture devices of ZELVARO_HEADLESS_CAPTURE. No device may be open. The clock keeps running.
void Reset();

// Replaces every device by none. No device may be open.
void RemoveDevices();

// Adds a device and returns its id (the first device added also answers
// as id 0, the default device).
int AddCaptureDevice(CaptureScript script);
int AddPlaybackDevice(PlaybackScript script);

CaptureStats CaptureStatsOf(int id);

// Devices of this backend open right now (capture and playback).
int OpenDeviceCount();

// Everything the playback device with that id has been given to play.
std::vector<unsigned char> Played(int id);

std::vector<RecordedMessageBox> MessageBoxes();

// Every message box from now on that has a button `id` (IDOK, IDCANCEL ...)
// answers with it; a box without that button answers with its default. 0
// goes back to the default button for every box, as Reset does. IDCANCEL
// also stands for the user closing a box, which the real backend reports
// as Cancel.
void AnswerMessageBoxes(int id);

void InjectQuit();
void InjectWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// A mouse message at pixel (x, y) of the window of `hwnd`'s display (of the
// 1920 x 1080 screen for a full-screen display), which arrives in display
// pixels as the real backend's input does: the window is the display times
// its scale. False when `hwnd` has no open display.
bool InjectPointer(HWND hwnd, UINT message, WPARAM wParam, int x, int y);

// Displays ----------------------------------------------------------------------

// The pitches of the frame memory of full-screen displays opened from now
// on (bytes from a pixel to the one on its right and to the one below):
// negative ones run right to left or bottom up, (640, -2) is a display
// mounted turned by a quarter turn. (0, 0) restores the default, 2 and twice
// the width, which windowed displays always have.
void SetDisplayPitches(int xPitch, int yPitch);

struct DisplayState {
  bool Open = false;
  std::string Title;
  int IconWidth = 0;  // of the icon it was given (0: none)
  int IconHeight = 0;
  bool FullScreen = false;
  int Raised = 0;          // times brought to the front
  bool Minimised = false;  // since the last time it was brought to the front
  platform::DisplayLayout Layout;
  uint64_t Frames = 0;           // frames shown: presents and ended frames
  std::vector<uint16_t> Pixels;  // the last frame shown, Width x Height, top row first
};

// The display of `hwnd`: the open one, else the last one it had (Open
// false); an empty state when it never had one.
DisplayState Display(HWND hwnd);

// Writes the last frame of `hwnd`'s display as a 24-bit BMP file. False with
// *error set when there is none or the file cannot be written. With the
// environment variable ZELVARO_HEADLESS_SCREENSHOT set to a path, every
// display writes its last frame there when it closes.
bool SaveDisplay(HWND hwnd, const std::string& path, std::string* error);

// Whether the program holds the display awake now, and how many times it
// has reset the idle timer (Reset clears both).
bool DisplayHeldAwake();
uint64_t IdleTimerResets();

// The virtual clock in milliseconds, not wrapped.
uint64_t Now();

// Waits (real time, up to `timeoutMs`) until every thread that runs a
// message loop, other than the caller, has handled what was posted to it.
bool WaitUntilMessagesHandled(uint32_t timeoutMs = 10000);

}  // namespace headless

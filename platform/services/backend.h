// The backend: what platform/winapi/win32.h and platform/winapi/mmsystem.h stand on. One
// backend is current for the whole program, chosen at run time: "sdl" (SDL2,
// the real one, by default) or "headless" (scripted devices, a virtual
// clock and recorded message boxes, for tests and `--headless`). Every
// Windows-style function is written once over this interface, so the tests
// exercise the same code that ships.
//
// The interface has one group of methods per service:
//   clock        Milliseconds, Sleep
//   message box  ShowMessageBox
//   event pump   PumpEvents, reporting to an EventSink
//   audio        AudioDeviceCount, AudioDeviceName, OpenCapture, OpenPlayback,
//                OpenGeneratedCapture
//   display      ScreenSize, OpenDisplay, CloseDisplay, HasDisplay, PresentDisplay,
//                BeginDisplayFrame, EndDisplayFrame, SetGameKeys, RaiseDisplay,
//                MinimiseDisplay: a display window per HWND that shows 16-bit
//                pixels, its input reaching the program through
//                EventSink::PostWindowMessage
//   power        HoldDisplayAwake, ResetIdleTimer
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/winapi/win32.h"

namespace platform {

// The format of a backend's audio stream, as the wave services use it:
// 8-bit unsigned (silence 128) or 16-bit signed little-endian samples,
// channels interleaved.
struct StreamFormat {
  int Rate = 8000;  // frames per second
  int Channels = 1;
  int Bits = 8;
  int FrameBytes() const { return Channels * Bits / 8; }
  int BytesPerSecond() const { return Rate * FrameBytes(); }
  unsigned char SilenceByte() const { return Bits == 8 ? 128 : 0; }
};

// Receives what an open capture device records. Calls come from the
// device's own thread, one at a time, only while the device is started, and
// never after Stop or the device's destruction has returned.
class CaptureSink {
 public:
  virtual ~CaptureSink() = default;
  // `len` bytes (whole frames) recorded after everything delivered before.
  // Returns how many found room in a queued block; the rest is lost.
  virtual size_t Captured(const unsigned char* data, size_t len) = 0;
  // The device ends its current block here, full or not (a device that
  // records in blocks of its own; most never call it).
  virtual void EndBlock() = 0;
  // The device has gone. Nothing more is delivered.
  virtual void DeviceLost() = 0;
};

// Supplies what an open playback device plays. Calls come from the device's
// own thread, one at a time, from the device's opening until its
// destruction has returned.
class PlaybackSource {
 public:
  virtual ~PlaybackSource() = default;
  // Fills `out` with up to `len` bytes (whole frames) of audio and returns
  // how many; the device plays silence for the rest.
  virtual size_t Render(unsigned char* out, size_t len) = 0;
  virtual void DeviceLost() = 0;
};

// An open audio device. Destroying it closes the device; when the
// destructor returns, no sink or source call is running or will follow.
class AudioStream {
 public:
  virtual ~AudioStream() = default;
  // Capture only: deliver to the sink from now on / stop delivering. When
  // Stop returns no Captured call is running. Playback devices render from
  // their opening on and ignore both.
  virtual void Start() = 0;
  virtual void Stop() = 0;
};

enum class AudioDirection { Capture, Playback };

// Writes `len` bytes of a generated recording, from byte `offset` on (counted
// from the opening of the device), in `format`. Called from the device's own
// thread.
using CaptureGenerator = std::function<void(const StreamFormat& format, uint64_t offset,
                                            unsigned char* out, size_t len)>;

// Pixel formats of a display: the ffFormat bits of the display properties
// record.
inline constexpr uint32_t kDisplay555 = 0x40;  // x RRRRR GGGGG BBBBB
inline constexpr uint32_t kDisplay565 = 0x80;  // RRRRR GGGGGG BBBBB

// An open display: Width x Height 16-bit pixels of Format; in its frame
// memory (BeginDisplayFrame) pixel (x, y) lies x * XPitch + y * YPitch bytes
// from pixel (0, 0). Scale is how many screen pixels a display pixel takes
// each way in a window (0 when it fills the screen).
struct DisplayLayout {
  int Width = 0;
  int Height = 0;
  int XPitch = 2;
  int YPitch = 0;
  uint32_t Format = kDisplay555;
  int Scale = 1;
};

// A window icon: Width x Height pixels 0xAARRGGBB, top row first.
struct DisplayIcon {
  int Width = 0;
  int Height = 0;
  std::vector<uint32_t> Pixels;
};

// What a display is asked to be.
struct DisplayRequest {
  int Width = 240;
  int Height = 320;
  uint32_t Format = kDisplay555;
  bool FullScreen = false;            // the whole screen, keeping the aspect ratio
  std::string Title;                  // of a window
  const DisplayIcon* Icon = nullptr;  // of a window; must outlive the display
};

// The part of an outw x outh output (a window, a screen) that shows a w x h
// display: the largest whole factor that fits or, on a smaller output, the
// largest size of the same shape; centred. Written to *x, *y, *vw, *vh.
void DisplayViewport(int outw, int outh, int w, int h, int* x, int* y, int* vw, int* vh);

// The pixel of a Width x Height display under the point (px, py) of a
// viewport (the part of the window or screen that shows it, vx, vy, vw x vh),
// held within the display so that a point on the border still names an
// edge pixel.
void ViewportToDisplay(int vx, int vy, int vw, int vh, int width, int height, int px, int py,
                       int* x, int* y);

// The scale of a display window: `setting` when above 0, else the largest
// whole factor whose window is no taller than two thirds of the screen's
// `screenHeight` (at least 1).
int ChooseDisplayScale(int setting, int height, int screenHeight);

// The scale setting the next display windows are opened with (0: choose
// from the screen's height; the programs' `--scale N`).
void SetDisplayScale(int scale);
int DisplayScale();

// The id the desktop knows the program by (the name of its desktop entry),
// which its windows carry as their X11 class and Wayland app id, so that
// docks and task bars show them with the entry's name and icon. Set before
// the first display opens; "" leaves the choice to the backend.
void SetApplicationId(const std::string& id);
std::string ApplicationId();

// Receives the backend's events, already in the program's terms. Called on
// the GUI thread, from PumpEvents.
class EventSink {
 public:
  virtual ~EventSink() = default;
  // The user or the system asks the program to end (SDL_QUIT: the last
  // window closed by the window manager, the session ending).
  virtual void QuitRequested() = 0;
  // Queues a message for a window of the GUI thread (Windows numbering:
  // WM_CLOSE for its close box; WM_LBUTTONDOWN, WM_LBUTTONUP and
  // WM_MOUSEMOVE with lParam = x | y << 16 in screen pixels; WM_KEYDOWN and
  // WM_KEYUP with the VK_ code in wParam; WM_ACTIVATE with WA_ACTIVE or
  // WA_INACTIVE when its window gains or loses the keyboard focus).
  virtual void PostWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual const char* Name() const = 0;

  // Clock: monotonic milliseconds, wrapping at 2^32, and a wait by the same
  // clock. Safe from any thread.
  virtual uint32_t Milliseconds() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;

  // Message box: shows text and caption with the buttons of `type` (MB_OK
  // ...) and returns the chosen IDOK ... ; where nobody can answer, the
  // default button. Safe from any thread.
  virtual int ShowMessageBox(const std::string& text, const std::string& caption,
                             unsigned type) = 0;

  // Event pump: hands every pending event to `sink` and returns without
  // waiting. Called on the GUI thread only.
  virtual void PumpEvents(EventSink& sink) = 0;

  // Audio devices. Ids run from 0 (the system's default device) to
  // count - 1 (the named devices); a count of 0 means none, with the reason
  // in *why (when not null). Safe from any thread.
  virtual int AudioDeviceCount(AudioDirection direction, std::string* why) = 0;
  virtual std::string AudioDeviceName(AudioDirection direction, int id) = 0;
  // Opens a device for `format` (stopped, for capture). Null with *error
  // set when it will not open. The sink or source must outlive the stream.
  virtual std::unique_ptr<AudioStream> OpenCapture(int id, const StreamFormat& format,
                                                   CaptureSink& sink, std::string* error) = 0;
  virtual std::unique_ptr<AudioStream> OpenPlayback(int id, const StreamFormat& format,
                                                    PlaybackSource& source, std::string* error) = 0;
  // A capture device of the program's own making that records what
  // `generate` writes, paced by this backend's clock like its other devices
  // (the recording runs on with the clock whether or not it is started).
  virtual std::unique_ptr<AudioStream> OpenGeneratedCapture(const StreamFormat& format,
                                                            CaptureGenerator generate,
                                                            CaptureSink& sink,
                                                            std::string* error) = 0;

  // The size of the screen displays open on, in screen pixels; false when
  // there is no screen to ask. GUI thread only.
  virtual bool ScreenSize(int* width, int* height) = 0;

  // Display: one display per window, used from the GUI thread only. Input
  // on it reaches `hwnd` through the event pump: the mouse as WM_MOUSEMOVE,
  // WM_LBUTTONDOWN/UP and WM_RBUTTONDOWN/UP in display pixels, the keyboard
  // as WM_KEYDOWN/UP (held keys repeat as the system's key repeat says), the
  // close box as WM_CLOSE, focus as WM_ACTIVATE.
  //
  // Opens the display of `hwnd` (a window of Width x Height pixels times the
  // scale, or the whole screen) and fills *layout. A display already open
  // is kept as it is and reports its layout. False with *error set when it
  // cannot be opened.
  virtual bool OpenDisplay(HWND hwnd, const DisplayRequest& request, DisplayLayout* layout,
                           std::string* error) = 0;
  // Closes the display of `hwnd`, if it has one.
  virtual void CloseDisplay(HWND hwnd) = 0;
  // Whether `hwnd` has an open display.
  virtual bool HasDisplay(HWND hwnd) = 0;
  // Shows w x h pixels at (x, y) of the display: `rect` is the first pixel
  // of their top row, rows lie `pitch` bytes apart, in the display's format.
  // The rest of the picture stays; what falls outside the display is left
  // out. False when `hwnd` has no display.
  virtual bool PresentDisplay(HWND hwnd, const uint16_t* rect, int pitch, int x, int y, int w,
                              int h) = 0;
  // The display's frame memory for drawing into: the address of pixel
  // (0, 0), laid out as the display's layout says; null when `hwnd` has no
  // display. EndDisplayFrame shows what was drawn. Every pixel of a frame
  // must be written before it is shown.
  virtual void* BeginDisplayFrame(HWND hwnd) = 0;
  virtual void EndDisplayFrame(HWND hwnd) = 0;
  // With `on`, game controllers' buttons reach `hwnd` as keys too: the
  // pad as VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT, buttons A, B, X as 'A', 'B',
  // 'C' and Start as VK_RETURN.
  virtual void SetGameKeys(HWND hwnd, bool on) = 0;
  // Brings the display's window to the front, restored if it was
  // minimised, with the keyboard focus; minimises it. Nothing for a window
  // without a display.
  virtual void RaiseDisplay(HWND hwnd) = 0;
  virtual void MinimiseDisplay(HWND hwnd) = 0;

  // Power: with `on`, the system's screen saver and display blanking are
  // held off from now (or from when the display service starts) until the
  // call with false, which gives back what the system had before; nothing
  // outlives the program. ResetIdleTimer tells the system that the user is
  // active now. GUI thread only.
  virtual void HoldDisplayAwake(bool on) = 0;
  virtual void ResetIdleTimer() = 0;

  // What keeps the backend from working as it was set up (a capture script
  // that cannot be used ...), or "" when nothing does.
  virtual std::string SetupProblem() { return ""; }
};

// The current backend. The first call picks it from the environment
// variable ZELVARO_BACKEND ("sdl" or "headless"; unset or empty means sdl)
// unless SelectBackend chose one before.
Backend& CurrentBackend();

// Makes "sdl" or "headless" the current backend. Returns false with *error
// set for another name, a backend with a SetupProblem, or while an audio
// device of the current backend is open.
bool SelectBackend(const std::string& name, std::string* error);

// The buttons of a message box type (MB_OK ... MB_RETRYCANCEL) as IDOK ...
// values, in the order shown; an unknown type has an OK button only.
std::vector<int> MessageBoxButtons(unsigned type);

// The answer of a message box nobody can answer: its default button
// (MB_DEFBUTTON1..3, the first when out of range).
int DefaultMessageBoxAnswer(unsigned type);

// The answer of a message box the user closed without choosing, as Windows
// gives it: Cancel when the box has a Cancel button, OK for an OK-only box;
// other boxes cannot be closed that way and give their default button.
int ClosedMessageBoxAnswer(unsigned type);

// True when the calling thread is the GUI thread (the program's main
// thread), the one whose message functions pump the backend's events.
bool IsGuiThread();

}  // namespace platform

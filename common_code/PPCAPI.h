// The program frame: the shell under a full-screen program. It starts the
// process, makes the one window (zelvaro-desk: a 240 x 320 window, the mouse
// as the stylus; zelvaro-pocket: the whole display through GAPI, with the
// hardware keys), owns the screen surface, pumps messages, draws a frame
// every 34 ms (desk) or 51 ms (pocket) through the application's Paint,
// routes input to the application and tears everything down.
//
// The application
// ---------------
// An application is one class derived from TPocketPCWindow that overrides
// the virtual operations below, and exactly one global object of it. The
// application module makes that object known to the frame by defining
// TheApplication():
//
//   // app.h
//   class MyClass : public TPocketPCWindow {
//    public:
//     void ProgramStart(int& orientation) override;
//     void ProgramEnd() override;
//     void DisplayInit() override;
//     int DisplayExit() override;
//     void Paint() override;
//     void ProcessMessage(unsigned message, unsigned wParam, long lParam) override;
//   };
//
//   // app.cpp
//   MyClass game;
//   TPocketPCWindow& TheApplication() { return game; }
//
// The programs' main() (game_main.cpp) reads the command line and runs
// WinMain(TheApplication(), ...); nothing else of the frame names the
// application. Tests run WinMain with an application class of their own.
//
// What the operations are called with, in the order they first run:
//   ProgramStart  desk: from WinMain before the window exists; pocket: from
//                 Init, before the display opens, where setting
//                 `orientation` non-zero asks for a landscape screen (the
//                 desk ignores it). Starts the application (capture ...).
//   DisplayInit   once `screen` exists: load images, fonts, add buttons.
//   DisplaySplash desk only, after Init: the start-up picture (the base
//                 class's fades "SPLASH" in and out).
//   Paint         every frame: draw into `screen`; the frame then updates
//                 the particles over it (desk) and shows it.
//   ProcessMessage  taps (WM_LBUTTONDOWN/UP, WM_MOUSEMOVE, lParam x | y << 16
//                 in screen pixels), keys (WM_KEYDOWN, wParam the VK_ code),
//                 button commands (WM_COMMAND, wParam the button's ID) and
//                 timers; on the pocket also the particles' message 1224.
//   DisplayExit   when the window is asked to close (close box, Exit(), a
//                 stop signal, --frames): non-zero lets it close.
//   ProgramEnd    after the main loop (and after a failed start, whenever
//                 ProgramStart ran): save settings, stop capture.
// The base class's operations do nothing; its DisplayExit agrees to close.
#pragma once

#include <string>

#include "common_code/particle.h"
#include "common_code/variant.h"
#include "common_code/xdib.h"
#include "platform/winapi/gx.h"
#include "platform/winapi/win32.h"

class TPocketPCWindow {
 public:
  TPocketPCWindow() = default;
  virtual ~TPocketPCWindow() = default;
  TPocketPCWindow(const TPocketPCWindow&) = delete;
  TPocketPCWindow& operator=(const TPocketPCWindow&) = delete;

  // The virtual operations, in slot order (see above).
  virtual void DisplaySplash();
  virtual void ProgramStart(int& orientation) { (void)orientation; }
  virtual void ProgramEnd() {}
  virtual void DisplayInit() {}
  virtual int DisplayExit() { return 1; }
  virtual void Paint() {}
  virtual void ProcessMessage(unsigned message, unsigned wParam, long lParam) {
    (void)message, (void)wParam, (void)lParam;
  }

  // Completes the start-up from the window's WM_CREATE: desk: the sound
  // mixer, the buttons' font, the screen surface, the particles (33 ms a
  // frame), DisplayInit; pocket: the sound mixer, ProgramStart, the display
  // (GAPI), the hardware keys, the splash, DisplayInit, the buttons' font,
  // the particles (50 ms). 1, or 0 when the screen or the display cannot be
  // had.
  int Init(HWND hWnd);
  // Asks the window to close (sends WM_CLOSE), which asks DisplayExit.
  void Exit();

  HWND hWindow = nullptr;
  CScreen screen;   // what is drawn into and shown each frame
  int bUpdate = 0;  // 1 while frames are drawn
};

// Defined by the application module: the program's application object.
TPocketPCWindow& TheApplication();

// The desk splash from the bitmap resource `name`: when it loads, copied
// onto the screen, faded in from black (step 10), shown and held for 2 s;
// then, loaded or not, the screen is faded out to black (step 10). The base
// DisplaySplash shows "SPLASH".
void ShowSplash(CScreen& screen, const char* name);

// The frame's globals.
extern HINSTANCE hInst;
extern char ProgramPath[260];  // desk: the working folder at start-up
extern GXKeyList DefaultKeys;  // pocket: the hardware keys, read by Init

// What a run is asked for on the command line (game_main.cpp); the defaults
// are the program as it always runs.
struct FrameOptions {
  unsigned long CloseAfterFrames = 0;  // ask the window to close after this many frames (0: never)
  bool SteadyReading = false;          // the tuner shows its steady reading
};
extern FrameOptions ProgramOptions;

// The window class and title of both programs.
inline constexpr const char* kFrameClassName = "PPCAPICLASS";
inline constexpr const char* kFrameTitle = "Zelvaro (Version 1.5)";

// The pocket's private messages: 1124 makes the window Paint, 1224 (a
// particle's death) goes to ProcessMessage.
inline constexpr UINT kRepaintMessage = 1124;
inline constexpr UINT kParticleMessage = 1224;
// Sent to the frame's own window when a later start of the program asks
// this one to come to the front.
inline constexpr UINT kRaiseMessage = WM_APP + 0x464;

// The window procedure of the frame's window; the application object lives
// in its extra bytes, slot 0.
LRESULT CALLBACK FrameWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Claims the program's single instance: when another instance runs, asks it
// to come to the front and returns 0 (end quietly); when it holds the lock
// but does not answer, says so on stderr and returns -1. Else keeps the
// working folder in ProgramPath (desk) and registers the window class, and
// the pocket also makes its full-screen window. 1 to go on, -1 when the
// class or the window cannot be made.
int InitInstance(HINSTANCE hInstance, TPocketPCWindow& app);

// Pocket start-up: 1 when `available` bytes of memory are enough (at least
// 2,048,000), else shows "This program requires at least 2Mb ..." /
// "Insufficient Memory" and returns 0.
int CheckFreeMemory(unsigned long long available);

// The whole program: start-up, the window, the main loop until the quit
// message, the end (the pocket also ends the sound mixer, putting back the
// output volume it found). Returns the exit status: 0, also when another instance
// was asked to come forward instead; 1 when the program could not start
// (too little memory, no window).
int WinMain(TPocketPCWindow& app, HINSTANCE hInstance);

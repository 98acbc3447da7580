// Test helper: a small X client (libX11) that looks at another program's
// top-level windows on an X server the test runs, and asks them to close
// the way a window manager does (WM_DELETE_WINDOW), and reads what a window
// shows. Xlib's headers stay in
// x11_window.cpp, whose names (Status, Bool, None ...) are plain macros;
// a test program that uses this links X11.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct _XDisplay;

namespace testing_support {

struct X11WindowInfo {
  unsigned long Id = 0;  // 0: no such window
  int Width = 0;
  int Height = 0;
  bool Viewable = false;
  bool HasIcon = false;  // a _NET_WM_ICON property
  std::string Class;     // the class of its WM_CLASS property
};

class X11Client {
 public:
  explicit X11Client(const std::string& display);
  ~X11Client();
  X11Client(const X11Client&) = delete;
  X11Client& operator=(const X11Client&) = delete;

  bool Connected() const { return m_Display != nullptr; }

  // The first top-level window whose WM_NAME is `title`.
  X11WindowInfo Find(const std::string& title);

  // Sends the window manager's close request.
  bool AskToClose(unsigned long window);

  // What the window shows now, as 0xRRGGBB pixels, top row first, row after
  // row (false when it cannot be read).
  bool Capture(unsigned long window, int* width, int* height, std::vector<uint32_t>* pixels);

 private:
  _XDisplay* m_Display;
};

}  // namespace testing_support

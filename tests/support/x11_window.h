// Test helper: a small X client (libX11) that looks at another program's
// top-level windows on an X server the test runs (under a window manager's
// frames too), asks them to close the way a window manager does
// (WM_DELETE_WINDOW), reads what a window shows, and opens a window of its
// own to take the focus from them. Xlib's headers stay in
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

  // The first window whose WM_NAME is `title`, children before siblings.
  X11WindowInfo Find(const std::string& title);

  // Whether a window manager runs (it names its check window on the root).
  bool HasWindowManager();

  // Opens and maps a small top-level window titled `title`, which lasts as
  // long as this client; 0 when it cannot.
  unsigned long OpenWindow(const std::string& title);

  // Asks the window manager to activate `window` (restoring it when it is
  // minimised), as a task bar does.
  bool Activate(unsigned long window);

  // Sends the window manager's close request.
  bool AskToClose(unsigned long window);

  // What the window shows now, as 0xRRGGBB pixels, top row first, row after
  // row (false when it cannot be read).
  bool Capture(unsigned long window, int* width, int* height, std::vector<uint32_t>* pixels);

 private:
  _XDisplay* m_Display;
};

}  // namespace testing_support

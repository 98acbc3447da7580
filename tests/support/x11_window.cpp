// The X client of x11_window.h.
#include "support/x11_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace testing_support {

namespace {

// The program under test makes and drops windows while this client walks the
// tree, so a window listed a moment ago may be gone by the next request.
// Xlib's own handler ends the process on such an error; this one lets the
// request fail and the caller see the empty answer.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// The first window at or below `window` whose WM_NAME is `title`; 0 when none is.
::Window FindNamed(Display* display, ::Window window, const std::string& title) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name) {
    const bool match = title == name;
    XFree(name);
    if (match) return window;
  }
  ::Window root = 0, parent = 0, *children = nullptr, found = 0;
  unsigned count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && !found; i++) found = FindNamed(display, children[i], title);
  if (children) XFree(children);
  return found;
}

// Sends the client message `type` about `window`, with `first` and the
// current time as its data, to `to` (the window itself or, with `mask`,
// the root, where a window manager listens).
bool SendClientMessage(Display* display, ::Window to, ::Window window, const char* type, long first,
                       long mask) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(display, type, False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = first;
  e.xclient.data.l[1] = CurrentTime;
  bool sent = XSendEvent(display, to, False, mask, &e) != 0;
  XFlush(display);
  return sent;
}

}  // namespace

X11Client::X11Client(const std::string& display) : m_Display(XOpenDisplay(display.c_str())) {
  XSetErrorHandler(IgnoreXError);
}

X11Client::~X11Client() {
  if (m_Display) XCloseDisplay(m_Display);
}

X11WindowInfo X11Client::Find(const std::string& title) {
  X11WindowInfo info;
  if (!m_Display) return info;
  info.Id = FindNamed(m_Display, DefaultRootWindow(m_Display), title);
  if (!info.Id) return info;
  XWindowAttributes a;
  if (XGetWindowAttributes(m_Display, info.Id, &a)) {
    info.Width = a.width;
    info.Height = a.height;
    info.Viewable = a.map_state == IsViewable;
  }
  Atom icon = XInternAtom(m_Display, "_NET_WM_ICON", False), type = 0;
  int format = 0;
  unsigned long items = 0, left = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(m_Display, info.Id, icon, 0, 2, False, AnyPropertyType, &type, &format,
                         &items, &left, &data) == Success) {
    info.HasIcon = items == 2;
    if (data) XFree(data);
  }
  XClassHint hint{};
  if (XGetClassHint(m_Display, info.Id, &hint)) {
    if (hint.res_class) info.Class = hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
  }
  return info;
}

bool X11Client::HasWindowManager() {
  if (!m_Display) return false;
  Atom check = XInternAtom(m_Display, "_NET_SUPPORTING_WM_CHECK", False), type = 0;
  int format = 0;
  unsigned long items = 0, left = 0;
  unsigned char* data = nullptr;
  bool found = XGetWindowProperty(m_Display, DefaultRootWindow(m_Display), check, 0, 1, False,
                                  XA_WINDOW, &type, &format, &items, &left, &data) == Success &&
               items == 1;
  if (data) XFree(data);
  return found;
}

unsigned long X11Client::OpenWindow(const std::string& title) {
  if (!m_Display) return 0;
  ::Window w = XCreateSimpleWindow(m_Display, DefaultRootWindow(m_Display), 0, 0, 200, 100, 0, 0,
                                   WhitePixel(m_Display, DefaultScreen(m_Display)));
  if (!w) return 0;
  XStoreName(m_Display, w, title.c_str());
  XMapRaised(m_Display, w);
  XFlush(m_Display);
  return w;
}

bool X11Client::Activate(unsigned long window) {
  // Source 2: a pager or task bar, that is, the user's own choice.
  return m_Display &&
         SendClientMessage(m_Display, DefaultRootWindow(m_Display), window, "_NET_ACTIVE_WINDOW", 2,
                           SubstructureRedirectMask | SubstructureNotifyMask);
}

bool X11Client::AskToClose(unsigned long window) {
  return m_Display &&
         SendClientMessage(m_Display, window, window, "WM_PROTOCOLS",
                           static_cast<long>(XInternAtom(m_Display, "WM_DELETE_WINDOW", False)),
                           NoEventMask);
}

namespace {

// The 8-bit value of the channel `mask` selects in `pixel`.
uint32_t Channel(unsigned long pixel, unsigned long mask) {
  if (!mask) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) shift++;
  const unsigned long max = mask >> shift;
  return static_cast<uint32_t>(((pixel & mask) >> shift) * 255 / max);
}

}  // namespace

bool X11Client::Capture(unsigned long window, int* width, int* height,
                        std::vector<uint32_t>* pixels) {
  if (!m_Display) return false;
  XWindowAttributes a;
  if (!XGetWindowAttributes(m_Display, window, &a) || a.map_state != IsViewable) return false;
  XImage* image = XGetImage(m_Display, window, 0, 0, static_cast<unsigned>(a.width),
                            static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
  if (!image) return false;
  pixels->assign(static_cast<size_t>(a.width) * static_cast<size_t>(a.height), 0);
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++) {
      const unsigned long p = XGetPixel(image, x, y);
      (*pixels)[static_cast<size_t>(y) * static_cast<size_t>(a.width) + static_cast<size_t>(x)] =
          Channel(p, image->red_mask) << 16 | Channel(p, image->green_mask) << 8 |
          Channel(p, image->blue_mask);
    }
  XDestroyImage(image);
  *width = a.width;
  *height = a.height;
  return true;
}

}  // namespace testing_support

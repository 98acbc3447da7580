// The SDL backend's displays: one SDL window per HWND, drawn in its own
// window surface (on X11 the shared-memory image SDL puts on the screen, so
// no graphics driver is needed) with nearest-pixel scaling into the largest
// whole-factor viewport the window allows (a window opened at the chosen
// scale is exactly that), centred on black. The display's 16-bit frame
// memory is a buffer of its own; a frame is compared with the one shown
// before, and only the rows that changed are scaled into the surface and
// handed to the screen, so a large scale costs little more than a small one
// while most of the picture stands still. A full-screen display covers the
// desktop. Mouse and touch positions are mapped back through the viewport,
// so the program sees display pixels; keys become Windows virtual keys
// (SDL's key repeat included); game controllers' buttons become keys for a
// display that asked for them; focus changes become WM_ACTIVATE. A window
// takes the icon it is given.
//
// It leaves out window resizing by the program, several screens (displays
// open on the first), high-DPI back buffers and text input.
#include "platform/backends/sdl/sdl_display.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace platform::sdl {
namespace {

// What the window surface needs to draw a display: where the display goes
// in it, which display column and row each of the viewport's columns and
// rows shows, and each 16-bit pixel's value in the surface's format (see
// MakeTables). Made again whenever SDL gives another surface.
struct Target {
  SDL_Surface* Surface = nullptr;
  int Width = 0, Height = 0;
  Uint32 Format = SDL_PIXELFORMAT_UNKNOWN;
  SDL_Rect Viewport{0, 0, 0, 0};
  std::vector<int> Columns, Rows;
  uint32_t Low[256] = {}, High[256] = {};
};

// Whether Draw writes pixels of this format: 2 or 4 bytes of bit fields, no
// channel wider than 8 bits.
bool Drawable(Uint32 format) {
  return SDL_PIXELTYPE(format) == SDL_PIXELTYPE_PACKED16 ||
         (SDL_PIXELTYPE(format) == SDL_PIXELTYPE_PACKED32 &&
          SDL_PIXELLAYOUT(format) == SDL_PACKEDLAYOUT_8888);
}

struct Display {
  SDL_Window* Window = nullptr;
  std::vector<uint16_t> Frame;  // the frame memory, rows of Layout.Width pixels
  std::vector<uint16_t> Shown;  // what the window shows, the same way
  Target Out;
  DisplayLayout Layout;
  bool FullScreen = false;
  bool GameKeys = false;
  bool Locked = false;
};

// GUI thread only, like everything of SDL's video.
std::map<HWND, Display>& Displays() {
  static auto* displays = new std::map<HWND, Display>;
  return *displays;
}

std::vector<SDL_GameController*>& Controllers() {
  static auto* controllers = new std::vector<SDL_GameController*>;
  return *controllers;
}

// The display-awake hold: whether the program asked for it, and whether it
// is in force (SDL's video started and the screen saver suspended by us),
// with the saver's state from before.
struct AwakeHold {
  bool Wanted = false;
  bool InForce = false;
  bool SaverWasEnabled = true;
};
AwakeHold& Awake() {
  static auto* hold = new AwakeHold;
  return *hold;
}

// Brings SDL's screen saver state in line with the hold. Without SDL's
// video nothing can be done yet; EnsureVideo calls again once it runs.
void ApplyAwakeHold() {
  AwakeHold& a = Awake();
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
  if (a.Wanted && !a.InForce) {
    a.SaverWasEnabled = SDL_IsScreenSaverEnabled() == SDL_TRUE;
    SDL_DisableScreenSaver();
    a.InForce = true;
  } else if (!a.Wanted && a.InForce) {
    if (a.SaverWasEnabled) SDL_EnableScreenSaver();
    a.InForce = false;
  }
}

bool EnsureVideo(std::string* error) {
  if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
  // The window's close box closes that window only (WM_CLOSE); the program
  // decides whether to end. The screen saver stays the user's to control.
  SDL_SetHintWithPriority(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0", SDL_HINT_OVERRIDE);
  SDL_SetHintWithPriority(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1", SDL_HINT_DEFAULT);
  // SDL 2 reads the X11 window class and the Wayland app id from these
  // variables when its video starts; values the user set stay.
  const std::string id = ApplicationId();
  if (!id.empty()) {
    setenv("SDL_VIDEO_X11_WMCLASS", id.c_str(), 0);
    setenv("SDL_VIDEO_WAYLAND_WMCLASS", id.c_str(), 0);
  }
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (error) *error = std::string("no video driver could start (") + SDL_GetError() + ")";
    return false;
  }
  const char* driver = SDL_GetCurrentVideoDriver();
  const std::string chosen = driver ? driver : "";
  // The picture needs no graphics card: on X11 the window surface is the
  // window's own shared-memory image. Left to itself, SDL would put an
  // OpenGL renderer behind it, which costs tens of megabytes and, with a
  // software OpenGL, a few per cent of a core. Drivers without such an image
  // (Wayland, KMS), and X servers with pixels other than Draw writes (8, 24
  // or 30 bits a pixel), keep SDL's renderer, whose surface has such pixels;
  // SDL_FRAMEBUFFER_ACCELERATION still chooses.
  SDL_DisplayMode desktop{};
  if (chosen == "x11" && SDL_GetDesktopDisplayMode(0, &desktop) == 0 && Drawable(desktop.format))
    SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
  // With no screen to reach, SDL falls back on drivers that draw nowhere;
  // a window there would run unseen until killed. They serve only when
  // asked for by name (SDL_VIDEODRIVER), as the tests do.
  if (!SDL_GetHint(SDL_HINT_VIDEODRIVER) && (chosen == "offscreen" || chosen == "dummy")) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    if (error)
      *error = "there is no screen to show it on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return false;
  }
  ApplyAwakeHold();
  return true;
}

void SetIcon(SDL_Window* window, const DisplayIcon* icon) {
  if (!icon || icon->Width <= 0 || icon->Height <= 0 ||
      icon->Pixels.size() != static_cast<size_t>(icon->Width) * icon->Height)
    return;
  // SDL copies the pixels; the surface only borrows them for the call.
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
      const_cast<uint32_t*>(icon->Pixels.data()), icon->Width, icon->Height, 32, icon->Width * 4,
      SDL_PIXELFORMAT_ARGB8888);
  if (!surface) return;
  SDL_SetWindowIcon(window, surface);
  SDL_FreeSurface(surface);
}

// A 16-bit pixel's channels at 8 bits, each channel's bits repeated into
// the low ones so that full scale is 255.
SDL_Color Wide(uint32_t p, bool is565) {
  const uint32_t r5 = (p >> (is565 ? 11 : 10)) & 31, b5 = p & 31;
  const uint32_t g = is565 ? ((p >> 5) & 63) << 2 | ((p >> 5) & 63) >> 4
                           : ((p >> 5) & 31) << 3 | ((p >> 5) & 31) >> 2;
  return SDL_Color{static_cast<Uint8>(r5 << 3 | r5 >> 2), static_cast<Uint8>(g),
                   static_cast<Uint8>(b5 << 3 | b5 >> 2), 255};
}

// Fills the target's tables: the value in a Drawable `format` of every
// 16-bit pixel p is Low[p & 0xFF] | High[p >> 8]. Widening and SDL_MapRGB
// only shift, mask and OR bit fields, so they distribute over OR.
void MakeTables(Target& t, const SDL_PixelFormat& format, bool is565) {
  for (uint32_t i = 0; i < 256; i++) {
    const SDL_Color low = Wide(i, is565), high = Wide(i << 8, is565);
    t.Low[i] = SDL_MapRGB(&format, low.r, low.g, low.b);
    t.High[i] = SDL_MapRGB(&format, high.r, high.g, high.b);
  }
}

// Which of `count` source pixels each of `size` output pixels shows: the
// one under its centre.
std::vector<int> NearestMap(int size, int count) {
  std::vector<int> map(static_cast<size_t>(std::max(size, 0)));
  for (int i = 0; i < size; i++)
    map[static_cast<size_t>(i)] =
        static_cast<int>((2LL * i + 1) * count / (2LL * static_cast<long long>(size)));
  return map;
}

// The output pixels [*first, *last) of `map` that show source pixels [from, to).
void Span(const std::vector<int>& map, int from, int to, int* first, int* last) {
  *first = static_cast<int>(std::lower_bound(map.begin(), map.end(), from) - map.begin());
  *last = static_cast<int>(std::lower_bound(map.begin(), map.end(), to) - map.begin());
}

template <typename Pixel>
void WidenRow(const Target& t, const uint16_t* in, int i0, int i1, void* out) {
  auto* o = static_cast<Pixel*>(out);
  for (int i = i0; i < i1; i++) {
    const uint16_t p = in[t.Columns[static_cast<size_t>(i)]];
    *o++ = static_cast<Pixel>(t.Low[p & 0xFF] | t.High[p >> 8]);
  }
}

// Draws the rectangle r (display pixels) of what is shown into the
// surface, and returns the part of the surface it covers. The caller holds
// the surface's lock where it needs one, and the surface is Drawable.
SDL_Rect Draw(Display& d, const SDL_Rect& r) {
  Target& t = d.Out;
  int i0 = 0, i1 = 0, j0 = 0, j1 = 0;
  Span(t.Columns, r.x, r.x + r.w, &i0, &i1);
  Span(t.Rows, r.y, r.y + r.h, &j0, &j1);
  const SDL_Rect out{t.Viewport.x + i0, t.Viewport.y + j0, i1 - i0, j1 - j0};
  if (out.w <= 0 || out.h <= 0) return out;
  SDL_Surface* s = t.Surface;
  const int bpp = s->format->BytesPerPixel;
  auto* row = static_cast<unsigned char*>(s->pixels) + static_cast<ptrdiff_t>(out.y) * s->pitch +
              static_cast<ptrdiff_t>(out.x) * bpp;
  for (int j = j0; j < j1; j++, row += s->pitch) {
    // Rows that show the same display row are copies of the first.
    if (j > j0 && t.Rows[static_cast<size_t>(j)] == t.Rows[static_cast<size_t>(j) - 1]) {
      std::memcpy(row, row - s->pitch, static_cast<size_t>(out.w) * bpp);
      continue;
    }
    const uint16_t* in =
        d.Shown.data() + static_cast<size_t>(t.Rows[static_cast<size_t>(j)]) * d.Layout.Width;
    if (bpp == 4)
      WidenRow<uint32_t>(t, in, i0, i1, row);
    else
      WidenRow<uint16_t>(t, in, i0, i1, row);
  }
  return out;
}

// Makes the window's surface `s` the target. A surface other than the one
// drawn into last (the first, or one SDL made again after a change of
// size) is cleared to black and given the whole of what is shown; the
// result then says so.
bool Prepare(Display& d, SDL_Surface* s) {
  Target& t = d.Out;
  if (s == t.Surface && s->w == t.Width && s->h == t.Height && s->format->format == t.Format)
    return false;
  t.Surface = s;
  t.Width = s->w;
  t.Height = s->h;
  t.Format = s->format->format;
  const int w = d.Layout.Width, h = d.Layout.Height;
  DisplayViewport(s->w, s->h, w, h, &t.Viewport.x, &t.Viewport.y, &t.Viewport.w, &t.Viewport.h);
  t.Columns = NearestMap(t.Viewport.w, w);
  t.Rows = NearestMap(t.Viewport.h, h);
  MakeTables(t, *s->format, d.Layout.Format == kDisplay565);
  SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
  Draw(d, SDL_Rect{0, 0, w, h});
  return true;
}

// Brings what is shown up to the frame memory, and lists the rectangles
// that changed: runs of changed rows, each as wide as its changes.
std::vector<SDL_Rect> TakeChanges(Display& d) {
  std::vector<SDL_Rect> changed;
  const int w = d.Layout.Width;
  bool extend = false;
  for (int y = 0; y < d.Layout.Height; y++) {
    const uint16_t* in = d.Frame.data() + static_cast<size_t>(y) * w;
    uint16_t* shown = d.Shown.data() + static_cast<size_t>(y) * w;
    if (std::memcmp(in, shown, static_cast<size_t>(w) * 2) == 0) {
      extend = false;
      continue;
    }
    int x0 = 0, x1 = w;
    while (in[x0] == shown[x0]) x0++;
    while (in[x1 - 1] == shown[x1 - 1]) x1--;
    std::memcpy(shown + x0, in + x0, static_cast<size_t>(x1 - x0) * 2);
    if (extend) {
      SDL_Rect& r = changed.back();
      const int right = std::max(r.x + r.w, x1);
      r.x = std::min(r.x, x0);
      r.w = right - r.x;
      r.h++;
    } else {
      changed.push_back(SDL_Rect{x0, y, x1 - x0, 1});
    }
    extend = true;
  }
  return changed;
}

// Puts the frame memory on the screen, drawing and handing over only what
// changed since the last time. `again` hands over the whole picture shown
// (the window was uncovered) and leaves the frame memory for the next time.
void Show(Display& d, bool again = false) {
  SDL_Surface* s = SDL_GetWindowSurface(d.Window);
  if (!s || !Drawable(s->format->format) || (SDL_MUSTLOCK(s) && SDL_LockSurface(s) != 0)) return;
  const bool whole = Prepare(d, s) || again;
  std::vector<SDL_Rect> areas;
  if (!again)
    for (const SDL_Rect& r : TakeChanges(d)) areas.push_back(Draw(d, r));
  if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
  if (whole)
    SDL_UpdateWindowSurface(d.Window);
  else if (!areas.empty())
    SDL_UpdateWindowSurfaceRects(d.Window, areas.data(), static_cast<int>(areas.size()));
}

void ReleaseDisplay(Display& d) {
  if (d.Window) SDL_DestroyWindow(d.Window);
  d = Display{};
}

SDL_Rect WindowViewport(const Display& d) {
  int ww = 0, wh = 0;
  SDL_GetWindowSize(d.Window, &ww, &wh);
  SDL_Rect r;
  DisplayViewport(ww, wh, d.Layout.Width, d.Layout.Height, &r.x, &r.y, &r.w, &r.h);
  return r;
}

Display* Find(HWND hwnd) {
  auto it = Displays().find(hwnd);
  return it == Displays().end() ? nullptr : &it->second;
}

// The display whose SDL window has this id.
bool FindByWindow(Uint32 windowId, HWND* hwnd, Display** display) {
  for (auto& [h, d] : Displays())
    if (d.Window && SDL_GetWindowID(d.Window) == windowId) {
      *hwnd = h;
      *display = &d;
      return true;
    }
  return false;
}

UINT VirtualKey(SDL_Keycode k) {
  if (k >= SDLK_a && k <= SDLK_z) return static_cast<UINT>('A' + (k - SDLK_a));
  if (k >= SDLK_0 && k <= SDLK_9) return static_cast<UINT>('0' + (k - SDLK_0));
  if (k >= SDLK_F1 && k <= SDLK_F12) return static_cast<UINT>(VK_F1 + (k - SDLK_F1));
  switch (k) {
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_UP:
      return VK_UP;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return VK_RETURN;
    case SDLK_ESCAPE:
      return VK_ESCAPE;
    case SDLK_SPACE:
      return VK_SPACE;
    case SDLK_BACKSPACE:
      return VK_BACK;
    case SDLK_TAB:
      return VK_TAB;
    case SDLK_HOME:
      return VK_HOME;
    case SDLK_END:
      return VK_END;
    case SDLK_PAGEUP:
      return VK_PRIOR;
    case SDLK_PAGEDOWN:
      return VK_NEXT;
    case SDLK_INSERT:
      return VK_INSERT;
    case SDLK_DELETE:
      return VK_DELETE;
    case SDLK_PAUSE:
      return VK_PAUSE;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT:
      return VK_MENU;
    default:
      return 0;
  }
}

UINT ControllerKey(Uint8 button) {
  switch (button) {
    case SDL_CONTROLLER_BUTTON_DPAD_UP:
      return VK_UP;
    case SDL_CONTROLLER_BUTTON_DPAD_DOWN:
      return VK_DOWN;
    case SDL_CONTROLLER_BUTTON_DPAD_LEFT:
      return VK_LEFT;
    case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
      return VK_RIGHT;
    case SDL_CONTROLLER_BUTTON_A:
      return 'A';
    case SDL_CONTROLLER_BUTTON_B:
      return 'B';
    case SDL_CONTROLLER_BUTTON_X:
      return 'C';
    case SDL_CONTROLLER_BUTTON_START:
      return VK_RETURN;
    default:
      return 0;
  }
}

void OpenController(int index) {
  if (!SDL_IsGameController(index)) return;
  if (SDL_GameController* c = SDL_GameControllerOpen(index)) Controllers().push_back(c);
}

LPARAM PointParam(const Display& d, int px, int py) {
  SDL_Rect v = WindowViewport(d);
  int x = 0, y = 0;
  ViewportToDisplay(v.x, v.y, v.w, v.h, d.Layout.Width, d.Layout.Height, px, py, &x, &y);
  return MAKELPARAM(x, y);
}

WPARAM MouseKeys() {
  Uint32 state = SDL_GetMouseState(nullptr, nullptr);
  WPARAM keys = 0;
  if (state & SDL_BUTTON_LMASK) keys |= MK_LBUTTON;
  if (state & SDL_BUTTON_RMASK) keys |= MK_RBUTTON;
  return keys;
}

}  // namespace

bool OpenDisplay(HWND hwnd, const DisplayRequest& request, DisplayLayout* layout,
                 std::string* error) {
  if (Display* open = Find(hwnd)) {
    if (layout) *layout = open->Layout;
    return true;
  }
  if (request.Width <= 0 || request.Height <= 0 || request.Width > 16384 ||
      request.Height > 16384 || (request.Format != kDisplay555 && request.Format != kDisplay565)) {
    if (error) *error = "unsupported display size or format";
    return false;
  }
  if (!EnsureVideo(error)) return false;
  Display d;
  d.FullScreen = request.FullScreen;
  SDL_DisplayMode mode{};
  int screenHeight = SDL_GetDesktopDisplayMode(0, &mode) == 0 ? mode.h : request.Height;
  int scale =
      request.FullScreen ? 0 : ChooseDisplayScale(DisplayScale(), request.Height, screenHeight);
  int k = std::max(scale, 1);
  SDL_Rect place{static_cast<int>(SDL_WINDOWPOS_CENTERED), static_cast<int>(SDL_WINDOWPOS_CENTERED),
                 request.Width * k, request.Height * k};
  // A full-screen window is made at the screen's own place and size, not
  // only asked for full screen: on a display without a window manager (a
  // kiosk, xinit) nobody answers that request, and SDL would draw for the
  // whole screen into the small window, whose part of the picture is black.
  if (request.FullScreen && SDL_GetDisplayBounds(0, &place) != 0)
    place = SDL_Rect{0, 0, request.Width, request.Height};
  // Hidden until its icon and surface are in place, so the window appears
  // once, whole.
  Uint32 flags = SDL_WINDOW_HIDDEN | (request.FullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  d.Window = SDL_CreateWindow(request.Title.c_str(), place.x, place.y, place.w, place.h, flags);
  SDL_Surface* surface = nullptr;
  if (d.Window) {
    SetIcon(d.Window, request.Icon);
    surface = SDL_GetWindowSurface(d.Window);
  }
  if (!surface || !Drawable(surface->format->format)) {
    if (error)
      *error = std::string("the display window would not open (") +
               (surface ? std::string("pixels of the kind ") +
                              SDL_GetPixelFormatName(surface->format->format)
                        : std::string(SDL_GetError())) +
               ")";
    ReleaseDisplay(d);
    return false;
  }
  d.Layout =
      DisplayLayout{request.Width, request.Height, 2, request.Width * 2, request.Format, scale};
  // Black until the program's first frame.
  d.Frame.assign(static_cast<size_t>(request.Width) * request.Height, 0);
  d.Shown = d.Frame;
  SDL_ShowWindow(d.Window);
  Show(d);
  if (layout) *layout = d.Layout;
  Displays()[hwnd] = d;
  return true;
}

void CloseDisplay(HWND hwnd) {
  auto it = Displays().find(hwnd);
  if (it == Displays().end()) return;
  ReleaseDisplay(it->second);
  Displays().erase(it);
}

bool HasDisplay(HWND hwnd) { return Find(hwnd) != nullptr; }

bool PresentDisplay(HWND hwnd, const uint16_t* rect, int pitch, int x, int y, int w, int h) {
  Display* d = Find(hwnd);
  if (!d || d->Locked || !rect) return false;
  long long x0 = std::max(x, 0), y0 = std::max(y, 0);
  long long x1 = std::min<long long>(static_cast<long long>(x) + w, d->Layout.Width);
  long long y1 = std::min<long long>(static_cast<long long>(y) + h, d->Layout.Height);
  if (x0 < x1 && y0 < y1) {
    const auto* first =
        reinterpret_cast<const unsigned char*>(rect) + (y0 - y) * pitch + (x0 - x) * 2;
    const size_t bytes = static_cast<size_t>(x1 - x0) * 2;
    for (long long row = y0; row < y1; row++)
      std::memcpy(d->Frame.data() + row * d->Layout.Width + x0, first + (row - y0) * pitch, bytes);
  }
  Show(*d);
  return true;
}

void* BeginDisplayFrame(HWND hwnd) {
  Display* d = Find(hwnd);
  if (!d) return nullptr;
  d->Locked = true;
  return d->Frame.data();
}

void EndDisplayFrame(HWND hwnd) {
  Display* d = Find(hwnd);
  if (!d || !d->Locked) return;
  d->Locked = false;
  Show(*d);
}

void SetGameKeys(HWND hwnd, bool on) {
  Display* d = Find(hwnd);
  if (!d) return;
  d->GameKeys = on;
  if (on && !SDL_WasInit(SDL_INIT_GAMECONTROLLER) &&
      SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0) {
    for (int i = 0; i < SDL_NumJoysticks(); i++) OpenController(i);
  }
}

void RaiseDisplay(HWND hwnd) {
  Display* d = Find(hwnd);
  if (!d) return;
  SDL_RestoreWindow(d->Window);
  SDL_RaiseWindow(d->Window);
}

void MinimiseDisplay(HWND hwnd) {
  if (Display* d = Find(hwnd)) SDL_MinimizeWindow(d->Window);
}

bool ScreenSize(int* width, int* height) {
  SDL_DisplayMode mode{};
  if (!EnsureVideo(nullptr) || SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
  *width = mode.w;
  *height = mode.h;
  return true;
}

void HandleDisplayEvent(const SDL_Event& e, EventSink& sink) {
  HWND hwnd = nullptr;
  Display* d = nullptr;
  switch (e.type) {
    case SDL_WINDOWEVENT:
      if (!FindByWindow(e.window.windowID, &hwnd, &d)) return;
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) sink.PostWindowMessage(hwnd, WM_CLOSE, 0, 0);
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED)
        sink.PostWindowMessage(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST)
        sink.PostWindowMessage(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
      // What the window shows is kept in its surface: an uncovered window
      // gets it again; after a change of size SDL makes a new surface, which
      // Show fills.
      if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) d->Out.Surface = nullptr;
      if (e.window.event == SDL_WINDOWEVENT_EXPOSED ||
          e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
        Show(*d, true);
      return;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      if (!FindByWindow(e.button.windowID, &hwnd, &d)) return;
      bool down = e.type == SDL_MOUSEBUTTONDOWN;
      UINT message;
      if (e.button.button == SDL_BUTTON_LEFT)
        message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
      else if (e.button.button == SDL_BUTTON_RIGHT)
        message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
      else
        return;
      sink.PostWindowMessage(hwnd, message, MouseKeys(), PointParam(*d, e.button.x, e.button.y));
      return;
    }
    case SDL_MOUSEMOTION: {
      if (!FindByWindow(e.motion.windowID, &hwnd, &d)) return;
      WPARAM keys = 0;
      if (e.motion.state & SDL_BUTTON_LMASK) keys |= MK_LBUTTON;
      if (e.motion.state & SDL_BUTTON_RMASK) keys |= MK_RBUTTON;
      sink.PostWindowMessage(hwnd, WM_MOUSEMOVE, keys, PointParam(*d, e.motion.x, e.motion.y));
      return;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      if (!FindByWindow(e.key.windowID, &hwnd, &d)) return;
      UINT vk = VirtualKey(e.key.keysym.sym);
      if (vk) sink.PostWindowMessage(hwnd, e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, vk, 0);
      return;
    }
    case SDL_CONTROLLERDEVICEADDED:
      OpenController(e.cdevice.which);
      return;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: {
      UINT vk = ControllerKey(e.cbutton.button);
      if (!vk) return;
      for (auto& [h, display] : Displays())
        if (display.GameKeys) {
          sink.PostWindowMessage(h, e.type == SDL_CONTROLLERBUTTONDOWN ? WM_KEYDOWN : WM_KEYUP, vk,
                                 0);
          return;
        }
      return;
    }
    default:
      return;
  }
}

void HoldDisplayAwake(bool on) {
  Awake().Wanted = on;
  ApplyAwakeHold();
}

// SDL has no one-off reset of the idle timer. While the screen saver is
// suspended, SDL's event pump resets the X server's saver itself (every 30
// s) and holds an inhibition with the session; here the hold is only put in
// force if the display service has started since it was asked for.
void ResetIdleTimer() { ApplyAwakeHold(); }

}  // namespace platform::sdl

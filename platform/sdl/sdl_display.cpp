// The SDL backend's displays: one SDL window per HWND with a renderer and a
// streaming texture in the window's own 32-bit format, drawn with
// nearest-pixel scaling into the largest whole-factor viewport the window
// allows (a window opened at the chosen scale is exactly that), centred on
// black. The display's 16-bit frame memory is a buffer of its own; what
// changes in it is widened into the texture, so SDL only copies. A
// full-screen display covers the desktop. Mouse and touch positions are
// mapped back through the viewport, so the program sees display pixels;
// keys become Windows virtual keys (SDL's key repeat included); game
// controllers' buttons become keys for a display that asked for them; focus
// changes become WM_ACTIVATE. A window takes the icon it is given.
//
// It leaves out window resizing by the program, several screens (displays
// open on the first), high-DPI back buffers and text input.
#include "platform/sdl/sdl_display.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace platform::sdl {
namespace {

struct Display {
  SDL_Window* Window = nullptr;
  SDL_Renderer* Renderer = nullptr;
  SDL_Texture* Texture = nullptr;  // 0xXXRRGGBB pixels
  std::vector<uint16_t> Frame;     // the frame memory, rows of Layout.Width pixels
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
  // A 240 x 320 picture needs no graphics card: SDL's software renderer
  // draws into the window's own framebuffer (shared memory on X11), so no
  // OpenGL driver is loaded, which would cost tens of megabytes and, with a
  // software OpenGL, a few per cent of a core. The environment variables
  // SDL_RENDER_DRIVER and SDL_FRAMEBUFFER_ACCELERATION still choose others.
  SDL_SetHintWithPriority(SDL_HINT_RENDER_DRIVER, "software", SDL_HINT_DEFAULT);
  SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (error) *error = std::string("no video driver could start (") + SDL_GetError() + ")";
    return false;
  }
  // With no screen to reach, SDL falls back on drivers that draw nowhere;
  // a window there would run unseen until killed. They serve only when
  // asked for by name (SDL_VIDEODRIVER), as the tests do.
  const char* driver = SDL_GetCurrentVideoDriver();
  const std::string chosen = driver ? driver : "";
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

// A 16-bit pixel as 0xFFRRGGBB, each channel's bits repeated into the low
// ones so that full scale is 255.
uint32_t Wide(uint32_t p, bool is565) {
  const uint32_t r5 = (p >> (is565 ? 11 : 10)) & 31, b5 = p & 31;
  const uint32_t g = is565 ? ((p >> 5) & 63) << 2 | ((p >> 5) & 63) >> 4
                           : ((p >> 5) & 31) << 3 | ((p >> 5) & 31) >> 2;
  return 0xFF000000u | (r5 << 3 | r5 >> 2) << 16 | g << 8 | (b5 << 3 | b5 >> 2);
}

// Wide() of every pixel value as the OR of one entry for its low byte and
// one for its high byte: Wide only shifts, masks and ORs bit fields, so it
// distributes over OR.
struct WideTables {
  uint32_t Low[256], High[256];
  explicit WideTables(bool is565) {
    for (uint32_t i = 0; i < 256; i++) {
      Low[i] = Wide(i, is565);
      High[i] = Wide(i << 8, is565);
    }
  }
};

// Widens the w x h pixels at (x, y) of the frame memory into the texture.
void Widen(Display& d, int x, int y, int w, int h) {
  static const WideTables t555(false), t565(true);
  const WideTables& t = d.Layout.Format == kDisplay565 ? t565 : t555;
  SDL_Rect r{x, y, w, h};
  void* pixels = nullptr;
  int pitch = 0;
  if (w <= 0 || h <= 0 || SDL_LockTexture(d.Texture, &r, &pixels, &pitch) != 0) return;
  for (int row = 0; row < h; row++) {
    const uint16_t* in = d.Frame.data() + static_cast<size_t>(y + row) * d.Layout.Width + x;
    auto* out = reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(pixels) +
                                            static_cast<size_t>(row) * pitch);
    for (int i = 0; i < w; i++) out[i] = t.Low[in[i] & 0xFF] | t.High[in[i] >> 8];
  }
  SDL_UnlockTexture(d.Texture);
}

void ReleaseDisplay(Display& d) {
  if (d.Texture) SDL_DestroyTexture(d.Texture);
  if (d.Renderer) SDL_DestroyRenderer(d.Renderer);
  if (d.Window) SDL_DestroyWindow(d.Window);
  d = Display{};
}

SDL_Rect Viewport(int outw, int outh, int w, int h) {
  SDL_Rect r;
  DisplayViewport(outw, outh, w, h, &r.x, &r.y, &r.w, &r.h);
  return r;
}

SDL_Rect WindowViewport(const Display& d) {
  int ww = 0, wh = 0;
  SDL_GetWindowSize(d.Window, &ww, &wh);
  return Viewport(ww, wh, d.Layout.Width, d.Layout.Height);
}

void Show(Display& d) {
  int ow = 0, oh = 0;
  SDL_GetRendererOutputSize(d.Renderer, &ow, &oh);
  SDL_Rect dst = Viewport(ow, oh, d.Layout.Width, d.Layout.Height);
  if (dst.w != ow || dst.h != oh) {
    SDL_SetRenderDrawColor(d.Renderer, 0, 0, 0, 255);
    SDL_RenderClear(d.Renderer);
  }
  SDL_RenderCopy(d.Renderer, d.Texture, nullptr, &dst);
  SDL_RenderPresent(d.Renderer);
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
  // Hidden until its icon and renderer are in place, so the window appears
  // once, whole.
  Uint32 flags = SDL_WINDOW_HIDDEN | (request.FullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  d.Window = SDL_CreateWindow(request.Title.c_str(), place.x, place.y, place.w, place.h, flags);
  if (d.Window) {
    SetIcon(d.Window, request.Icon);
    d.Renderer = SDL_CreateRenderer(d.Window, -1, 0);
  }
  // The window's own format when it is one of the 0xXXRRGGBB ones, so that
  // drawing the texture is a plain copy.
  Uint32 format = d.Window ? SDL_GetWindowPixelFormat(d.Window)
                           : static_cast<Uint32>(SDL_PIXELFORMAT_UNKNOWN);
  if (format != SDL_PIXELFORMAT_RGB888 && format != SDL_PIXELFORMAT_ARGB8888)
    format = SDL_PIXELFORMAT_ARGB8888;
  if (d.Renderer)
    d.Texture = SDL_CreateTexture(d.Renderer, format, SDL_TEXTUREACCESS_STREAMING, request.Width,
                                  request.Height);
  if (!d.Texture) {
    if (error) *error = std::string("the display window would not open (") + SDL_GetError() + ")";
    ReleaseDisplay(d);
    return false;
  }
  SDL_SetTextureBlendMode(d.Texture, SDL_BLENDMODE_NONE);
  SDL_SetTextureScaleMode(d.Texture, SDL_ScaleModeNearest);
  d.Layout = DisplayLayout{request.Width, request.Height, 2, request.Width * 2, request.Format,
                           scale};
  // Black until the program's first frame.
  d.Frame.assign(static_cast<size_t>(request.Width) * request.Height, 0);
  Widen(d, 0, 0, request.Width, request.Height);
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
    Widen(*d, static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
          static_cast<int>(y1 - y0));
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
  Widen(*d, 0, 0, d->Layout.Width, d->Layout.Height);
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
      if (e.window.event == SDL_WINDOWEVENT_EXPOSED && !d->Locked) Show(*d);
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

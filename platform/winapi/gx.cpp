// The GAPI functions (platform/winapi/gx.h) over the backend's display service:
// one full-screen display of 240 x 320 5-6-5 pixels, owned by the window
// that opened it.
#include "platform/winapi/gx.h"

#include <string>

#include "platform/services/backend.h"
#include "platform/winapi/internal/win32_kernel.h"

namespace {

constexpr int kWidth = 240, kHeight = 320;

struct GxState {
  HWND Window = nullptr;
  platform::DisplayLayout Layout;
  bool Drawing = false;
  bool Input = false;
  bool Suspended = false;
};

// GUI thread only.
GxState& Gx() {
  static GxState state;
  return state;
}

}  // namespace

int GXOpenDisplay(HWND hWnd, DWORD dwFlags) {
  GxState& gx = Gx();
  if (!hWnd || (gx.Window && gx.Window != hWnd)) return 0;
  platform::DisplayRequest request;
  request.Width = kWidth;
  request.Height = kHeight;
  request.Format = platform::kDisplay565;
  request.FullScreen = (dwFlags & GX_FULLSCREEN) != 0;
  platform::kernel::DescribeDisplay(hWnd, &request);
  std::string error;
  if (!platform::CurrentBackend().OpenDisplay(hWnd, request, &gx.Layout, &error)) return 0;
  gx.Window = hWnd;
  gx.Drawing = false;
  if (gx.Input) platform::CurrentBackend().SetGameKeys(hWnd, true);
  return 1;
}

int GXCloseDisplay() {
  GxState& gx = Gx();
  if (!gx.Window) return 0;
  if (gx.Drawing) platform::CurrentBackend().EndDisplayFrame(gx.Window);
  platform::CurrentBackend().CloseDisplay(gx.Window);
  bool input = gx.Input;
  gx = GxState{};
  gx.Input = input;
  return 1;
}

void* GXBeginDraw() {
  GxState& gx = Gx();
  if (!gx.Window || gx.Suspended) return nullptr;
  void* frame = platform::CurrentBackend().BeginDisplayFrame(gx.Window);
  gx.Drawing = frame != nullptr;
  return frame;
}

int GXEndDraw() {
  GxState& gx = Gx();
  if (!gx.Window || !gx.Drawing) return 0;
  platform::CurrentBackend().EndDisplayFrame(gx.Window);
  gx.Drawing = false;
  return 1;
}

int GXSuspend() {
  GxState& gx = Gx();
  if (!gx.Window) return 0;
  if (gx.Drawing) GXEndDraw();
  gx.Suspended = true;
  platform::CurrentBackend().MinimiseDisplay(gx.Window);
  return 1;
}

int GXResume() {
  GxState& gx = Gx();
  if (!gx.Window) return 0;
  gx.Suspended = false;
  platform::CurrentBackend().RaiseDisplay(gx.Window);
  return 1;
}

GXDisplayProperties GXGetDisplayProperties() {
  const GxState& gx = Gx();
  int32_t xPitch = gx.Window ? gx.Layout.XPitch : 2;
  int32_t yPitch = gx.Window ? gx.Layout.YPitch : 2 * kWidth;
  return GXDisplayProperties{kWidth, kHeight, xPitch, yPitch, 16, kfDirect565};
}

int GXOpenInput() {
  GxState& gx = Gx();
  gx.Input = true;
  if (gx.Window) platform::CurrentBackend().SetGameKeys(gx.Window, true);
  return 1;
}

int GXCloseInput() {
  GxState& gx = Gx();
  if (gx.Window) platform::CurrentBackend().SetGameKeys(gx.Window, false);
  gx.Input = false;
  return 1;
}

GXKeyList GXGetDefaultKeys(int) {
  GXKeyList keys{};
  keys.vkUp = VK_UP;
  keys.vkDown = VK_DOWN;
  keys.vkLeft = VK_LEFT;
  keys.vkRight = VK_RIGHT;
  keys.vkA = 'A';
  keys.vkB = 'B';
  keys.vkC = 'C';
  keys.vkStart = VK_RETURN;
  return keys;
}

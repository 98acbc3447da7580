// Internal to the headless backend: its displays (headless_display.cpp).
#pragma once

#include <string>

#include "platform/services/backend.h"

namespace headless::display {

// The screen the displays open on.
inline constexpr int kScreenWidth = 1920;
inline constexpr int kScreenHeight = 1080;

bool Open(HWND hwnd, const platform::DisplayRequest& request, platform::DisplayLayout* layout,
          std::string* error);
void Close(HWND hwnd);
bool IsOpen(HWND hwnd);
bool Present(HWND hwnd, const uint16_t* rect, int pitch, int x, int y, int w, int h);
void* BeginFrame(HWND hwnd);
void EndFrame(HWND hwnd);
void SetGameKeys(HWND hwnd, bool on);
void Raise(HWND hwnd);
void Minimise(HWND hwnd);
// The lParam of a pointer at (x, y) of the display's window (or, full
// screen, of the screen), mapped to display pixels as the real backend
// maps it; false without an open display.
bool PointerAt(HWND hwnd, int x, int y, LPARAM* lParam);
// Forgets the closed displays and the pitch setting.
void Reset();

}  // namespace headless::display

// Internal to the headless backend: its displays (headless_display.cpp).
#pragma once

#include <string>

#include "platform/backend.h"

namespace headless::display {

bool Open(HWND hwnd, const platform::DisplayRequest& request, platform::DisplayLayout* layout,
          std::string* error);
void Close(HWND hwnd);
bool Present(HWND hwnd, const uint16_t* rect, int pitch, int x, int y, int w, int h);
void* BeginFrame(HWND hwnd);
void EndFrame(HWND hwnd);
void SetGameKeys(HWND hwnd, bool on);
// Forgets the closed displays and the pitch setting.
void Reset();

}  // namespace headless::display

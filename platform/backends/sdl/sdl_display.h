// Internal to the SDL backend: the display windows (see sdl_display.cpp).
#pragma once

#include <SDL.h>

#include <string>

#include "platform/services/backend.h"

namespace platform::sdl {

// The backend's display methods, and the handling of the SDL events that
// belong to a display (its window's input and close box).
bool OpenDisplay(HWND hwnd, const DisplayRequest& request, DisplayLayout* layout,
                 std::string* error);
void CloseDisplay(HWND hwnd);
bool HasDisplay(HWND hwnd);
bool PresentDisplay(HWND hwnd, const uint16_t* rect, int pitch, int x, int y, int w, int h);
void* BeginDisplayFrame(HWND hwnd);
void EndDisplayFrame(HWND hwnd);
void SetGameKeys(HWND hwnd, bool on);
void HoldDisplayAwake(bool on);
void ResetIdleTimer();
void RaiseDisplay(HWND hwnd);
void MinimiseDisplay(HWND hwnd);
bool ScreenSize(int* width, int* height);

// Passes `e` on to `sink` as a window message of the display it concerns;
// events that concern no display are ignored.
void HandleDisplayEvent(const SDL_Event& e, EventSink& sink);

}  // namespace platform::sdl

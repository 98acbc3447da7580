// Presenting the desk screen: CScreen::Refresh of the 240x320 5-5-5 surface
// through the SDL backend (on SDL's dummy video driver unless
// SDL_VIDEODRIVER says otherwise: a software renderer with a streaming
// texture, scaled into the window) and through the headless backend (a copy
// into the kept frame), each against one plain memcpy of the same 153,600
// bytes; and ButtonArray::Paint of the tuner's two buttons, against the same
// memcpy.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common_code/button.h"
#include "common_code/xdib.h"
#include "platform/services/backend.h"
#include "ratio_reporter.h"
#include "screen_copy.h"

namespace {

constexpr int kW = 240, kH = 320;
constexpr size_t kBytes = kW * kH * sizeof(PIXEL);
int g_Module;

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProc(hwnd, message, wParam, lParam);
}

HWND MakeWindow() {
  static bool registered = false;
  if (!registered) {
    WNDCLASS wc{};
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = "BenchScreen";
    RegisterClass(&wc);
    registered = true;
  }
  return CreateWindowEx(0, "BenchScreen", "Zelvaro", WS_VISIBLE, 0, 0, kW, kH, nullptr, nullptr,
                        nullptr, nullptr);
}

void DrawMeter(CDib& d) {
  CDib meter;
  if (meter.LoadBMP(&g_Module, "METER"))
    d.BitBlt(0, 0, kW, kH, &meter, 0, 0, 0);
  else
    d.VGradient(ColorValue(255, 255, 255), ColorValue(0, 0, 128));
}

void BM_Memcpy(benchmark::State& state) { CopyWholeScreen(state); }
BENCHMARK(BM_Memcpy);

void Refresh(benchmark::State& state, const char* backend) {
  std::string error;
  if (!platform::SelectBackend(backend, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  HWND hwnd = MakeWindow();
  platform::DisplayRequest request;
  request.Title = "Zelvaro";
  if (!hwnd || !platform::CurrentBackend().OpenDisplay(hwnd, request, nullptr, &error)) {
    if (hwnd) DestroyWindow(hwnd);
    state.SkipWithError(("no display: " + error).c_str());
    return;
  }
  CScreen screen;
  screen.Init(hwnd, 0);
  DrawMeter(screen);
  for (auto _ : state) {
    screen.Refresh();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
  DestroyWindow(hwnd);
}

void BM_RefreshSdl(benchmark::State& state) { Refresh(state, "sdl"); }
BENCHMARK(BM_RefreshSdl);

void BM_RefreshHeadless(benchmark::State& state) { Refresh(state, "headless"); }
BENCHMARK(BM_RefreshHeadless);

// The tuner's buttons as it adds them: bevelled faces with FONT2 captions.
void BM_ButtonPaint(benchmark::State& state) {
  InitButtons();
  CDib screen;
  screen.Create(kW, kH);
  DrawMeter(screen);
  char trigger[] = "Trigger: 1";
  ButtonArray buttons;
  buttons.AddButton(30, trigger, 15, 290, 100, 20, 0);
  buttons.AddButton(20, "Exit", 125, 290, 100, 20, 0);
  buttons.SetButtonColor(20, ColorValue(0, 0, 0), ColorValue(224, 224, 192), -1, -1);
  buttons.SetButtonColor(30, ColorValue(0, 0, 0), ColorValue(224, 224, 192), -1, -1);
  for (auto _ : state) {
    buttons.Paint(&screen);
    benchmark::DoNotOptimize(screen.m_Bits);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ButtonPaint);

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  initcharset();
  return RunWithRatios(
      argc, argv,
      {{"desk Refresh, SDL backend / memcpy", "BM_RefreshSdl", "BM_Memcpy", 0.0},
       {"desk Refresh, headless backend / memcpy", "BM_RefreshHeadless", "BM_Memcpy", 0.0},
       {"ButtonArray::Paint, tuner's two buttons / memcpy", "BM_ButtonPaint", "BM_Memcpy", 0.0}});
}

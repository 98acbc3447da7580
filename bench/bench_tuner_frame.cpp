// One frame of the desk tuner on the headless backend: MyClass::Paint (the
// capture test, the reading step on a piece of a steady 440 Hz tone from
// the capture thread, the drawing of the whole screen) and
// CScreen::Refresh, against one plain memcpy of the screen's 153,600 bytes.
// A frame that runs the estimator and one that repeats the last estimate
// are measured apart; the program alternates them, so their mean is the
// average frame. Recording the next piece (the virtual clock moving on and
// the capture thread storing it) is not timed.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "common_code/xdib.h"
#include "platform/backends/headless/headless.h"
#include "platform/services/backend.h"
#include "ratio_reporter.h"
#include "screen_copy.h"
#include "tuner/analysis.h"
#include "tuner/app.h"

namespace {

constexpr int kW = 240, kH = 320;
constexpr size_t kBytes = kW * kH * sizeof(PIXEL);

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProc(hwnd, message, wParam, lParam);
}

void BM_Memcpy(benchmark::State& state) { CopyWholeScreen(state); }
BENCHMARK(BM_Memcpy);

void Frame(benchmark::State& state, bool estimate) {
  std::string error;
  if (!platform::SelectBackend("headless", &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  headless::Reset();
  headless::RemoveDevices();
  headless::AddCaptureDevice(headless::ToneScript(440, 0.6));
  WNDCLASS wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = "BenchTunerFrame";
  RegisterClass(&wc);
  HWND hwnd = CreateWindowEx(0, "BenchTunerFrame", "Zelvaro", WS_VISIBLE, 0, 0, kW, kH, nullptr,
                             nullptr, nullptr, nullptr);
  game.hWindow = hwnd;
  if (!hwnd || !game.screen.Init(hwnd, 0)) {
    state.SkipWithError("no screen");
    return;
  }
  InitButtons();
  game.DisplayInit();
  // Capture as ProgramStart starts it, without the settings file.
  waveIn.Init(waveInEventCB, kPriorityNormal, 4, kPieceSize, 1, kSampleRate, 8);
  if (!waveIn.StartThread()) {
    state.SkipWithError("capture did not start");
    return;
  }
  const DWORD pieceMs = 1000 * kPieceSize / kSampleRate;
  Tuner = TunerState{};
  // The window filled and one estimate made, so every frame shows a reading.
  for (int i = 0; i < 100 && (Tuner.bufferlen < kWindowSize || Tuner.LastFrequency == 0.0); i++) {
    Sleep(pieceMs);
    game.Paint();
  }
  for (auto _ : state) {
    state.PauseTiming();
    Sleep(pieceMs);
    Tuner.Counter = estimate ? 0 : 1;
    state.ResumeTiming();
    game.Paint();
    game.screen.Refresh();
    benchmark::ClobberMemory();
  }
  if (Tuner.LastFrequency < 439.0 || Tuner.LastFrequency > 441.0)
    state.SkipWithError("the frames did not read the tone");
  waveIn.StopThread();
  calc_end();
  game.screen.Exit();
  game.hWindow = nullptr;
  DestroyWindow(hwnd);
  UnregisterClass("BenchTunerFrame", nullptr);
}

void BM_FrameWithEstimate(benchmark::State& state) { Frame(state, true); }
BENCHMARK(BM_FrameWithEstimate);

void BM_FrameRepeatingTheEstimate(benchmark::State& state) { Frame(state, false); }
BENCHMARK(BM_FrameRepeatingTheEstimate);

}  // namespace

int main(int argc, char** argv) {
  initcharset();
  return RunWithRatios(
      argc, argv,
      {{"desk frame with estimate + Refresh / memcpy", "BM_FrameWithEstimate", "BM_Memcpy", 0.0},
       {"desk frame repeating it + Refresh / memcpy", "BM_FrameRepeatingTheEstimate", "BM_Memcpy",
        0.0}});
}

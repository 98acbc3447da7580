// One frame of the desk tuner on the headless backend: the reading step and
// the drawing of the whole screen from a steady 440 Hz tone, then
// CScreen::Refresh, against one plain memcpy of the screen's 153,600 bytes.
// A frame that runs the estimator and one that repeats the last estimate
// are measured apart; the program alternates them, so their mean is the
// average frame.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "analysis.h"
#include "app.h"
#include "platform/backend.h"
#include "ratio_reporter.h"
#include "xdib.h"

namespace {

constexpr int kW = 240, kH = 320;
constexpr size_t kBytes = kW * kH * sizeof(PIXEL);
int g_Module;

// An endless 440 Hz tone at about two thirds of full scale.
class ToneSource : public PieceSource {
 public:
  int ReadData(unsigned char* dest, unsigned long len) override {
    for (unsigned long i = 0; i < len; i++, m_N++)
      dest[i] = static_cast<unsigned char>(
          std::lround(128 + 80 * std::sin(2 * M_PI * 440.0 * m_N / kSampleRate)));
    return 1;
  }

 private:
  unsigned long m_N = 0;
};

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProc(hwnd, message, wParam, lParam);
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<PIXEL> src(kW * kH, 0x1234), dst(kW * kH);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Memcpy);

void Frame(benchmark::State& state, bool estimate) {
  std::string error;
  if (!platform::SelectBackend("headless", &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  WNDCLASS wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = "BenchTunerFrame";
  RegisterClass(&wc);
  HWND hwnd = CreateWindowEx(0, "BenchTunerFrame", "Zelvaro", WS_VISIBLE, 0, 0, kW, kH, nullptr,
                             nullptr, nullptr, nullptr);
  CScreen screen;
  if (!hwnd || !screen.Init(hwnd, 0)) {
    state.SkipWithError("no screen");
    return;
  }
  InitButtons();
  LoadTunerScreen(&g_Module);
  Tuner = TunerState{};
  ToneSource tone;
  while (Tuner.bufferlen < kWindowSize) PaintTunerFrame(&screen, tone);
  for (auto _ : state) {
    Tuner.Counter = estimate ? 0 : 1;
    PaintTunerFrame(&screen, tone);
    screen.Refresh();
    benchmark::ClobberMemory();
  }
  calc_end();
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

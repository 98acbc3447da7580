// Full-screen copies of the 240x320 16-bit screen: CDib::BitBlt in copy mode
// 0 (block move) and in mode 1 (skipping the transparent colour) against one
// plain memcpy of the same 153,600 bytes. Between surfaces of the screen's
// width the rows lie end to end and go as one run; the "rows" variant copies
// the same block out of a wider source, one run per row.
#include <cstring>
#include <vector>

#include "common_code/dib.h"
#include "ratio_reporter.h"
#include "screen_copy.h"

namespace {

constexpr int kW = 240, kH = 320;
constexpr size_t kBytes = kW * kH * sizeof(PIXEL);
int g_Module;

// The meter image as the source, its panel colour transparent: about a
// third of its pixels are skipped by mode 1.
void LoadSource(CDib& src) {
  if (!src.LoadBMP(&g_Module, "METER")) {
    src.Create(kW, kH);
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) src.SetPixel(x, y, (x * 7 + y * 13) & 0x7FFF);
  }
  src.SetTransparentColor(src.GetPixel(0, 0));
}

void BM_Memcpy(benchmark::State& state) { CopyWholeScreen(state); }
BENCHMARK(BM_Memcpy);

void BM_BitBlt(benchmark::State& state) {
  CDib src, dst;
  LoadSource(src);
  dst.Create(kW, kH);
  dst.Clear(0);
  auto mode = static_cast<unsigned char>(state.range(0));
  for (auto _ : state) {
    dst.BitBlt(0, 0, kW, kH, &src, 0, 0, mode);
    benchmark::DoNotOptimize(dst.m_Bits);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}
BENCHMARK(BM_BitBlt)->Arg(0)->Arg(1);

void BM_BitBltRows(benchmark::State& state) {
  CDib meter, src, dst;
  LoadSource(meter);
  src.Create(kW + 16, kH);
  src.Clear(meter.TransparentColor);
  src.BitBlt(0, 0, kW, kH, &meter, 0, 0, 0);
  src.SetTransparentColor(meter.TransparentColor);
  dst.Create(kW, kH);
  dst.Clear(0);
  auto mode = static_cast<unsigned char>(state.range(0));
  for (auto _ : state) {
    dst.BitBlt(0, 0, kW, kH, &src, 0, 0, mode);
    benchmark::DoNotOptimize(dst.m_Bits);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}
BENCHMARK(BM_BitBltRows)->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char** argv) {
  return RunWithRatios(
      argc, argv,
      {{"full-screen BitBlt mode 0 / memcpy", "BM_BitBlt/0", "BM_Memcpy", 1.5},
       {"full-screen BitBlt mode 1 / memcpy", "BM_BitBlt/1", "BM_Memcpy", 0.0},
       {"full-screen BitBlt mode 0, row by row / memcpy", "BM_BitBltRows/0", "BM_Memcpy", 1.5},
       {"full-screen BitBlt mode 1, row by row / memcpy", "BM_BitBltRows/1", "BM_Memcpy", 0.0}});
}

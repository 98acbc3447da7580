// The yardstick of the screen benchmarks: one plain memcpy of a whole
// 240 x 320 screen of 16-bit pixels.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "common_code/xdib.h"

inline void CopyWholeScreen(benchmark::State& state) {
  constexpr size_t kPixels = 240 * 320, kScreenBytes = kPixels * sizeof(PIXEL);
  std::vector<PIXEL> src(kPixels, 0x1234), dst(kPixels);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kScreenBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kScreenBytes);
}

// The analysis's two costly steps on a 4096-sample block at 8000 Hz: the
// transform and a whole estimate (decision rule 3), and the steady reading's
// stage after the estimate. Desk only: FFTW 2's real-data transform with the
// same power loop, to compare our transform with.
#include <cmath>
#include <vector>

#include "ratio_reporter.h"
#include "tuner/analysis.h"
#include "tuner/steady.h"

#if !ZELVARO_POCKET
#include <rfftw.h>
#endif

namespace {
constexpr unsigned long kLen = 4096;

// A plucked-string-like block: a fundamental with decaying partials.
std::vector<unsigned char> MakeBlock() {
  std::vector<unsigned char> b(kLen);
  for (unsigned long i = 0; i < kLen; i++) {
    double t = i / 8000.0, v = 0;
    for (int h = 1; h <= 6; h++) v += std::sin(2 * M_PI * 110.0 * h * t) * 40.0 / h;
    b[i] = static_cast<unsigned char>(128 + std::lround(v * 0.8));
  }
  return b;
}

void BM_Transform(benchmark::State& state) {
  auto block = MakeBlock();
  std::vector<double> out(kLen / 2);
  fft(block.data(), kLen, out.data(), 0);
  for (auto _ : state) {
    fft(block.data(), kLen, out.data(), 0);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Transform);

void BM_CalcFreq(benchmark::State& state) {
  auto block = MakeBlock();
  calc_freq(block.data(), kLen, 8000, 3, 0);
  for (auto _ : state) {
    double f = calc_freq(block.data(), kLen, 8000, 3, 0);
    benchmark::DoNotOptimize(f);
  }
}
BENCHMARK(BM_CalcFreq);

// A block on which the steady stage works longest (of a survey of
// fundamentals, loudest partials and noise): 700 Hz with five partials, so
// that each of the twelve divisors of the strongest partial is a candidate
// above 55 Hz, over a little noise.
std::vector<unsigned char> MakeHardBlock() {
  std::vector<unsigned char> b(kLen);
  unsigned noise = 12345;
  for (unsigned long i = 0; i < kLen; i++) {
    double t = i / 8000.0, v = 0;
    for (int h = 1; h <= 5; h++) v += std::sin(2 * M_PI * 700.0 * h * t) * 50.0 / h;
    noise = noise * 1103515245u + 12345u;
    v += ((noise >> 16) % 9) - 4.0;
    b[i] = static_cast<unsigned char>(128 + std::lround(v));
  }
  return b;
}

// A change of note inside the window: 220 Hz ending after 40 % of it, then
// 440 Hz with its second partial loudest. The window's start makes 220 Hz a
// candidate, which the stage must check against the window's end.
std::vector<unsigned char> MakeChangeBlock(bool change) {
  std::vector<unsigned char> b(kLen);
  for (unsigned long i = 0; i < kLen; i++) {
    const double t = i / 8000.0;
    double v = 0;
    if (!change || i < kLen * 4 / 10)
      for (int h = 1; h <= 5; h++) v += std::sin(2 * M_PI * 220.0 * h * t) * 40.0 / h;
    else
      for (int h = 1; h <= 4; h++) v += std::sin(2 * M_PI * 440.0 * h * t) * (h == 2 ? 50.0 : 20.0);
    b[i] = static_cast<unsigned char>(128 + std::lround(v));
  }
  return b;
}

// The stage alone, on the spectrum the estimate left in `outbuf`, from the
// state `before` every time.
void SteadyStage(benchmark::State& state, std::vector<unsigned char> block,
                 SteadyState before = SteadyState{}) {
  const double raw = calc_freq(block.data(), kLen, 8000, 3, 0);
  SteadyState s = before;
  for (auto _ : state) {
    s = before;
    double f = SteadyEstimate(s, raw, outbuf, kLen / 2, 8000.0 / kLen, block.data(), kLen, 4);
    benchmark::DoNotOptimize(f);
  }
}
void BM_SteadyStage(benchmark::State& state) { SteadyStage(state, MakeBlock()); }
void BM_SteadyStageHard(benchmark::State& state) { SteadyStage(state, MakeHardBlock()); }
void BM_SteadyStageChange(benchmark::State& state) {
  // 220 Hz held for a while, then the window of the change.
  std::vector<unsigned char> before = MakeChangeBlock(false);
  SteadyState held;
  for (int i = 0; i < 3; i++)
    SteadyEstimate(held, calc_freq(before.data(), kLen, 8000, 3, 0), outbuf, kLen / 2,
                   8000.0 / kLen, before.data(), kLen, 4);
  SteadyStage(state, MakeChangeBlock(true), held);
}
BENCHMARK(BM_SteadyStage);
BENCHMARK(BM_SteadyStageHard);
BENCHMARK(BM_SteadyStageChange);

#if !ZELVARO_POCKET
// FFTW 2 on the same windowed block, with the same power loop.
void BM_Fftw2(benchmark::State& state) {
  auto block = MakeBlock();
  fft(block.data(), kLen, std::vector<double>(kLen / 2).data(), 0);  // builds `window`
  rfftw_plan plan = rfftw_create_plan(kLen, FFTW_REAL_TO_COMPLEX, FFTW_ESTIMATE);
  std::vector<fftw_real> in(kLen), hc(kLen);
  std::vector<double> out(kLen / 2);
  for (auto _ : state) {
    for (unsigned long i = 0; i < kLen; i++) in[i] = (block[i] - 128) * window[i];
    rfftw_one(plan, in.data(), hc.data());
    out[0] = hc[0] * hc[0];
    for (unsigned long k = 1; k < kLen / 2; k++)
      out[k] = hc[k] * hc[k] + hc[kLen - k] * hc[kLen - k];
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  rfftw_destroy_plan(plan);
}
BENCHMARK(BM_Fftw2);
#endif
}  // namespace

int main(int argc, char** argv) {
  std::vector<RatioReporter::Ratio> ratios = {
      {"estimate / transform (work around it: ratio - 1)", "BM_CalcFreq", "BM_Transform", 1.5},
      {"steady stage / transform", "BM_SteadyStage", "BM_Transform", 0.5},
      {"steady stage, hard block / transform", "BM_SteadyStageHard", "BM_Transform", 0.5},
      {"steady stage, change of note / transform", "BM_SteadyStageChange", "BM_Transform", 0.5},
  };
#if !ZELVARO_POCKET
  ratios.push_back({"own transform / FFTW 2 rfftw_one + power", "BM_Transform", "BM_Fftw2", 3.0});
#endif
  return RunWithRatios(argc, argv, ratios);
}

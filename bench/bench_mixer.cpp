// One second of mixer output (39 buffers of 1152 bytes, stereo at 22050 Hz)
// from eight looping sources, against one source and against a plain copy
// of the eight sources' second of bytes, in the same run. The device is the
// headless one, whose clock stands still, so the feeder thread stays idle
// and the mixing is measured on this thread alone.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "common_code/sound.h"
#include "platform/backends/headless/headless.h"
#include "ratio_reporter.h"

namespace {

constexpr int kBuffersPerSecond = 39;  // 22050 frames / 576 frames per buffer, rounded up

// Eight sounds of different lengths, levels and channel counts.
std::vector<SOUND*>& Sounds() {
  static std::vector<SOUND*> sounds = [] {
    std::vector<SOUND*> out;
    for (int k = 0; k < 8; k++) {
      const int channels = k % 2 ? 2 : 1;
      const int frames = 6000 + 2500 * k;
      std::vector<unsigned char> signal(static_cast<size_t>(frames * channels));
      for (size_t i = 0; i < signal.size(); i++)
        signal[i] = static_cast<unsigned char>(
            128 + std::lround((20 + 10 * k) * std::sin(0.01 * (k + 1) * static_cast<double>(i))));
      WAVEFORMATEX f{};
      f.wFormatTag = WAVE_FORMAT_PCM;
      f.nChannels = static_cast<WORD>(channels);
      f.nSamplesPerSec = 22050;
      f.wBitsPerSample = 8;
      f.nBlockAlign = static_cast<WORD>(channels);
      f.nAvgBytesPerSec = 22050u * channels;
      out.push_back(new SOUND(&f, signal.data(), static_cast<unsigned>(signal.size())));
    }
    return out;
  }();
  return sounds;
}

void MixOneSecond(benchmark::State& state, int sources) {
  headless::Use();
  headless::Reset();
  for (int k = 0; k < sources; k++) Sounds()[static_cast<size_t>(k)]->Play(PLAY_LOOPED);
  if (!WaveOut_IsOpen()) {
    state.SkipWithError("no playback device");
    return;
  }
  unsigned char target[kWaveOutBufferBytes];
  WaveOut_Enter();
  for (auto _ : state) {
    for (int b = 0; b < kBuffersPerSecond; b++) WaveOut_MixBuffer(target, LBR_NORMAL);
    benchmark::DoNotOptimize(target);
  }
  WaveOut_Leave();
  // Time spent per second of sound.
  state.counters["per_sound_second"] = benchmark::Counter(
      1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  WaveOut_Terminate();
}

void BM_MixEightSources(benchmark::State& state) { MixOneSecond(state, 8); }
BENCHMARK(BM_MixEightSources)->Unit(benchmark::kMicrosecond);

void BM_MixOneSource(benchmark::State& state) { MixOneSecond(state, 1); }
BENCHMARK(BM_MixOneSource)->Unit(benchmark::kMicrosecond);

// The bytes the eight sources give in one second, copied.
void BM_CopyEightSources(benchmark::State& state) {
  std::vector<unsigned char> target(2 * 22050);
  for (auto _ : state) {
    for (SOUND* s : Sounds()) {
      const size_t perSecond = size_t{22050} * s->Format.nChannels;
      for (size_t done = 0; done < perSecond;) {
        const size_t n = std::min<size_t>(perSecond - done, s->cbSignal);
        std::memcpy(target.data() + done, s->abSignal, n);
        done += n;
      }
    }
    benchmark::DoNotOptimize(target.data());
  }
}
BENCHMARK(BM_CopyEightSources)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return RunWithRatios(
      argc, argv,
      {{"mixing 8 sources / copying their bytes, 1 s", "BM_MixEightSources", "BM_CopyEightSources"},
       {"mixing 8 sources / mixing 1 source, 1 s", "BM_MixEightSources", "BM_MixOneSource"}});
}

// Helpers for the mixer's tests: WAVE images of exact bytes, the memory
// manager's view of the mixer's blocks, and waiting for the headless
// playback device to have played enough.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common_code/salloc.h"
#include "common_code/sound.h"
#include "platform/backends/headless/headless.h"
#include "support/wav.h"

namespace soundtest {

using Bytes = std::vector<unsigned char>;

// A WAVE image of the given format whose data chunk holds exactly `data`.
inline Bytes Wave(int tag, int channels, int rate, int bits, const Bytes& data) {
  return testing_support::RiffImage(
      {{"fmt ", testing_support::FmtChunk(tag, channels, rate, bits)}, {"data", data}});
}

inline WAVEFORMATEX Pcm(int channels, int rate, int bits) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = static_cast<WORD>(channels);
  f.nSamplesPerSec = static_cast<DWORD>(rate);
  f.wBitsPerSample = static_cast<WORD>(bits);
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
  return f;
}

// `count` 8-bit samples of a sine of `peak` steps around 128 that never
// touch 128 itself, so silence around them stands out.
inline Bytes Tone(size_t count, int peak, double period = 50.0) {
  Bytes out(count);
  for (size_t i = 0; i < count; i++) {
    int v = 128 + static_cast<int>(peak * std::sin(2 * M_PI * static_cast<double>(i) / period));
    if (v == 128) v = (i / static_cast<size_t>(period / 2)) % 2 ? 127 : 129;
    out[i] = static_cast<unsigned char>(v);
  }
  return out;
}

// Each byte twice: a mono signal as the stereo device plays it.
inline Bytes Doubled(const Bytes& mono) {
  Bytes out;
  for (unsigned char b : mono) out.insert(out.end(), {b, b});
  return out;
}

inline int Peak(const Bytes& b, size_t from = 0, size_t to = SIZE_MAX) {
  int peak = 0;
  for (size_t i = from; i < std::min(to, b.size()); i++)
    peak = std::max(peak, std::abs(b[i] - 128));
  return peak;
}

// A new mono sound of the mixer's format holding exactly these samples.
inline SOUND* MonoSound(const Bytes& samples) {
  const WAVEFORMATEX f = Pcm(1, 22050, 8);
  return new SOUND(&f, samples.data(), static_cast<unsigned>(samples.size()));
}

// Threads of this process. A sanitizer may start a helper thread of its own
// with the first thread a program makes: that happens here, first.
inline int TaskCount() {
  static const bool s_fWarm = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)s_fWarm;
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

inline NodeHeader* Node(const void* p) {
  MemMgr* m = GetGlobalMemMgr();
  m->Enter();
  NodeHeader* n = m->FindNodeHeader(p);
  m->Leave();
  return n;
}

// Live blocks of the process-wide manager registered under `expr`.
inline int LiveBlocks(const char* expr) {
  MemMgr* m = GetGlobalMemMgr();
  int count = 0;
  m->Enter();
  for (NodeHeader* head : m->m_t.aUsedList)
    for (NodeHeader* n = head; n; n = n->pUsedNext)
      if (std::strcmp(n->pszExpr, expr) == 0) count++;
  m->Leave();
  return count;
}

// Moves the virtual clock on in steps until `done` holds; false when it
// does not within `seconds` of real time (the feeder thread runs on real
// time, the device on the virtual clock).
template <class Pred>
bool RunUntil(Pred done, double seconds = 20) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(8);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // let the feeder run
  }
  return true;
}

// Waits in real time, the virtual clock standing still, until the feeder
// has queued `count` buffers on the device.
inline bool QueuedBuffers(unsigned count, double seconds = 20) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    unsigned queued = 0;
    for (const WAVEOUTBUFFER& b : WaveOutState.aBuffers) queued += b.fDone.load() ? 0 : 1;
    if (queued >= count) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// What playback device `id` has played, once it has played at least `bytes`.
inline Bytes PlayedAtLeast(size_t bytes, int id = 1) {
  Bytes played;
  RunUntil([&] {
    played = headless::Played(id);
    return played.size() >= bytes;
  });
  return played;
}

}  // namespace soundtest

// libFuzzer target: the mixer's WAVE loader. Every input, as a whole WAVE
// image and as a format record followed by its signal, must leave the sound
// either empty or holding whole frames of 8-bit PCM at 22050 Hz, mono or
// stereo, all of which can be read.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common_code/sound.h"

namespace {
void Check(const SOUND& s) {
  if (!s.CanPlay()) {
    if (s.abSignal || s.cbSignal || s.Format.wFormatTag) __builtin_trap();
    return;
  }
  const WAVEFORMATEX& f = s.Format;
  if (f.wFormatTag != WAVE_FORMAT_PCM || f.wBitsPerSample != 8 || f.nSamplesPerSec != 22050 ||
      (f.nChannels != 1 && f.nChannels != 2) || f.nBlockAlign != f.nChannels || s.cbSignal == 0 ||
      s.cbSignal % f.nChannels != 0 || s.cbSignal > kMaxSoundBytes)
    __builtin_trap();
  volatile unsigned sum = 0;
  for (unsigned i = 0; i < s.cbSignal; i++) sum = sum + s.abSignal[i];
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SOUND image(data, static_cast<unsigned>(size));
  Check(image);
  if (size >= sizeof(WAVEFORMATEX)) {
    WAVEFORMATEX f;
    std::memcpy(&f, data, sizeof(f));
    SOUND raw(&f, data + sizeof(f), static_cast<unsigned>(size - sizeof(f)));
    Check(raw);
  }
  return 0;
}

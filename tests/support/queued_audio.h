// Test helper: audio for the tuner's reading step, queued by the test in
// whole pieces; a read finds nothing once the queue runs out. Header-only:
// it uses the reading step of the variant the test links (reading.h).
#pragma once

#include <cmath>
#include <deque>
#include <vector>

#include "support/wav.h"
#include "tuner/reading.h"

namespace testing_support {

class QueuedAudio : public PieceSource {
 public:
  void Add(const std::vector<unsigned char>& audio) {
    m_Audio.insert(m_Audio.end(), audio.begin(), audio.end());
  }
  // `pieces` pieces of a sine of `amplitude` (in sample steps, up to 127),
  // continuing the phase of the tone queued before.
  void AddTone(double frequency, double amplitude, int pieces) {
    Add(Tone8({{frequency, amplitude}}, kSampleRate, static_cast<size_t>(pieces) * kPieceSize,
              m_Phase));
    m_Phase += 2 * M_PI * frequency * pieces * kPieceSize / kSampleRate;
  }
  void AddSilence(int pieces) { m_Audio.insert(m_Audio.end(), pieces * kPieceSize, 128); }
  int ReadData(unsigned char* dest, unsigned long len) override {
    if (m_Audio.size() < len) return 0;
    for (unsigned long i = 0; i < len; i++) {
      dest[i] = m_Audio.front();
      m_Audio.pop_front();
    }
    return 1;
  }

 private:
  std::deque<unsigned char> m_Audio;
  double m_Phase = 0;
};

}  // namespace testing_support

// The frame library's pseudo-random numbers: a small seedable source (the
// classic rand() recurrence), so that effects drawn from it repeat exactly
// when seeded alike, whatever the C library's rand() does.
#pragma once

#include <cstdint>

class CRandom {
 public:
  static constexpr int kMax = 0x7FFF;

  explicit CRandom(uint32_t seed = 1) : m_State(seed) {}
  void Seed(uint32_t seed) { m_State = seed; }

  // 0..kMax.
  int Next() {
    m_State = m_State * 1103515245u + 12345u;
    return static_cast<int>((m_State >> 16) & kMax);
  }
  // Uniform in [0, 1).
  float Unit() { return static_cast<float>(Next()) / (kMax + 1); }
  // Uniform in [-1, 1).
  float Signed() { return Unit() * 2.0f - 1.0f; }

 private:
  uint32_t m_State;
};

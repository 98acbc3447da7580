// Selecting the pixel layout in tests: every colour function reads the
// layout from DisplayProperties.ffFormat, so a test sets it for its own
// duration and restores what was there.
#pragma once

#include <cstdint>

#include "common_code/dib.h"

namespace testing_support {

class ScopedPixelFormat {
 public:
  explicit ScopedPixelFormat(uint32_t ffFormat) : m_Saved(DisplayProperties.ffFormat) {
    DisplayProperties.ffFormat = ffFormat;
  }
  ~ScopedPixelFormat() { DisplayProperties.ffFormat = m_Saved; }
  ScopedPixelFormat(const ScopedPixelFormat&) = delete;
  ScopedPixelFormat& operator=(const ScopedPixelFormat&) = delete;

 private:
  uint32_t m_Saved;
};

}  // namespace testing_support

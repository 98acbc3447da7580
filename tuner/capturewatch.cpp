// CaptureWatch.
#include "tuner/capturewatch.h"

#include <cstdio>

void CaptureWatch::Start(DWORD since, const std::string& device) {
  m_Seen = m_Blocks.load(std::memory_order_relaxed);
  m_Since = since;
  m_Device = device.empty() ? "the capture device" : device;
  m_Watching = true;
  m_Said = false;
}

void CaptureWatch::Stop() { m_Watching = false; }

bool CaptureWatch::Check(DWORD now, const char* program) {
  if (!m_Watching) return false;
  const unsigned blocks = m_Blocks.load(std::memory_order_relaxed);
  if (blocks != m_Seen) {
    m_Seen = blocks;
    m_Since = now;
    m_Said = false;
    return false;
  }
  if (m_Said || now - m_Since < kQuietMs) return false;
  m_Said = true;
  std::fprintf(stderr, "%s: no sound from %s for %u seconds; still waiting\n", program,
               m_Device.c_str(), static_cast<unsigned>(kQuietMs / 1000));
  return true;
}

// WaveRing.
#include "tuner/wavering.h"

#include <cstring>

int WaveRing::Allocate(DWORD size) {
  Release();
  if (size == 0) return 0;
  m_pData.reset(static_cast<unsigned char*>(std::calloc(size, 1)));
  if (!m_pData) return 0;
  m_Size = size;
  return 1;
}

void WaveRing::Release() {
  m_pData.reset();
  m_Size = m_Start = m_DataLen = 0;
}

void WaveRing::Reset(DWORD start) {
  m_Start = m_Size ? start % m_Size : 0;
  m_DataLen = 0;
}

DWORD WaveRing::Advance(DWORD at, DWORD len) const {
  return static_cast<DWORD>((static_cast<unsigned long long>(at) + len) % m_Size);
}

// The one place the ring's end is crossed: `len` bytes (at most the free
// space) go in after the stored ones, the part past the end at offset 0. A
// null `src` stores `fill` instead.
int WaveRing::Append(const unsigned char* src, unsigned char fill, DWORD len) {
  if (!m_pData || len > GetFree()) return 0;
  const DWORD at = Advance(m_Start, m_DataLen);
  const DWORD first = len < m_Size - at ? len : m_Size - at;
  if (src) {
    std::memcpy(m_pData.get() + at, src, first);
    std::memcpy(m_pData.get(), src + first, len - first);
  } else {
    std::memset(m_pData.get() + at, fill, first);
    std::memset(m_pData.get(), fill, len - first);
  }
  m_DataLen += len;
  return 1;
}

int WaveRing::Write(const unsigned char* src, DWORD len) {
  if (!src) return 0;
  return Append(src, 0, len);
}

int WaveRing::Fill(unsigned char fill, DWORD len) { return Append(nullptr, fill, len); }

// The way out, the same split.
int WaveRing::Peek(unsigned char* dest, DWORD len) const {
  if (!dest || !m_pData || len > m_DataLen) return 0;
  const DWORD first = len < m_Size - m_Start ? len : m_Size - m_Start;
  std::memcpy(dest, m_pData.get() + m_Start, first);
  std::memcpy(dest + first, m_pData.get(), len - first);
  return 1;
}

int WaveRing::Discard(DWORD len) {
  if (!m_pData || len > m_DataLen) return 0;
  m_Start = Advance(m_Start, len);
  m_DataLen -= len;
  return 1;
}

int WaveRing::Read(unsigned char* dest, DWORD len) { return Peek(dest, len) && Discard(len); }

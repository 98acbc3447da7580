// A ring of bytes between an audio device and its owner: what is written at
// the end is read from the start, in order, across the ring's end. The
// capture thread writes finished blocks and the owner reads; the playback
// thread is the other way round. Not locked: the owner of the ring locks.
#pragma once

#include <cstdlib>
#include <memory>

#include "platform/winapi/win32.h"

class WaveRing {
 public:
  // Makes the ring `size` bytes long (zeroed) and empty. 1, or 0 with no
  // ring when the memory cannot be had or `size` is 0.
  int Allocate(DWORD size);
  // Frees the ring; Allocate may be called again.
  void Release();
  int IsAllocated() const { return m_pData != nullptr; }

  // Empties the ring; the next byte written lands at `start` (modulo the
  // size).
  void Reset(DWORD start = 0);

  // Appends `len` bytes and returns 1, or appends nothing and returns 0 when
  // they do not fit (or there is no ring).
  int Write(const unsigned char* src, DWORD len);
  // As Write, with `len` bytes of the value `fill`.
  int Fill(unsigned char fill, DWORD len);
  // Takes the `len` oldest bytes into `dest` and returns 1, or takes nothing
  // and returns 0 when there are fewer.
  int Read(unsigned char* dest, DWORD len);
  // As Read, but the bytes stay in the ring.
  int Peek(unsigned char* dest, DWORD len) const;
  // Drops the `len` oldest bytes (1), or nothing when there are fewer (0).
  int Discard(DWORD len);

  DWORD GetSize() const { return m_Size; }
  DWORD GetDataLen() const { return m_DataLen; }
  DWORD GetFree() const { return m_Size - m_DataLen; }

 private:
  // Offset `at` + `len` folded into the ring (both below 2^32, the sum in 64
  // bits).
  DWORD Advance(DWORD at, DWORD len) const;
  int Append(const unsigned char* src, unsigned char fill, DWORD len);

  struct Free {
    void operator()(unsigned char* p) const { std::free(p); }
  };
  std::unique_ptr<unsigned char[], Free> m_pData;  // calloc'd: zero pages cost nothing until used
  DWORD m_Size = 0;
  DWORD m_Start = 0;  // offset of the oldest byte
  DWORD m_DataLen = 0;
};

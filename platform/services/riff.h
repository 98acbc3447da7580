// The framing of RIFF WAVE files, which both the mixer's loader (whole images
// in memory) and the recording reader (files and pipes, a slice at a time)
// walk: a 12-byte header ("RIFF", a length, "WAVE"), then chunks, each an
// 8-byte header (a four-character id and the body's length, little-endian)
// and its body, padded with a byte to an even length. The layout lives
// here; what each reader makes of a damaged file is its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/services/byte_order.h"

namespace platform {

inline constexpr size_t kRiffHeaderBytes = 12;
inline constexpr size_t kChunkHeaderBytes = 8;

// Whether the kRiffHeaderBytes at `p` open a RIFF WAVE file.
inline bool IsRiffWaveHeader(const unsigned char* p) {
  return std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "WAVE", 4) == 0;
}

// A chunk's header, as read from its kChunkHeaderBytes.
struct ChunkHeader {
  unsigned char Id[4];
  uint32_t Length;  // of the body, without the pad byte

  explicit ChunkHeader(const unsigned char* p) : Length(GetLE32(p + 4)) { std::memcpy(Id, p, 4); }
  bool Is(const char (&id)[5]) const { return std::memcmp(Id, id, 4) == 0; }
};

// Whether the four bytes at `p` could be a chunk id (printable ASCII), which
// tells a missing pad byte from a present one.
inline bool LooksLikeChunkId(const unsigned char* p) {
  for (int i = 0; i < 4; i++)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

}  // namespace platform

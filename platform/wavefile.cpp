// RIFF WAVE parsing and decoding to float mono; resampling to the wanted rate
// and the final 8-bit conversion go through ConvertAudio.
#include "platform/wavefile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/audioconvert.h"

namespace {
constexpr size_t kMaxFileSize = size_t{1} << 30;  // 1 GiB: hours of CD audio
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// Bytes 2..15 of the KSDATAFORMAT_SUBTYPE GUIDs for PCM and IEEE float.
constexpr unsigned char kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

// One channel sample as a value in about -1..1.
double Sample(const unsigned char* p, int bits, bool is_float) {
  if (is_float) {
    if (bits == 32) {
      uint32_t u = U32(p);
      float f;
      std::memcpy(&f, &u, sizeof f);
      return f;
    }
    uint64_t u = static_cast<uint64_t>(U32(p)) | static_cast<uint64_t>(U32(p + 4)) << 32;
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
  }
  switch (bits) {
    case 8: return (p[0] - 128) / 128.0;
    case 16: return static_cast<int16_t>(U16(p)) / 32768.0;
    case 24: {
      int32_t v = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                       static_cast<uint32_t>(p[1]) << 16 |
                                       static_cast<uint32_t>(p[2]) << 24);
      return (v >> 8) / 8388608.0;
    }
    default: return static_cast<int32_t>(U32(p)) / 2147483648.0;
  }
}
}  // namespace

bool DecodeWaveToMono8(const unsigned char* data, size_t size, int rate,
                       std::vector<unsigned char>& samples, WaveFileInfo* info,
                       std::string* error) {
  samples.clear();
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
    return Fail(error, "not a RIFF WAVE file");

  const unsigned char* fmt = nullptr;
  uint32_t fmt_size = 0;
  const unsigned char* pcm = nullptr;
  size_t pcm_size = 0;
  size_t pos = 12;
  while (pos + 8 <= size) {
    const unsigned char* id = data + pos;
    uint32_t len = U32(data + pos + 4);
    pos += 8;
    if (len > size - pos) return Fail(error, "truncated file: a chunk runs past the end");
    if (std::memcmp(id, "fmt ", 4) == 0 && !fmt) {
      fmt = data + pos;
      fmt_size = len;
    } else if (std::memcmp(id, "data", 4) == 0 && !pcm) {
      pcm = data + pos;
      pcm_size = len;
    }
    pos += len + (len & 1);
  }
  if (!fmt) return Fail(error, "malformed WAVE file: no format chunk");
  if (fmt_size < 16) return Fail(error, "malformed WAVE file: format chunk too short");

  uint16_t tag = U16(fmt);
  const int channels = U16(fmt + 2);
  const uint32_t file_rate = U32(fmt + 4);
  const int block_align = U16(fmt + 12);
  const int bits = U16(fmt + 14);
  if (tag == kFormatExtensible) {
    if (fmt_size < 40 || U16(fmt + 16) < 22)
      return Fail(error, "malformed WAVE file: extensible format chunk too short");
    const unsigned char* guid = fmt + 24;
    if (std::memcmp(guid + 2, kSubtypeTail, sizeof kSubtypeTail) != 0)
      return Fail(error, "unsupported encoding (extensible sub-format is not PCM or float)");
    tag = U16(guid);
  }
  const bool is_float = tag == kFormatFloat;
  if (tag != kFormatPcm && tag != kFormatFloat)
    return Fail(error, "unsupported encoding (only PCM and IEEE float are read)");
  if (is_float ? (bits != 32 && bits != 64) : (bits != 8 && bits != 16 && bits != 24 && bits != 32))
    return Fail(error, "unsupported sample size");
  if (channels < 1) return Fail(error, "malformed WAVE file: no channels");
  if (file_rate < 1 || file_rate > 1000000) return Fail(error, "unsupported sample rate");
  if (block_align != channels * (bits / 8))
    return Fail(error, "malformed WAVE file: block size does not match the format");
  if (!pcm) return Fail(error, "truncated or malformed WAVE file: no data chunk");

  const size_t frames = pcm_size / static_cast<size_t>(block_align);
  if (info) *info = WaveFileInfo{channels, static_cast<int>(file_rate), bits, is_float, frames};

  std::vector<float> mono(frames);
  const int bytes = bits / 8;
  for (size_t f = 0; f < frames; f++) {
    const unsigned char* frame = pcm + f * static_cast<size_t>(block_align);
    double sum = 0;
    for (int c = 0; c < channels; c++) sum += Sample(frame + c * bytes, bits, is_float);
    mono[f] = static_cast<float>(sum / channels);
  }

  AudioFormat from{SampleFormat::F32, 1, static_cast<int>(file_rate)};
  AudioFormat to{SampleFormat::U8, 1, rate};
  std::string why;
  if (!ConvertAudio(mono.data(), mono.size() * sizeof(float), from, to, samples, &why)) {
    if (error) *error = "cannot convert the audio: " + why;
    return false;
  }
  return true;
}

bool LoadWaveToMono8(const std::string& path, int rate, std::vector<unsigned char>& samples,
                     WaveFileInfo* info, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  size_t n;
  bool too_big = false;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (bytes.size() + n > kMaxFileSize) {
      too_big = true;
      break;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) return Fail(error, "read error");
  if (too_big) return Fail(error, "file too large (more than 1 GiB)");
  return DecodeWaveToMono8(bytes.data(), bytes.size(), rate, samples, info, error);
}

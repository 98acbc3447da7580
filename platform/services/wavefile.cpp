// RIFF WAVE parsing and decoding to float mono, read a slice at a time;
// resampling to the wanted rate and the final 8-bit conversion go through
// AudioConverter.
#include "platform/services/wavefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/services/audioconvert.h"
#include "platform/services/byte_order.h"
#include "platform/services/riff.h"

namespace {
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr int kHighestRate = 1000000;
constexpr size_t kReadBytes = 65536;  // read from the file at a time
// Bytes 2..15 of the KSDATAFORMAT_SUBTYPE GUIDs for PCM and IEEE float.
constexpr unsigned char kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

using platform::ChunkHeader;
using platform::GetLE16;
using platform::GetLE32;
using platform::IsRiffWaveHeader;
using platform::kChunkHeaderBytes;
using platform::kRiffHeaderBytes;

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// One channel sample as a value in about -1..1.
double Sample(const unsigned char* p, int bits, bool is_float) {
  if (is_float) {
    if (bits == 32) {
      uint32_t u = GetLE32(p);
      float f;
      std::memcpy(&f, &u, sizeof f);
      return f;
    }
    uint64_t u = static_cast<uint64_t>(GetLE32(p)) | static_cast<uint64_t>(GetLE32(p + 4)) << 32;
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
  }
  switch (bits) {
    case 8:
      return (p[0] - 128) / 128.0;
    case 16:
      return static_cast<int16_t>(GetLE16(p)) / 32768.0;
    case 24: {
      // Sign-extended by moving the 24 bits to the top.
      const auto v = static_cast<int32_t>(platform::GetLE24(p) << 8);
      return (v >> 8) / 8388608.0;
    }
    default:
      return static_cast<int32_t>(GetLE32(p)) / 2147483648.0;
  }
}

// Where the reader stands in its file: positions are known and chunks can
// be skipped by seeking in a regular file; a pipe is read through.
struct Position {
  FILE* File;
  bool Regular;
  uint64_t Size;  // of a regular file

  uint64_t Offset() const { return static_cast<uint64_t>(ftello(File)); }
  // Moves `n` bytes on; false when the file ends first.
  bool Skip(uint64_t n) {
    if (Regular) {
      const uint64_t at = Offset();
      return at <= Size && n <= Size - at &&
             fseeko(File, static_cast<off_t>(at + n), SEEK_SET) == 0;
    }
    unsigned char buf[4096];
    while (n > 0) {
      size_t got = std::fread(buf, 1, static_cast<size_t>(std::min<uint64_t>(n, sizeof buf)), File);
      if (got == 0) return false;
      n -= got;
    }
    return true;
  }
  // The pad byte after a chunk of odd length, when the file has it.
  void SkipPad(uint32_t len) {
    if (!(len & 1)) return;
    if (Regular) {
      if (Offset() < Size) Skip(1);
    } else {
      std::fgetc(File);
    }
  }
};
}  // namespace

WaveReader::WaveReader() = default;

WaveReader::~WaveReader() = default;

bool WaveReader::Open(const std::string& path, int rate, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error, std::strerror(errno));
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int why = S_ISDIR(st.st_mode) ? EISDIR : errno;
    close(fd);
    return Fail(error, std::strerror(why));
  }
  m_File.reset(fdopen(fd, "rb"));
  if (!m_File) {
    int why = errno;
    close(fd);
    return Fail(error, std::strerror(why));
  }
  m_Rate = rate;
  m_Regular = S_ISREG(st.st_mode);
  m_Size = static_cast<uint64_t>(st.st_size);
  return ReadHeader(error);
}

bool WaveReader::ReadHeader(std::string* error) {
  Position at{m_File.get(), m_Regular, m_Size};
  unsigned char head[kRiffHeaderBytes];
  if (std::fread(head, 1, sizeof head, m_File.get()) != sizeof head || !IsRiffWaveHeader(head))
    return Fail(error, "not a RIFF WAVE file");

  unsigned char fmt[40] = {};
  uint32_t fmt_size = 0;
  bool have_fmt = false, have_data = false;
  uint64_t data_at = 0;
  uint32_t data_size = 0;
  unsigned char header[kChunkHeaderBytes];
  while (std::fread(header, 1, sizeof header, m_File.get()) == sizeof header) {
    const ChunkHeader chunk(header);
    const uint32_t len = chunk.Length;
    if (chunk.Is("fmt ") && !have_fmt) {
      have_fmt = true;
      fmt_size = len;
      const size_t keep = std::min<size_t>(len, sizeof fmt);
      if (std::fread(fmt, 1, keep, m_File.get()) != keep || !at.Skip(len - keep))
        return Fail(error, "truncated file: a chunk runs past the end");
      at.SkipPad(len);
      if (have_data) break;
      continue;
    }
    if (chunk.Is("data") && !have_data) {
      have_data = true;
      data_size = len;
      // The audio is read from here once the format is known.
      if (have_fmt) break;
      if (!m_Regular)
        return Fail(error,
                    "the format chunk follows the audio, which only a file (not a pipe) allows");
      data_at = at.Offset();
      // A data chunk cut short ends the file: the format is not after it.
      if (!at.Skip(len)) break;
      at.SkipPad(len);
      continue;
    }
    if (!at.Skip(len)) return Fail(error, "truncated file: a chunk runs past the end");
    at.SkipPad(len);
  }
  if (!have_fmt) return Fail(error, "malformed WAVE file: no format chunk");
  if (fmt_size < 16) return Fail(error, "malformed WAVE file: format chunk too short");

  uint16_t tag = GetLE16(fmt);
  const int channels = GetLE16(fmt + 2);
  const uint32_t file_rate = GetLE32(fmt + 4);
  const int block_align = GetLE16(fmt + 12);
  const int bits = GetLE16(fmt + 14);
  if (tag == kFormatExtensible) {
    if (fmt_size < 40 || GetLE16(fmt + 16) < 22)
      return Fail(error, "malformed WAVE file: extensible format chunk too short");
    const unsigned char* guid = fmt + 24;
    if (std::memcmp(guid + 2, kSubtypeTail, sizeof kSubtypeTail) != 0)
      return Fail(error, "unsupported encoding (extensible sub-format is not PCM or float)");
    tag = GetLE16(guid);
  }
  const bool is_float = tag == kFormatFloat;
  if (tag != kFormatPcm && tag != kFormatFloat)
    return Fail(error, "unsupported encoding (only PCM and IEEE float are read)");
  if (is_float ? (bits != 32 && bits != 64) : (bits != 8 && bits != 16 && bits != 24 && bits != 32))
    return Fail(error, "unsupported sample size");
  if (channels < 1) return Fail(error, "malformed WAVE file: no channels");
  if (file_rate < static_cast<uint32_t>(kLowestWaveRate) || file_rate > kHighestRate)
    return Fail(error, "unsupported sample rate (" + std::to_string(file_rate) + " Hz; from " +
                           std::to_string(kLowestWaveRate) + " Hz to 1 MHz are read)");
  if (block_align != channels * (bits / 8))
    return Fail(error, "malformed WAVE file: block size does not match the format");
  if (!have_data) return Fail(error, "truncated or malformed WAVE file: no data chunk");
  if (data_at != 0 && fseeko(m_File.get(), static_cast<off_t>(data_at), SEEK_SET) != 0)
    return Fail(error, std::string("cannot go back to the audio: ") + std::strerror(errno));

  m_BlockAlign = block_align;
  m_DataLeft = data_size;
  m_Claimed = data_size / static_cast<size_t>(block_align);
  uint64_t present = data_size;
  if (m_Regular) {
    const uint64_t from = static_cast<uint64_t>(ftello(m_File.get()));
    present = std::min<uint64_t>(data_size, m_Size > from ? m_Size - from : 0);
  }
  m_Info = WaveFileInfo{channels, static_cast<int>(file_rate), bits, is_float,
                        static_cast<size_t>(present / static_cast<uint64_t>(block_align))};
  m_Converter = std::make_unique<AudioConverter>(
      AudioFormat{SampleFormat::F32, 1, static_cast<int>(file_rate)},
      AudioFormat{SampleFormat::U8, 1, m_Rate});
  if (!m_Converter->Error().empty())
    return Fail(error, "cannot convert the audio: " + m_Converter->Error());
  return true;
}

// Reads the next bytes of the data chunk and converts the whole frames
// among them; at the end of the chunk (or of the file) finishes the
// conversion. False once everything has been converted.
bool WaveReader::Fill() {
  if (m_Ended) return false;
  std::vector<unsigned char>& out = m_Converter->Output();
  out.erase(out.begin(), out.begin() + static_cast<long>(m_Taken));
  m_Taken = 0;

  const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadBytes, m_DataLeft));
  const size_t old = m_Raw.size();
  m_Raw.resize(old + want);
  const size_t got = want ? std::fread(m_Raw.data() + old, 1, want, m_File.get()) : 0;
  m_Raw.resize(old + got);
  m_DataLeft -= got;
  if (got < want) {
    if (std::ferror(m_File.get())) m_Error = std::string("read error: ") + std::strerror(errno);
    m_DataLeft = 0;
  }

  const int bytes = m_Info.Bits / 8;
  const size_t frames = m_Raw.size() / static_cast<size_t>(m_BlockAlign);
  m_Mono.resize(frames);
  for (size_t f = 0; f < frames; f++) {
    const unsigned char* frame = m_Raw.data() + f * static_cast<size_t>(m_BlockAlign);
    double sum = 0;
    for (int c = 0; c < m_Info.Channels; c++)
      sum += Sample(frame + c * bytes, m_Info.Bits, m_Info.Float);
    m_Mono[f] = static_cast<float>(sum / m_Info.Channels);
  }
  m_Raw.erase(m_Raw.begin(), m_Raw.begin() + static_cast<long>(frames * m_BlockAlign));
  m_FramesRead += frames;

  bool ok = m_Converter->Put(m_Mono.data(), frames * sizeof(float));
  if (ok && m_DataLeft == 0) {
    ok = m_Converter->Finish();
    m_Ended = true;
  }
  if (!ok) {
    if (m_Error.empty()) m_Error = "cannot convert the audio: " + m_Converter->Error();
    m_Ended = true;
    out.clear();
  }
  return true;
}

size_t WaveReader::Read(unsigned char* out, size_t len) {
  if (!m_Converter) return 0;
  size_t done = 0;
  while (done < len) {
    std::vector<unsigned char>& ready = m_Converter->Output();
    const size_t n = std::min(len - done, ready.size() - m_Taken);
    if (n > 0) std::memcpy(out + done, ready.data() + m_Taken, n);
    m_Taken += n;
    done += n;
    if (done < len && !Fill()) break;
  }
  return done;
}

size_t WaveReader::MissingFrames() const {
  return m_Ended && m_Claimed > m_FramesRead ? m_Claimed - m_FramesRead : 0;
}

bool LoadWaveToMono8(const std::string& path, int rate, std::vector<unsigned char>& samples,
                     WaveFileInfo* info, std::string* error, double maxSeconds) {
  samples.clear();
  WaveReader reader;
  if (!reader.Open(path, rate, error)) return false;
  if (info) *info = reader.Info();
  auto tooLong = [&] {
    char why[96];
    std::snprintf(why, sizeof why, "too long: more than %.0f s of sound, the most read whole",
                  maxSeconds);
    return Fail(error, why);
  };
  const WaveFileInfo& f = reader.Info();
  if (maxSeconds >= 0 && static_cast<double>(f.Frames) > maxSeconds * f.Rate) return tooLong();
  const size_t most = maxSeconds >= 0 ? static_cast<size_t>(std::ceil(maxSeconds * rate)) + 1
                                      : static_cast<size_t>(-1);
  unsigned char buf[65536];
  while (size_t n = reader.Read(buf, sizeof buf)) {
    if (n > most - samples.size()) return tooLong();
    samples.insert(samples.end(), buf, buf + n);
  }
  if (!reader.Error().empty()) return Fail(error, reader.Error());
  return true;
}

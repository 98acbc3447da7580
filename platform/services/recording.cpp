// Recordings held in memory (recording.h).
#include "platform/services/recording.h"

#include <cstring>

#include "platform/services/wavefile.h"

namespace {
constexpr int kCheckRate = 8000;  // the rate a recording is first decoded at
}

bool Recording::Load(const std::string& path, std::string* error) {
  std::vector<unsigned char> samples;
  if (!LoadWaveToMono8(path, kCheckRate, samples, nullptr, error, kMaxRecordingSeconds))
    return false;
  std::lock_guard<std::mutex> lk(m_Mutex);
  m_Path = path;
  m_FileName = path.substr(path.find_last_of('/') + 1);
  m_ByRate.clear();
  m_ByRate[kCheckRate] = std::move(samples);
  return true;
}

const std::vector<unsigned char>& Recording::AtRate(int rate) {
  std::lock_guard<std::mutex> lk(m_Mutex);
  auto it = m_ByRate.find(rate);
  if (it != m_ByRate.end()) return it->second;
  std::vector<unsigned char>& samples = m_ByRate[rate];
  if (!LoadWaveToMono8(m_Path, rate, samples, nullptr, nullptr, kMaxRecordingSeconds))
    samples.clear();
  return samples;
}

bool LoopedRecording::Load(const std::string& path, std::string* error) {
  if (!Recording::Load(path, error)) return false;
  if (AtRate(kCheckRate).empty()) {
    if (error) *error = "the recording holds no audio";
    return false;
  }
  m_Name = "Recording " + FileName();
  return true;
}

void LoopedRecording::Fill(const platform::StreamFormat& format, uint64_t offset,
                           unsigned char* out, size_t len) {
  const std::vector<unsigned char>& mono = AtRate(format.Rate);
  const uint64_t frameBytes = static_cast<uint64_t>(format.FrameBytes());
  if (frameBytes == 0 || mono.empty()) {
    std::memset(out, format.SilenceByte(), len);
    return;
  }
  unsigned char frame[4];
  for (size_t i = 0; i < len;) {
    const uint64_t pos = offset + i;
    const unsigned char sample = mono[static_cast<size_t>((pos / frameBytes) % mono.size())];
    for (int c = 0; c < format.Channels; c++) {
      if (format.Bits == 8) {
        frame[c] = sample;
      } else {
        frame[2 * c] = 0;
        frame[2 * c + 1] = static_cast<unsigned char>(sample - 128);  // (s - 128) << 8
      }
    }
    for (uint64_t b = pos % frameBytes; b < frameBytes && i < len; b++) out[i++] = frame[b];
  }
}

// The looped recording (recording.h).
#include "platform/recording.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/wavefile.h"

bool LoopedRecording::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  std::vector<unsigned char> image((std::istreambuf_iterator<char>(in)), {});
  std::vector<unsigned char> probe;
  if (!DecodeWaveToMono8(image.data(), image.size(), 8000, probe, nullptr, error)) return false;
  if (probe.empty()) {
    if (error) *error = "the recording holds no audio";
    return false;
  }
  std::lock_guard<std::mutex> lk(m_Mutex);
  m_Image = std::move(image);
  m_ByRate.clear();
  m_ByRate[8000] = std::move(probe);
  m_Name = "Recording " + path.substr(path.find_last_of('/') + 1);
  return true;
}

const std::vector<unsigned char>& LoopedRecording::AtRate(int rate) {
  std::lock_guard<std::mutex> lk(m_Mutex);
  auto it = m_ByRate.find(rate);
  if (it != m_ByRate.end()) return it->second;
  std::vector<unsigned char>& samples = m_ByRate[rate];
  if (!DecodeWaveToMono8(m_Image.data(), m_Image.size(), rate, samples, nullptr, nullptr) ||
      samples.empty())
    samples.assign(1, 128);
  return samples;
}

void LoopedRecording::Fill(const platform::PcmFormat& format, uint64_t offset, unsigned char* out,
                           size_t len) {
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

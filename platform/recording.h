// A RIFF WAVE recording that stands in for a microphone: the recording,
// mixed down to one channel, repeated without end, in whatever format a
// capture device is opened with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend.h"

class LoopedRecording {
 public:
  // Reads and checks the file (it must decode and hold some audio). False
  // with a one-line reason in *error otherwise.
  bool Load(const std::string& path, std::string* error);

  // "Recording <file name>".
  const std::string& Name() const { return m_Name; }

  // Writes bytes offset .. offset + len - 1 of the endless repetition in
  // `format` (offsets need not fall on frame boundaries). Safe from any
  // thread.
  void Fill(const platform::PcmFormat& format, uint64_t offset, unsigned char* out, size_t len);

 private:
  // The recording as 8-bit mono samples at `rate`, decoded on first use.
  const std::vector<unsigned char>& AtRate(int rate);

  std::string m_Name;
  std::vector<unsigned char> m_Image;
  std::mutex m_Mutex;
  std::map<int, std::vector<unsigned char>> m_ByRate;
};

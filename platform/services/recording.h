// RIFF WAVE recordings held in memory in place of a microphone: decoded to
// 8-bit mono at each rate a device asks for. LoopedRecording plays one over
// and over in whatever format a capture device is opened with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/services/backend.h"

// The most sound a recording held in memory may last: an hour, some 29 MB
// at the tuner's rate.
inline constexpr double kMaxRecordingSeconds = 3600;

class Recording {
 public:
  // Reads and checks the file: it must decode, and last at most
  // kMaxRecordingSeconds. False with a one-line reason in *error otherwise.
  bool Load(const std::string& path, std::string* error);

  // The file's name without its folder.
  const std::string& FileName() const { return m_FileName; }

  // The recording as 8-bit mono samples at `rate`, decoded from the file on
  // first use (empty when that fails). Safe from any thread; the samples
  // stay valid until the next Load.
  const std::vector<unsigned char>& AtRate(int rate);

 private:
  std::string m_Path, m_FileName;
  std::mutex m_Mutex;
  std::map<int, std::vector<unsigned char>> m_ByRate;
};

class LoopedRecording : public Recording {
 public:
  // As Recording::Load; the recording must also hold some audio.
  bool Load(const std::string& path, std::string* error);

  // "Recording <file name>".
  const std::string& Name() const { return m_Name; }

  // Writes bytes offset .. offset + len - 1 of the endless repetition in
  // `format` (offsets need not fall on frame boundaries). Safe from any
  // thread.
  void Fill(const platform::StreamFormat& format, uint64_t offset, unsigned char* out, size_t len);

 private:
  std::string m_Name;
};

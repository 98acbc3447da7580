// RIFF WAVE recordings brought to the tuner's sample format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct WaveFileInfo {
  int Channels = 0;
  int Rate = 0;        // samples per second per channel
  int Bits = 0;        // bits per sample
  bool Float = false;  // IEEE float samples (else integer PCM)
  // Sample frames of audio: those the data chunk claims, or in a regular
  // file cut short, those it holds.
  size_t Frames = 0;
};

// The lowest sample rate read: 1000 Hz. Below it a recording holds almost
// nothing the tuner can hear, and bringing it to the tuner's rate would
// multiply its size many times over.
inline constexpr int kLowestWaveRate = 1000;

class AudioConverter;

// A RIFF WAVE file read as a stream of unsigned 8-bit mono samples at a
// chosen rate (silence = 128): PCM 8/16/24/32-bit or IEEE float 32/64-bit,
// plain or WAVE_FORMAT_EXTENSIBLE, 1000 Hz to 1 MHz, any channel count,
// mixed down. Opening reads the chunks up to the audio; the audio is then
// read, mixed and converted a slice at a time, so the memory used stays the
// same whatever the file's length or rate. The samples are exactly those a
// whole-file conversion would give. A data chunk that claims more than the
// file holds (a recording cut short) yields what is there.
class WaveReader {
 public:
  WaveReader();
  ~WaveReader();

  // Opens the file at `path` (a regular file or a pipe; the format chunk
  // must then come before the audio) and reads its header. False with a
  // one-line reason in *error when it cannot be read or is not a WAVE file
  // this reads.
  bool Open(const std::string& path, int rate, std::string* error);

  const WaveFileInfo& Info() const { return m_Info; }

  // Stores up to `len` samples at `out` and returns how many; fewer only at
  // the end of the recording, or after a read error (then Error() says so).
  size_t Read(unsigned char* out, size_t len);

  // Frames of the file read so far.
  size_t FramesRead() const { return m_FramesRead; }
  // Once the end is reached: the frames the data chunk claimed but the file
  // did not hold (0 for a whole file).
  size_t MissingFrames() const;
  // A read error that ended the samples early ("" if none).
  const std::string& Error() const { return m_Error; }

 private:
  bool Fill();
  bool ReadHeader(std::string* error);

  struct CloseFile {
    void operator()(FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<FILE, CloseFile> m_File;
  bool m_Regular = false;  // a regular file, whose size is known
  uint64_t m_Size = 0;
  int m_Rate = 0;
  WaveFileInfo m_Info;
  int m_BlockAlign = 0;
  size_t m_Claimed = 0;     // frames the data chunk claims
  uint64_t m_DataLeft = 0;  // bytes of the data chunk not read yet
  size_t m_FramesRead = 0;
  bool m_Ended = false;  // no more input; the conversion is finished
  std::string m_Error;
  std::vector<unsigned char> m_Raw;  // bytes read, up to a partial frame
  std::vector<float> m_Mono;         // mixed-down frames for the converter
  std::unique_ptr<AudioConverter> m_Converter;
  size_t m_Taken = 0;  // of the converter's output
};

// Reads a whole WAVE file (as WaveReader) into `samples`. False with a
// one-line reason in *error when it cannot be read, or when it holds more
// than `maxSeconds` of sound (< 0: no limit).
bool LoadWaveToMono8(const std::string& path, int rate, std::vector<unsigned char>& samples,
                     WaveFileInfo* info, std::string* error, double maxSeconds = -1);

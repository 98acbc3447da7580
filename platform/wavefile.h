// RIFF WAVE recordings brought to the tuner's sample format.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct WaveFileInfo {
  int Channels = 0;
  int Rate = 0;          // samples per second per channel
  int Bits = 0;          // bits per sample
  bool Float = false;    // IEEE float samples (else integer PCM)
  size_t Frames = 0;     // sample frames in the data chunk
};

// Parses a RIFF WAVE image: PCM 8/16/24/32-bit or IEEE float 32/64-bit, plain
// or WAVE_FORMAT_EXTENSIBLE, any rate and channel count. Mixes the channels
// down and converts to unsigned 8-bit mono at `rate` Hz (silence = 128).
// Every chunk is checked against the bytes present; a malformed, truncated
// or unsupported image returns false with a one-line reason in `error`.
bool DecodeWaveToMono8(const unsigned char* data, size_t size, int rate,
                       std::vector<unsigned char>& samples, WaveFileInfo* info,
                       std::string* error);

// Reads the file at `path` and decodes it as above.
bool LoadWaveToMono8(const std::string& path, int rate, std::vector<unsigned char>& samples,
                     WaveFileInfo* info, std::string* error);

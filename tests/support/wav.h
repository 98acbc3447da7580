// Test helpers: synthetic signals and WAVE files written byte by byte, so
// the tests control every field of what the program reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// `count` 8-bit unsigned samples (128 = silence) of a sum of partials: each
// {frequency in Hz, amplitude in sample steps}.
struct Partial {
  double Frequency;
  double Amplitude;
};
std::vector<unsigned char> Tone8(const std::vector<Partial>& partials, int rate, size_t count,
                                 double phase = 0.0);

// A WAVE file image. `samples` are the channel samples as values in -1..1,
// interleaved; they are encoded as PCM (bits 8, 16, 24, 32) or IEEE float
// (bits 32). `extensible` writes a WAVE_FORMAT_EXTENSIBLE format chunk.
std::vector<unsigned char> WaveImage(const std::vector<double>& samples, int channels, int rate,
                                     int bits, bool is_float = false, bool extensible = false);

// A RIFF WAVE image made of these chunks, in order, each with its id, its
// length and its bytes; an odd-length chunk is followed by a pad byte
// unless `pad` is false.
struct Chunk {
  std::string Id;  // four characters
  std::vector<unsigned char> Bytes;
};
std::vector<unsigned char> RiffImage(const std::vector<Chunk>& chunks, bool pad = true);

// The 16 bytes of a "fmt " chunk: tag (1 PCM, 3 IEEE float), channels,
// rate and bits, with block align and byte rate computed from them.
std::vector<unsigned char> FmtChunk(int tag, int channels, int rate, int bits);

// A mono sum of partials as -1..1 samples: each {frequency in Hz, amplitude
// as a part of full scale}.
std::vector<double> Tone(const std::vector<Partial>& partials, int rate, double seconds);

// A mono or multichannel sine as interleaved -1..1 samples (same on every channel).
std::vector<double> Sine(double frequency, double amplitude, int rate, double seconds,
                         int channels = 1);

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadFile(const std::string& path);
std::string ReadFileText(const std::string& path);  // empty when unreadable

// A fresh empty folder under the system's temporary folder, removed with
// its contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_Path; }
  std::string File(const std::string& name) const { return m_Path + "/" + name; }

 private:
  std::string m_Path;
};

// Makes `folder` the current folder while it lives; the one before comes
// back after.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& folder);
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::string m_Saved;
};

// Runs a shell command, returning its exit status and what it wrote on
// standard output and standard error.
struct CommandResult {
  int Status = -1;
  std::string Out;
  std::string Err;
};
CommandResult RunCommand(const std::string& command);

// Quotes `s` for a POSIX shell.
std::string ShellQuote(const std::string& s);

}  // namespace testing_support

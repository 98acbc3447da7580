// Conversion of PCM audio between sample formats, channel counts and rates
// (SDL_AudioStream underneath). Used to bring recordings to the tuner's
// 8000 Hz unsigned 8-bit mono, and by the sound mixer for its sources.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class SampleFormat { U8, S8, S16, S32, F32 };

struct AudioFormat {
  SampleFormat Format = SampleFormat::U8;
  int Channels = 1;  // 1..8, interleaved
  int Rate = 8000;   // samples per second per channel
};

// Bytes of one sample of one channel.
int BytesPerSample(SampleFormat f);

// A conversion fed its input a part at a time, in parts of any size: what
// comes out, all told, is exactly what ConvertAudio makes of the whole
// input, and the memory it needs stays the same however long the input.
class AudioConverter {
 public:
  AudioConverter(const AudioFormat& from, const AudioFormat& to);
  ~AudioConverter();
  AudioConverter(const AudioConverter&) = delete;
  AudioConverter& operator=(const AudioConverter&) = delete;

  // Takes `size` more bytes of input (frames may be split between calls);
  // what is ready is added to Output(). False, with Error() set, when either
  // format is not supported or the conversion fails.
  bool Put(const void* in, size_t size);
  // Ends the input: the rest goes to Output(), cut so that the whole result
  // is as long as the input stands for. Nothing can be put afterwards.
  bool Finish();

  // Converted bytes not yet taken; the caller takes them by clearing it.
  std::vector<unsigned char>& Output() { return m_Output; }
  const std::string& Error() const { return m_Error; }

 private:
  bool PutSlice(const unsigned char* bytes, size_t size);
  void Drain();
  bool Fail();

  AudioFormat m_From, m_To;
  size_t m_FrameBytes = 1;
  void* m_Stream = nullptr;             // the SDL_AudioStream
  std::vector<unsigned char> m_Staged;  // input short of a whole slice
  std::vector<unsigned char> m_Output;
  size_t m_BytesIn = 0;
  size_t m_Made = 0;  // bytes output so far, taken or not
  bool m_Finished = false;
  std::string m_Error;
};

// Converts `size` bytes of `in` (whole frames; a trailing partial frame is
// dropped) from one format to another and appends the result to `out`: n
// frames in give n x to.Rate / from.Rate frames out (rounded), the last ones
// included.
// Returns false with `error` set when either format is not supported.
bool ConvertAudio(const void* in, size_t size, const AudioFormat& from, const AudioFormat& to,
                  std::vector<unsigned char>& out, std::string* error);

// The bytes ConvertAudio makes of `size` bytes: it never makes more. 0 when
// either format is not supported.
size_t ConvertedSize(size_t size, const AudioFormat& from, const AudioFormat& to);

// As ConvertAudio, into the caller's `out` of `capacity` bytes (room for
// ConvertedSize bytes keeps the whole result); *written is set to the bytes
// stored, and nothing after them is touched. The conversion's working memory
// is its own.
bool ConvertAudioInto(const void* in, size_t size, const AudioFormat& from, const AudioFormat& to,
                      unsigned char* out, size_t capacity, size_t* written, std::string* error);

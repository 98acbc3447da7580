// PCM conversion with SDL_AudioStream. SDL's stream converts and resamples
// without SDL_Init, so this works with any backend and in tests.
#include "platform/audioconvert.h"

#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
SDL_AudioFormat ToSdl(SampleFormat f) {
  switch (f) {
    case SampleFormat::U8: return AUDIO_U8;
    case SampleFormat::S8: return AUDIO_S8;
    case SampleFormat::S16: return AUDIO_S16LSB;
    case SampleFormat::S32: return AUDIO_S32LSB;
    case SampleFormat::F32: return AUDIO_F32LSB;
  }
  return AUDIO_U8;
}

bool Supported(const AudioFormat& f) {
  return f.Channels >= 1 && f.Channels <= 8 && f.Rate >= 1 && f.Rate <= 1000000;
}
}  // namespace

int BytesPerSample(SampleFormat f) {
  switch (f) {
    case SampleFormat::U8:
    case SampleFormat::S8: return 1;
    case SampleFormat::S16: return 2;
    case SampleFormat::S32:
    case SampleFormat::F32: return 4;
  }
  return 1;
}

namespace {

// Where a conversion's bytes go: appended to a vector, or into a caller's
// buffer that keeps what fits.
struct VectorOut {
  std::vector<unsigned char>& Bytes;
  size_t Size() const { return Bytes.size(); }
  void Drain(SDL_AudioStream* stream) {
    int avail = SDL_AudioStreamAvailable(stream);
    if (avail <= 0) return;
    size_t old = Bytes.size();
    Bytes.resize(old + static_cast<size_t>(avail));
    int got = SDL_AudioStreamGet(stream, Bytes.data() + old, avail);
    Bytes.resize(old + static_cast<size_t>(got > 0 ? got : 0));
  }
  void CutTo(size_t n) {
    if (n < Bytes.size()) Bytes.resize(n);
  }
};

struct BufferOut {
  unsigned char* Bytes;
  size_t Capacity;
  size_t Used = 0;
  std::vector<unsigned char> Spill;  // what does not fit, read and dropped
  size_t Size() const { return Used; }
  void Drain(SDL_AudioStream* stream) {
    int avail = SDL_AudioStreamAvailable(stream);
    if (avail <= 0) return;
    const size_t want = static_cast<size_t>(avail);
    if (want <= Capacity - Used) {
      int got = SDL_AudioStreamGet(stream, Bytes + Used, avail);
      Used += static_cast<size_t>(got > 0 ? got : 0);
      return;
    }
    Spill.resize(want);
    int got = SDL_AudioStreamGet(stream, Spill.data(), avail);
    size_t n = std::min(static_cast<size_t>(got > 0 ? got : 0), Capacity - Used);
    std::memcpy(Bytes + Used, Spill.data(), n);
    Used += n;
  }
  void CutTo(size_t n) {
    if (n < Used) Used = n;
  }
};

// Frames out for `frames` frames in.
size_t FramesOut(size_t frames, const AudioFormat& from, const AudioFormat& to) {
  if (from.Rate == to.Rate) return frames;
  unsigned __int128 scaled = static_cast<unsigned __int128>(frames) * static_cast<unsigned>(to.Rate) +
                             static_cast<unsigned>(from.Rate) / 2;
  scaled /= static_cast<unsigned>(from.Rate);
  return scaled > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(scaled);
}

template <class Out>
bool Convert(const void* in, size_t size, const AudioFormat& from, const AudioFormat& to, Out& out,
             std::string* error) {
  if (!Supported(from) || !Supported(to)) {
    if (error) *error = "unsupported channel count or sample rate";
    return false;
  }
  const size_t frame = static_cast<size_t>(BytesPerSample(from.Format)) * from.Channels;
  size -= size % frame;

  SDL_AudioStream* stream = SDL_NewAudioStream(ToSdl(from.Format), static_cast<Uint8>(from.Channels),
                                               from.Rate, ToSdl(to.Format),
                                               static_cast<Uint8>(to.Channels), to.Rate);
  if (!stream) {
    if (error) *error = SDL_GetError();
    return false;
  }
  // Feed in slices so that SDL's int sizes never overflow on long inputs.
  const auto* p = static_cast<const unsigned char*>(in);
  const size_t slice = frame * 65536;
  bool ok = true;
  const size_t start = out.Size();
  for (size_t done = 0; ok && done < size; done += slice) {
    size_t n = size - done < slice ? size - done : slice;
    ok = SDL_AudioStreamPut(stream, p + done, static_cast<int>(n)) == 0;
    if (ok) out.Drain(stream);
  }
  // SDL's resampler keeps back the last few dozen milliseconds even when
  // flushed. Its output starts in step with the input, so silence put after
  // the input pushes the tail out, and the result is cut to the exact
  // length the input stands for.
  const bool resampled = from.Rate != to.Rate;
  if (ok && resampled) {
    size_t pad_frames = static_cast<size_t>(from.Rate / 5 > 1024 ? from.Rate / 5 : 1024);
    std::vector<unsigned char> silence(pad_frames * frame,
                                       from.Format == SampleFormat::U8 ? 128 : 0);
    ok = SDL_AudioStreamPut(stream, silence.data(), static_cast<int>(silence.size())) == 0;
  }
  if (ok) ok = SDL_AudioStreamFlush(stream) == 0;
  if (ok) out.Drain(stream);
  if (ok && resampled) {
    const size_t out_frame = static_cast<size_t>(BytesPerSample(to.Format)) * to.Channels;
    out.CutTo(start + FramesOut(size / frame, from, to) * out_frame);
  }
  if (!ok && error) *error = SDL_GetError();
  SDL_FreeAudioStream(stream);
  return ok;
}

}  // namespace

bool ConvertAudio(const void* in, size_t size, const AudioFormat& from, const AudioFormat& to,
                  std::vector<unsigned char>& out, std::string* error) {
  VectorOut sink{out};
  return Convert(in, size, from, to, sink, error);
}

size_t ConvertedSize(size_t size, const AudioFormat& from, const AudioFormat& to) {
  if (!Supported(from) || !Supported(to)) return 0;
  const size_t frame = static_cast<size_t>(BytesPerSample(from.Format)) * from.Channels;
  const size_t out_frame = static_cast<size_t>(BytesPerSample(to.Format)) * to.Channels;
  const size_t frames = FramesOut(size / frame, from, to);
  return frames > SIZE_MAX / out_frame ? SIZE_MAX : frames * out_frame;
}

bool ConvertAudioInto(const void* in, size_t size, const AudioFormat& from, const AudioFormat& to,
                      unsigned char* out, size_t capacity, size_t* written, std::string* error) {
  // Nothing is written past the result, not even the tail that is cut off.
  BufferOut sink{out, std::min(capacity, ConvertedSize(size, from, to)), 0, {}};
  bool ok = Convert(in, size, from, to, sink, error);
  if (written) *written = ok ? sink.Used : 0;
  return ok;
}

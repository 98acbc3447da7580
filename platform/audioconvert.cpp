// PCM conversion with SDL_AudioStream. SDL's stream converts and resamples
// without SDL_Init, so this works with any backend and in tests.
#include "platform/audioconvert.h"

#include <SDL.h>

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

bool ConvertAudio(const void* in, size_t size, const AudioFormat& from, const AudioFormat& to,
                  std::vector<unsigned char>& out, std::string* error) {
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
  auto drain = [&]() {
    int avail = SDL_AudioStreamAvailable(stream);
    if (avail <= 0) return;
    size_t old = out.size();
    out.resize(old + static_cast<size_t>(avail));
    int got = SDL_AudioStreamGet(stream, out.data() + old, avail);
    out.resize(old + static_cast<size_t>(got > 0 ? got : 0));
  };
  const size_t start = out.size();
  for (size_t done = 0; ok && done < size; done += slice) {
    size_t n = size - done < slice ? size - done : slice;
    ok = SDL_AudioStreamPut(stream, p + done, static_cast<int>(n)) == 0;
    if (ok) drain();
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
  if (ok) drain();
  if (ok && resampled) {
    const size_t out_frame = static_cast<size_t>(BytesPerSample(to.Format)) * to.Channels;
    const size_t frames = size / frame;
    const size_t want = static_cast<size_t>(
        (static_cast<unsigned long long>(frames) * static_cast<unsigned>(to.Rate) +
         static_cast<unsigned>(from.Rate) / 2) /
        static_cast<unsigned>(from.Rate));
    if (out.size() - start > want * out_frame) out.resize(start + want * out_frame);
  }
  if (!ok && error) *error = SDL_GetError();
  SDL_FreeAudioStream(stream);
  return ok;
}

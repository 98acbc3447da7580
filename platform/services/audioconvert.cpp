// PCM conversion with SDL_AudioStream. SDL's stream converts and resamples
// without SDL_Init, so this works with any backend and in tests.
#include "platform/services/audioconvert.h"

#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
SDL_AudioFormat ToSdl(SampleFormat f) {
  switch (f) {
    case SampleFormat::U8:
      return AUDIO_U8;
    case SampleFormat::S8:
      return AUDIO_S8;
    case SampleFormat::S16:
      return AUDIO_S16LSB;
    case SampleFormat::S32:
      return AUDIO_S32LSB;
    case SampleFormat::F32:
      return AUDIO_F32LSB;
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
    case SampleFormat::S8:
      return 1;
    case SampleFormat::S16:
      return 2;
    case SampleFormat::S32:
    case SampleFormat::F32:
      return 4;
  }
  return 1;
}

namespace {

// Frames out for `frames` frames in.
size_t FramesOut(size_t frames, const AudioFormat& from, const AudioFormat& to) {
  if (from.Rate == to.Rate) return frames;
  unsigned __int128 scaled =
      static_cast<unsigned __int128>(frames) * static_cast<unsigned>(to.Rate) +
      static_cast<unsigned>(from.Rate) / 2;
  scaled /= static_cast<unsigned>(from.Rate);
  return scaled > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(scaled);
}

// Input frames SDL is given at a time; fixed, because SDL's resampler
// starts each call afresh, so the output depends on where the input is cut.
constexpr size_t kSliceFrames = 65536;

}  // namespace

AudioConverter::AudioConverter(const AudioFormat& from, const AudioFormat& to)
    : m_From(from), m_To(to) {
  if (!Supported(from) || !Supported(to)) {
    m_Error = "unsupported channel count or sample rate";
    return;
  }
  m_FrameBytes = static_cast<size_t>(BytesPerSample(from.Format)) * from.Channels;
  m_Stream = SDL_NewAudioStream(ToSdl(from.Format), static_cast<Uint8>(from.Channels), from.Rate,
                                ToSdl(to.Format), static_cast<Uint8>(to.Channels), to.Rate);
  if (!m_Stream) m_Error = SDL_GetError();
}

AudioConverter::~AudioConverter() {
  if (m_Stream) SDL_FreeAudioStream(static_cast<SDL_AudioStream*>(m_Stream));
}

bool AudioConverter::Fail() {
  if (m_Error.empty()) m_Error = SDL_GetError();
  return false;
}

bool AudioConverter::PutSlice(const unsigned char* bytes, size_t size) {
  auto* stream = static_cast<SDL_AudioStream*>(m_Stream);
  if (SDL_AudioStreamPut(stream, bytes, static_cast<int>(size)) != 0) return Fail();
  Drain();
  return true;
}

void AudioConverter::Drain() {
  auto* stream = static_cast<SDL_AudioStream*>(m_Stream);
  int avail = SDL_AudioStreamAvailable(stream);
  if (avail <= 0) return;
  size_t old = m_Output.size();
  m_Output.resize(old + static_cast<size_t>(avail));
  int got = SDL_AudioStreamGet(stream, m_Output.data() + old, avail);
  m_Output.resize(old + static_cast<size_t>(got > 0 ? got : 0));
  m_Made += m_Output.size() - old;
}

bool AudioConverter::Put(const void* in, size_t size) {
  if (!m_Stream || m_Finished) return Fail();
  const auto* p = static_cast<const unsigned char*>(in);
  const size_t slice = m_FrameBytes * kSliceFrames;
  m_BytesIn += size;
  while (size > 0) {
    // Whole slices go straight through; the rest waits for more input.
    if (m_Staged.empty() && size >= slice) {
      if (!PutSlice(p, slice)) return false;
      p += slice;
      size -= slice;
      continue;
    }
    size_t n = std::min(size, slice - m_Staged.size());
    m_Staged.insert(m_Staged.end(), p, p + n);
    p += n;
    size -= n;
    if (m_Staged.size() == slice) {
      if (!PutSlice(m_Staged.data(), slice)) return false;
      m_Staged.clear();
    }
  }
  return true;
}

bool AudioConverter::Finish() {
  if (!m_Stream || m_Finished) return Fail();
  m_Finished = true;
  auto* stream = static_cast<SDL_AudioStream*>(m_Stream);
  // A trailing partial frame is dropped.
  m_Staged.resize(m_Staged.size() - m_Staged.size() % m_FrameBytes);
  if (!m_Staged.empty() && !PutSlice(m_Staged.data(), m_Staged.size())) return false;
  std::vector<unsigned char>().swap(m_Staged);
  // SDL's resampler keeps back the last few dozen milliseconds even when
  // flushed. Its output starts in step with the input, so silence put after
  // the input pushes the tail out, and the result is cut to the exact
  // length the input stands for.
  const bool resampled = m_From.Rate != m_To.Rate;
  if (resampled) {
    size_t pad_frames = static_cast<size_t>(m_From.Rate / 5 > 1024 ? m_From.Rate / 5 : 1024);
    std::vector<unsigned char> silence(pad_frames * m_FrameBytes,
                                       m_From.Format == SampleFormat::U8 ? 128 : 0);
    if (SDL_AudioStreamPut(stream, silence.data(), static_cast<int>(silence.size())) != 0)
      return Fail();
  }
  if (SDL_AudioStreamFlush(stream) != 0) return Fail();
  Drain();
  if (resampled) {
    const size_t out_frame = static_cast<size_t>(BytesPerSample(m_To.Format)) * m_To.Channels;
    const size_t want = FramesOut(m_BytesIn / m_FrameBytes, m_From, m_To) * out_frame;
    // Only what is still held can go; what came out earlier never runs past
    // the exact length, as SDL lags behind its input.
    if (m_Made > want) {
      const size_t extra = std::min(m_Made - want, m_Output.size());
      m_Output.resize(m_Output.size() - extra);
      m_Made -= extra;
    }
  }
  return true;
}

bool ConvertAudio(const void* in, size_t size, const AudioFormat& from, const AudioFormat& to,
                  std::vector<unsigned char>& out, std::string* error) {
  AudioConverter c(from, to);
  bool ok = c.Put(in, size);
  out.insert(out.end(), c.Output().begin(), c.Output().end());
  c.Output().clear();
  ok = ok && c.Finish();
  out.insert(out.end(), c.Output().begin(), c.Output().end());
  if (!ok && error) *error = c.Error();
  return ok;
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
  capacity = std::min(capacity, ConvertedSize(size, from, to));
  AudioConverter c(from, to);
  size_t used = 0;
  auto keep = [&] {
    const size_t n = std::min(c.Output().size(), capacity - used);
    if (n) std::memcpy(out + used, c.Output().data(), n);
    used += n;
    c.Output().clear();
  };
  // Fed a slice at a time, so the conversion's own memory stays small.
  const auto* p = static_cast<const unsigned char*>(in);
  const size_t step = 65536;
  bool ok = true;
  for (size_t done = 0; ok && done < size; done += step) {
    ok = c.Put(p + done, std::min(step, size - done));
    keep();
  }
  ok = ok && c.Finish();
  keep();
  if (written) *written = ok ? used : 0;
  if (!ok && error) *error = c.Error();
  return ok;
}

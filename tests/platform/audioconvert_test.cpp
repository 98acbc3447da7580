// Audio conversion keeps the whole recording when it changes the rate.
#include "platform/services/audioconvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

TEST(AudioConvert, ResamplingKeepsTheEndOfTheRecordingInStep) {
  struct Case {
    int From, To;
  } cases[] = {{44100, 8000}, {8000, 44100}, {48000, 8000}, {11025, 8000}};
  for (const Case& c : cases) {
    // A quarter second of silence with a single loud sample 10 ms before the end.
    const int frames = c.From / 4;
    std::vector<float> in(static_cast<size_t>(frames), 0.0f);
    const int click = frames - c.From / 100;
    in[static_cast<size_t>(click)] = 1.0f;
    std::vector<unsigned char> out;
    std::string error;
    ASSERT_TRUE(ConvertAudio(in.data(), in.size() * 4, {SampleFormat::F32, 1, c.From},
                             {SampleFormat::F32, 1, c.To}, out, &error))
        << error;
    std::vector<float> got(out.size() / 4);
    std::memcpy(got.data(), out.data(), got.size() * 4);
    EXPECT_EQ(got.size(), static_cast<size_t>(c.To / 4)) << c.From << " -> " << c.To;
    size_t peak = 0;
    for (size_t i = 0; i < got.size(); i++)
      if (std::fabs(got[i]) > std::fabs(got[peak])) peak = i;
    double expected = static_cast<double>(click) * c.To / c.From;
    EXPECT_NEAR(static_cast<double>(peak), expected, 1.0) << c.From << " -> " << c.To;
  }
}

TEST(AudioConvert, InputFedInPartsComesOutAsTheWholeInputDoes) {
  // Longer than three of the slices SDL is given, in odd-sized parts that
  // split frames.
  std::vector<float> in(200003);
  for (size_t i = 0; i < in.size(); i++) in[i] = static_cast<float>(std::sin(i * 0.01) * 0.8);
  const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
  const size_t size = in.size() * 4;
  for (int from : {1000, 8000, 44100}) {
    const AudioFormat f{SampleFormat::F32, 1, from}, t{SampleFormat::U8, 1, 8000};
    std::vector<unsigned char> whole, parts;
    ASSERT_TRUE(ConvertAudio(bytes, size, f, t, whole, nullptr));
    AudioConverter c(f, t);
    size_t done = 0, step = 1;
    while (done < size) {
      const size_t n = std::min(step, size - done);
      ASSERT_TRUE(c.Put(bytes + done, n));
      done += n;
      step = step * 7 + 3;
      if (step > 300000) step = 5;
    }
    ASSERT_TRUE(c.Finish());
    parts = c.Output();
    EXPECT_EQ(parts.size(), whole.size()) << from;
    EXPECT_TRUE(parts == whole) << from;
  }
}

TEST(AudioConvert, UnsignedBytesPadWithTheirOwnSilence) {
  std::vector<unsigned char> in(4410, 200), out;
  ASSERT_TRUE(ConvertAudio(in.data(), in.size(), {SampleFormat::U8, 1, 44100},
                           {SampleFormat::U8, 1, 8000}, out, nullptr));
  ASSERT_EQ(out.size(), 800u);
  // Still the constant level up to the last sample, not a fade to zero.
  EXPECT_NEAR(out[400], 200, 2);
  EXPECT_NEAR(out[795], 200, 20);
}

TEST(AudioConvert, ConvertedSizeIsWhatConversionMakesAndABufferKeepsWhatFits) {
  struct Case {
    AudioFormat From, To;
  } cases[] = {
      {{SampleFormat::S16, 2, 44100}, {SampleFormat::S16, 2, 22050}},
      {{SampleFormat::S16, 2, 22050}, {SampleFormat::U8, 2, 22050}},
      {{SampleFormat::U8, 1, 8000}, {SampleFormat::U8, 1, 22050}},
      {{SampleFormat::F32, 6, 48000}, {SampleFormat::S32, 2, 22050}},
  };
  std::vector<unsigned char> in(9001);
  for (size_t i = 0; i < in.size(); i++) in[i] = static_cast<unsigned char>(i * 37 % 200 + 20);
  for (const Case& c : cases) {
    if (c.From.Format == SampleFormat::F32) {
      for (size_t i = 0; i + 4 <= in.size(); i += 4) {
        float f = static_cast<float>(i % 97) / 100.0f - 0.5f;
        std::memcpy(in.data() + i, &f, 4);
      }
    }
    std::vector<unsigned char> whole;
    ASSERT_TRUE(ConvertAudio(in.data(), in.size(), c.From, c.To, whole, nullptr));
    const size_t size = ConvertedSize(in.size(), c.From, c.To);
    EXPECT_EQ(whole.size(), size) << c.From.Rate << " -> " << c.To.Rate;
    std::vector<unsigned char> into(size + 10, 0xEE);
    size_t written = 0;
    ASSERT_TRUE(ConvertAudioInto(in.data(), in.size(), c.From, c.To, into.data(), into.size(),
                                 &written, nullptr));
    ASSERT_EQ(written, size);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), into.begin()));
    EXPECT_EQ(into[size], 0xEE);
    // A short buffer keeps the start.
    std::vector<unsigned char> part(size / 3);
    ASSERT_TRUE(ConvertAudioInto(in.data(), in.size(), c.From, c.To, part.data(), part.size(),
                                 &written, nullptr));
    ASSERT_EQ(written, part.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin()));
  }
  EXPECT_EQ(ConvertedSize(100, {SampleFormat::U8, 9, 8000}, {SampleFormat::U8, 1, 8000}), 0u);
  size_t written = 1;
  unsigned char out[4];
  EXPECT_FALSE(ConvertAudioInto(in.data(), 100, {SampleFormat::U8, 1, 0},
                                {SampleFormat::U8, 1, 8000}, out, sizeof(out), &written, nullptr));
  EXPECT_EQ(written, 0u);
}

}  // namespace

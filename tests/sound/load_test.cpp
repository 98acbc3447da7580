// Loading sounds: conversion to 8-bit 22050 Hz, private copies of sounds
// already in that form, files and resources, the memory they take, and
// every kind of malformed or truncated WAVE image leaving the sound empty.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sound_check.h"
#include "support/wav.h"

namespace {

using namespace soundtest;
using testing_support::FmtChunk;
using testing_support::RiffImage;

void ExpectEmpty(const SOUND& s, const std::string& what) {
  EXPECT_FALSE(s.CanPlay()) << what;
  EXPECT_EQ(s.abSignal, nullptr) << what;
  EXPECT_EQ(s.cbSignal, 0u) << what;
  EXPECT_EQ(s.Format.wFormatTag, 0) << what;
  EXPECT_EQ(s.IsPlaying(), 0) << what;
}

void ExpectTargetFormat(const SOUND& s, int channels) {
  EXPECT_EQ(s.Format.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(s.Format.nChannels, channels);
  EXPECT_EQ(s.Format.nSamplesPerSec, 22050u);
  EXPECT_EQ(s.Format.wBitsPerSample, 8);
  EXPECT_EQ(s.Format.nBlockAlign, channels);
  EXPECT_EQ(s.Format.nAvgBytesPerSec, 22050u * channels);
  EXPECT_EQ(s.Format.cbSize, 0);
}

TEST(SoundLoad, StereoSixteenBitAt44100LoadsAsStereoEightBitAt22050) {
  // Left: a 441 Hz sine at half scale; right: a constant quarter scale below zero.
  const int frames = 4410;
  std::vector<double> samples;
  for (int i = 0; i < frames; i++) {
    samples.push_back(0.5 * std::sin(2 * M_PI * 441 * i / 44100.0));
    samples.push_back(-0.25);
  }
  Bytes image = testing_support::WaveImage(samples, 2, 44100, 16);
  SOUND s(image.data(), static_cast<unsigned>(image.size()));
  ASSERT_TRUE(s.CanPlay());
  ExpectTargetFormat(s, 2);
  ASSERT_EQ(s.cbSignal, 2u * 2205u);
  int leftPeak = 0;
  for (unsigned i = 0; i < 2205; i++) {
    const int left = s.abSignal[2 * i], right = s.abSignal[2 * i + 1];
    leftPeak = std::max(leftPeak, std::abs(left - 128));
    if (i > 20 && i < 2185) {
      EXPECT_NEAR(left, 128 + 64 * std::sin(2 * M_PI * 441 * i / 22050.0), 3) << i;
      EXPECT_NEAR(right, 96, 2) << i;
    }
  }
  EXPECT_NEAR(leftPeak, 64, 2);
}

TEST(SoundLoad, ASoundAlreadyInTheMixersFormatIsCopiedUnchanged) {
  for (int channels : {1, 2}) {
    const Bytes data = Tone(1000, 90);
    Bytes image = Wave(1, channels, 22050, 8, data);
    SOUND s(image.data(), static_cast<unsigned>(image.size()));
    ASSERT_TRUE(s.CanPlay());
    ExpectTargetFormat(s, channels);
    ASSERT_EQ(Bytes(s.abSignal, s.abSignal + s.cbSignal), data);
    // A copy of its own, from the memory manager, not the caller's bytes.
    EXPECT_TRUE(s.abSignal < image.data() || s.abSignal >= image.data() + image.size());
    NodeHeader* n = Node(s.abSignal);
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(n->pszExpr, "cbSignal");
  }
  // Stereo data with a stray last byte keeps its whole frames.
  const Bytes data = Tone(1001, 90);
  Bytes image = Wave(1, 2, 22050, 8, data);
  SOUND s(image.data(), static_cast<unsigned>(image.size()));
  ASSERT_EQ(s.cbSignal, 1000u);
  EXPECT_EQ(Bytes(s.abSignal, s.abSignal + 1000), Bytes(data.begin(), data.begin() + 1000));
}

TEST(SoundLoad, EveryConvertibleFormatEndsAsEightBitsAt22050) {
  struct Case {
    int Tag, Channels, Rate, Bits, Frames, ChannelsOut;
  } cases[] = {
      {1, 1, 8000, 8, 800, 1},   {1, 1, 8000, 16, 800, 1},  {1, 2, 11025, 32, 500, 2},
      {3, 2, 48000, 32, 960, 2}, {1, 6, 22050, 16, 300, 2}, {1, 1, 22050, 16, 300, 1},
      {1, 3, 22050, 8, 300, 2},  {1, 1, 1000, 8, 100, 1},   {1, 2, 384000, 16, 3840, 2},
      {1, 2, 96000, 24, 960, 2}, {1, 1, 22050, 24, 300, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.Tag << "/" << c.Channels << "/" << c.Rate << "/" << c.Bits);
    std::vector<double> samples;
    for (int i = 0; i < c.Frames * c.Channels; i++)
      samples.push_back(0.5 * std::sin(2 * M_PI * 200.0 * (i / c.Channels) / c.Rate));
    Bytes image = testing_support::WaveImage(samples, c.Channels, c.Rate, c.Bits, c.Tag == 3);
    SOUND s(image.data(), static_cast<unsigned>(image.size()));
    ASSERT_TRUE(s.CanPlay());
    ExpectTargetFormat(s, c.ChannelsOut);
    const long framesOut = std::lround(static_cast<double>(c.Frames) * 22050 / c.Rate);
    EXPECT_EQ(s.cbSignal, static_cast<unsigned>(framesOut * c.ChannelsOut));
    EXPECT_GT(Peak(Bytes(s.abSignal, s.abSignal + s.cbSignal)), 40);
  }
}

TEST(SoundLoad, PcmOfOtherBitDepthsIsReadAtItsContainersWidth) {
  // 12 bits in 16-bit containers, 4 bits in bytes, left-justified.
  Bytes twelve;
  for (int i = 0; i < 100; i++) twelve.insert(twelve.end(), {0x00, 0x40});  // +0x4000
  Bytes image = RiffImage({{"fmt ", FmtChunk(1, 1, 22050, 12)}, {"data", twelve}});
  SOUND s12(image.data(), static_cast<unsigned>(image.size()));
  ASSERT_TRUE(s12.CanPlay());
  ExpectTargetFormat(s12, 1);
  // Half of full scale above zero: about 128 + 64.
  ASSERT_EQ(s12.cbSignal, 100u);
  EXPECT_NEAR(s12.abSignal[0], 192, 3);
  EXPECT_EQ(Bytes(s12.abSignal, s12.abSignal + s12.cbSignal), Bytes(100, s12.abSignal[0]));
  image = RiffImage({{"fmt ", FmtChunk(1, 1, 22050, 4)}, {"data", Bytes(50, 0xC0)}});
  SOUND s4(image.data(), static_cast<unsigned>(image.size()));
  ASSERT_TRUE(s4.CanPlay());
  EXPECT_EQ(Bytes(s4.abSignal, s4.abSignal + s4.cbSignal), Bytes(50, 0xC0));
}

TEST(SoundLoad, TheSoundAndItsSignalComeFromTheMemoryManager) {
  const int soundsBefore = LiveBlocks("SOUND"), convertedBefore = LiveBlocks("cbOut");
  Bytes image =
      testing_support::WaveImage(testing_support::Sine(300, 0.5, 44100, 0.1, 2), 2, 44100, 16);
  SOUND* s = new SOUND(image.data(), static_cast<unsigned>(image.size()));
  ASSERT_NE(s, nullptr);
  NodeHeader* object = Node(s);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->Type, OBJECT_NODE);
  EXPECT_STREQ(object->pszExpr, "SOUND");
  // Two conversions (rate, then bits): only the last result is kept.
  EXPECT_EQ(LiveBlocks("cbOut"), convertedBefore + 1);
  EXPECT_STREQ(Node(s->abSignal)->pszExpr, "cbOut");
  delete s;
  EXPECT_EQ(LiveBlocks("SOUND"), soundsBefore);
  EXPECT_EQ(LiveBlocks("cbOut"), convertedBefore);
}

TEST(SoundLoad, FilesLoadWithEitherSeparatorAndMissingOnesLeaveTheSoundEmpty) {
  testing_support::TempDir dir;
  std::filesystem::create_directories(dir.File("LEVEL01/SOUND"));
  const Bytes data = Tone(700, 50);
  testing_support::WriteFile(dir.File("LEVEL01/SOUND/CLICK.WAV"), Wave(1, 1, 22050, 8, data));
  const int imagesBefore = LiveBlocks("file image");
  for (std::string path :
       {dir.File("LEVEL01/SOUND/CLICK.WAV"), dir.File("LEVEL01\\SOUND\\CLICK.WAV")}) {
    SOUND s(path.c_str());
    ASSERT_TRUE(s.CanPlay()) << path;
    EXPECT_EQ(Bytes(s.abSignal, s.abSignal + s.cbSignal), data);
  }
  EXPECT_EQ(LiveBlocks("file image"), imagesBefore);
  SOUND missing(dir.File("LEVEL01/SOUND/NONE.WAV").c_str());
  ExpectEmpty(missing, "missing file");
  SOUND folder(dir.Path().c_str());
  ExpectEmpty(folder, "a folder");
  testing_support::WriteFile(dir.File("EMPTY.WAV"), {});
  SOUND empty(dir.File("EMPTY.WAV").c_str());
  ExpectEmpty(empty, "empty file");
  SOUND none(static_cast<const char*>(nullptr));
  ExpectEmpty(none, "no name");
}

TEST(SoundLoad, OnlyResourcesOfTypeWaveAreLoaded) {
  SOUND bitmap(static_cast<HINSTANCE>(nullptr), "METER");  // a BITMAP resource
  ExpectEmpty(bitmap, "bitmap resource");
  SOUND missing(static_cast<HINSTANCE>(nullptr), "NO_SUCH_SOUND");
  ExpectEmpty(missing, "missing resource");
}

TEST(SoundLoad, TheChunkWalkSkipsOtherChunksWithOrWithoutTheirPadByte) {
  const Bytes data = Tone(301, 70);
  const Bytes list = {'I', 'N', 'F', 'O', 'x'};
  Bytes fmt18 = FmtChunk(1, 1, 22050, 8);
  fmt18.insert(fmt18.end(), {0x34, 0x12});  // cbSize, ignored
  const std::vector<Bytes> images = {
      RiffImage({{"LIST", list}, {"fmt ", FmtChunk(1, 1, 22050, 8)}, {"data", data}}),
      RiffImage({{"LIST", list}, {"fmt ", FmtChunk(1, 1, 22050, 8)}, {"data", data}}, false),
      RiffImage({{"fmt ", fmt18}, {"junk", Bytes(3, 0)}, {"data", data}, {"LIST", list}}),
      RiffImage(
          {{"fmt ", FmtChunk(1, 2, 8000, 16)}, {"fmt ", FmtChunk(1, 1, 22050, 8)}, {"data", data}}),
  };
  for (size_t i = 0; i < images.size(); i++) {
    SOUND s(images[i].data(), static_cast<unsigned>(images[i].size()));
    ASSERT_TRUE(s.CanPlay()) << i;
    ExpectTargetFormat(s, 1);
    EXPECT_EQ(Bytes(s.abSignal, s.abSignal + s.cbSignal), data) << i;
  }
}

// The malformed files themselves are tests/data/bad-wave (below); these are
// the cases a file cannot carry.
TEST(SoundLoad, MissingImagesAndSignalsLeaveTheSoundEmpty) {
  SOUND none(static_cast<const void*>(nullptr), 100);
  ExpectEmpty(none, "null image");
  EXPECT_EQ(none.Play(PLAY_ONCE), 0);
  const Bytes data = Tone(600, 60);
  WAVEFORMATEX f = Pcm(1, 22050, 8);
  SOUND noSignal(&f, nullptr, 10), noLength(&f, data.data(), 0);
  ExpectEmpty(noSignal, "null signal");
  ExpectEmpty(noLength, "zero length");
  SOUND noFormat(static_cast<const WAVEFORMATEX*>(nullptr), data.data(), 600);
  ExpectEmpty(noFormat, "null format");
}

TEST(SoundLoad, EveryTruncationOfAValidImageLeavesTheSoundEmpty) {
  const Bytes good = RiffImage({{"LIST", Bytes{'a', 'b', 'c'}},
                                {"fmt ", FmtChunk(1, 2, 11025, 16)},
                                {"data", Bytes(400, 0x40)}});
  SOUND whole(good.data(), static_cast<unsigned>(good.size()));
  ASSERT_TRUE(whole.CanPlay());
  for (size_t n = 0; n < good.size(); n++) {
    // A copy of exactly n bytes, so that a read past them is caught.
    Bytes cut(good.begin(), good.begin() + static_cast<long>(n));
    SOUND s(cut.data(), static_cast<unsigned>(n));
    ASSERT_FALSE(s.CanPlay()) << n;
  }
}

TEST(SoundLoad, AFailedLoadEmptiesASoundThatHeldOne) {
  Bytes image = Wave(1, 1, 22050, 8, Tone(100, 30));
  SOUND s(image.data(), static_cast<unsigned>(image.size()));
  ASSERT_TRUE(s.CanPlay());
  const int before = LiveBlocks("cbSignal");
  image[0] = 'X';
  EXPECT_EQ(s.Load(image.data(), static_cast<unsigned>(image.size())), 0);
  ExpectEmpty(s, "reloaded");
  EXPECT_EQ(LiveBlocks("cbSignal"), before - 1);
}

// Each committed file of tests/data/bad-wave is broken in one way (bad ids,
// chunk lengths beyond the end, missing or misplaced chunks, formats, bit
// depths, channel counts and rates out of range, truncations); each of
// tests/data/wave is a valid file in one of the forms the mixer loads.
TEST(SoundLoad, CommittedFilesLoadOrNotAsTheirFolderSays) {
  const std::string root = std::string(ZELVARO_SOURCE_DIR) + "/tests/data/";
  int bad = 0, good = 0;
  for (const auto& e : std::filesystem::directory_iterator(root + "bad-wave")) {
    SOUND s(e.path().c_str());
    ExpectEmpty(s, e.path().filename().string());
    const Bytes image = testing_support::ReadFile(e.path().string());
    EXPECT_EQ(LoadSoundFromMemory(image.data(), static_cast<unsigned>(image.size()), 100), 0)
        << e.path().filename();
    bad++;
  }
  for (const auto& e : std::filesystem::directory_iterator(root + "wave")) {
    SOUND s(e.path().c_str());
    EXPECT_TRUE(s.CanPlay()) << e.path().filename();
    good++;
  }
  EXPECT_GE(bad, 40);
  EXPECT_GE(good, 10);
}

}  // namespace

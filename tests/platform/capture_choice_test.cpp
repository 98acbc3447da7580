// The capture input a user chooses: one device of the list in place of all
// of them, or a recording played over and over in place of a microphone,
// on the headless backend's clock and on SDL's real one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/services/backend.h"
#include "platform/services/wavefile.h"
#include "platform/winapi/mmsystem.h"
#include "support/headless.h"
#include "support/process.h"
#include "support/wav.h"

namespace {

using namespace testing_support;

WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits) {
  return PcmWaveFormat(rate, bits, channels);
}

class CaptureChoice : public HeadlessTest {
 protected:
  void TearDown() override {
    ChooseEveryCaptureDevice();
    std::string error;
    platform::SelectBackend("headless", &error);
  }

  // Records one block of `bytes` from device 0 in `format`; false when
  // nothing arrives within 10 s of real time.
  bool Record(WAVEFORMATEX format, size_t bytes, std::vector<unsigned char>* out) {
    HWAVEIN h = nullptr;
    if (waveInOpen(&h, 0, &format, GetCurrentThreadId(), 0, CALLBACK_THREAD) != MMSYSERR_NOERROR)
      return false;
    std::vector<char> data(bytes);
    WAVEHDR hdr{};
    hdr.lpData = data.data();
    hdr.dwBufferLength = static_cast<DWORD>(bytes);
    waveInPrepareHeader(h, &hdr, sizeof hdr);
    waveInAddBuffer(h, &hdr, sizeof hdr);
    waveInStart(h);
    bool done = WaitFor(
        [&] {
          Sleep(10);  // moves the headless clock; a pause on the real one
          MSG m;
          while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE))
            if (m.message == MM_WIM_DATA) return true;
          return false;
        },
        10000);
    waveInReset(h);
    waveInUnprepareHeader(h, &hdr, sizeof hdr);
    waveInClose(h);
    out->assign(data.begin(), data.end());
    return done;
  }

  std::string Recording(const std::vector<double>& samples, int rate) {
    std::string path = dir.File("loop.wav");
    WriteFile(path, WaveImage(samples, 1, rate, 16));
    return path;
  }

  TempDir dir;
};

TEST_F(CaptureChoice, AChosenDeviceIsTheOnlyOneUnderItsOwnName) {
  auto mic = PatternScript();
  mic.Name = "Microphone";
  auto line = headless::ToneScript(440);
  line.Name = "Line in";
  headless::AddCaptureDevice(mic);
  headless::AddCaptureDevice(line);
  std::string error;
  EXPECT_FALSE(ChooseCaptureDevice(3, &error));
  EXPECT_EQ(error, "no capture device with id 3 (ids 0 to 2)");
  EXPECT_EQ(waveInGetNumDevs(), 3u);  // unchanged

  ASSERT_TRUE(ChooseCaptureDevice(2, &error)) << error;
  EXPECT_EQ(waveInGetNumDevs(), 1u);
  EXPECT_EQ(WaveInDeviceName(0), "Line in");
  EXPECT_EQ(WaveInDeviceName(1), "");
  std::vector<unsigned char> got;
  ASSERT_TRUE(Record(Pcm(8000, 1, 8), 64, &got));
  EXPECT_EQ(headless::CaptureStatsOf(2).Opens, 1);
  EXPECT_EQ(headless::CaptureStatsOf(1).Opens, 0);
  WAVEFORMATEX f = Pcm(8000, 1, 8);
  HWAVEIN h = nullptr;
  EXPECT_EQ(waveInOpen(&h, 1, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD), MMSYSERR_BADDEVICEID);

  ChooseEveryCaptureDevice();
  EXPECT_EQ(waveInGetNumDevs(), 3u);
  headless::RemoveDevices();
  EXPECT_FALSE(ChooseCaptureDevice(0, &error));
  EXPECT_NE(error.find("no audio capture device"), std::string::npos) << error;
}

TEST_F(CaptureChoice, ARecordingPlaysOverAndOverInTheFormatAsked) {
  // 100 samples of a ramp: a block of 250 holds it two and a half times.
  std::vector<double> ramp;
  for (int i = 0; i < 100; i++) ramp.push_back((i - 50) / 60.0);
  std::string path = Recording(ramp, 8000);
  std::string error;
  ASSERT_TRUE(ChooseCaptureRecording(path, &error)) << error;
  EXPECT_EQ(waveInGetNumDevs(), 1u);
  EXPECT_EQ(WaveInDeviceName(0), "Recording loop.wav");
  std::vector<unsigned char> want;
  ASSERT_TRUE(LoadWaveToMono8(path, 8000, want, nullptr, &error)) << error;
  ASSERT_EQ(want.size(), 100u);

  std::vector<unsigned char> got;
  ASSERT_TRUE(Record(Pcm(8000, 1, 8), 250, &got));
  for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(got[i], want[i % 100]) << i;

  // 16-bit stereo: the same samples on both channels, a byte's worth of
  // level in the high byte.
  ASSERT_TRUE(Record(Pcm(8000, 2, 16), 4 * 150, &got));
  for (size_t i = 0; i < 150; i++) {
    auto left = static_cast<int16_t>(got[4 * i] | (got[4 * i + 1] << 8));
    auto right = static_cast<int16_t>(got[4 * i + 2] | (got[4 * i + 3] << 8));
    ASSERT_EQ(left, (want[i % 100] - 128) * 256) << i;
    ASSERT_EQ(right, left) << i;
  }
}

TEST_F(CaptureChoice, AnUnusableRecordingIsRefusedAndChangesNothing) {
  headless::AddCaptureDevice(PatternScript());
  std::string error;
  EXPECT_FALSE(ChooseCaptureRecording(dir.File("missing.wav"), &error));
  EXPECT_FALSE(error.empty());
  WriteFile(dir.File("junk.wav"), {'R', 'I', 'F', 'F', 1, 2, 3});
  EXPECT_FALSE(ChooseCaptureRecording(dir.File("junk.wav"), &error));
  WriteFile(dir.File("empty.wav"), WaveImage({}, 1, 8000, 16));
  error.clear();
  EXPECT_FALSE(ChooseCaptureRecording(dir.File("empty.wav"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(waveInGetNumDevs(), 2u);
  EXPECT_EQ(WaveInDeviceName(1), "Pattern");
}

TEST_F(CaptureChoice, OnTheRealClockARecordingArrivesAsTimePasses) {
  std::string error;
  ASSERT_TRUE(platform::SelectBackend("sdl", &error)) << error;
  // A quarter of a second of noise: no stretch of it repeats within it.
  std::vector<double> noise;
  uint32_t seed = 12345;
  for (int i = 0; i < 2000; i++) {
    seed = seed * 1664525u + 1013904223u;
    noise.push_back(static_cast<double>(seed >> 24) / 128.0 - 1.0);
  }
  std::string path = Recording(noise, 8000);
  ASSERT_TRUE(ChooseCaptureRecording(path, &error)) << error;
  std::vector<unsigned char> want;
  ASSERT_TRUE(LoadWaveToMono8(path, 8000, want, nullptr, &error));
  std::vector<unsigned char> got;
  // 0.3 s of audio: more than the recording, so it wraps.
  ASSERT_TRUE(Record(Pcm(8000, 1, 8), 2400, &got));
  // Recording starts at some point of the loop: find where, then every
  // byte follows it.
  size_t start = want.size();
  for (size_t s = 0; s < want.size() && start == want.size(); s++) {
    bool match = true;
    for (size_t i = 0; i < 64 && match; i++) match = got[i] == want[(s + i) % want.size()];
    if (match) start = s;
  }
  ASSERT_LT(start, want.size());
  for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(got[i], want[(start + i) % want.size()]) << i;
}

}  // namespace

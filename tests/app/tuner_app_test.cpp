// The tuner application's capture handling: an overflowing ring is thrown
// away and capture resumes with fresh audio.
#include <gtest/gtest.h>

#include <vector>

#include "app.h"
#include "support/headless.h"

namespace {

using testing_support::HeadlessTest;

// A recording whose every byte says which second it was recorded in.
headless::CaptureScript SecondsScript() {
  headless::CaptureScript s;
  s.Fill = [](const platform::PcmFormat& format, uint64_t offset, unsigned char* out, size_t len) {
    for (size_t i = 0; i < len; i++)
      out[i] = static_cast<unsigned char>((offset + i) / format.BytesPerSecond());
  };
  return s;
}

class TunerCapture : public HeadlessTest {
 protected:
  void TearDown() override { waveIn.StopThread(); }
};

TEST_F(TunerCapture, OverflowDiscardsTheStaleRingAndResumesWithFreshAudio) {
  headless::AddCaptureDevice(SecondsScript());
  ASSERT_EQ(waveIn.Init(waveInEventCB, kPriorityNormal, 4, kPieceSize, 1, kSampleRate, 8), 1);
  ASSERT_EQ(waveIn.StartThread(), 1);
  // Nobody reads for two seconds: the ring of four pieces overflows long
  // before, and each overflow starts it afresh.
  const DWORD piece_ms = 1000 * kPieceSize / kSampleRate;
  Sleep(2000);
  Sleep(piece_ms);
  EXPECT_EQ(waveIn.IsActive(), 1);
  std::vector<unsigned char> got(kPieceSize);
  ASSERT_EQ(waveIn.ReadData(got.data(), kPieceSize), 1);
  // Audio of the last second, not the first pieces ever recorded.
  EXPECT_GE(got.front(), 1);
}

}  // namespace

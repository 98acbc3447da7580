// CWaveOutThread over a recording playback device: the four-buffer start,
// order of what is played, a full ring, underrun and restart, reset,
// stopping while playing and a device that goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "support/headless.h"
#include "tuner/wavethreads.h"

namespace {

using namespace testing_support;

constexpr DWORD kBlock = 512;
constexpr DWORD kBlockMs = kBlock / 8;

struct OutEvents {
  std::mutex Mutex;
  std::vector<_WAVE_OUT_EVENT> Seen;
  CWaveOutThread* ResetOnUnderrun = nullptr;  // behave like the tuner's handler
};
OutEvents g_Out;

void RecordOutEvent(_WAVE_OUT_EVENT e) {
  {
    std::lock_guard<std::mutex> lk(g_Out.Mutex);
    g_Out.Seen.push_back(e);
  }
  if (e == WAVE_OUT_UNDERRUN && g_Out.ResetOnUnderrun) g_Out.ResetOnUnderrun->ResetBuffer();
}

std::vector<_WAVE_OUT_EVENT> OutSeen() {
  std::lock_guard<std::mutex> lk(g_Out.Mutex);
  return g_Out.Seen;
}

// Block k of the test's audio: kBlock bytes of the pattern from k x kBlock.
std::vector<unsigned char> Blocks(int first, int count) {
  std::vector<unsigned char> out(static_cast<size_t>(count) * kBlock);
  for (size_t i = 0; i < out.size(); i++) out[i] = PatternByte(first * kBlock + i);
  return out;
}

std::vector<_WAVE_OUT_EVENT> Done(int done, bool underrun) {
  std::vector<_WAVE_OUT_EVENT> out(static_cast<size_t>(done), WAVE_OUT_DONE);
  if (underrun) out.push_back(WAVE_OUT_UNDERRUN);
  return out;
}

class WaveOut : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    std::lock_guard<std::mutex> lk(g_Out.Mutex);
    g_Out.Seen.clear();
    g_Out.ResetOnUnderrun = nullptr;
  }
  void TearDown() override {
    thread.StopThread();
    EXPECT_EQ(headless::OpenDeviceCount(), 0);
  }
  void Start(headless::PlaybackScript script = {}) {
    headless::AddPlaybackDevice(script);
    ASSERT_EQ(thread.Init(RecordOutEvent, kPriorityNormal, 4, kBlock, 1, 8000, 8), 1);
    ASSERT_EQ(thread.StartThread(), 1);
  }
  int Write(const std::vector<unsigned char>& bytes) {
    return thread.WriteData(bytes.data(), static_cast<DWORD>(bytes.size()));
  }
  CWaveOutThread thread;
};

TEST_F(WaveOut, InitIsCheckedAndNothingIsTakenBeforeTheStart) {
  EXPECT_EQ(thread.GetBytesPerSecond(), 0u);
  EXPECT_EQ(thread.Init(RecordOutEvent, kPriorityNormal, 3, kBlock, 1, 8000, 8), 0);
  EXPECT_EQ(thread.Init(RecordOutEvent, kPriorityNormal, 4, kBlock, 1, 16000, 8), 0);
  ASSERT_EQ(thread.Init(RecordOutEvent, kPriorityNormal, 8, kBlock, 2, 44100, 16), 1);
  EXPECT_EQ(thread.GetBytesPerSecond(), 4u * 44100u);
  EXPECT_EQ(thread.Init(RecordOutEvent, kPriorityNormal, 4, kBlock, 1, 8000, 8), 0);
  EXPECT_EQ(Write(Blocks(0, 1)), 0);
  EXPECT_EQ(thread.StartThread(), 0);  // no playback device
  EXPECT_EQ(Write(Blocks(0, 1)), 0);
}

TEST_F(WaveOut, PlaybackBeginsWithTheFourthBlockAndUnderrunsAfterTheLast) {
  Start();
  for (int k = 0; k < 3; k++) ASSERT_EQ(Write(Blocks(k, 1)), 1);
  Sleep(20 * kBlockMs);
  EXPECT_TRUE(headless::Played(1).empty());
  EXPECT_TRUE(OutSeen().empty());
  ASSERT_EQ(Write(Blocks(3, 1)), 1);
  Sleep(20 * kBlockMs);
  EXPECT_EQ(headless::Played(1), Blocks(0, 4));
  EXPECT_EQ(OutSeen(), Done(3, true));
}

TEST_F(WaveOut, AFullRingRefusesMoreAndTheWorkerRefillsFromIt) {
  Start();
  ASSERT_EQ(Write(Blocks(0, 4)), 1);  // all four buffers queued
  ASSERT_EQ(Write(Blocks(4, 4)), 1);  // the ring is full
  EXPECT_EQ(thread.GetDataLen(), 4 * kBlock);
  const unsigned char one = 0;
  EXPECT_EQ(thread.WriteData(&one, 1), 0);
  EXPECT_EQ(thread.GetDataLen(), 4 * kBlock);
  Sleep(kBlockMs);
  EXPECT_EQ(thread.GetDataLen(), 3 * kBlock);
  Sleep(20 * kBlockMs);
  EXPECT_EQ(headless::Played(1), Blocks(0, 8));
  EXPECT_EQ(OutSeen(), Done(7, true));
}

TEST_F(WaveOut, AudioLeftInTheRingPlaysOutBeforeTheUnderrun) {
  Start();
  ASSERT_EQ(Write(Blocks(0, 4)), 1);
  ASSERT_EQ(Write(Blocks(4, 2)), 1);
  Sleep(20 * kBlockMs);
  EXPECT_EQ(headless::Played(1), Blocks(0, 6));
  EXPECT_EQ(OutSeen(), Done(5, true));
  EXPECT_EQ(thread.GetDataLen(), 0u);
}

TEST_F(WaveOut, ResetEmptiesTheRingAndWritingStartsAgainAtBlockZero) {
  Start();
  std::vector<unsigned char> odd = Blocks(100, 2);
  odd.resize(kBlock + kBlock / 2);
  ASSERT_EQ(Write(odd), 1);  // one block queued, half a block in the ring
  thread.ResetBuffer();
  EXPECT_EQ(thread.GetDataLen(), 0u);
  ASSERT_EQ(Write(Blocks(0, 4)), 1);
  Sleep(20 * kBlockMs);
  std::vector<unsigned char> expected = Blocks(100, 1);
  std::vector<unsigned char> rest = Blocks(0, 4);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(headless::Played(1), expected);
}

TEST_F(WaveOut, AfterAnUnderrunPlaybackWaitsForFourBlocksAgain) {
  g_Out.ResetOnUnderrun = &thread;
  Start();
  ASSERT_EQ(Write(Blocks(0, 4)), 1);
  Sleep(20 * kBlockMs);
  EXPECT_EQ(OutSeen(), Done(3, true));
  ASSERT_EQ(Write(Blocks(4, 3)), 1);
  Sleep(20 * kBlockMs);
  EXPECT_EQ(headless::Played(1).size(), 4 * kBlock);
  ASSERT_EQ(Write(Blocks(7, 1)), 1);
  Sleep(20 * kBlockMs);
  EXPECT_EQ(headless::Played(1), Blocks(0, 8));
  EXPECT_EQ(OutSeen().size(), 8u);
}

TEST_F(WaveOut, StoppingWhilePlayingReturnsEveryBufferAndFreesTheRing) {
  Start();
  ASSERT_EQ(Write(Blocks(0, 4)), 1);
  ASSERT_EQ(Write(Blocks(4, 4)), 1);
  Sleep(kBlockMs + kBlockMs / 2);
  EXPECT_EQ(thread.StopThread(), 1);
  EXPECT_EQ(headless::OpenDeviceCount(), 0);
  EXPECT_EQ(thread.GetDataLen(), 0u);
  EXPECT_EQ(Write(Blocks(0, 1)), 0);
  auto played = headless::Played(1);
  ASSERT_GE(played.size(), kBlock);
  std::vector<unsigned char> start = Blocks(0, 8);
  start.resize(played.size());
  EXPECT_EQ(played, start);
  // And it starts again from nothing.
  ASSERT_EQ(thread.StartThread(), 1);
  ASSERT_EQ(Write(Blocks(8, 4)), 1);
  Sleep(20 * kBlockMs);
  EXPECT_EQ(headless::Played(1).size(), played.size() + 4 * kBlock);
}

TEST_F(WaveOut, ADeviceThatGoesAwayIsReportedAndWritingStopsAtAFullRing) {
  headless::PlaybackScript script;
  script.VanishAfterSeconds = 0.1;
  Start(script);
  ASSERT_EQ(Write(Blocks(0, 4)), 1);
  Sleep(20 * kBlockMs);
  auto seen = OutSeen();
  EXPECT_EQ(std::count(seen.begin(), seen.end(), WAVE_OUT_DEVICE_LOST), 1);
  EXPECT_EQ(headless::Played(1).size(), 800u);
  int accepted = 0;
  while (accepted < 20 && Write(Blocks(0, 1))) accepted++;
  EXPECT_EQ(accepted, 4);
  EXPECT_EQ(thread.StopThread(), 1);
}

}  // namespace

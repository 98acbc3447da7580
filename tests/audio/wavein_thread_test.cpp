// CWaveInThread over scripted devices: configuration, the ring and its
// order, overflow and restart, short blocks, reset, stopping at any moment,
// devices that fail or vanish, and a minute of recording with a reader
// that keeps up.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "support/headless.h"
#include "tuner/wavethreads.h"

namespace {

using namespace testing_support;

// The desk program's configuration: 4 blocks of one piece.
constexpr DWORD kBlock = kPocket ? 1024 : 512;
constexpr DWORD kRing = 4 * kBlock;
constexpr DWORD kBlockMs = kBlock / 8;  // at 8000 bytes a second

struct Events {
  std::mutex Mutex;
  std::vector<_WAVE_IN_EVENT> Seen;
  CWaveInThread* ResetOnOverflow = nullptr;  // behave like the tuner's handler
  std::function<void(_WAVE_IN_EVENT)> Extra;
  int Count(_WAVE_IN_EVENT e) {
    std::lock_guard<std::mutex> lk(Mutex);
    return static_cast<int>(std::count(Seen.begin(), Seen.end(), e));
  }
};
Events g_Events;

void RecordEvent(_WAVE_IN_EVENT e) {
  {
    std::lock_guard<std::mutex> lk(g_Events.Mutex);
    g_Events.Seen.push_back(e);
  }
  if (e == WAVE_IN_OVERFLOW && g_Events.ResetOnOverflow) g_Events.ResetOnOverflow->ResetBuffer();
  if (g_Events.Extra) g_Events.Extra(e);
}

class WaveIn : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    std::lock_guard<std::mutex> lk(g_Events.Mutex);
    g_Events.Seen.clear();
    g_Events.ResetOnOverflow = nullptr;
    g_Events.Extra = nullptr;
  }
  void TearDown() override {
    thread.StopThread();
    g_Events.Extra = nullptr;
    EXPECT_EQ(headless::OpenDeviceCount(), 0);
  }
  void StartDesk(headless::CaptureScript script = PatternScript()) {
    headless::AddCaptureDevice(std::move(script));
    ASSERT_EQ(thread.Init(RecordEvent, kPriorityNormal, 4, kBlock, 1, 8000, 8), 1);
    ASSERT_EQ(thread.StartThread(), 1);
  }
  std::vector<unsigned char> Read(DWORD len) {
    std::vector<unsigned char> out(len);
    if (!thread.ReadData(out.data(), len)) out.clear();
    return out;
  }
  CWaveInThread thread;
};

TEST_F(WaveIn, InitTakesOnlySupportedConfigurationsAndOnlyOnce) {
  EXPECT_EQ(thread.GetBytesPerSecond(), 0u);
  EXPECT_EQ(thread.IsActive(), 0);
  struct Bad {
    int priority;
    unsigned short count;
    DWORD size;
    unsigned short channels;
    DWORD rate;
    unsigned short bits;
  } bad[] = {
      {kPriorityNormal, 3, 512, 1, 8000, 8},        {kPriorityNormal, 4, 79, 1, 8000, 8},
      {kPriorityNormal, 4, 512, 3, 8000, 8},        {kPriorityNormal, 4, 512, 1, 8000, 12},
      {kPriorityNormal, 4, 512, 1, 16000, 8},       {kPriorityMax + 1, 4, 512, 1, 8000, 8},
      {kPriorityMin - 1, 4, 512, 1, 8000, 8},       {kPriorityNormal, 4, 0x40000000, 1, 8000, 8},
      {kPriorityNormal, 65535, 0x10001, 1, 8000, 8}};
  for (const Bad& b : bad)
    EXPECT_EQ(thread.Init(RecordEvent, b.priority, b.count, b.size, b.channels, b.rate, b.bits), 0)
        << b.count << " x " << b.size << ", " << b.channels << " ch, " << b.bits << " bits, "
        << b.rate << " Hz, priority " << b.priority;
  EXPECT_EQ(thread.GetBytesPerSecond(), 0u);
  EXPECT_EQ(thread.Init(RecordEvent, kPriorityNormal, 4, 80, 1, 8000, 8), 1);
  EXPECT_EQ(thread.GetBytesPerSecond(), 8000u);
  EXPECT_EQ(thread.Init(RecordEvent, kPriorityNormal, 4, 512, 2, 44100, 16), 0);
  EXPECT_EQ(thread.GetBytesPerSecond(), 8000u);
  EXPECT_EQ(thread.IsActive(), 0);

  CWaveInThread stereo;
  EXPECT_EQ(stereo.Init(nullptr, kPriorityMin, 4, 512, 2, 22050, 16), 1);
  EXPECT_EQ(stereo.GetBytesPerSecond(), 4u * 22050u);
  CWaveInThread extremes;
  EXPECT_EQ(extremes.Init(nullptr, kPriorityMax, 65535, 0xFFFF, 1, 11025, 8), 1);
}

TEST_F(WaveIn, NothingIsReadableBeforeTheFirstBlockHasArrived) {
  StartDesk();
  EXPECT_EQ(thread.IsActive(), 1);
  EXPECT_TRUE(Read(kBlock).empty());
  EXPECT_TRUE(Read(1).empty());
  Sleep(kBlockMs - 8);
  EXPECT_TRUE(Read(1).empty());
  EXPECT_EQ(thread.GetDataLen(), 0u);
  Sleep(8);
  EXPECT_EQ(thread.GetDataLen(), kBlock);
  auto piece = Read(kBlock);
  ASSERT_EQ(piece.size(), kBlock);
  EXPECT_TRUE(IsPatternFrom(piece.data(), kBlock, 0));
  EXPECT_EQ(g_Events.Count(WAVE_IN_DATA), 1);
}

TEST_F(WaveIn, FourBlocksFillTheRingTheFifthIsLostAndAReadRestartsRecording) {
  StartDesk();
  Sleep(4 * kBlockMs);
  EXPECT_EQ(thread.GetDataLen(), kRing);
  EXPECT_EQ(g_Events.Count(WAVE_IN_DATA), 4);
  Sleep(kBlockMs);
  EXPECT_EQ(g_Events.Count(WAVE_IN_OVERFLOW), 1);
  EXPECT_EQ(thread.GetDataLen(), kRing);
  Sleep(10 * kBlockMs);  // stopped: nothing more arrives, nothing more is lost
  EXPECT_EQ(g_Events.Count(WAVE_IN_OVERFLOW), 1);
  EXPECT_EQ(g_Events.Count(WAVE_IN_DATA), 4);

  auto first = Read(kBlock);
  ASSERT_EQ(first.size(), kBlock);
  EXPECT_TRUE(IsPatternFrom(first.data(), kBlock, 0));
  Sleep(kBlockMs);
  EXPECT_EQ(g_Events.Count(WAVE_IN_DATA), 5);
  EXPECT_EQ(thread.GetDataLen(), kRing);
  // The three blocks stored before the overflow are intact and in order;
  // after them comes the first block recorded once recording restarted.
  auto rest = Read(kRing);
  ASSERT_EQ(rest.size(), kRing);
  EXPECT_TRUE(IsPatternFrom(rest.data(), 3 * kBlock, kBlock));
  int64_t resumed = PatternOffset(rest.data() + 3 * kBlock, kBlock);
  ASSERT_GE(resumed, 0) << "the block after the restart is not one stretch of the recording";
  EXPECT_NE(resumed % 251, static_cast<int64_t>(4 * kBlock % 251));
}

TEST_F(WaveIn, ReadsOfAnySizeAcrossTheRingsEndComeInCaptureOrder) {
  StartDesk();
  uint64_t offset = 0;
  for (int frame = 0; frame < 200; frame++) {
    Sleep(40);
    for (DWORD len : {300u, 77u, kBlock + 1}) {
      auto got = Read(len);
      if (got.empty()) continue;
      ASSERT_TRUE(IsPatternFrom(got.data(), len, offset)) << "at byte " << offset;
      offset += len;
    }
  }
  EXPECT_GT(offset, 8000u * 7);
  EXPECT_EQ(g_Events.Count(WAVE_IN_OVERFLOW), 0);
}

TEST_F(WaveIn, AShortBlockCountsInFullWithSilenceForTheMissingTail) {
  auto script = PatternScript();
  script.ShortBlockBytes = 300;
  StartDesk(script);
  Sleep(3 * kBlockMs);
  auto got = Read(kBlock);
  ASSERT_EQ(got.size(), kBlock);
  EXPECT_TRUE(IsPatternFrom(got.data(), 300, 0));
  for (DWORD i = 300; i < kBlock; i++) ASSERT_EQ(got[i], 128) << i;
  got = Read(kBlock);
  ASSERT_EQ(got.size(), kBlock);
  EXPECT_TRUE(IsPatternFrom(got.data(), 300, 300));
}

TEST_F(WaveIn, ResetDiscardsUnreadAudioAndReadingResumesWithTheNextBlock) {
  StartDesk();
  Sleep(2 * kBlockMs);
  EXPECT_EQ(thread.GetDataLen(), 2 * kBlock);
  thread.ResetBuffer();
  EXPECT_TRUE(Read(1).empty());
  Sleep(kBlockMs);
  auto got = Read(kBlock);
  ASSERT_EQ(got.size(), kBlock);
  EXPECT_TRUE(IsPatternFrom(got.data(), kBlock, 2 * kBlock));
  EXPECT_TRUE(Read(1).empty());
}

TEST_F(WaveIn, AnOverflowHandledLikeTheTunerResumesWithFreshAudio) {
  g_Events.ResetOnOverflow = &thread;
  StartDesk();
  Sleep(5 * kBlockMs);  // four stored, the fifth overflows, the handler resets
  EXPECT_EQ(g_Events.Count(WAVE_IN_OVERFLOW), 1);
  Sleep(kBlockMs);
  EXPECT_EQ(thread.GetDataLen(), kBlock);
  auto got = Read(kBlock);
  ASSERT_EQ(got.size(), kBlock);
  EXPECT_TRUE(IsPatternFrom(got.data(), kBlock, 5 * kBlock));
}

TEST_F(WaveIn, TheCallbackRunsOutsideTheLock) {
  // While the handler runs, another thread can still take the lock.
  std::atomic<int> answered{0};
  g_Events.Extra = [&](_WAVE_IN_EVENT) {
    auto other = std::async(std::launch::async, [&] { return thread.GetDataLen(); });
    if (other.wait_for(std::chrono::seconds(20)) == std::future_status::ready) {
      other.get();
      answered++;
    }
  };
  StartDesk();
  Sleep(2 * kBlockMs);
  g_Events.Extra = nullptr;
  EXPECT_EQ(answered, 2);
}

TEST_F(WaveIn, StartFailsCleanlyWithoutADeviceAndOtherwiseFindsOneThatOpens) {
  ASSERT_EQ(thread.Init(RecordEvent, kPriorityNormal, 4, kBlock, 1, 8000, 8), 1);
  EXPECT_EQ(thread.StartThread(), 0);
  EXPECT_EQ(thread.IsActive(), 0);

  auto refusing = PatternScript();
  refusing.FailOpen = true;
  auto stereo_only = PatternScript();
  stereo_only.Accepts = [](const platform::StreamFormat& f) { return f.Channels == 2; };
  headless::AddCaptureDevice(refusing);     // ids 0 and 1
  headless::AddCaptureDevice(stereo_only);  // id 2
  EXPECT_EQ(thread.StartThread(), 0);
  headless::AddCaptureDevice(PatternScript());  // id 3
  ASSERT_EQ(thread.StartThread(), 1);
  EXPECT_EQ(headless::CaptureStatsOf(3).Opens, 1);
  Sleep(kBlockMs);
  EXPECT_EQ(thread.GetDataLen(), kBlock);
  EXPECT_EQ(thread.StartThread(), 0);  // already running
  EXPECT_EQ(thread.StopThread(), 1);
  EXPECT_EQ(thread.StopThread(), 0);

  thread.SetDevice(1);
  EXPECT_EQ(thread.StartThread(), 0);
  thread.SetDevice(9);
  EXPECT_EQ(thread.StartThread(), 0);
  thread.SetDevice(3);
  ASSERT_EQ(thread.StartThread(), 1);
  EXPECT_EQ(headless::CaptureStatsOf(3).Opens, 2);
}

TEST_F(WaveIn, StoppingAtAnyMomentKeepsWhatWasReadAndLeavesNothingBehind) {
  headless::AddCaptureDevice(PatternScript());
  ASSERT_EQ(thread.Init(RecordEvent, kPriorityNormal, 4, kBlock, 1, 8000, 8), 1);
  for (int round = 0; round < 30; round++) {
    ASSERT_EQ(thread.StartThread(), 1);
    // Another thread keeps the clock (and so the device) going while this
    // one reads and then stops: blocks are in flight when the stop comes.
    std::atomic<bool> run{true};
    std::thread clock([&] {
      while (run) Sleep(8);
    });
    std::vector<unsigned char> piece(kBlock);
    for (int reads = 0; reads < round % 7;) {
      if (!thread.ReadData(piece.data(), kBlock)) {
        std::this_thread::yield();
        continue;
      }
      ASSERT_GE(PatternOffset(piece.data(), kBlock), 0);
      reads++;
    }
    EXPECT_EQ(thread.StopThread(), 1);
    run = false;
    clock.join();
    EXPECT_EQ(thread.IsActive(), 0);
    EXPECT_EQ(thread.GetDataLen(), 0u);
    EXPECT_EQ(thread.ReadData(piece.data(), 1), 0);
    EXPECT_EQ(headless::OpenDeviceCount(), 0);
  }
}

TEST_F(WaveIn, StopLatencyIsMeasured) {
  headless::AddCaptureDevice(PatternScript());
  ASSERT_EQ(thread.Init(RecordEvent, kPriorityNormal, 4, kBlock, 1, 8000, 8), 1);
  std::vector<double> ms;
  for (int i = 0; i < 20; i++) {
    ASSERT_EQ(thread.StartThread(), 1);
    Sleep(3 * kBlockMs);
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(thread.StopThread(), 1);
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("StopThread latency over %zu stops: median %.3f ms, max %.3f ms\n", ms.size(),
              ms[ms.size() / 2], ms.back());
  RecordProperty("stop_latency_median_us", static_cast<int>(ms[ms.size() / 2] * 1000));
  RecordProperty("stop_latency_max_us", static_cast<int>(ms.back() * 1000));
}

TEST_F(WaveIn, AMinuteWithAReaderThatKeepsUpLosesNoBlock) {
  StartDesk();
  // One piece per frame of the desk's frame clock, as the tuner screen reads.
  const DWORD start = GetTickCount();
  uint64_t offset = 0;
  std::vector<unsigned char> piece(kBlock);
  while (GetTickCount() - start < 60000) {
    Sleep(34);
    if (thread.ReadData(piece.data(), kBlock)) {
      ASSERT_TRUE(IsPatternFrom(piece.data(), kBlock, offset)) << "gap before byte " << offset;
      offset += kBlock;
    }
  }
  auto stats = headless::CaptureStatsOf(1);
  const uint64_t lost = g_Events.Count(WAVE_IN_OVERFLOW) + stats.Dropped / kBlock;
  std::printf("60 s of recording: %llu blocks read, %llu recorded, %llu lost\n",
              static_cast<unsigned long long>(offset / kBlock),
              static_cast<unsigned long long>(stats.Delivered / kBlock),
              static_cast<unsigned long long>(lost));
  RecordProperty("blocks_lost_in_60_s", static_cast<int>(lost));
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(stats.Dropped, 0u);
  EXPECT_GE(stats.Delivered, 60u * 8000u);
  // All but the block being recorded and at most one unread has been read.
  EXPECT_LT(stats.Delivered - offset, 2u * kBlock);
}

TEST_F(WaveIn, AVanishingDeviceEndsTheStreamWithEverythingRecordedReadable) {
  std::vector<unsigned char> recording(2 * kBlock + 276);
  for (size_t i = 0; i < recording.size(); i++) recording[i] = PatternByte(i);
  StartDesk(headless::BufferScript(recording));
  Sleep(10 * kBlockMs);
  EXPECT_EQ(g_Events.Count(WAVE_IN_DATA), 3);
  EXPECT_EQ(g_Events.Count(WAVE_IN_DEVICE_LOST), 1);
  auto got = Read(3 * kBlock);
  ASSERT_EQ(got.size(), 3 * kBlock);
  EXPECT_TRUE(IsPatternFrom(got.data(), recording.size(), 0));
  for (size_t i = recording.size(); i < got.size(); i++) ASSERT_EQ(got[i], 128);
  EXPECT_EQ(thread.IsActive(), 1);
  EXPECT_EQ(thread.StopThread(), 1);
}

}  // namespace

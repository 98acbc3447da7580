// The wave services over scripted devices: device ids and formats, blocks
// filled and handed back in queue order, start/stop/reset, short blocks,
// devices that refuse or vanish, playback with pause, reset and volume, and
// both ways of being told (thread messages, a completion function).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/winapi/mmsystem.h"
#include "support/headless.h"

namespace {

using namespace testing_support;

WAVEFORMATEX Pcm(DWORD rate = 8000, WORD channels = 1, WORD bits = 8) {
  return PcmWaveFormat(rate, bits, channels);
}

struct Block {
  explicit Block(size_t n, char fill = 0) : Data(n, fill) {
    Hdr.lpData = Data.data();
    Hdr.dwBufferLength = static_cast<DWORD>(n);
  }
  std::vector<char> Data;
  WAVEHDR Hdr{};
  const unsigned char* Bytes() const { return reinterpret_cast<const unsigned char*>(Data.data()); }
};

std::vector<MSG> Drain() {
  std::vector<MSG> out;
  MSG m;
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) out.push_back(m);
  return out;
}

// What a completion function was told, in order.
struct Told {
  UINT Message;
  WAVEHDR* Hdr;
};
std::vector<Told> g_Told;

void CALLBACK RecordCompletion(HANDLE, UINT message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
  EXPECT_EQ(instance, 77u);
  g_Told.push_back({message, reinterpret_cast<WAVEHDR*>(p1)});
}

class Wave : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    g_Told.clear();
    Drain();
  }
  void TearDown() override { EXPECT_EQ(headless::OpenDeviceCount(), 0); }

  HWAVEIN OpenIn(UINT id = 0, WAVEFORMATEX f = Pcm()) {
    HWAVEIN h = nullptr;
    EXPECT_EQ(waveInOpen(&h, id, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD), MMSYSERR_NOERROR)
        << GetWaveErrorDetail();
    return h;
  }
  void Queue(HWAVEIN h, Block& b) {
    ASSERT_EQ(waveInPrepareHeader(h, &b.Hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(h, &b.Hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
};

TEST_F(Wave, DeviceIdsStartWithTheDefaultDevice) {
  EXPECT_EQ(waveInGetNumDevs(), 0u);
  EXPECT_NE(GetWaveErrorDetail().find("no scripted capture device"), std::string::npos);
  WAVEFORMATEX f = Pcm();
  HWAVEIN h = nullptr;
  EXPECT_EQ(waveInOpen(&h, 0, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD), MMSYSERR_BADDEVICEID);

  auto a = PatternScript();
  a.Name = "Microphone";
  auto b = headless::ToneScript(440);
  b.Name = "Line in";
  EXPECT_EQ(headless::AddCaptureDevice(a), 1);
  EXPECT_EQ(headless::AddCaptureDevice(b), 2);
  EXPECT_EQ(waveInGetNumDevs(), 3u);
  EXPECT_EQ(WaveInDeviceName(0), "Default device (Microphone)");
  EXPECT_EQ(WaveInDeviceName(2), "Line in");
  EXPECT_EQ(WaveInDeviceName(3), "");
  EXPECT_EQ(waveInOpen(&h, 3, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD), MMSYSERR_BADDEVICEID);
  ASSERT_EQ(waveInOpen(&h, WAVE_MAPPER, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD),
            MMSYSERR_NOERROR);
  EXPECT_EQ(headless::CaptureStatsOf(1).Opens, 1);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutGetNumDevs(), 0u);
}

TEST_F(Wave, MalformedFormatsAndCompletionKindsAreRefused) {
  headless::AddCaptureDevice(PatternScript());
  HWAVEIN h = nullptr;
  const DWORD me = GetCurrentThreadId();
  WAVEFORMATEX bad[] = {Pcm(8000, 3, 8), Pcm(8000, 1, 12), Pcm(0, 1, 8), Pcm(8000, 1, 8),
                        Pcm(8000, 1, 8)};
  bad[3].nBlockAlign = 2;
  bad[4].wFormatTag = 3;
  for (const WAVEFORMATEX& f : bad)
    EXPECT_EQ(waveInOpen(&h, 0, &f, me, 0, CALLBACK_THREAD), WAVERR_BADFORMAT);
  WAVEFORMATEX f = Pcm();
  EXPECT_EQ(waveInOpen(&h, 0, &f, 0, 0, CALLBACK_WINDOW), MMSYSERR_INVALFLAG);
  EXPECT_EQ(waveInOpen(&h, 0, &f, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInOpen(nullptr, 0, &f, me, 0, CALLBACK_THREAD), MMSYSERR_INVALPARAM);
  for (WAVEFORMATEX good : {Pcm(44100, 2, 16), Pcm(11025, 1, 16), Pcm(22050, 2, 8)}) {
    ASSERT_EQ(waveInOpen(&h, 0, &good, me, 0, CALLBACK_THREAD), MMSYSERR_NOERROR);
    waveInClose(h);
  }
}

TEST_F(Wave, CaptureFillsBlocksInQueueOrderAndDropsWhatFindsNoBlock) {
  headless::AddCaptureDevice(PatternScript());
  HWAVEIN h = OpenIn();
  std::vector<MSG> msgs = Drain();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, static_cast<UINT>(MM_WIM_OPEN));
  EXPECT_EQ(msgs[0].wParam, reinterpret_cast<WPARAM>(h));

  Block a(100), b(150), c(100);
  Queue(h, a);
  Queue(h, b);
  Queue(h, c);
  EXPECT_TRUE(a.Hdr.dwFlags & WHDR_INQUEUE);
  Sleep(64);  // 512 bytes pass while stopped: none recorded
  EXPECT_TRUE(Drain().empty());
  ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
  Sleep(64);  // 512 more: 350 fit
  msgs = Drain();
  ASSERT_EQ(msgs.size(), 3u);
  Block* order[] = {&a, &b, &c};
  uint64_t offset = 512;
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(msgs[i].message, static_cast<UINT>(MM_WIM_DATA));
    EXPECT_EQ(msgs[i].wParam, reinterpret_cast<WPARAM>(h));
    WAVEHDR* hdr = reinterpret_cast<WAVEHDR*>(msgs[i].lParam);
    ASSERT_EQ(hdr, &order[i]->Hdr);
    EXPECT_EQ(hdr->dwBytesRecorded, hdr->dwBufferLength);
    EXPECT_EQ(hdr->dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED),
              static_cast<DWORD>(WHDR_DONE | WHDR_PREPARED));
    EXPECT_TRUE(IsPatternFrom(order[i]->Bytes(), hdr->dwBufferLength, offset));
    offset += hdr->dwBufferLength;
  }
  auto stats = headless::CaptureStatsOf(1);
  EXPECT_EQ(stats.Delivered, 512u);
  EXPECT_EQ(stats.Dropped, 512u - 350u);

  // A block added again is filled from where the recording is now.
  ASSERT_EQ(waveInAddBuffer(h, &a.Hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(a.Hdr.dwBytesRecorded, 0u);
  Sleep(16);
  msgs = Drain();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_TRUE(IsPatternFrom(a.Bytes(), 100, 1024));
  waveInReset(h);
  for (Block* blk : order) EXPECT_EQ(waveInUnprepareHeader(h, &blk->Hdr, sizeof(WAVEHDR)), 0u);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
  msgs = Drain();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, static_cast<UINT>(MM_WIM_CLOSE));
  EXPECT_EQ(waveInStart(h), MMSYSERR_INVALHANDLE);
}

TEST_F(Wave, StopHandsBackThePartlyFilledBlockAndResetHandsBackAll) {
  auto script = PatternScript();
  script.PeriodMs = 5;  // 40 bytes a period
  headless::AddCaptureDevice(script);
  HWAVEIN h = OpenIn();
  Drain();
  Block a(100), b(100), c(100);
  Queue(h, a);
  Queue(h, b);
  Queue(h, c);
  waveInStart(h);
  Sleep(15);  // 120 bytes: a full, b holds 20
  ASSERT_EQ(Drain().size(), 1u);
  EXPECT_EQ(waveInUnprepareHeader(h, &b.Hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInClose(h), WAVERR_STILLPLAYING);

  ASSERT_EQ(waveInStop(h), MMSYSERR_NOERROR);
  std::vector<MSG> msgs = Drain();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(reinterpret_cast<WAVEHDR*>(msgs[0].lParam), &b.Hdr);
  EXPECT_EQ(b.Hdr.dwBytesRecorded, 20u);
  EXPECT_TRUE(IsPatternFrom(b.Bytes(), 20, 100));
  Sleep(50);
  EXPECT_TRUE(Drain().empty());  // stopped: c stays queued and empty
  EXPECT_TRUE(c.Hdr.dwFlags & WHDR_INQUEUE);

  waveInStart(h);
  Sleep(5);
  waveInAddBuffer(h, &a.Hdr, sizeof(WAVEHDR));
  ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  msgs = Drain();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(reinterpret_cast<WAVEHDR*>(msgs[0].lParam), &c.Hdr);
  EXPECT_EQ(reinterpret_cast<WAVEHDR*>(msgs[1].lParam), &a.Hdr);
  EXPECT_EQ(c.Hdr.dwBytesRecorded, 40u);
  EXPECT_EQ(a.Hdr.dwBytesRecorded, 0u);
  EXPECT_TRUE(a.Hdr.dwFlags & WHDR_DONE);
  Sleep(50);
  EXPECT_TRUE(Drain().empty());
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(Wave, ADeviceThatEndsBlocksEarlyHandsThemBackShort) {
  auto script = PatternScript();
  script.ShortBlockBytes = 300;
  headless::AddCaptureDevice(script);
  HWAVEIN h = OpenIn();
  Drain();
  Block a(512), b(512);
  Queue(h, a);
  Queue(h, b);
  waveInStart(h);
  Sleep(100);  // 800 bytes: 300 + 300, then 200 into a third block
  std::vector<MSG> msgs = Drain();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(a.Hdr.dwBytesRecorded, 300u);
  EXPECT_EQ(b.Hdr.dwBytesRecorded, 300u);
  EXPECT_TRUE(IsPatternFrom(b.Bytes(), 300, 300));
  waveInReset(h);
  waveInClose(h);
}

TEST_F(Wave, AVanishingDeviceHandsBackItsPartialBlockThenSaysItIsGone) {
  std::vector<unsigned char> recording(700);
  for (size_t i = 0; i < recording.size(); i++) recording[i] = PatternByte(i);
  headless::AddCaptureDevice(headless::BufferScript(recording));
  HWAVEIN h = OpenIn();
  Drain();
  Block a(512), b(512), c(512);
  Queue(h, a);
  Queue(h, b);
  Queue(h, c);
  waveInStart(h);
  Sleep(1000);
  std::vector<MSG> msgs = Drain();
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[0].message, static_cast<UINT>(MM_WIM_DATA));
  EXPECT_EQ(msgs[1].message, static_cast<UINT>(MM_WIM_DATA));
  EXPECT_EQ(reinterpret_cast<WAVEHDR*>(msgs[1].lParam), &b.Hdr);
  EXPECT_EQ(b.Hdr.dwBytesRecorded, 188u);
  EXPECT_TRUE(IsPatternFrom(b.Bytes(), 188, 512));
  EXPECT_EQ(msgs[2].message, static_cast<UINT>(MM_WIM_DEVICELOST));
  EXPECT_EQ(waveInStart(h), MMSYSERR_NODRIVER);
  EXPECT_EQ(waveInAddBuffer(h, &a.Hdr, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
  // What it still holds comes back; then it closes like any other.
  EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
  ASSERT_EQ(Drain().size(), 1u);
  for (Block* blk : {&a, &b, &c})
    EXPECT_EQ(waveInUnprepareHeader(h, &blk->Hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(Wave, DevicesThatRefuseToOpenSayWhy) {
  auto refusing = PatternScript();
  refusing.FailOpen = true;
  refusing.FailReason = "microphone is busy";
  auto mono_only = PatternScript();
  mono_only.Accepts = [](const platform::StreamFormat& f) { return f.Channels == 1; };
  headless::AddCaptureDevice(refusing);
  headless::AddCaptureDevice(mono_only);
  WAVEFORMATEX f = Pcm();
  HWAVEIN h = nullptr;
  EXPECT_EQ(waveInOpen(&h, 0, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD), MMSYSERR_NODRIVER);
  EXPECT_EQ(GetWaveErrorDetail(), "microphone is busy");
  EXPECT_EQ(h, nullptr);
  WAVEFORMATEX stereo = Pcm(8000, 2, 8);
  EXPECT_EQ(waveInOpen(&h, 2, &stereo, GetCurrentThreadId(), 0, CALLBACK_THREAD),
            MMSYSERR_NODRIVER);
  ASSERT_EQ(waveInOpen(&h, 2, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD), MMSYSERR_NOERROR);
  waveInClose(h);
}

class Playback : public Wave {
 protected:
  HWAVEOUT OpenOut(WAVEFORMATEX f = Pcm()) {
    HWAVEOUT h = nullptr;
    EXPECT_EQ(waveOutOpen(&h, 0, &f, reinterpret_cast<DWORD_PTR>(&RecordCompletion), 77,
                          CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    return h;
  }
  void Write(HWAVEOUT h, Block& b) {
    ASSERT_EQ(waveOutPrepareHeader(h, &b.Hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &b.Hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
};

TEST_F(Playback, BlocksPlayInOrderAndComeBackToTheCompletionFunction) {
  headless::AddPlaybackDevice({});
  HWAVEOUT h = OpenOut();
  ASSERT_EQ(g_Told.size(), 1u);
  EXPECT_EQ(g_Told[0].Message, static_cast<UINT>(WOM_OPEN));
  Block a(300, 10), b(200, 20);
  Write(h, a);
  Write(h, b);
  Sleep(40);  // 320 bytes played: a done, b under way
  ASSERT_EQ(g_Told.size(), 2u);
  EXPECT_EQ(g_Told[1].Message, static_cast<UINT>(WOM_DONE));
  EXPECT_EQ(g_Told[1].Hdr, &a.Hdr);
  EXPECT_TRUE(a.Hdr.dwFlags & WHDR_DONE);
  waveOutPause(h);
  Sleep(200);
  EXPECT_EQ(g_Told.size(), 2u);
  waveOutRestart(h);
  Sleep(200);
  ASSERT_EQ(g_Told.size(), 3u);
  EXPECT_EQ(g_Told[2].Hdr, &b.Hdr);
  std::vector<unsigned char> played = headless::Played(1);
  std::vector<unsigned char> expected(300, 10);
  expected.insert(expected.end(), 200, 20);
  EXPECT_EQ(played, expected);

  // Reset hands back what is queued without playing it.
  Write(h, a);
  waveOutPause(h);
  EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
  ASSERT_EQ(g_Told.size(), 4u);
  EXPECT_EQ(g_Told[3].Hdr, &a.Hdr);
  waveOutRestart(h);
  Sleep(200);
  EXPECT_EQ(headless::Played(1).size(), 500u);
  waveOutUnprepareHeader(h, &a.Hdr, sizeof(WAVEHDR));
  waveOutUnprepareHeader(h, &b.Hdr, sizeof(WAVEHDR));
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(g_Told.back().Message, static_cast<UINT>(WOM_CLOSE));
}

TEST_F(Playback, VolumeScalesWhatTheDevicePlaysAndBelongsToTheDevice) {
  headless::AddPlaybackDevice({});
  DWORD volume = 0;
  ASSERT_EQ(waveOutGetVolume(nullptr, &volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0xFFFFFFFFu);
  // Mono uses the low word.
  ASSERT_EQ(waveOutSetVolume(reinterpret_cast<HWAVEOUT>(0), 0x0000FFFF / 2 + 0x10000 * 3),
            MMSYSERR_NOERROR);
  HWAVEOUT h = OpenOut();
  ASSERT_EQ(waveOutGetVolume(h, &volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume & 0xFFFF, 0x7FFFu);
  Block a(8);
  const unsigned char samples[8] = {128, 255, 0, 192, 64, 129, 127, 128};
  std::memcpy(a.Data.data(), samples, 8);
  Write(h, a);
  Sleep(10);
  std::vector<unsigned char> played = headless::Played(1);
  ASSERT_EQ(played.size(), 8u);
  const unsigned char halved[8] = {128, 191, 64, 160, 96, 128, 128, 128};
  for (int i = 0; i < 8; i++) EXPECT_NEAR(played[i], halved[i], 1) << i;

  // Stereo: left and right levels apart.
  waveOutSetVolume(h, 0xFFFF0000);
  waveOutUnprepareHeader(h, &a.Hdr, sizeof(WAVEHDR));
  waveOutClose(h);
  h = OpenOut(Pcm(8000, 2, 16));
  Block s(8);
  const int16_t lr[4] = {1000, 1000, -2000, -2000};
  std::memcpy(s.Data.data(), lr, 8);
  Write(h, s);
  Sleep(10);
  played = headless::Played(1);
  ASSERT_EQ(played.size(), 16u);
  int16_t out[4];
  std::memcpy(out, played.data() + 8, 8);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 1000);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], -2000);
  waveOutUnprepareHeader(h, &s.Hdr, sizeof(WAVEHDR));
  waveOutClose(h);
  EXPECT_EQ(waveOutSetVolume(reinterpret_cast<HWAVEOUT>(5), 0), MMSYSERR_INVALHANDLE);
  waveOutSetVolume(nullptr, 0xFFFFFFFF);
}

TEST_F(Playback, TheDefaultDevicesVolumeIsKeptWithoutAnyDevice) {
  const auto mapper = reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER));
  ASSERT_EQ(waveOutGetNumDevs(), 0u);
  ASSERT_EQ(waveOutSetVolume(mapper, 0x12345678), MMSYSERR_NOERROR);
  DWORD volume = 0;
  ASSERT_EQ(waveOutGetVolume(nullptr, &volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0x12345678u);
  EXPECT_EQ(waveOutGetVolume(reinterpret_cast<HWAVEOUT>(1), &volume), MMSYSERR_INVALHANDLE);
  // A device added later plays at that level.
  headless::AddPlaybackDevice({});
  HWAVEOUT h = OpenOut();
  ASSERT_EQ(waveOutGetVolume(h, &volume), MMSYSERR_NOERROR);
  EXPECT_EQ(volume, 0x12345678u);
  waveOutClose(h);
  waveOutSetVolume(mapper, 0xFFFFFFFF);
}

TEST_F(Playback, AVanishingDeviceHandsBackEveryQueuedBlock) {
  headless::PlaybackScript script;
  script.VanishAfterSeconds = 0.05;  // 400 bytes
  headless::AddPlaybackDevice(script);
  HWAVEOUT h = OpenOut();
  Block a(300), b(300), c(300);
  Write(h, a);
  Write(h, b);
  Write(h, c);
  Sleep(200);
  ASSERT_EQ(g_Told.size(), 5u);
  EXPECT_EQ(g_Told[1].Hdr, &a.Hdr);
  EXPECT_EQ(g_Told[2].Hdr, &b.Hdr);
  EXPECT_EQ(g_Told[3].Hdr, &c.Hdr);
  EXPECT_EQ(g_Told[4].Message, static_cast<UINT>(MM_WOM_DEVICELOST));
  EXPECT_EQ(headless::Played(1).size(), 400u);
  EXPECT_EQ(waveOutWrite(h, &a.Hdr, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
  for (Block* blk : {&a, &b, &c}) waveOutUnprepareHeader(h, &blk->Hdr, sizeof(WAVEHDR));
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

}  // namespace

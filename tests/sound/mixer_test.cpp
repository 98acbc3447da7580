// The mixer through the headless playback device, which records what it
// plays: levels of one and of several sources, looping, the silence that
// keeps the device fed, notifications, stopping, the device going away,
// the start that starts nothing and the end that ends the thread; the
// normalisation itself on hand-made inputs; the sound table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sound_check.h"
#include "support/headless.h"
#include "support/process.h"

namespace {

using namespace soundtest;
constexpr size_t kBuf = kWaveOutBufferBytes;

class Mixer : public testing_support::HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    m_SoundsBefore = LiveBlocks("SOUND");
    Muted = 0;
  }
  void TearDown() override {
    FreeSounds();
    EXPECT_EQ(WaveOut_Terminate(), 1);
    EXPECT_EQ(WaveOut_IsRunning(), 0);
    EXPECT_EQ(headless::OpenDeviceCount(), 0);
    EXPECT_EQ(LiveBlocks("SOUND"), m_SoundsBefore) << "a SOUND was left behind";
    Muted = 0;
  }
  static void AddDevice() { headless::AddPlaybackDevice({}); }
  int m_SoundsBefore = 0;
};

// Everything after `from` is silence.
bool SilentFrom(const Bytes& b, size_t from) {
  for (size_t i = from; i < b.size(); i++)
    if (b[i] != 128) return false;
  return true;
}

TEST_F(Mixer, InitSoundReadsTheVolumeAndStartsNoThreadAndOpensNoDevice) {
  AddDevice();
  ASSERT_EQ(waveOutSetVolume(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                             0x1234 << 16 | 0x8000),
            MMSYSERR_NOERROR);
  WavFiles[3] = reinterpret_cast<SOUND*>(&m_SoundsBefore);  // any stale pointer
  const int tasks = TaskCount();
  InitSound();
  EXPECT_EQ(Volume, 2);  // 0x8000 / 13107
  EXPECT_EQ(WavFiles[3], nullptr);
  EXPECT_EQ(TaskCount(), tasks);
  EXPECT_EQ(WaveOut_IsRunning(), 0);
  EXPECT_EQ(headless::OpenDeviceCount(), 0);
  // Nothing playing: stopping does not start the mixer either.
  SOUND s(Tone(10, 20).data(), 10u);
  s.Stop();
  WaveOut_Stop(Tone(10, 20).data());
  EXPECT_EQ(TaskCount(), tasks);
  // Nor does a missing device stop the volume being read.
  waveOutSetVolume(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)), 0xFFFFFFFF);
  headless::RemoveDevices();
  InitSound();
  EXPECT_EQ(Volume, 5);
}

TEST_F(Mixer, OneSourcePlaysAtItsOwnLevelThenSilenceKeepsTheDeviceFed) {
  AddDevice();
  // Longer than the six buffers the first pass mixes, so it still plays
  // when Play returns.
  const Bytes tone = Tone(5000, 80);
  SOUND* s = MonoSound(tone);
  ASSERT_EQ(s->Play(PLAY_ONCE), 1);
  EXPECT_TRUE(s->IsPlaying());
  const Bytes played = PlayedAtLeast(2 * tone.size() + 20 * kBuf);
  ASSERT_GE(played.size(), 2 * tone.size());
  EXPECT_EQ(Bytes(played.begin(), played.begin() + 2 * tone.size()), Doubled(tone));
  EXPECT_EQ(Peak(played), Peak(tone));
  EXPECT_TRUE(SilentFrom(played, 2 * tone.size()));
  EXPECT_FALSE(s->IsPlaying());
  EXPECT_EQ(s->fPlaying.load(), 0);
  // The device stays open and goes on being fed.
  EXPECT_EQ(headless::OpenDeviceCount(), 1);
  const size_t before = headless::Played(1).size();
  const Bytes later = PlayedAtLeast(before + 10 * kBuf);
  EXPECT_TRUE(SilentFrom(later, 2 * tone.size()));
  delete s;
}

TEST_F(Mixer, TwoIdenticalSourcesPlayAtTheSamePeakNotDoubled) {
  AddDevice();
  const Bytes tone = Tone(2000, 60);
  SOUND* a = MonoSound(tone);
  SOUND* b = MonoSound(tone);
  // Under the lock both start with the same buffer.
  WaveOut_Enter();
  ASSERT_EQ(a->Play(PLAY_ONCE), 1);
  ASSERT_EQ(b->Play(PLAY_ONCE), 1);
  WaveOut_Leave();
  const Bytes played = PlayedAtLeast(2 * tone.size() + 2 * kBuf);
  EXPECT_EQ(Bytes(played.begin(), played.begin() + 2 * tone.size()), Doubled(tone));
  EXPECT_EQ(Peak(played), Peak(tone));
  delete a;
  delete b;
}

TEST_F(Mixer, EachBufferOfAMixPeaksAtItsLoudestInput) {
  AddDevice();
  const Bytes loud = Tone(4000, 100, 37), quiet = Tone(4000, 30, 23);
  SOUND* a = MonoSound(loud);
  SOUND* b = MonoSound(quiet);
  WaveOut_Enter();
  a->Play(PLAY_ONCE);
  b->Play(PLAY_ONCE);
  WaveOut_Leave();
  const Bytes played = PlayedAtLeast(2 * loud.size());
  const Bytes alone = Doubled(loud);
  for (size_t at = 0; at + kBuf <= alone.size(); at += kBuf)
    EXPECT_EQ(Peak(played, at, at + kBuf), Peak(alone, at, at + kBuf)) << at;
  // Not simply the loud one: the quiet one is in the mix.
  EXPECT_NE(Bytes(played.begin(), played.begin() + kBuf),
            Bytes(alone.begin(), alone.begin() + kBuf));
  delete a;
  delete b;
}

TEST_F(Mixer, AShortLoopedSourceRepeatsWithinOneBufferUntilStopped) {
  AddDevice();
  const Bytes pattern = Tone(100, 70, 25);
  SOUND* s = MonoSound(pattern);
  ASSERT_EQ(s->Play(1), 1);  // looped
  EXPECT_EQ(s->fLooped, 1);
  Bytes played = PlayedAtLeast(3 * kBuf);
  for (size_t frame = 0; frame < 3 * kBuf / 2; frame++) {
    ASSERT_EQ(played[2 * frame], pattern[frame % pattern.size()]) << frame;
    ASSERT_EQ(played[2 * frame + 1], pattern[frame % pattern.size()]) << frame;
  }
  EXPECT_TRUE(s->IsPlaying());
  s->Stop();
  EXPECT_FALSE(s->IsPlaying());
  EXPECT_EQ(s->fLooped, 0);
  // Buffers already queued play out; everything mixed after the stop is silent.
  const size_t stoppedAt = headless::Played(1).size() + kWaveOutBufferCount * kBuf;
  played = PlayedAtLeast(stoppedAt + 8 * kBuf);
  EXPECT_TRUE(SilentFrom(played, stoppedAt));
  delete s;
}

TEST_F(Mixer, AMonoDeviceGetsTheAverageOfLeftAndRight) {
  headless::PlaybackScript mono;
  mono.Accepts = [](const platform::StreamFormat& f) { return f.Channels == 1; };
  headless::AddPlaybackDevice(mono);
  Bytes lr;
  for (int i = 0; i < 1500; i++) lr.insert(lr.end(), {188, 148});  // +60 and +20
  const WAVEFORMATEX f = Pcm(2, 22050, 8);
  SOUND s(&f, lr.data(), static_cast<unsigned>(lr.size()));
  ASSERT_EQ(s.Play(PLAY_ONCE), 1);
  EXPECT_EQ(WaveOutState.fStereo, 0);
  const Bytes played = PlayedAtLeast(1500 + kBuf);
  // (60 + 20) / 2 = 40, scaled by 60 / 60.
  EXPECT_EQ(Bytes(played.begin(), played.begin() + 1500), Bytes(1500, 168));
  EXPECT_TRUE(SilentFrom(played, 1500));
}

LRESULT CALLBACK NotifyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
struct Notice {
  WPARAM Sound;
  LPARAM Cookie;
};
std::vector<Notice> g_Notices;
LRESULT CALLBACK NotifyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SOUNDDONE) g_Notices.push_back({wParam, lParam});
  return DefWindowProc(hwnd, message, wParam, lParam);
}

TEST_F(Mixer, TheNotificationWindowHearsOfEachInstanceThatEnds) {
  AddDevice();
  WNDCLASS wc{};
  wc.lpfnWndProc = NotifyProc;
  wc.lpszClassName = "SoundNotifyTest";
  RegisterClass(&wc);
  HWND hwnd =
      CreateWindowEx(0, "SoundNotifyTest", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  g_Notices.clear();
  SOUND* s = MonoSound(Tone(500, 40));
  s->SetNotify(hwnd, 77);
  s->Play(PLAY_ONCE);
  s->Play(PLAY_ONCE);
  ASSERT_TRUE(RunUntil([&] {
    MSG m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&m);
    return g_Notices.size() >= 2;
  }));
  EXPECT_EQ(g_Notices[0].Sound, reinterpret_cast<WPARAM>(s));
  EXPECT_EQ(g_Notices[0].Cookie, 77);
  EXPECT_FALSE(s->IsPlaying());
  EXPECT_EQ(g_Notices[1].Sound, reinterpret_cast<WPARAM>(s));
  // A window that has gone is not posted to.
  DestroyWindow(hwnd);
  s->Play(PLAY_ONCE);
  ASSERT_TRUE(RunUntil([&] { return !s->IsPlaying(); }));
  MSG m;
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&m);
  EXPECT_EQ(g_Notices.size(), 2u);
  delete s;
  UnregisterClass("SoundNotifyTest", nullptr);
}

TEST_F(Mixer, PlayThenDestroyReleasesTheSoundOnceItHasPlayed) {
  AddDevice();
  SOUND* s = MonoSound(Tone(800, 40));
  ASSERT_EQ(LiveBlocks("SOUND"), m_SoundsBefore + 1);
  ASSERT_EQ(s->Play(PLAY_THEN_DESTROY), 1);
  EXPECT_TRUE(RunUntil([&] { return LiveBlocks("SOUND") == m_SoundsBefore; }));
  // An empty sound cannot play and is released at once.
  SOUND* empty = new SOUND(static_cast<const void*>(nullptr), 0);
  EXPECT_EQ(empty->Play(PLAY_THEN_DESTROY), 0);
  EXPECT_EQ(LiveBlocks("SOUND"), m_SoundsBefore);
}

TEST_F(Mixer, WithoutADeviceNothingPlaysAndNothingIsLeftPlaying) {
  SOUND* s = MonoSound(Tone(800, 40));
  EXPECT_EQ(s->Play(PLAY_ONCE), 0);
  EXPECT_FALSE(s->IsPlaying());
  EXPECT_EQ(s->Play(PLAY_THEN_DESTROY), 0);  // refused: released
  EXPECT_EQ(LiveBlocks("SOUND"), m_SoundsBefore);
  // Only the mixer's own format is taken.
  AddDevice();
  const Bytes data = Tone(100, 10);
  WAVEOUTREQ req{};
  req.Format = Pcm(1, 44100, 8);
  req.abData = data.data();
  req.cbData = 100;
  EXPECT_EQ(WaveOut_Start(&req), 0);
  req.Format = Pcm(1, 22050, 16);
  EXPECT_EQ(WaveOut_Start(&req), 0);
  req.Format = Pcm(3, 22050, 8);
  EXPECT_EQ(WaveOut_Start(&req), 0);
  req.Format = Pcm(1, 22050, 8);
  req.cbData = 0;
  EXPECT_EQ(WaveOut_Start(&req), 0);
  EXPECT_EQ(headless::OpenDeviceCount(), 0);
}

TEST_F(Mixer, ADeviceThatGoesAwayEndsEverySourceAndTheNextPlayOpensItAgain) {
  headless::PlaybackScript vanishing;
  vanishing.VanishAfterSeconds = 0.1;
  headless::AddPlaybackDevice(vanishing);
  SOUND* s = MonoSound(Tone(200, 50));
  ASSERT_EQ(s->Play(PLAY_LOOPED), 1);
  ASSERT_TRUE(RunUntil([&] { return !s->IsPlaying() && headless::OpenDeviceCount() == 0; }));
  EXPECT_EQ(WaveOut_IsOpen(), 0);
  const size_t before = headless::Played(1).size();
  EXPECT_LE(before, 4410u);  // 0.1 s of stereo
  ASSERT_EQ(s->Play(PLAY_ONCE), 1);
  EXPECT_EQ(headless::OpenDeviceCount(), 1);
  // The device lasts 0.1 s of its clock again: the clock waits for the feeder.
  ASSERT_TRUE(QueuedBuffers(4));
  EXPECT_GT(PlayedAtLeast(before + 400).size(), before);
  delete s;
}

TEST_F(Mixer, ShutdownClosesTheDeviceOnlyWhenNothingPlays) {
  AddDevice();
  SOUND* s = MonoSound(Tone(300, 50));
  s->Play(PLAY_LOOPED);
  EXPECT_EQ(WaveOut_Shutdown(), 0);
  EXPECT_EQ(headless::OpenDeviceCount(), 1);
  s->Stop();
  EXPECT_EQ(WaveOut_Shutdown(), 1);
  EXPECT_EQ(headless::OpenDeviceCount(), 0);
  EXPECT_EQ(WaveOutState.cSources, 0u);
  // The thread stays; the next sound opens the device again.
  EXPECT_EQ(WaveOut_IsRunning(), 1);
  EXPECT_EQ(s->Play(PLAY_ONCE), 1);
  EXPECT_EQ(headless::OpenDeviceCount(), 1);
  delete s;
}

TEST_F(Mixer, TerminateEndsTheThreadAndEveryInstanceAndTheMixerCanStartAgain) {
  AddDevice();
  const int tasks = TaskCount();
  SOUND* looped = MonoSound(Tone(300, 50));
  SOUND* once = MonoSound(Tone(300, 50));
  looped->Play(PLAY_LOOPED);
  once->Play(PLAY_THEN_DESTROY);
  EXPECT_EQ(TaskCount(), tasks + 1);
  // Not while this thread holds the lock: the feeder could never finish.
  WaveOut_Enter();
  EXPECT_EQ(WaveOut_Terminate(), 0);
  WaveOut_Leave();
  EXPECT_EQ(WaveOut_IsRunning(), 1);

  EXPECT_EQ(WaveOut_Terminate(), 1);
  EXPECT_EQ(WaveOut_IsRunning(), 0);
  EXPECT_EQ(TaskCount(), tasks);
  EXPECT_EQ(headless::OpenDeviceCount(), 0);
  EXPECT_FALSE(looped->IsPlaying());
  EXPECT_EQ(LiveBlocks("SOUND"), m_SoundsBefore + 1);  // the PLAY_THEN_DESTROY one is gone
  EXPECT_EQ(WaveOutMix.aLeft, nullptr);

  ASSERT_EQ(looped->Play(PLAY_ONCE), 1);
  EXPECT_EQ(WaveOut_IsRunning(), 1);
  EXPECT_EQ(TaskCount(), tasks + 1);
  delete looped;
}

// Threads of a child process when it started, checked again as its very
// last step (after every static destructor), or -1.
int g_ChildTasksAtStart = -1;

__attribute__((destructor)) void CheckTheChildEndsWithTheThreadsItBeganWith() {
  if (g_ChildTasksAtStart < 0) return;
  // The feeder has left the mixer; give it a moment to be gone.
  for (int i = 0; i < 500 && TaskCount() > g_ChildTasksAtStart; i++) usleep(10000);
  if (TaskCount() != g_ChildTasksAtStart) _exit(9);
}

// A program that ends without ExitSound, a looped sound playing: the end of
// the program ends the feeder thread and closes the device itself.
TEST_F(Mixer, AProgramEndingWithASoundPlayingLeavesNoThreadRunning) {
  AddDevice();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    g_ChildTasksAtStart = TaskCount();
    const Bytes image = Wave(1, 1, 22050, 8, Tone(300, 50));
    if (LoadSoundFromMemory(image.data(), static_cast<unsigned>(image.size()), 110) != 1) _exit(3);
    PlayLoopedSound(110);
    if (PlayedAtLeast(4 * kBuf).size() < 4 * kBuf || TaskCount() != g_ChildTasksAtStart + 1)
      _exit(4);
    std::exit(0);
  }
  EXPECT_EQ(testing_support::WaitProcess(pid, 30000), 0);
}

TEST_F(Mixer, PrewarmOpensTheDeviceWithSilenceAndLeavesNothingBehind) {
  AddDevice();
  SOUND::Prewarm();
  EXPECT_EQ(headless::OpenDeviceCount(), 1);
  const Bytes played = PlayedAtLeast(4 * kBuf);
  EXPECT_TRUE(SilentFrom(played, 0));
  EXPECT_TRUE(RunUntil([&] { return LiveBlocks("SOUND") == m_SoundsBefore; }));
  SOUND::Prewarm();  // already open: nothing more
  EXPECT_EQ(LiveBlocks("SOUND"), m_SoundsBefore);
}

TEST_F(Mixer, TheVolumeIsSetOnBothChannels) {
  AddDevice();
  WaveOut_SetVolume(0x8000);
  DWORD v = 0;
  ASSERT_EQ(WaveOut_GetVolume(&v), 1);
  EXPECT_EQ(v, 0x80008000u);
  const Bytes tone(3000, 228);  // +100
  SOUND* s = MonoSound(tone);
  s->Play(PLAY_ONCE);
  const Bytes played = PlayedAtLeast(2000);
  EXPECT_NEAR(played[1000], 178, 1);  // half of +100
  WaveOut_SetVolume(0xFFFF);
  delete s;
}

TEST_F(Mixer, PauseHoldsPlaybackAndRestartGoesOn) {
  AddDevice();
  SOUND* s = MonoSound(Tone(100, 50));
  s->Play(PLAY_LOOPED);
  PlayedAtLeast(kBuf);
  WaveOut_Pause();
  const size_t held = headless::Played(1).size();
  for (int i = 0; i < 20; i++) Sleep(8);
  EXPECT_EQ(headless::Played(1).size(), held);
  WaveOut_Restart();
  EXPECT_GT(PlayedAtLeast(held + kBuf).size(), held);
  delete s;
}

// The normalisation on hand-made inputs. The lock keeps the feeder out.
class Mixing : public Mixer {
 protected:
  void SetUp() override {
    Mixer::SetUp();
    WaveOut_Enter();
    WaveOut_ClearMix();
  }
  void TearDown() override {
    WaveOut_Leave();
    Mixer::TearDown();
  }
  static void Mix(unsigned at, const Bytes& b, int stereo = 0) {
    WaveOut_MixAudio(at, b.data(), static_cast<unsigned>(b.size()), stereo);
  }
  static Bytes Target(unsigned cb, int stereo) {
    Bytes out(cb, 0);
    WaveOut_WriteTarget(out.data(), cb, stereo);
    return out;
  }
};

TEST_F(Mixing, ScalingTruncatesTowardZero) {
  Mix(0, {131, 126});
  Mix(0, {130, 126});
  EXPECT_EQ(WaveOutMix.cVolWanted, 3);
  EXPECT_EQ(WaveOutMix.cVolCurrent, 5);
  // +5 * 3 / 5 = 3; -4 * 3 / 5 = -2.4, so -2.
  EXPECT_EQ(Target(3, 0), (Bytes{131, 126, 128}));
}

TEST_F(Mixing, APeakThatWouldPassFullScaleIsHeldAt255) {
  Mix(0, {255, 128});
  Mix(0, {255, 0});
  EXPECT_EQ(WaveOutMix.cVolWanted, 128);
  EXPECT_EQ(WaveOutMix.cVolCurrent, 254);
  // +254 * 128 / 254 = 128 would wrap to 0.
  EXPECT_EQ(Target(2, 0), (Bytes{255, 64}));
}

TEST_F(Mixing, AccumulatorsSaturateInsteadOfWrapping) {
  for (int i = 0; i < 300; i++) Mix(0, {255});
  EXPECT_EQ(WaveOutMix.aLeft[0], 32767);
  EXPECT_EQ(Target(1, 0), Bytes{255});
}

TEST_F(Mixing, StereoSourcesKeepTheirSidesAndSilenceStaysSilent) {
  EXPECT_EQ(Target(4, 1), Bytes(4, 128));  // nothing mixed
  Mix(2, {200, 100, 150, 128}, 1);
  EXPECT_EQ(Target(8, 1), (Bytes{128, 128, 128, 128, 200, 100, 150, 128}));
  // The accumulators grow 128 samples at a time and are zeroed per buffer.
  EXPECT_EQ(WaveOutMix.cLeft, 131u);
  WaveOut_ClearMix();
  EXPECT_EQ(WaveOutMix.aLeft[2], 0);
}

TEST_F(Mixing, ReadingASourceStopsAtItsEndOrWrapsWhenLooped) {
  const Bytes data = {1, 2, 3, 4, 5, 6, 7};
  WAVEOUTSOURCE src{};
  src.fStereo = 1;
  src.abData = data.data();
  src.cbData = 7;
  const BYTE* p;
  unsigned cb;
  EXPECT_EQ(WaveOut_ReadSource(&src, &p, &cb, 2), 2u);
  EXPECT_EQ(p, data.data());
  EXPECT_EQ(cb, 4u);
  EXPECT_EQ(WaveOut_ReadSource(&src, &p, &cb, 5), 1u);  // one whole frame left
  EXPECT_EQ(p, data.data() + 4);
  EXPECT_EQ(src.ibRead, 7u);
  EXPECT_EQ(WaveOut_ReadSource(&src, &p, &cb, 5), 0u);
  EXPECT_EQ(p, nullptr);
  src.fLoop = 1;
  src.ibRead = 4;
  EXPECT_EQ(WaveOut_ReadSource(&src, &p, &cb, 5), 1u);
  EXPECT_EQ(src.ibRead, 0u);
}

// The sound table.
TEST_F(Mixer, LoadSoundFromMemoryTakesOnlyIds100To127AndSoundsThatCanPlay) {
  const Bytes image = Wave(1, 1, 22050, 8, Tone(400, 30));
  const auto size = static_cast<unsigned>(image.size());
  ASSERT_EQ(LoadSoundFromMemory(image.data(), size, 100), 1);
  ASSERT_EQ(LoadSoundFromMemory(image.data(), size, 127), 1);
  SOUND* first = WavFiles[0];
  SOUND* last = WavFiles[27];
  const int sounds = LiveBlocks("SOUND");
  EXPECT_EQ(LoadSoundFromMemory(image.data(), size, 99), 0);
  EXPECT_EQ(LoadSoundFromMemory(image.data(), size, 128), 0);
  Bytes bad = image;
  bad[8] = 'X';
  EXPECT_EQ(LoadSoundFromMemory(bad.data(), size, 100), 0);
  EXPECT_EQ(WavFiles[0], first);
  EXPECT_EQ(WavFiles[27], last);
  EXPECT_EQ(LiveBlocks("SOUND"), sounds);
  // Replacing a slot releases the sound it held.
  ASSERT_EQ(LoadSoundFromMemory(image.data(), size, 100), 1);
  EXPECT_NE(WavFiles[0], nullptr);
  EXPECT_EQ(LiveBlocks("SOUND"), sounds);
}

TEST_F(Mixer, TableSoundsPlayUnlessMutedAndALoopCanBeStoppedWhileMuted) {
  AddDevice();
  const Bytes image = Wave(1, 1, 22050, 8, Tone(5000, 30));
  ASSERT_EQ(LoadSoundFromMemory(image.data(), static_cast<unsigned>(image.size()), 105), 1);
  Muted = 1;
  PlayPreloadedSound(105);
  PlayLoopedSound(105);
  EXPECT_FALSE(WavFiles[5]->IsPlaying());
  EXPECT_EQ(WaveOut_IsRunning(), 0);
  Muted = 0;
  PlayLoopedSound(105);
  EXPECT_TRUE(WavFiles[5]->IsPlaying());
  EXPECT_EQ(WavFiles[5]->fLooped, 1);
  Muted = 1;
  StopLoopedSound(105);
  EXPECT_FALSE(WavFiles[5]->IsPlaying());
  Muted = 0;
  PlayPreloadedSound(105);
  EXPECT_TRUE(WavFiles[5]->IsPlaying());
  EXPECT_EQ(WavFiles[5]->fLooped, 0);
  for (int id : {0, 99, 106, 128, -1}) {  // ids out of range or empty slots
    PlayPreloadedSound(id);
    PlayLoopedSound(id);
    StopLoopedSound(id);
  }
}

TEST_F(Mixer, PlayMakesAPassingSoundUnlessMuted) {
  AddDevice();
  testing_support::TempDir dir;
  const Bytes tone = Tone(600, 45);
  testing_support::WriteFile(dir.File("POP.WAV"), Wave(1, 1, 22050, 8, tone));
  Muted = 1;
  play(dir.File("POP.WAV").c_str());
  EXPECT_EQ(WaveOut_IsRunning(), 0);
  Muted = 0;
  play(dir.File("MISSING.WAV").c_str());
  play(nullptr, "NO_SUCH_SOUND");
  EXPECT_EQ(LiveBlocks("SOUND"), m_SoundsBefore);
  play(dir.File("POP.WAV").c_str());
  const Bytes played = PlayedAtLeast(2 * tone.size() + kBuf);
  EXPECT_EQ(Bytes(played.begin(), played.begin() + 2 * tone.size()), Doubled(tone));
  EXPECT_TRUE(RunUntil([&] { return LiveBlocks("SOUND") == m_SoundsBefore; }));
}

#if ZELVARO_POCKET
TEST_F(Mixer, TheHandheldPutsBackTheVolumeItFoundAtStart) {
  const auto mapper = reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER));
  waveOutSetVolume(mapper, 0x11112222);
  InitSound();
  WaveOut_SetVolume(0x4000);
  ExitSound();
  DWORD v = 0;
  waveOutGetVolume(mapper, &v);
  EXPECT_EQ(v, 0x11112222u);
  waveOutSetVolume(mapper, 0xFFFFFFFF);
}
#else
TEST_F(Mixer, TheDesktopLeavesTheVolumeAtExit) {
  const auto mapper = reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER));
  waveOutSetVolume(mapper, 0x11112222);
  InitSound();
  EXPECT_EQ(Volume, 0);  // 0x2222 / 13107
  WaveOut_SetVolume(0x4000);
  ExitSound();
  DWORD v = 0;
  waveOutGetVolume(mapper, &v);
  EXPECT_EQ(v, 0x40004000u);
  waveOutSetVolume(mapper, 0xFFFFFFFF);
}

TEST_F(Mixer, PreLoadSoundsLoadsTheLevelsFilesAndLeavesMissingOnesEmptyUnreported) {
  testing_support::TempDir dir;
  std::filesystem::create_directories(dir.File("LEVEL03/SOUND"));
  const Bytes tone = Tone(300, 20);
  testing_support::WriteFile(dir.File("LEVEL03/SOUND/CLICK.WAV"), Wave(1, 1, 22050, 8, tone));
  testing_support::WriteFile(dir.File("LEVEL03/SOUND/FANFARE.WAV"),
                             Wave(1, 2, 44100, 16, Bytes(400, 0)));
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  PreLoadSounds(3);
  std::filesystem::current_path(home);
  for (int i = 0; i < kSoundCount; i++) ASSERT_NE(WavFiles[i], nullptr) << i;
  EXPECT_TRUE(WavFiles[0]->CanPlay());
  EXPECT_EQ(Bytes(WavFiles[0]->abSignal, WavFiles[0]->abSignal + WavFiles[0]->cbSignal), tone);
  EXPECT_TRUE(WavFiles[27]->CanPlay());
  for (int i = 1; i < 27; i++) EXPECT_FALSE(WavFiles[i]->CanPlay()) << i;
  EXPECT_TRUE(headless::MessageBoxes().empty());
  EXPECT_EQ(LiveBlocks("SOUND"), m_SoundsBefore + kSoundCount);
  // Loading again replaces the table.
  LoadSounds(4);
  EXPECT_EQ(LiveBlocks("SOUND"), m_SoundsBefore + kSoundCount);
  EXPECT_FALSE(WavFiles[0]->CanPlay());
}

TEST(SoundTable, OnlyIds100To127HaveFileNames) {
  EXPECT_STREQ(SoundIDToFileName(100), "CLICK.WAV");
  EXPECT_STREQ(SoundIDToFileName(127), "FANFARE.WAV");
  EXPECT_EQ(SoundIDToFileName(99), nullptr);
  EXPECT_EQ(SoundIDToFileName(128), nullptr);
}
#endif

}  // namespace

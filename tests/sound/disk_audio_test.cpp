// The mixer through the real SDL backend with SDL's disk audio driver,
// which writes what the device plays to a file: the start opens nothing, a
// generated sound arrives in the file byte for byte, and the end leaves no
// thread behind. Each run is a child process, since SDL picks its driver
// from the environment once per process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/services/backend.h"
#include "sound_check.h"
#include "support/wav.h"

namespace {

using namespace soundtest;

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

size_t SoundBytesIn(const std::string& path) {
  size_t n = 0;
  for (unsigned char b : testing_support::ReadFile(path)) n += b != 128;
  return n;
}

// The child's part; its exit code says which step failed.
[[noreturn]] void PlayThroughTheDiskDriver(const std::string& out, const Bytes& tone) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
  std::string error;
  if (!platform::SelectBackend("sdl", &error)) _exit(10);
  const int tasks = TaskCount();
  InitSound();
  if (TaskCount() != tasks || WaveOut_IsRunning()) _exit(11);
  if (Exists(out)) _exit(12);  // the driver makes its file when the device opens

  SOUND* s = MonoSound(tone);
  if (!s->CanPlay() || s->Play(PLAY_ONCE) != 1) _exit(13);
  if (!WaveOut_IsOpen() || !Exists(out)) _exit(14);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (s->IsPlaying() || SoundBytesIn(out) < 2 * tone.size()) {
    if (std::chrono::steady_clock::now() > deadline) _exit(15);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  delete s;
  ExitSound();
  if (WaveOut_IsRunning()) _exit(16);
  // The SDL backend's calls into SDL run on short-lived threads of their own,
  // which end just after answering: they may still be ending here.
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (TaskCount() != tasks) {
    if (std::chrono::steady_clock::now() > deadline) _exit(17);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  _exit(0);
}

TEST(SdlDiskAudio, AGeneratedSoundReachesTheDriversFileByteForByte) {
  testing_support::TempDir dir;
  const std::string out = dir.File("played.raw");
  const Bytes tone = Tone(11025, 90, 41);  // half a second, never 128
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) PlayThroughTheDiskDriver(out, tone);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
  ASSERT_EQ(WEXITSTATUS(status), 0) << "child failed at step " << WEXITSTATUS(status);

  // The device plays stereo U8: each sample on both sides, with silence
  // around the sound (before the first buffer, after the last, and in any
  // gap the machine's load made).
  const Bytes written = testing_support::ReadFile(out);
  EXPECT_EQ(written.size() % 2, 0u);
  Bytes sound;
  for (unsigned char b : written)
    if (b != 128) sound.push_back(b);
  EXPECT_EQ(sound, Doubled(tone));
}

}  // namespace

// The headless backend's own promises: Sleep returns only once other
// message loops have caught up, the device list of ZELVARO_HEADLESS_CAPTURE,
// and recordings played into a scripted microphone.
#include "support/headless.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/winapi/mmsystem.h"
#include "support/wav.h"

namespace {

using namespace testing_support;
using Headless = HeadlessTest;

std::atomic<int> g_Handled{0};

DWORD WINAPI SlowLoop(LPVOID) {
  MSG m;
  while (GetMessage(&m, nullptr, 0, 0)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    g_Handled++;
  }
  return 0;
}

TEST_F(Headless, SleepReturnsOnlyWhenOtherLoopsHaveHandledTheirMessages) {
  g_Handled = 0;
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, SlowLoop, nullptr, 0, &id);
  for (int i = 0; i < 5; i++) PostThreadMessage(id, WM_APP, 0, 0);
  Sleep(1);
  EXPECT_EQ(g_Handled, 5);
  for (int i = 0; i < 3; i++) PostThreadMessage(id, WM_APP, 0, 0);
  EXPECT_TRUE(headless::WaitUntilMessagesHandled());
  EXPECT_EQ(g_Handled, 8);
  PostThreadMessage(id, WM_QUIT, 0, 0);
  EXPECT_EQ(WaitForSingleObject(t, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(t);
}

TEST_F(Headless, CaptureDeviceListsParseAndBadOnesSayWhatIsWrong) {
  TempDir dir;
  std::string wav = dir.File("guitar.wav");
  WriteFile(wav, WaveImage(Sine(110, 0.5, 44100, 1.0), 1, 44100, 16));
  std::vector<headless::CaptureScript> scripts;
  std::string error;
  ASSERT_TRUE(headless::ParseCaptureScripts(
      "tone=440,amp=0.8;silence,name=Quiet room;wav=" + wav + ",vanish=0.5,short=100,fail",
      &scripts, &error))
      << error;
  ASSERT_EQ(scripts.size(), 3u);
  EXPECT_EQ(scripts[0].Name, "Scripted tone 440 Hz");
  EXPECT_EQ(scripts[1].Name, "Quiet room");
  EXPECT_EQ(scripts[2].Name, "Scripted recording guitar.wav");
  EXPECT_DOUBLE_EQ(scripts[2].VanishAfterSeconds, 0.5);
  EXPECT_EQ(scripts[2].ShortBlockBytes, 100u);
  EXPECT_TRUE(scripts[2].FailOpen);
  EXPECT_FALSE(scripts[0].FailOpen);

  for (std::string bad :
       std::vector<std::string>{"tone=abc", "drum=1", "tone=440,amp=2", "tone=440,volume=1",
                                "wav=" + dir.File("missing.wav"), "silence=3"}) {
    EXPECT_FALSE(headless::ParseCaptureScripts(bad, &scripts, &error)) << bad;
    EXPECT_NE(error.find(bad.substr(bad.find_last_of(",/") + 1)), std::string::npos) << error;
  }
}

TEST_F(Headless, ARecordingPlayedIntoTheMicrophoneArrivesConvertedAndThenVanishes) {
  TempDir dir;
  std::string wav = dir.File("a.wav");
  // 0.25 s of a square wave at 44.1 kHz stereo: +0.5, -0.5 in 100-sample runs.
  std::vector<double> samples;
  for (int i = 0; i < 11025; i++) {
    double v = (i / 100) % 2 ? -0.5 : 0.5;
    samples.push_back(v);
    samples.push_back(v);
  }
  WriteFile(wav, WaveImage(samples, 2, 44100, 16));
  headless::CaptureScript script;
  std::string error;
  ASSERT_TRUE(headless::WavScript(wav, &script, &error)) << error;
  headless::AddCaptureDevice(script);

  WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
  HWAVEIN h = nullptr;
  ASSERT_EQ(waveInOpen(&h, 0, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD), MMSYSERR_NOERROR);
  std::vector<char> data(4000);
  WAVEHDR hdr{};
  hdr.lpData = data.data();
  hdr.dwBufferLength = 4000;
  waveInPrepareHeader(h, &hdr, sizeof hdr);
  waveInAddBuffer(h, &hdr, sizeof hdr);
  waveInStart(h);
  Sleep(1000);
  MSG m;
  std::vector<UINT> got;
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) got.push_back(m.message);
  EXPECT_EQ(got, (std::vector<UINT>{MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_DEVICELOST}));
  EXPECT_EQ(hdr.dwBytesRecorded, 2000u);  // 0.25 s at 8000 Hz
  // The square wave's middle runs come through at about +-0.5 of full scale.
  auto at = [&](int i) { return static_cast<unsigned char>(data[static_cast<size_t>(i)]); };
  EXPECT_NEAR(at(9), 128 + 64, 8);
  EXPECT_NEAR(at(27), 128 - 64, 8);
  waveInReset(h);
  waveInUnprepareHeader(h, &hdr, sizeof hdr);
  waveInClose(h);
}

}  // namespace

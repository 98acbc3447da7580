// The headless backend (headless.h): virtual clock, scripted audio devices,
// recorded message boxes, injected events; its displays are in
// headless_display.cpp.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>

#include "platform/backends/headless/headless.h"
#include "platform/backends/headless/headless_display.h"
#include "platform/winapi/internal/win32_kernel.h"

namespace headless {
namespace {

using platform::StreamFormat;

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr auto kIdleTimeout = std::chrono::seconds(10);

struct SharedCaptureStats {
  std::atomic<int> Opens{0};
  std::atomic<uint64_t> Delivered{0};
  std::atomic<uint64_t> Dropped{0};
};

struct CaptureEntry {
  CaptureScript Script;
  std::shared_ptr<SharedCaptureStats> Stats = std::make_shared<SharedCaptureStats>();
};

struct PlayedAudio {
  std::mutex Mutex;
  std::vector<unsigned char> Bytes;
};

struct PlaybackEntry {
  PlaybackScript Script;
  std::shared_ptr<PlayedAudio> Played = std::make_shared<PlayedAudio>();
};

// Something the virtual clock drives: a device that acts every period.
class Timed {
 public:
  virtual ~Timed() = default;
  virtual uint64_t NextDue() = 0;  // kNever when it has nothing more to do
  virtual void Fire(uint64_t now) = 0;
};

uint64_t BytesAt(const StreamFormat& f, uint64_t elapsedMs) {
  return elapsedMs * static_cast<uint64_t>(f.Rate) / 1000 * static_cast<uint64_t>(f.FrameBytes());
}

uint64_t VanishBytes(const StreamFormat& f, double seconds) {
  if (seconds < 0) return kNever;
  auto frames = static_cast<uint64_t>(seconds * f.Rate);
  return frames * static_cast<uint64_t>(f.FrameBytes());
}

// A device that moves audio at the pace of the virtual clock: every period
// it hands on what the time since opening amounts to, up to the end of its
// script, and then reports itself lost. The devices call their sink while
// holding their own (recursive) lock, so Stop and destruction wait for a
// delivery in progress, and a completion function that stops the device
// from inside a delivery does not deadlock.
class PacedDevice : public Timed {
 public:
  PacedDevice(const StreamFormat& format, unsigned periodMs, uint64_t end, uint64_t now)
      : m_Format(format),
        m_PeriodMs(periodMs),
        m_OpenedAt(now),
        m_Due(now + periodMs),
        m_End(end) {}

  uint64_t NextDue() override {
    std::lock_guard<std::recursive_mutex> lk(Mutex);
    return m_Closed || m_Lost ? kNever : m_Due;
  }

  void Fire(uint64_t now) override {
    std::lock_guard<std::recursive_mutex> lk(Mutex);
    if (m_Closed || m_Lost || now < m_Due) return;
    uint64_t until = std::min(BytesAt(m_Format, now - m_OpenedAt), m_End);
    if (until > m_Moved) {
      Move(m_Moved, until - m_Moved);
      m_Moved = until;
    }
    m_Due += m_PeriodMs;
    if (m_Moved >= m_End) {
      m_Lost = true;
      Lost();
    }
  }

  void Close() {
    std::lock_guard<std::recursive_mutex> lk(Mutex);
    m_Closed = true;
  }

  // Whether the device hands its audio on; a playback device plays from the
  // open, so only capture devices take notice.
  virtual void SetStarted(bool) {}

  std::recursive_mutex Mutex;

 protected:
  // Hands on `bytes` bytes of audio, the first being byte `at` of the
  // stream; the lock is held.
  virtual void Move(uint64_t at, uint64_t bytes) = 0;
  virtual void Lost() = 0;

  StreamFormat m_Format;

 private:
  unsigned m_PeriodMs;
  uint64_t m_OpenedAt;
  uint64_t m_Due;
  uint64_t m_End;
  uint64_t m_Moved = 0;
  bool m_Closed = false;
  bool m_Lost = false;
};

class CaptureCore : public PacedDevice {
 public:
  CaptureCore(const CaptureScript& script, const StreamFormat& format, platform::CaptureSink& sink,
              std::shared_ptr<SharedCaptureStats> stats, uint64_t now)
      : PacedDevice(format, script.PeriodMs, End(script, format), now),
        m_Script(script),
        m_Sink(sink),
        m_Stats(std::move(stats)),
        m_StallAt(VanishBytes(format, script.StallAfterSeconds)) {}

  void SetStarted(bool started) override {
    std::lock_guard<std::recursive_mutex> lk(Mutex);
    m_Started = started;
  }

 private:
  static uint64_t End(const CaptureScript& script, const StreamFormat& format) {
    uint64_t end = VanishBytes(format, script.VanishAfterSeconds);
    return script.Length ? std::min(end, script.Length(format)) : end;
  }

  void Move(uint64_t at, uint64_t bytes) override {
    if (at >= m_StallAt) return;
    bytes = std::min(bytes, m_StallAt - at);
    std::vector<unsigned char> buf(bytes);
    if (m_Script.Fill) m_Script.Fill(m_Format, at, buf.data(), buf.size());
    if (m_Started) Deliver(buf);
  }

  void Lost() override { m_Sink.DeviceLost(); }

  void Deliver(const std::vector<unsigned char>& buf) {
    const size_t shortBlock = m_Script.ShortBlockBytes;
    size_t pos = 0;
    while (pos < buf.size()) {
      size_t chunk = buf.size() - pos;
      if (shortBlock) chunk = std::min(chunk, shortBlock - m_InBlock);
      size_t taken = m_Sink.Captured(buf.data() + pos, chunk);
      m_Stats->Delivered += chunk;
      m_Stats->Dropped += chunk - taken;
      pos += chunk;
      if (shortBlock) {
        m_InBlock += chunk;
        if (m_InBlock == shortBlock) {
          m_Sink.EndBlock();
          m_InBlock = 0;
        }
      }
    }
  }

  CaptureScript m_Script;
  platform::CaptureSink& m_Sink;
  std::shared_ptr<SharedCaptureStats> m_Stats;
  uint64_t m_StallAt;  // nothing is delivered from this byte on
  size_t m_InBlock = 0;
  bool m_Started = false;
};

class PlaybackCore : public PacedDevice {
 public:
  PlaybackCore(const PlaybackScript& script, const StreamFormat& format,
               platform::PlaybackSource& source, std::shared_ptr<PlayedAudio> played, uint64_t now)
      : PacedDevice(format, script.PeriodMs, VanishBytes(format, script.VanishAfterSeconds), now),
        m_Source(source),
        m_Played(std::move(played)) {}

 private:
  void Move(uint64_t, uint64_t bytes) override {
    std::vector<unsigned char> buf(bytes, m_Format.SilenceByte());
    size_t got = m_Source.Render(buf.data(), buf.size());
    std::lock_guard<std::mutex> plk(m_Played->Mutex);
    m_Played->Bytes.insert(m_Played->Bytes.end(), buf.begin(),
                           buf.begin() + static_cast<long>(got));
  }

  void Lost() override { m_Source.DeviceLost(); }

  platform::PlaybackSource& m_Source;
  std::shared_ptr<PlayedAudio> m_Played;
};

struct Injected {
  bool Quit = false;
  MSG Msg{};
};

class Headless : public platform::Backend {
 public:
  Headless() { ResetDevices(); }
  const char* Name() const override { return "headless"; }
  std::string SetupProblem() override {
    std::lock_guard<std::mutex> lk(m_Mutex);
    return m_SetupProblem;
  }

  uint32_t Milliseconds() override { return static_cast<uint32_t>(m_Now.load()); }

  void Sleep(uint32_t milliseconds) override {
    std::lock_guard<std::recursive_mutex> advance(m_Advance);
    const uint64_t target = m_Now.load() + milliseconds;
    for (;;) {
      std::shared_ptr<Timed> next;
      uint64_t due = kNever;
      {
        std::lock_guard<std::mutex> lk(m_Mutex);
        for (auto& t : m_Timed) {
          uint64_t d = t->NextDue();
          if (d < due) {
            due = d;
            next = t;
          }
        }
      }
      if (!next || due > target) break;
      if (due > m_Now.load()) m_Now.store(due);
      next->Fire(due);
      WaitIdle();
    }
    m_Now.store(target);
    if (milliseconds == 0) sched_yield();
    WaitIdle();
  }

  int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) override {
    {
      std::lock_guard<std::mutex> lk(m_Mutex);
      m_Boxes.push_back({text, caption, type});
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    const int scripted = m_Answer.load();
    for (int id : platform::MessageBoxButtons(type))
      if (id == scripted) return scripted;
    return platform::DefaultMessageBoxAnswer(type);
  }

  void PumpEvents(platform::EventSink& sink) override {
    std::deque<Injected> events;
    {
      std::lock_guard<std::mutex> lk(m_Mutex);
      events.swap(m_Events);
    }
    for (const Injected& e : events) {
      if (e.Quit)
        sink.QuitRequested();
      else
        sink.PostWindowMessage(e.Msg.hwnd, e.Msg.message, e.Msg.wParam, e.Msg.lParam);
    }
  }

  int AudioDeviceCount(platform::AudioDirection direction, std::string* why) override {
    std::lock_guard<std::mutex> lk(m_Mutex);
    size_t n =
        direction == platform::AudioDirection::Capture ? m_Capture.size() : m_Playback.size();
    if (n == 0) {
      if (why)
        *why = direction == platform::AudioDirection::Capture
                   ? "no scripted capture device (ZELVARO_HEADLESS_CAPTURE is empty)"
                   : "no scripted playback device";
      return 0;
    }
    return static_cast<int>(n) + 1;
  }

  std::string AudioDeviceName(platform::AudioDirection direction, int id) override {
    std::lock_guard<std::mutex> lk(m_Mutex);
    bool capture = direction == platform::AudioDirection::Capture;
    size_t n = capture ? m_Capture.size() : m_Playback.size();
    if (id < 0 || n == 0 || static_cast<size_t>(id) > n) return "";
    size_t index = id == 0 ? 0 : static_cast<size_t>(id) - 1;
    std::string name = capture ? m_Capture[index].Script.Name : m_Playback[index].Script.Name;
    return id == 0 ? "Default device (" + name + ")" : name;
  }

  std::unique_ptr<platform::AudioStream> OpenCapture(int id, const StreamFormat& format,
                                                     platform::CaptureSink& sink,
                                                     std::string* error) override;
  std::unique_ptr<platform::AudioStream> OpenPlayback(int id, const StreamFormat& format,
                                                      platform::PlaybackSource& source,
                                                      std::string* error) override;
  // What the two open the same way: scripted device `id` (0 and 1 both the
  // first) of `devices`, refused as its script says or for a format it does
  // not take (`does`: "record" or "play"), else the core `make` builds for
  // it, on the clock.
  template <typename Entry, typename Make>
  std::unique_ptr<platform::AudioStream> OpenScripted(std::vector<Entry>& devices, int id,
                                                      const StreamFormat& format, const char* does,
                                                      std::string* error, Make make);
  // Puts an opened device on the clock and hands it out (m_Mutex held).
  std::unique_ptr<platform::AudioStream> OnTheClock(std::shared_ptr<PacedDevice> device);

  std::unique_ptr<platform::AudioStream> OpenGeneratedCapture(const StreamFormat& format,
                                                              platform::CaptureGenerator generate,
                                                              platform::CaptureSink& sink,
                                                              std::string* error) override;

  bool ScreenSize(int* width, int* height) override {
    *width = display::kScreenWidth;
    *height = display::kScreenHeight;
    return true;
  }
  bool OpenDisplay(HWND hwnd, const platform::DisplayRequest& request,
                   platform::DisplayLayout* layout, std::string* error) override {
    return display::Open(hwnd, request, layout, error);
  }
  void CloseDisplay(HWND hwnd) override { display::Close(hwnd); }
  bool HasDisplay(HWND hwnd) override { return display::IsOpen(hwnd); }
  bool PresentDisplay(HWND hwnd, const uint16_t* rect, int pitch, int x, int y, int w,
                      int h) override {
    return display::Present(hwnd, rect, pitch, x, y, w, h);
  }
  void* BeginDisplayFrame(HWND hwnd) override { return display::BeginFrame(hwnd); }
  void EndDisplayFrame(HWND hwnd) override { display::EndFrame(hwnd); }
  void SetGameKeys(HWND hwnd, bool on) override { display::SetGameKeys(hwnd, on); }
  void HoldDisplayAwake(bool on) override { m_Awake = on; }
  void ResetIdleTimer() override { m_IdleResets++; }
  bool HeldAwake() const { return m_Awake; }
  uint64_t IdleResets() const { return m_IdleResets; }
  void ForgetPower() {
    m_Awake = false;
    m_IdleResets = 0;
  }
  void RaiseDisplay(HWND hwnd) override { display::Raise(hwnd); }
  void MinimiseDisplay(HWND hwnd) override { display::Minimise(hwnd); }

  void Forget(const std::shared_ptr<Timed>& t) {
    std::lock_guard<std::mutex> lk(m_Mutex);
    m_Timed.erase(std::remove(m_Timed.begin(), m_Timed.end(), t), m_Timed.end());
    m_OpenStreams--;
  }

  // Test interface (headless.h)
  bool ResetDevices();
  bool RemoveDevices() {
    std::lock_guard<std::mutex> lk(m_Mutex);
    if (m_OpenStreams > 0) return false;
    m_Capture.clear();
    m_Playback.clear();
    return true;
  }
  int AddCapture(CaptureScript script) {
    std::lock_guard<std::mutex> lk(m_Mutex);
    m_Capture.push_back(CaptureEntry{std::move(script)});
    return static_cast<int>(m_Capture.size());
  }
  int AddPlayback(PlaybackScript script) {
    std::lock_guard<std::mutex> lk(m_Mutex);
    m_Playback.push_back(PlaybackEntry{std::move(script)});
    return static_cast<int>(m_Playback.size());
  }
  CaptureStats StatsOf(int id) {
    std::lock_guard<std::mutex> lk(m_Mutex);
    CaptureStats s;
    if (id < 0 || m_Capture.empty() || static_cast<size_t>(id) > m_Capture.size()) return s;
    auto& st = *m_Capture[id == 0 ? 0 : static_cast<size_t>(id) - 1].Stats;
    s.Opens = st.Opens.load();
    s.Delivered = st.Delivered.load();
    s.Dropped = st.Dropped.load();
    return s;
  }
  std::vector<unsigned char> PlayedBy(int id) {
    std::shared_ptr<PlayedAudio> played;
    {
      std::lock_guard<std::mutex> lk(m_Mutex);
      if (id < 0 || m_Playback.empty() || static_cast<size_t>(id) > m_Playback.size()) return {};
      played = m_Playback[id == 0 ? 0 : static_cast<size_t>(id) - 1].Played;
    }
    std::lock_guard<std::mutex> lk(played->Mutex);
    return played->Bytes;
  }
  std::vector<RecordedMessageBox> Boxes() {
    std::lock_guard<std::mutex> lk(m_Mutex);
    return m_Boxes;
  }
  void SetAnswer(int id) { m_Answer.store(id); }
  void Inject(const Injected& e) {
    std::lock_guard<std::mutex> lk(m_Mutex);
    m_Events.push_back(e);
  }
  uint64_t Now() const { return m_Now.load(); }
  int OpenStreams() {
    std::lock_guard<std::mutex> lk(m_Mutex);
    return m_OpenStreams;
  }

 private:
  void WaitIdle() {
    if (!platform::kernel::WaitForOtherThreadsIdle(kIdleTimeout) && !m_WarnedBusy.exchange(true))
      std::fprintf(stderr,
                   "headless: a message loop thread stayed busy for 10 s; the clock goes on\n");
  }

  std::mutex m_Mutex;
  std::vector<CaptureEntry> m_Capture;
  std::vector<PlaybackEntry> m_Playback;
  std::vector<std::shared_ptr<Timed>> m_Timed;
  int m_OpenStreams = 0;
  std::vector<RecordedMessageBox> m_Boxes;
  std::atomic<int> m_Answer{0};  // scripted answer; 0: the default button
  std::deque<Injected> m_Events;
  std::atomic<uint64_t> m_Now{0};
  std::atomic<bool> m_WarnedBusy{false};
  std::atomic<bool> m_Awake{false};
  std::string m_SetupProblem;  // why ZELVARO_HEADLESS_CAPTURE gave no devices
  std::atomic<uint64_t> m_IdleResets{0};
  std::recursive_mutex m_Advance;
};

Headless& TheHeadless() {
  static Headless* h = new Headless;
  return *h;
}

// A scripted device handed out as a stream; closing the stream takes the
// device off the clock.
class PacedStream : public platform::AudioStream {
 public:
  explicit PacedStream(std::shared_ptr<PacedDevice> device) : m_Device(std::move(device)) {}
  ~PacedStream() override {
    m_Device->Close();
    TheHeadless().Forget(m_Device);
  }
  void Start() override { m_Device->SetStarted(true); }
  void Stop() override { m_Device->SetStarted(false); }

 private:
  std::shared_ptr<PacedDevice> m_Device;
};

std::unique_ptr<platform::AudioStream> Headless::OnTheClock(std::shared_ptr<PacedDevice> device) {
  m_Timed.push_back(device);
  m_OpenStreams++;
  return std::make_unique<PacedStream>(std::move(device));
}

template <typename Entry, typename Make>
std::unique_ptr<platform::AudioStream> Headless::OpenScripted(std::vector<Entry>& devices, int id,
                                                              const StreamFormat& format,
                                                              const char* does, std::string* error,
                                                              Make make) {
  std::lock_guard<std::mutex> lk(m_Mutex);
  std::string refusal;
  if (id < 0 || devices.empty() || static_cast<size_t>(id) > devices.size()) {
    refusal = "no such scripted device";
  } else {
    Entry& e = devices[id == 0 ? 0 : static_cast<size_t>(id) - 1];
    if (e.Script.FailOpen) {
      refusal = e.Script.FailReason;
    } else if (e.Script.Accepts && !e.Script.Accepts(format)) {
      refusal = std::string("the scripted device does not ") + does + " that format";
    } else {
      return OnTheClock(make(e));
    }
  }
  if (error) *error = refusal;
  return nullptr;
}

std::unique_ptr<platform::AudioStream> Headless::OpenCapture(int id, const StreamFormat& format,
                                                             platform::CaptureSink& sink,
                                                             std::string* error) {
  return OpenScripted(m_Capture, id, format, "record", error, [&](CaptureEntry& e) {
    e.Stats->Opens++;
    return std::make_shared<CaptureCore>(e.Script, format, sink, e.Stats, m_Now.load());
  });
}

std::unique_ptr<platform::AudioStream> Headless::OpenPlayback(int id, const StreamFormat& format,
                                                              platform::PlaybackSource& source,
                                                              std::string* error) {
  return OpenScripted(m_Playback, id, format, "play", error, [&](PlaybackEntry& e) {
    return std::make_shared<PlaybackCore>(e.Script, format, source, e.Played, m_Now.load());
  });
}

std::unique_ptr<platform::AudioStream> Headless::OpenGeneratedCapture(
    const StreamFormat& format, platform::CaptureGenerator generate, platform::CaptureSink& sink,
    std::string* error) {
  if (!generate || format.Rate <= 0 || format.FrameBytes() <= 0) {
    if (error) *error = "nothing to record";
    return nullptr;
  }
  CaptureScript script;
  script.Name = "Generated recording";
  script.Fill = std::move(generate);
  std::lock_guard<std::mutex> lk(m_Mutex);
  return OnTheClock(std::make_shared<CaptureCore>(
      script, format, sink, std::make_shared<SharedCaptureStats>(), m_Now.load()));
}

bool Headless::ResetDevices() {
  std::vector<CaptureScript> scripts;
  const char* env = std::getenv("ZELVARO_HEADLESS_CAPTURE");
  std::string error;
  if (env && *env && !ParseCaptureScripts(env, &scripts, &error)) scripts.clear();
  std::lock_guard<std::mutex> lk(m_Mutex);
  m_SetupProblem = error.empty() ? "" : "ZELVARO_HEADLESS_CAPTURE: " + error;
  m_Boxes.clear();
  m_Answer.store(0);
  m_Events.clear();
  if (m_OpenStreams > 0) return false;
  m_Capture.clear();
  for (auto& s : scripts) m_Capture.push_back(CaptureEntry{std::move(s)});
  m_Playback.clear();
  m_Playback.push_back(PlaybackEntry{PlaybackScript{}});
  return true;
}

}  // namespace

platform::Backend& TheBackend() { return TheHeadless(); }

void Use() {
  std::string error;
  if (!platform::SelectBackend("headless", &error)) {
    std::fprintf(stderr, "headless: %s\n", error.c_str());
    std::abort();
  }
}

void Reset() {
  display::Reset();
  TheHeadless().ForgetPower();
  if (!TheHeadless().ResetDevices())
    std::fprintf(stderr, "headless: devices kept: an audio device is still open\n");
}

void RemoveDevices() {
  if (!TheHeadless().RemoveDevices())
    std::fprintf(stderr, "headless: devices kept: an audio device is still open\n");
}

int AddCaptureDevice(CaptureScript script) { return TheHeadless().AddCapture(std::move(script)); }
int AddPlaybackDevice(PlaybackScript script) {
  return TheHeadless().AddPlayback(std::move(script));
}
CaptureStats CaptureStatsOf(int id) { return TheHeadless().StatsOf(id); }
int OpenDeviceCount() { return TheHeadless().OpenStreams(); }
std::vector<unsigned char> Played(int id) { return TheHeadless().PlayedBy(id); }
std::vector<RecordedMessageBox> MessageBoxes() { return TheHeadless().Boxes(); }
void AnswerMessageBoxes(int id) { TheHeadless().SetAnswer(id); }

void InjectQuit() {
  Injected e;
  e.Quit = true;
  TheHeadless().Inject(e);
}

void InjectWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Injected e;
  e.Msg = MSG{hwnd, message, wParam, lParam, 0, {0, 0}};
  TheHeadless().Inject(e);
}

bool InjectPointer(HWND hwnd, UINT message, WPARAM wParam, int x, int y) {
  LPARAM lParam = 0;
  if (!display::PointerAt(hwnd, x, y, &lParam)) return false;
  InjectWindowMessage(hwnd, message, wParam, lParam);
  return true;
}

uint64_t Now() { return TheHeadless().Now(); }

bool DisplayHeldAwake() { return TheHeadless().HeldAwake(); }
uint64_t IdleTimerResets() { return TheHeadless().IdleResets(); }

bool WaitUntilMessagesHandled(uint32_t timeoutMs) {
  return platform::kernel::WaitForOtherThreadsIdle(std::chrono::milliseconds(timeoutMs));
}

}  // namespace headless

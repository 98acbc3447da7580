// The real backend over SDL2: audio capture and playback (SDL converts to
// and from the hardware's format), generated capture devices on a thread of
// their own paced by the real clock, the monotonic clock, message boxes
// (SDL's where a display exists, standard error otherwise), the event pump
// (SDL_QUIT, and each display's input) and the displays (sdl_display.cpp).
//
// SDL's audio calls that may wait on the sound server (starting the audio
// system, listing, opening and closing devices) run one at a time on a
// thread of their own, and the caller waits a second at most: a server that
// is frozen, or one that never answers a new stream (PipeWire without its
// session manager), leaves the program running, never hung. A device still
// opening is handed out all the same and delivers once it opens; listing
// meanwhile answers from what the last listing found.
//
// SDL never installs signal handlers here: the message layer turns SIGINT
// and SIGTERM into requests to end. Monitors of output devices are listed
// as capture devices (PulseAudio hides them otherwise), so a sound playing
// on the computer can be tuned too; SDL_AUDIO_INCLUDE_MONITORS=0 hides them.
#include "platform/backends/sdl/sdl_backend.h"

#include <SDL.h>
#include <dlfcn.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/backends/sdl/sdl_display.h"

namespace platform {
namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// ALSA reports a missing sound card on standard error, many lines at a
// time, while SDL probes it; the reason SDL gives is enough.
void QuietAlsa() {
  using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
  void* lib = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
  if (!lib) return;
  auto set = reinterpret_cast<int (*)(Handler)>(dlsym(lib, "snd_lib_error_set_handler"));
  if (set) set(&IgnoreAlsaError);
}

bool HasScreen() {
  const char* x = std::getenv("DISPLAY");
  const char* wl = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wl && *wl);
}

// What an SDL device shares with the stream that asked for it: the device
// may open after the stream stopped waiting, and close after the stream has
// gone. SDL's callback gets the slot, which outlives the device; once the
// stream has gone the callback does nothing. The lock is never held while
// calling SDL: SDL holds the device's own lock around the callback, which
// takes this one.
struct DeviceSlot {
  std::mutex Mutex;
  AudioDirection Direction = AudioDirection::Capture;
  unsigned char Silence = 0;
  CaptureSink* Sink = nullptr;  // null once the stream has gone
  PlaybackSource* Source = nullptr;
  SDL_AudioDeviceID Device = 0;  // 0 until open (and once closed)
  bool Started = false;          // capture: the owner wants it recording
  bool Waiting = true;           // the opener's caller still waits for the outcome
  bool Finished = false;         // the opening has ended, well or not
  bool Lost = false;             // the callback's own
  std::string Error;             // why it did not open

  // Tells the owner, if still there, that the device has gone. Lock held.
  void TellLost() {
    if (Sink) Sink->DeviceLost();
    if (Source) Source->DeviceLost();
  }
};

// One SDL audio device, capture or playback.
class SdlStream : public AudioStream {
 public:
  explicit SdlStream(std::shared_ptr<DeviceSlot> slot) : m_Slot(std::move(slot)) {}
  ~SdlStream() override;
  void Start() override;
  void Stop() override;

  static void SDLCALL Callback(void* slot, Uint8* stream, int len);

 private:
  // Starts or pauses the device (one still opening starts when it comes).
  void SetStarted(bool started);

  std::shared_ptr<DeviceSlot> m_Slot;
};

// A generated recording delivered every 20 ms, as much as the real clock
// says has been recorded since the opening. The lock is held while the sink
// runs, so Stop and destruction wait for a delivery in progress; it is
// recursive because a completion function may stop the device from inside
// a delivery.
class GeneratedStream : public AudioStream {
 public:
  GeneratedStream(const StreamFormat& format, CaptureGenerator generate, CaptureSink& sink)
      : m_Format(format),
        m_Generate(std::move(generate)),
        m_Sink(sink),
        m_Opened(std::chrono::steady_clock::now()),
        m_Thread([this] { Run(); }) {}
  ~GeneratedStream() override {
    {
      std::lock_guard<std::recursive_mutex> lk(m_Mutex);
      m_End = true;
    }
    m_Wake.notify_all();
    m_Thread.join();
  }
  void Start() override {
    std::lock_guard<std::recursive_mutex> lk(m_Mutex);
    m_Started = true;
  }
  void Stop() override {
    std::lock_guard<std::recursive_mutex> lk(m_Mutex);
    m_Started = false;
  }

 private:
  void Run() {
    using namespace std::chrono;
    const uint64_t second = static_cast<uint64_t>(m_Format.BytesPerSecond());
    std::vector<unsigned char> buf;
    std::unique_lock<std::recursive_mutex> lk(m_Mutex);
    while (!m_End) {
      m_Wake.wait_for(lk, milliseconds(20), [&] { return m_End; });
      if (m_End) break;
      auto ms = static_cast<uint64_t>(
          duration_cast<milliseconds>(steady_clock::now() - m_Opened).count());
      uint64_t until = ms * static_cast<uint64_t>(m_Format.Rate) / 1000 *
                       static_cast<uint64_t>(m_Format.FrameBytes());
      if (until <= m_Produced) continue;
      // After a stall (the machine suspended) only the last second is made up.
      if (until - m_Produced > second) m_Produced = until - second;
      buf.resize(static_cast<size_t>(until - m_Produced));
      m_Generate(m_Format, m_Produced, buf.data(), buf.size());
      if (m_Started) m_Sink.Captured(buf.data(), buf.size());
      m_Produced = until;
    }
  }

  StreamFormat m_Format;
  CaptureGenerator m_Generate;
  CaptureSink& m_Sink;
  std::chrono::steady_clock::time_point m_Opened;
  std::recursive_mutex m_Mutex;
  std::condition_variable_any m_Wake;
  bool m_Started = false;
  bool m_End = false;
  uint64_t m_Produced = 0;
  std::thread m_Thread;  // last: it starts once everything above is ready
};

class Sdl : public Backend {
 public:
  Sdl() {
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
    SDL_SetHintWithPriority(SDL_HINT_AUDIO_INCLUDE_MONITORS, "1", SDL_HINT_DEFAULT);
    SDL_SetHintWithPriority(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Zelvaro", SDL_HINT_DEFAULT);
  }
  const char* Name() const override { return "sdl"; }

  uint32_t Milliseconds() override {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(ms);
  }

  void Sleep(uint32_t milliseconds) override {
    if (milliseconds == 0)
      sched_yield();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) override;
  void PumpEvents(EventSink& sink) override;

  int AudioDeviceCount(AudioDirection direction, std::string* why) override;
  std::string AudioDeviceName(AudioDirection direction, int id) override;
  std::unique_ptr<AudioStream> OpenCapture(int id, const StreamFormat& format, CaptureSink& sink,
                                           std::string* error) override;
  std::unique_ptr<AudioStream> OpenPlayback(int id, const StreamFormat& format,
                                            PlaybackSource& source, std::string* error) override;

  std::unique_ptr<AudioStream> OpenGeneratedCapture(const StreamFormat& format,
                                                    CaptureGenerator generate, CaptureSink& sink,
                                                    std::string* error) override {
    if (!generate || format.Rate <= 0 || format.FrameBytes() <= 0) {
      if (error) *error = "nothing to record";
      return nullptr;
    }
    return std::make_unique<GeneratedStream>(format, std::move(generate), sink);
  }

  bool ScreenSize(int* width, int* height) override { return sdl::ScreenSize(width, height); }
  bool OpenDisplay(HWND hwnd, const DisplayRequest& request, DisplayLayout* layout,
                   std::string* error) override {
    return sdl::OpenDisplay(hwnd, request, layout, error);
  }
  void CloseDisplay(HWND hwnd) override { sdl::CloseDisplay(hwnd); }
  bool HasDisplay(HWND hwnd) override { return sdl::HasDisplay(hwnd); }
  bool PresentDisplay(HWND hwnd, const uint16_t* rect, int pitch, int x, int y, int w,
                      int h) override {
    return sdl::PresentDisplay(hwnd, rect, pitch, x, y, w, h);
  }
  void* BeginDisplayFrame(HWND hwnd) override { return sdl::BeginDisplayFrame(hwnd); }
  void EndDisplayFrame(HWND hwnd) override { sdl::EndDisplayFrame(hwnd); }
  void SetGameKeys(HWND hwnd, bool on) override { sdl::SetGameKeys(hwnd, on); }
  void HoldDisplayAwake(bool on) override { sdl::HoldDisplayAwake(on); }
  void ResetIdleTimer() override { sdl::ResetIdleTimer(); }
  void RaiseDisplay(HWND hwnd) override { sdl::RaiseDisplay(hwnd); }
  void MinimiseDisplay(HWND hwnd) override { sdl::MinimiseDisplay(hwnd); }

  // How a call into SDL's audio went: done, still running after the wait
  // (it finishes on its own), or not started because another one runs.
  enum class Outcome { Done, Pending, Busy };
  // Runs `work` on a thread of its own, the only one in SDL's audio calls
  // (SDL does not guard opening, closing and listing against each other),
  // and waits for it up to `waitMs`. `work` must own what it uses.
  Outcome Run(std::function<void()> work, uint32_t waitMs);
  // Closes `device` of `slot` now, or once the call that runs has ended.
  void Close(SDL_AudioDeviceID device, std::shared_ptr<DeviceSlot> slot);

 private:
  // Inside Run only.
  bool EnsureAudio(std::string* why);
  void List();
  void CloseWaiting();
  std::unique_ptr<AudioStream> Open(AudioDirection direction, int id, const StreamFormat& format,
                                    CaptureSink* sink, PlaybackSource* source, std::string* error);

  // Guards everything below; the running call holds it only to read and
  // write them, never while it waits on SDL.
  std::mutex m_Mutex;
  std::condition_variable m_Ended;
  bool m_Running = false;
  uint64_t m_Runs = 0;  // calls ended so far
  bool m_AudioUp = false;
  std::string m_AudioError;
  // What the last listing found, per direction: the default device's name
  // (empty: none) and the named devices.
  struct Listing {
    bool Known = false;
    std::string Why;
    std::string Default;
    bool HasDefault = false;
    std::vector<std::string> Named;
  } m_Listed[2];
  std::vector<std::pair<SDL_AudioDeviceID, std::shared_ptr<DeviceSlot>>> m_ToClose;
  std::mutex m_BoxMutex;
};

// How long a caller waits for SDL's audio before going on without it.
constexpr uint32_t kAnswerMs = 1000;
constexpr uint32_t kCloseWaitMs = 250;

Sdl& TheSdl() {
  static Sdl* sdl = new Sdl;
  return *sdl;
}

Sdl::Outcome Sdl::Run(std::function<void()> work, uint32_t waitMs) {
  std::unique_lock<std::mutex> lk(m_Mutex);
  if (m_Running) return Outcome::Busy;
  m_Running = true;
  const uint64_t ticket = m_Runs + 1;
  std::thread([this, work = std::move(work)] {
    CloseWaiting();
    work();
    CloseWaiting();
    // SDL keeps per-thread data (its error text) for every thread that
    // calls it; a thread it did not make must give it back before it ends.
    SDL_TLSCleanup();
    std::lock_guard<std::mutex> done(m_Mutex);
    m_Running = false;
    m_Runs++;
    m_Ended.notify_all();
  }).detach();
  m_Ended.wait_for(lk, std::chrono::milliseconds(waitMs), [&] { return m_Runs >= ticket; });
  return m_Runs >= ticket ? Outcome::Done : Outcome::Pending;
}

void Sdl::Close(SDL_AudioDeviceID device, std::shared_ptr<DeviceSlot> slot) {
  {
    std::lock_guard<std::mutex> lk(m_Mutex);
    m_ToClose.emplace_back(device, std::move(slot));
  }
  // A call that runs closes it when it ends. Closing waits on the server
  // only when it is in trouble, so the wait is short: the device closes
  // later all the same.
  Run([] {}, kCloseWaitMs);
}

void Sdl::CloseWaiting() {
  for (;;) {
    std::pair<SDL_AudioDeviceID, std::shared_ptr<DeviceSlot>> next;
    {
      std::lock_guard<std::mutex> lk(m_Mutex);
      if (m_ToClose.empty()) return;
      next = std::move(m_ToClose.back());
      m_ToClose.pop_back();
    }
    SDL_CloseAudioDevice(next.first);
  }
}

bool Sdl::EnsureAudio(std::string* why) {
  {
    std::lock_guard<std::mutex> lk(m_Mutex);
    if (m_AudioUp) return true;
  }
  QuietAlsa();
  const bool up = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  std::lock_guard<std::mutex> lk(m_Mutex);
  m_AudioUp = up;
  m_AudioError = up ? "" : std::string("no audio driver could start (") + SDL_GetError() + ")";
  if (!up && why) *why = m_AudioError;
  return up;
}

void Sdl::List() {
  std::string why;
  const bool up = EnsureAudio(&why);
  Listing found[2];
  for (int capture = 0; capture < 2; capture++) {
    Listing& l = found[capture];
    l.Known = true;
    if (!up) {
      l.Why = why;
      continue;
    }
    const int named = SDL_GetNumAudioDevices(capture);
    for (int i = 0; i < named; i++) {
      const char* name = SDL_GetAudioDeviceName(i, capture);
      l.Named.push_back(name ? name : "");
    }
    char* name = nullptr;
    SDL_AudioSpec device_format;
    l.HasDefault = SDL_GetDefaultAudioInfo(&name, &device_format, capture) == 0;
    if (l.HasDefault && name) l.Default = name;
    SDL_free(name);
    if (l.Named.empty() && !l.HasDefault)
      l.Why = std::string("the ") + SDL_GetCurrentAudioDriver() + " audio driver found no " +
              (capture ? "capture" : "playback") + " device";
  }
  std::lock_guard<std::mutex> lk(m_Mutex);
  m_Listed[0] = std::move(found[0]);
  m_Listed[1] = std::move(found[1]);
}

int Sdl::AudioDeviceCount(AudioDirection direction, std::string* why) {
  // A listing that does not end in time leaves the last one's answer.
  const Outcome o = Run([this] { List(); }, kAnswerMs);
  std::lock_guard<std::mutex> lk(m_Mutex);
  const Listing& l = m_Listed[direction == AudioDirection::Capture];
  if (!l.Known || (l.Named.empty() && !l.HasDefault)) {
    if (why)
      *why = l.Known && o == Outcome::Done ? l.Why
                                           : "the sound system does not answer (is its server "
                                             "frozen, or busy with a device that does not?)";
    return 0;
  }
  return 1 + static_cast<int>(l.Named.size());
}

std::string Sdl::AudioDeviceName(AudioDirection direction, int id) {
  std::lock_guard<std::mutex> lk(m_Mutex);
  const Listing& l = m_Listed[direction == AudioDirection::Capture];
  if (id == 0) return l.Default.empty() ? "Default device" : "Default device (" + l.Default + ")";
  if (id < 1 || static_cast<size_t>(id) > l.Named.size()) return "";
  return l.Named[static_cast<size_t>(id) - 1];
}

std::unique_ptr<AudioStream> Sdl::OpenCapture(int id, const StreamFormat& format, CaptureSink& sink,
                                              std::string* error) {
  return Open(AudioDirection::Capture, id, format, &sink, nullptr, error);
}

std::unique_ptr<AudioStream> Sdl::OpenPlayback(int id, const StreamFormat& format,
                                               PlaybackSource& source, std::string* error) {
  return Open(AudioDirection::Playback, id, format, nullptr, &source, error);
}

std::unique_ptr<AudioStream> Sdl::Open(AudioDirection direction, int id, const StreamFormat& format,
                                       CaptureSink* sink, PlaybackSource* source,
                                       std::string* error) {
  auto slot = std::make_shared<DeviceSlot>();
  slot->Direction = direction;
  slot->Silence = format.SilenceByte();
  slot->Sink = sink;
  slot->Source = source;
  auto work = [this, slot, id, format] {
    std::string why;
    SDL_AudioDeviceID dev = 0;
    if (EnsureAudio(&why)) {
      const char* name = nullptr;
      if (id > 0) {
        name = SDL_GetAudioDeviceName(id - 1, slot->Direction == AudioDirection::Capture);
        if (!name) why = "the device is no longer there";
      }
      if (id == 0 || name) {
        SDL_AudioSpec want{}, have{};
        want.freq = format.Rate;
        want.format = format.Bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
        want.channels = static_cast<Uint8>(format.Channels);
        // About 25 ms per callback: a whole number of them fills a block of
        // the tuner's size in good time.
        Uint16 samples = 16;
        while (samples < 4096 && samples * 40 < format.Rate)
          samples = static_cast<Uint16>(samples * 2);
        want.samples = samples;
        want.callback = &SdlStream::Callback;
        want.userdata = slot.get();
        dev = SDL_OpenAudioDevice(name, slot->Direction == AudioDirection::Capture ? 1 : 0, &want,
                                  &have, 0);
        if (dev == 0) why = SDL_GetError();
      }
    }
    bool run = false, gone = false, tell = false;
    {
      std::lock_guard<std::mutex> lk(slot->Mutex);
      slot->Finished = true;
      slot->Error = why;
      gone = !slot->Sink && !slot->Source;
      if (dev != 0 && !gone) {
        slot->Device = dev;
        run = slot->Direction == AudioDirection::Playback || slot->Started;
      }
      // A caller that stopped waiting hears of a failure as a lost device.
      tell = dev == 0 && !slot->Waiting && !gone;
    }
    if (dev != 0 && gone) SDL_CloseAudioDevice(dev);
    if (run) SDL_PauseAudioDevice(dev, 0);
    if (tell) {
      std::lock_guard<std::mutex> lk(slot->Mutex);
      slot->TellLost();
    }
  };
  if (Run(work, kAnswerMs) == Outcome::Busy) {
    if (error) *error = "the sound system is still busy with a device that does not answer";
    return nullptr;
  }
  std::lock_guard<std::mutex> lk(slot->Mutex);
  slot->Waiting = false;
  if (slot->Finished && slot->Device == 0) {
    if (error) *error = slot->Error;
    return nullptr;
  }
  return std::make_unique<SdlStream>(slot);
}

SdlStream::~SdlStream() {
  SDL_AudioDeviceID dev;
  {
    std::lock_guard<std::mutex> lk(m_Slot->Mutex);
    m_Slot->Sink = nullptr;
    m_Slot->Source = nullptr;
    dev = m_Slot->Device;
    m_Slot->Device = 0;
  }
  if (dev) TheSdl().Close(dev, m_Slot);
}

void SdlStream::Start() { SetStarted(true); }
void SdlStream::Stop() { SetStarted(false); }

// Pausing takes the device's lock, which SDL holds around the callback: when
// it returns, no callback runs.
void SdlStream::SetStarted(bool started) {
  SDL_AudioDeviceID dev;
  {
    std::lock_guard<std::mutex> lk(m_Slot->Mutex);
    if (m_Slot->Direction == AudioDirection::Playback) return;
    m_Slot->Started = started;
    dev = m_Slot->Device;
  }
  if (dev) SDL_PauseAudioDevice(dev, started ? 0 : 1);
}

// SDL goes on calling back, with silence, after a device has gone; its
// status then reads stopped.
void SDLCALL SdlStream::Callback(void* self, Uint8* stream, int len) {
  auto* slot = static_cast<DeviceSlot*>(self);
  std::lock_guard<std::mutex> lk(slot->Mutex);
  size_t n = 0;
  if (slot->Sink || slot->Source) {
    if (!slot->Lost && slot->Device != 0 &&
        SDL_GetAudioDeviceStatus(slot->Device) == SDL_AUDIO_STOPPED) {
      slot->Lost = true;
      slot->TellLost();
    }
    if (!slot->Lost) {
      if (slot->Sink) slot->Sink->Captured(stream, static_cast<size_t>(len));
      if (slot->Source) n = slot->Source->Render(stream, static_cast<size_t>(len));
    }
  }
  if (slot->Direction == AudioDirection::Playback)
    std::memset(stream + n, slot->Silence, static_cast<size_t>(len) - n);
}

int Sdl::ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) {
  std::lock_guard<std::mutex> lk(m_BoxMutex);
  const int fallback = DefaultMessageBoxAnswer(type);
  if (HasScreen()) {
    std::vector<int> ids = MessageBoxButtons(type);
    static const char* const kLabels[] = {"",      "OK",     "Cancel", "Abort",
                                          "Retry", "Ignore", "Yes",    "No"};
    std::vector<SDL_MessageBoxButtonData> buttons;
    for (int id : ids) {
      SDL_MessageBoxButtonData b{};
      b.buttonid = id;
      b.text = kLabels[id];
      if (id == fallback) b.flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
      if (id == IDCANCEL || (ids.size() == 1)) b.flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
      buttons.push_back(b);
    }
    SDL_MessageBoxData data{};
    switch (type & MB_ICONMASK) {
      case MB_ICONHAND:
        data.flags = SDL_MESSAGEBOX_ERROR;
        break;
      case MB_ICONEXCLAMATION:
        data.flags = SDL_MESSAGEBOX_WARNING;
        break;
      case MB_ICONASTERISK:
        data.flags = SDL_MESSAGEBOX_INFORMATION;
        break;
      default:
        data.flags = 0;
        break;
    }
    data.title = caption.c_str();
    data.message = text.c_str();
    data.numbuttons = static_cast<int>(buttons.size());
    data.buttons = buttons.data();
    // SDL reports a box closed by its window's close button as -1.
    int chosen = 0;
    if (SDL_ShowMessageBox(&data, &chosen) == 0)
      return chosen > 0 ? chosen : ClosedMessageBoxAnswer(type);
  }
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  return fallback;
}

void Sdl::PumpEvents(EventSink& sink) {
  if (!SDL_WasInit(SDL_INIT_EVENTS)) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT)
      sink.QuitRequested();
    else
      sdl::HandleDisplayEvent(e, sink);
  }
}

}  // namespace

Backend& SdlBackend() { return TheSdl(); }

}  // namespace platform

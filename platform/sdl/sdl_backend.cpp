// The real backend over SDL2: audio capture and playback (SDL converts to
// and from the hardware's format), generated capture devices on a thread of
// their own paced by the real clock, the monotonic clock, message boxes
// (SDL's where a display exists, standard error otherwise), the event pump
// (SDL_QUIT, and each display's input) and the displays (sdl_display.cpp).
//
// SDL never installs signal handlers here: the message layer turns SIGINT
// and SIGTERM into requests to end. Monitors of output devices are listed
// as capture devices (PulseAudio hides them otherwise), so a sound playing
// on the computer can be tuned too; SDL_AUDIO_INCLUDE_MONITORS=0 hides them.
#include "platform/sdl/sdl_backend.h"

#include "platform/files.h"
#include "platform/sdl/sdl_display.h"

#include <SDL.h>
#include <dlfcn.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

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

// One SDL audio device, capture or playback.
class SdlStream : public AudioStream {
 public:
  SdlStream(bool capture, CaptureSink* sink, PlaybackSource* source, unsigned char silence)
      : m_Capture(capture), m_Sink(sink), m_Source(source), m_Silence(silence) {}
  ~SdlStream() override;
  void Start() override;
  void Stop() override;

  bool Open(const char* name, const PcmFormat& format, std::string* error);

 private:
  static void SDLCALL Callback(void* self, Uint8* stream, int len);
  void Run(Uint8* stream, int len);

  bool m_Capture;
  CaptureSink* m_Sink;
  PlaybackSource* m_Source;
  unsigned char m_Silence;
  std::atomic<SDL_AudioDeviceID> m_Device{0};
  bool m_Lost = false;  // the callback's own
};

// A generated recording delivered every 20 ms, as much as the real clock
// says has been recorded since the opening. The lock is held while the sink
// runs, so Stop and destruction wait for a delivery in progress; it is
// recursive because a completion function may stop the device from inside
// a delivery.
class GeneratedStream : public AudioStream {
 public:
  GeneratedStream(const PcmFormat& format, CaptureGenerator generate, CaptureSink& sink)
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
      uint64_t until =
          ms * static_cast<uint64_t>(m_Format.Rate) / 1000 * static_cast<uint64_t>(m_Format.FrameBytes());
      if (until <= m_Produced) continue;
      // After a stall (the machine suspended) only the last second is made up.
      if (until - m_Produced > second) m_Produced = until - second;
      buf.resize(static_cast<size_t>(until - m_Produced));
      m_Generate(m_Format, m_Produced, buf.data(), buf.size());
      if (m_Started) m_Sink.Captured(buf.data(), buf.size());
      m_Produced = until;
    }
  }

  PcmFormat m_Format;
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
  std::unique_ptr<AudioStream> OpenCapture(int id, const PcmFormat& format, CaptureSink& sink,
                                           std::string* error) override;
  std::unique_ptr<AudioStream> OpenPlayback(int id, const PcmFormat& format, PlaybackSource& source,
                                            std::string* error) override;

  std::unique_ptr<AudioStream> OpenGeneratedCapture(const PcmFormat& format,
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
  std::string ProgramFolder() override { return ExecutableFolder(); }
  void RaiseDisplay(HWND hwnd) override { sdl::RaiseDisplay(hwnd); }
  void MinimiseDisplay(HWND hwnd) override { sdl::MinimiseDisplay(hwnd); }

  // Serialises SDL's audio calls (SDL does not guard opening, closing and
  // listing against each other).
  std::recursive_mutex AudioMutex;

 private:
  bool EnsureAudio(std::string* why);
  std::unique_ptr<AudioStream> Open(bool capture, int id, const PcmFormat& format,
                                    CaptureSink* sink, PlaybackSource* source, std::string* error);

  bool m_AudioUp = false;
  std::mutex m_BoxMutex;
};

Sdl& TheSdl() {
  static Sdl* sdl = new Sdl;
  return *sdl;
}

bool Sdl::EnsureAudio(std::string* why) {
  if (m_AudioUp) return true;
  QuietAlsa();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    if (why) *why = std::string("no audio driver could start (") + SDL_GetError() + ")";
    return false;
  }
  m_AudioUp = true;
  return true;
}

int Sdl::AudioDeviceCount(AudioDirection direction, std::string* why) {
  std::lock_guard<std::recursive_mutex> lk(AudioMutex);
  if (!EnsureAudio(why)) return 0;
  const int capture = direction == AudioDirection::Capture;
  int named = SDL_GetNumAudioDevices(capture);
  char* name = nullptr;
  SDL_AudioSpec device_format;
  bool has_default = SDL_GetDefaultAudioInfo(&name, &device_format, capture) == 0;
  SDL_free(name);
  if (named <= 0 && !has_default) {
    if (why)
      *why = std::string("the ") + SDL_GetCurrentAudioDriver() + " audio driver found no " +
             (capture ? "capture" : "playback") + " device";
    return 0;
  }
  return 1 + (named > 0 ? named : 0);
}

std::string Sdl::AudioDeviceName(AudioDirection direction, int id) {
  std::lock_guard<std::recursive_mutex> lk(AudioMutex);
  if (!EnsureAudio(nullptr)) return "";
  const int capture = direction == AudioDirection::Capture;
  if (id == 0) {
    char* name = nullptr;
    SDL_AudioSpec device_format;
    std::string out = "Default device";
    if (SDL_GetDefaultAudioInfo(&name, &device_format, capture) == 0 && name)
      out += std::string(" (") + name + ")";
    SDL_free(name);
    return out;
  }
  const char* name = SDL_GetAudioDeviceName(id - 1, capture);
  return name ? name : "";
}

std::unique_ptr<AudioStream> Sdl::OpenCapture(int id, const PcmFormat& format, CaptureSink& sink,
                                              std::string* error) {
  return Open(true, id, format, &sink, nullptr, error);
}

std::unique_ptr<AudioStream> Sdl::OpenPlayback(int id, const PcmFormat& format,
                                               PlaybackSource& source, std::string* error) {
  return Open(false, id, format, nullptr, &source, error);
}

std::unique_ptr<AudioStream> Sdl::Open(bool capture, int id, const PcmFormat& format,
                                       CaptureSink* sink, PlaybackSource* source,
                                       std::string* error) {
  std::lock_guard<std::recursive_mutex> lk(AudioMutex);
  if (!EnsureAudio(error)) return nullptr;
  std::string name;
  if (id > 0) {
    const char* n = SDL_GetAudioDeviceName(id - 1, capture);
    if (!n) {
      if (error) *error = "the device is no longer there";
      return nullptr;
    }
    name = n;
  }
  auto stream = std::make_unique<SdlStream>(capture, sink, source, format.SilenceByte());
  if (!stream->Open(id > 0 ? name.c_str() : nullptr, format, error)) return nullptr;
  return stream;
}

bool SdlStream::Open(const char* name, const PcmFormat& format, std::string* error) {
  SDL_AudioSpec want{}, have{};
  want.freq = format.Rate;
  want.format = format.Bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
  want.channels = static_cast<Uint8>(format.Channels);
  // About 25 ms per callback: a whole number of them fills a block of the
  // tuner's size in good time.
  Uint16 samples = 16;
  while (samples < 4096 && samples * 40 < format.Rate) samples = static_cast<Uint16>(samples * 2);
  want.samples = samples;
  want.callback = &SdlStream::Callback;
  want.userdata = this;
  SDL_AudioDeviceID dev = SDL_OpenAudioDevice(name, m_Capture ? 1 : 0, &want, &have, 0);
  if (dev == 0) {
    if (error) *error = SDL_GetError();
    return false;
  }
  m_Device.store(dev);
  if (!m_Capture) SDL_PauseAudioDevice(dev, 0);
  return true;
}

SdlStream::~SdlStream() {
  std::lock_guard<std::recursive_mutex> lk(TheSdl().AudioMutex);
  if (SDL_AudioDeviceID dev = m_Device.exchange(0)) SDL_CloseAudioDevice(dev);
}

void SdlStream::Start() {
  if (m_Capture) SDL_PauseAudioDevice(m_Device.load(), 0);
}

// Pausing takes the device's lock, which SDL holds around the callback: when
// it returns, no callback runs.
void SdlStream::Stop() {
  if (m_Capture) SDL_PauseAudioDevice(m_Device.load(), 1);
}

void SDLCALL SdlStream::Callback(void* self, Uint8* stream, int len) {
  static_cast<SdlStream*>(self)->Run(stream, len);
}

// SDL goes on calling back, with silence, after a device has gone; its
// status then reads stopped.
void SdlStream::Run(Uint8* stream, int len) {
  SDL_AudioDeviceID dev = m_Device.load();
  if (!m_Lost && dev != 0 && SDL_GetAudioDeviceStatus(dev) == SDL_AUDIO_STOPPED) {
    m_Lost = true;
    if (m_Capture)
      m_Sink->DeviceLost();
    else
      m_Source->DeviceLost();
  }
  if (m_Capture) {
    if (!m_Lost) m_Sink->Captured(stream, static_cast<size_t>(len));
    return;
  }
  size_t n = m_Lost ? 0 : m_Source->Render(stream, static_cast<size_t>(len));
  std::memset(stream + n, m_Silence, static_cast<size_t>(len) - n);
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

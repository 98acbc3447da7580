// The wave services (mmsystem.h) over the backend's audio streams: block
// queues, completion in queue order, pausing, reset, device loss and the
// program's own playback volume.
//
// Each open device has two locks. `Mutex` guards its queue and state and is
// never held while anything outside this file runs. `Deliver` is held while
// finished blocks are announced, so announcements leave in the order the
// blocks finished even when several threads finish blocks (the device's
// thread, an owner calling reset). `Control` serialises starting, stopping
// and closing the backend stream; backend calls are made without `Mutex`,
// because the backend's own thread holds its lock while it calls us.
#include "platform/winapi/mmsystem.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/services/backend.h"
#include "platform/services/byte_order.h"
#include "platform/services/recording.h"

namespace {

thread_local std::string t_WaveError;

constexpr platform::AudioDirection kCapture = platform::AudioDirection::Capture;
constexpr platform::AudioDirection kPlayback = platform::AudioDirection::Playback;

struct WaveDevice final : platform::CaptureSink, platform::PlaybackSource {
  platform::AudioDirection Direction = platform::AudioDirection::Capture;
  platform::StreamFormat Format;
  UINT DeviceId = 0;
  DWORD CallbackKind = CALLBACK_NULL;
  DWORD_PTR Callback = 0;
  DWORD_PTR Instance = 0;

  std::mutex Control;
  std::recursive_mutex Deliver;
  std::mutex Mutex;
  std::deque<WAVEHDR*> Queue;
  std::vector<WAVEHDR*> Done;  // finished, to be announced in this order
  bool LostPending = false;    // MM_xIM_DEVICELOST to be announced after Done
  bool Started = false;        // capture: recording
  bool Paused = false;         // playback: held by waveOutPause
  bool Lost = false;
  DWORD HeadOffset = 0;  // playback: bytes of the first queued block already played

  // Last, so it is destroyed first: the stream calls into this object.
  std::unique_ptr<platform::AudioStream> Stream;

  HANDLE Handle() { return this; }

  // Moves the first queued block to Done. Mutex held.
  void FinishHeadLocked() {
    WAVEHDR* h = Queue.front();
    Queue.pop_front();
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Done.push_back(h);
    HeadOffset = 0;
  }

  void Notify(UINT message, DWORD_PTR param) {
    if (CallbackKind == CALLBACK_THREAD)
      PostThreadMessage(static_cast<DWORD>(Callback), message, reinterpret_cast<WPARAM>(Handle()),
                        static_cast<LPARAM>(param));
    else if (CallbackKind == CALLBACK_FUNCTION)
      reinterpret_cast<LPWAVECALLBACK>(Callback)(Handle(), message, Instance, param, 0);
  }

  // Announces everything finished so far. Call without Mutex.
  void Flush() {
    std::lock_guard<std::recursive_mutex> order(Deliver);
    std::vector<WAVEHDR*> done;
    bool lost;
    {
      std::lock_guard<std::mutex> lk(Mutex);
      done.swap(Done);
      lost = LostPending;
      LostPending = false;
    }
    const UINT data = Direction == kCapture ? MM_WIM_DATA : MM_WOM_DONE;
    for (WAVEHDR* h : done) Notify(data, reinterpret_cast<DWORD_PTR>(h));
    if (lost) Notify(Direction == kCapture ? MM_WIM_DEVICELOST : MM_WOM_DEVICELOST, 0);
  }

  // CaptureSink
  size_t Captured(const unsigned char* data, size_t len) override {
    size_t taken = 0;
    {
      std::lock_guard<std::mutex> lk(Mutex);
      if (!Started || Lost) return 0;
      while (taken < len && !Queue.empty()) {
        WAVEHDR* h = Queue.front();
        size_t n = std::min<size_t>(h->dwBufferLength - h->dwBytesRecorded, len - taken);
        std::memcpy(h->lpData + h->dwBytesRecorded, data + taken, n);
        h->dwBytesRecorded += static_cast<DWORD>(n);
        taken += n;
        if (h->dwBytesRecorded == h->dwBufferLength) FinishHeadLocked();
      }
      if (Done.empty()) return taken;
    }
    Flush();
    return taken;
  }

  void EndBlock() override {
    {
      std::lock_guard<std::mutex> lk(Mutex);
      if (!Started || Lost || Queue.empty() || Queue.front()->dwBytesRecorded == 0) return;
      FinishHeadLocked();
    }
    Flush();
  }

  void DeviceLost() override {
    {
      std::lock_guard<std::mutex> lk(Mutex);
      if (Lost) return;
      Lost = true;
      Started = false;
      if (Direction == kCapture) {
        if (!Queue.empty() && Queue.front()->dwBytesRecorded > 0) FinishHeadLocked();
      } else {
        while (!Queue.empty()) FinishHeadLocked();
      }
      LostPending = true;
    }
    Flush();
  }

  // PlaybackSource
  size_t Render(unsigned char* out, size_t len) override;
};

// Open devices by handle. A call holds its own reference, so a device that
// another thread closes meanwhile stays valid until the call returns.
std::mutex g_DevicesMutex;
std::map<HANDLE, std::shared_ptr<WaveDevice>>& Devices() {
  static auto* devices = new std::map<HANDLE, std::shared_ptr<WaveDevice>>;
  return *devices;
}

std::shared_ptr<WaveDevice> Find(HANDLE h, platform::AudioDirection direction) {
  std::lock_guard<std::mutex> lk(g_DevicesMutex);
  auto it = Devices().find(h);
  if (it == Devices().end() || it->second->Direction != direction) return nullptr;
  return it->second;
}

// Playback volume per device id: left level in the low word, right in the high.
std::mutex g_VolumeMutex;
std::map<UINT, DWORD>& Volumes() {
  static auto* volumes = new std::map<UINT, DWORD>;
  return *volumes;
}

DWORD VolumeOf(UINT id) {
  std::lock_guard<std::mutex> lk(g_VolumeMutex);
  auto it = Volumes().find(id);
  return it == Volumes().end() ? 0xFFFFFFFF : it->second;
}

// Scales `len` bytes of audio (frames starting at a frame boundary) by the
// device's volume.
void ApplyVolume(unsigned char* data, size_t len, const platform::StreamFormat& f, DWORD volume) {
  if (volume == 0xFFFFFFFF) return;
  const long left = volume & 0xFFFF, right = f.Channels == 2 ? volume >> 16 : left;
  const size_t step = static_cast<size_t>(f.Bits / 8);
  for (size_t i = 0, n = 0; i + step <= len; i += step, n++) {
    long level = (n % static_cast<size_t>(f.Channels)) == 0 ? left : right;
    if (f.Bits == 8) {
      long s = (static_cast<long>(data[i]) - 128) * level / 0xFFFF;
      data[i] = static_cast<unsigned char>(s + 128);
    } else {
      auto s = static_cast<int16_t>(platform::GetLE16(data + i));
      long v = static_cast<long>(s) * level / 0xFFFF;
      data[i] = static_cast<unsigned char>(v & 0xFF);
      data[i + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
    }
  }
}

size_t WaveDevice::Render(unsigned char* out, size_t len) {
  size_t produced = 0;
  {
    std::lock_guard<std::mutex> lk(Mutex);
    if (Lost || Paused) return 0;
    while (produced < len && !Queue.empty()) {
      WAVEHDR* h = Queue.front();
      size_t n = std::min<size_t>(h->dwBufferLength - HeadOffset, len - produced);
      std::memcpy(out + produced, h->lpData + HeadOffset, n);
      produced += n;
      HeadOffset += static_cast<DWORD>(n);
      if (HeadOffset == h->dwBufferLength) FinishHeadLocked();
    }
  }
  ApplyVolume(out, produced, Format, VolumeOf(DeviceId));
  Flush();
  return produced;
}

MMRESULT Fail(MMRESULT code, const std::string& detail = "") {
  t_WaveError = detail;
  return code;
}

bool ValidFormat(LPCWAVEFORMATEX f) {
  if (!f || f->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f->nChannels < 1 || f->nChannels > 2) return false;
  if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return false;
  if (f->nSamplesPerSec < 1 || f->nSamplesPerSec > 192000) return false;
  if (f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) return false;
  return f->nAvgBytesPerSec == f->nSamplesPerSec * f->nBlockAlign;
}

// The capture input the user chose: every device of the backend, one of
// them, or a recording; the last two are the only device, id 0.
struct CaptureChoice {
  enum Kind { kEvery, kDevice, kRecording };
  Kind What = kEvery;
  int Device = 0;
  std::shared_ptr<LoopedRecording> Recording;
};
std::mutex g_ChoiceMutex;
CaptureChoice& Choice() {
  static auto* choice = new CaptureChoice;
  return *choice;
}
CaptureChoice CurrentChoice() {
  std::lock_guard<std::mutex> lk(g_ChoiceMutex);
  return Choice();
}

UINT DeviceCount(platform::AudioDirection direction) {
  if (direction == kCapture && CurrentChoice().What != CaptureChoice::kEvery) return 1;
  std::string why;
  int n = platform::CurrentBackend().AudioDeviceCount(direction, &why);
  if (n <= 0) {
    t_WaveError = why;
    return 0;
  }
  return static_cast<UINT>(n);
}

MMRESULT Open(platform::AudioDirection direction, HANDLE* out, UINT deviceId,
              LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  if (!out) return Fail(MMSYSERR_INVALPARAM);
  *out = nullptr;
  const DWORD kind = flags & CALLBACK_TYPEMASK;
  if (kind != CALLBACK_THREAD && kind != CALLBACK_FUNCTION)
    return Fail(MMSYSERR_INVALFLAG, "only thread and function completion are provided");
  if (kind == CALLBACK_FUNCTION && !callback) return Fail(MMSYSERR_INVALPARAM);
  if (!ValidFormat(format)) return Fail(WAVERR_BADFORMAT, "unsupported format");
  if (deviceId == WAVE_MAPPER) deviceId = 0;
  UINT count = DeviceCount(direction);
  if (deviceId >= count)
    return Fail(MMSYSERR_BADDEVICEID, count == 0 ? t_WaveError : "no device with that id");

  auto dev = std::make_shared<WaveDevice>();
  dev->Direction = direction;
  dev->Format.Rate = static_cast<int>(format->nSamplesPerSec);
  dev->Format.Channels = format->nChannels;
  dev->Format.Bits = format->wBitsPerSample;
  dev->DeviceId = deviceId;
  dev->CallbackKind = kind;
  dev->Callback = callback;
  dev->Instance = instance;
  std::string error;
  auto& backend = platform::CurrentBackend();
  const CaptureChoice choice = direction == kCapture ? CurrentChoice() : CaptureChoice{};
  if (choice.What == CaptureChoice::kRecording) {
    std::shared_ptr<LoopedRecording> recording = choice.Recording;
    dev->Stream = backend.OpenGeneratedCapture(
        dev->Format,
        [recording](const platform::StreamFormat& f, uint64_t offset, unsigned char* o,
                    size_t len) { recording->Fill(f, offset, o, len); },
        *dev, &error);
  } else if (direction == kCapture) {
    int id = choice.What == CaptureChoice::kDevice ? choice.Device : static_cast<int>(deviceId);
    dev->Stream = backend.OpenCapture(id, dev->Format, *dev, &error);
  } else {
    dev->Stream = backend.OpenPlayback(static_cast<int>(deviceId), dev->Format, *dev, &error);
  }
  if (!dev->Stream) return Fail(MMSYSERR_NODRIVER, error);
  {
    std::lock_guard<std::mutex> lk(g_DevicesMutex);
    Devices()[dev->Handle()] = dev;
  }
  *out = dev->Handle();
  dev->Notify(direction == kCapture ? MM_WIM_OPEN : MM_WOM_OPEN, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT Prepare(HANDLE h, platform::AudioDirection direction, LPWAVEHDR hdr, UINT size,
                 bool prepare) {
  auto dev = Find(h, direction);
  if (!dev) return Fail(MMSYSERR_INVALHANDLE);
  if (!hdr || size < sizeof(WAVEHDR)) return Fail(MMSYSERR_INVALPARAM);
  std::lock_guard<std::mutex> lk(dev->Mutex);
  if (hdr->dwFlags & WHDR_INQUEUE) return Fail(WAVERR_STILLPLAYING);
  if (prepare) {
    if (!hdr->lpData || hdr->dwBufferLength == 0) return Fail(MMSYSERR_INVALPARAM);
    hdr->dwFlags |= WHDR_PREPARED;
  } else {
    hdr->dwFlags &= ~WHDR_PREPARED;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT Queue(HANDLE h, platform::AudioDirection direction, LPWAVEHDR hdr, UINT size) {
  auto dev = Find(h, direction);
  if (!dev) return Fail(MMSYSERR_INVALHANDLE);
  if (!hdr || size < sizeof(WAVEHDR)) return Fail(MMSYSERR_INVALPARAM);
  std::lock_guard<std::mutex> lk(dev->Mutex);
  if (!(hdr->dwFlags & WHDR_PREPARED)) return Fail(WAVERR_UNPREPARED);
  if (hdr->dwFlags & WHDR_INQUEUE) return Fail(WAVERR_STILLPLAYING);
  if (dev->Lost) return Fail(MMSYSERR_NODRIVER, "the device has gone");
  if (direction == kCapture) hdr->dwBytesRecorded = 0;
  hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  dev->Queue.push_back(hdr);
  return MMSYSERR_NOERROR;
}

// Hands back every queued block (reset) or the partly filled first one
// (capture stop).
MMRESULT HandBack(HANDLE h, platform::AudioDirection direction, bool all) {
  auto dev = Find(h, direction);
  if (!dev) return Fail(MMSYSERR_INVALHANDLE);
  std::lock_guard<std::mutex> control(dev->Control);
  {
    std::lock_guard<std::mutex> lk(dev->Mutex);
    dev->Started = false;
    if (all) {
      while (!dev->Queue.empty()) dev->FinishHeadLocked();
    } else if (!dev->Queue.empty() && dev->Queue.front()->dwBytesRecorded > 0) {
      dev->FinishHeadLocked();
    }
  }
  dev->Flush();
  if (direction == kCapture) dev->Stream->Stop();
  return MMSYSERR_NOERROR;
}

MMRESULT Close(HANDLE h, platform::AudioDirection direction) {
  auto dev = Find(h, direction);
  if (!dev) return Fail(MMSYSERR_INVALHANDLE);
  std::lock_guard<std::mutex> control(dev->Control);
  {
    std::lock_guard<std::mutex> lk(dev->Mutex);
    if (!dev->Queue.empty()) return Fail(WAVERR_STILLPLAYING);
    dev->Started = false;
  }
  {
    std::lock_guard<std::mutex> lk(g_DevicesMutex);
    if (!Devices().erase(h)) return Fail(MMSYSERR_INVALHANDLE);
  }
  dev->Stream.reset();
  dev->Flush();
  dev->Notify(direction == kCapture ? MM_WIM_CLOSE : MM_WOM_CLOSE, 0);
  return MMSYSERR_NOERROR;
}

}  // namespace

WAVEFORMATEX PcmWaveFormat(DWORD samplesPerSec, WORD bitsPerSample, WORD channels) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = samplesPerSec;
  f.wBitsPerSample = bitsPerSample;
  f.nBlockAlign = static_cast<WORD>(bitsPerSample / 8 * channels);
  f.nAvgBytesPerSec = samplesPerSec * f.nBlockAlign;
  f.cbSize = 0;
  return f;
}

namespace platform {
int OpenWaveDeviceCount() {
  std::lock_guard<std::mutex> lk(g_DevicesMutex);
  return static_cast<int>(Devices().size());
}
}  // namespace platform

DWORD timeGetTime() { return GetTickCount(); }

std::string GetWaveErrorDetail() { return t_WaveError; }

std::string WaveInDeviceName(UINT deviceId) {
  if (deviceId >= DeviceCount(kCapture)) return "";
  const CaptureChoice choice = CurrentChoice();
  if (choice.What == CaptureChoice::kRecording) return choice.Recording->Name();
  int id = choice.What == CaptureChoice::kDevice ? choice.Device : static_cast<int>(deviceId);
  return platform::CurrentBackend().AudioDeviceName(platform::AudioDirection::Capture, id);
}

bool ChooseCaptureDevice(UINT deviceId, std::string* error) {
  ChooseEveryCaptureDevice();
  UINT count = DeviceCount(kCapture);
  if (deviceId >= count) {
    if (error)
      *error = count == 0 ? "no audio capture device: " + t_WaveError
                          : "no capture device with id " + std::to_string(deviceId) +
                                " (ids 0 to " + std::to_string(count - 1) + ")";
    return false;
  }
  std::lock_guard<std::mutex> lk(g_ChoiceMutex);
  Choice() = CaptureChoice{CaptureChoice::kDevice, static_cast<int>(deviceId), nullptr};
  return true;
}

bool ChooseCaptureRecording(const std::string& path, std::string* error) {
  auto recording = std::make_shared<LoopedRecording>();
  if (!recording->Load(path, error)) return false;
  std::lock_guard<std::mutex> lk(g_ChoiceMutex);
  Choice() = CaptureChoice{CaptureChoice::kRecording, 0, std::move(recording)};
  return true;
}

void ChooseEveryCaptureDevice() {
  std::lock_guard<std::mutex> lk(g_ChoiceMutex);
  Choice() = CaptureChoice{};
}

std::string WaveOutDeviceName(UINT deviceId) {
  if (deviceId >= DeviceCount(kPlayback)) return "";
  return platform::CurrentBackend().AudioDeviceName(platform::AudioDirection::Playback,
                                                    static_cast<int>(deviceId));
}

// Capture ------------------------------------------------------------------------

UINT waveInGetNumDevs() { return DeviceCount(kCapture); }

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
  return Open(kCapture, phwi, deviceId, format, callback, instance, flags);
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR hdr, UINT size) {
  return Prepare(hwi, kCapture, hdr, size, true);
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR hdr, UINT size) {
  return Prepare(hwi, kCapture, hdr, size, false);
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR hdr, UINT size) {
  return Queue(hwi, kCapture, hdr, size);
}

MMRESULT waveInStart(HWAVEIN hwi) {
  auto dev = Find(hwi, kCapture);
  if (!dev) return Fail(MMSYSERR_INVALHANDLE);
  std::lock_guard<std::mutex> control(dev->Control);
  {
    std::lock_guard<std::mutex> lk(dev->Mutex);
    if (dev->Lost) return Fail(MMSYSERR_NODRIVER, "the device has gone");
    if (dev->Started) return MMSYSERR_NOERROR;
    dev->Started = true;
  }
  dev->Stream->Start();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInStop(HWAVEIN hwi) { return HandBack(hwi, kCapture, false); }
MMRESULT waveInReset(HWAVEIN hwi) { return HandBack(hwi, kCapture, true); }
MMRESULT waveInClose(HWAVEIN hwi) { return Close(hwi, kCapture); }

// Playback -----------------------------------------------------------------------

UINT waveOutGetNumDevs() { return DeviceCount(kPlayback); }

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
  return Open(kPlayback, phwo, deviceId, format, callback, instance, flags);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size) {
  return Prepare(hwo, kPlayback, hdr, size, true);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size) {
  return Prepare(hwo, kPlayback, hdr, size, false);
}

MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size) {
  return Queue(hwo, kPlayback, hdr, size);
}

static MMRESULT SetPaused(HWAVEOUT hwo, bool paused) {
  auto dev = Find(hwo, kPlayback);
  if (!dev) return Fail(MMSYSERR_INVALHANDLE);
  std::lock_guard<std::mutex> lk(dev->Mutex);
  dev->Paused = paused;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT hwo) { return SetPaused(hwo, true); }
MMRESULT waveOutRestart(HWAVEOUT hwo) { return SetPaused(hwo, false); }
MMRESULT waveOutReset(HWAVEOUT hwo) { return HandBack(hwo, kPlayback, true); }
MMRESULT waveOutClose(HWAVEOUT hwo) { return Close(hwo, kPlayback); }

// A device handle, or a device id cast to a handle. The default device's
// level is the program's own setting and exists whether or not a device
// does, so reading or setting it never starts the audio system.
static bool VolumeTarget(HWAVEOUT hwo, UINT* id) {
  if (auto dev = Find(hwo, kPlayback)) {
    *id = dev->DeviceId;
    return true;
  }
  auto value = reinterpret_cast<uintptr_t>(hwo);
  if (value == static_cast<uintptr_t>(WAVE_MAPPER)) value = 0;
  if (value != 0 && value >= waveOutGetNumDevs()) return false;
  *id = static_cast<UINT>(value);
  return true;
}

MMRESULT waveOutGetVolume(HWAVEOUT hwo, LPDWORD volume) {
  UINT id;
  if (!volume) return Fail(MMSYSERR_INVALPARAM);
  if (!VolumeTarget(hwo, &id)) return Fail(MMSYSERR_INVALHANDLE);
  *volume = VolumeOf(id);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetVolume(HWAVEOUT hwo, DWORD volume) {
  UINT id;
  if (!VolumeTarget(hwo, &id)) return Fail(MMSYSERR_INVALHANDLE);
  std::lock_guard<std::mutex> lk(g_VolumeMutex);
  Volumes()[id] = volume;
  return MMSYSERR_NOERROR;
}

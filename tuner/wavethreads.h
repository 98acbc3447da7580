// Capture and playback of PCM audio on worker threads of their own, each
// with a ring of blocks between the device and the owner.
//
// CWaveInThread records into device blocks; its worker copies each finished
// block into the ring, and the owner pulls fixed-size pieces with ReadData
// whenever it is ready. CWaveOutThread is the twin: the owner pushes bytes
// with WriteData and four device buffers are kept queued from the ring.
//
// Both report to the owner through a callback that runs on the worker
// thread, outside the object's lock, so it may call ResetBuffer or
// ReadData/WriteData itself. A worker waits on its stop event and its
// message queue together, so StopThread signals it and joins it; no thread
// is ever killed. Everything the worker and the owner share is guarded by
// the object's lock, m_cs.
#pragma once

#include "common_code/variant.h"
#include "platform/winapi/mmsystem.h"
#include "platform/winapi/win32.h"
#include "tuner/wavering.h"

enum _WAVE_IN_EVENT {
  WAVE_IN_DATA = 1,         // a finished block was copied into the ring
  WAVE_IN_OVERFLOW = 2,     // a finished block did not fit: recording stopped, block lost
  WAVE_IN_DEVICE_LOST = 3,  // the device has gone; nothing more will be recorded
};

enum _WAVE_OUT_EVENT {
  WAVE_OUT_DONE = 1,         // the device handed back a buffer
  WAVE_OUT_UNDERRUN = 2,     // that was the last busy buffer: playback paused
  WAVE_OUT_DEVICE_LOST = 3,  // the device has gone; nothing more will be played
};

typedef void (*WaveInCallback)(_WAVE_IN_EVENT event);
typedef void (*WaveOutCallback)(_WAVE_OUT_EVENT event);

// This build's thread priority scale: the handheld's runs from 0
// (time-critical) to 7 (idle) with 3 normal, the desktop's from -15 (idle)
// to 15 (time-critical) with 0 normal. Linux lets the workers go below
// normal but not above it without privileges (see SetThreadPriority).
inline constexpr int kPriorityNormal = kPocket ? 3 : 0;
inline constexpr int kPriorityMin = kPocket ? 0 : -15;
inline constexpr int kPriorityMax = kPocket ? 7 : 15;

// What the capture and the playback thread have in common: the lock, the
// stop event and worker, the configuration Init stores, the ring and the
// device blocks, and starting and stopping. Not used on its own.
class WaveThreadBase {
 public:
  DWORD GetBytesPerSecond() EXCLUDES(m_cs);
  DWORD GetDataLen() EXCLUDES(m_cs);

  // Starts the worker and opens a device (see the classes below). 1 when
  // the device runs; 0 with everything torn down otherwise, or when a worker
  // runs already or Init has not succeeded.
  int StartThread() EXCLUDES(m_cs);

  // Stops the device, joins the worker, closes the device and frees the
  // ring. 0 when no worker runs (or when called from the worker itself,
  // which cannot wait for its own end), else 1.
  int StopThread() EXCLUDES(m_cs);

  WaveThreadBase(const WaveThreadBase&) = delete;
  WaveThreadBase& operator=(const WaveThreadBase&) = delete;

 protected:
  WaveThreadBase();
  ~WaveThreadBase();

  // Init's checks and storing, with the number of device blocks. 1, or 0
  // with nothing changed.
  int Configure(int priority, unsigned short bufferCount, DWORD bufferSize, unsigned short channels,
                DWORD samplesPerSec, unsigned short bitsPerSample, int deviceBuffers)
      REQUIRES(m_cs);
  void SetWorkerPriority(int priority) REQUIRES(m_cs);

  // What the two threads do differently. OpenDevice runs once the worker
  // and the memory are there and returns 1 with the device running;
  // HaltDevice stops the device's flow, once before the worker is joined
  // and once after (`workerEnded`); CloseDevice gives the device back and
  // forgets it.
  virtual int OpenDevice() REQUIRES(m_cs) = 0;
  virtual void HaltDevice(bool workerEnded) EXCLUDES(m_cs) = 0;
  virtual void CloseDevice() REQUIRES(m_cs) = 0;
  // One message of the worker's queue.
  virtual void HandleMessage(const MSG& msg) EXCLUDES(m_cs) = 0;

  // Device block `index`'s header, cleared and pointing at its whole block.
  WAVEHDR* FreshHeader(int index) REQUIRES(m_cs);

  CRITICAL_SECTION m_cs;
  HANDLE m_hStopEvent = nullptr;  // made once, never changes
  int m_Initialised GUARDED_BY(m_cs) = 0;
  DWORD m_ThreadId GUARDED_BY(m_cs) = 0;
  HANDLE m_hThread GUARDED_BY(m_cs) = nullptr;
  int m_Priority GUARDED_BY(m_cs) = kPriorityNormal;
  unsigned short m_BufferCount GUARDED_BY(m_cs) = 0;
  DWORD m_BufferSize GUARDED_BY(m_cs) = 0;
  DWORD m_RingSize GUARDED_BY(m_cs) = 0;
  int m_DeviceBuffers GUARDED_BY(m_cs) = 0;
  WaveRing m_Ring GUARDED_BY(m_cs);
  unsigned char* m_pBlocks GUARDED_BY(m_cs) = nullptr;
  WAVEHDR* m_pHeaders GUARDED_BY(m_cs) = nullptr;
  int m_Suspended GUARDED_BY(m_cs) = 0;
  WAVEFORMATEX m_Format GUARDED_BY(m_cs){};

 private:
  static DWORD WINAPI ThreadProc(LPVOID param);
  // The device blocks and the ring; 0 when the memory cannot be had.
  int AllocateBuffers() REQUIRES(m_cs);
  void FreeBuffers() REQUIRES(m_cs);
};

// What the two threads share that depends on the events they report: the
// owner's callback, Init, and the worker's two messages (`kBlockMessage`, a
// finished device block, and `kLostMessage`, the device gone, which the
// owner hears as `kLostEvent`).
template <typename Event, UINT kBlockMessage, UINT kLostMessage, Event kLostEvent>
class WaveWorker : public WaveThreadBase {
 public:
  using Callback = void (*)(Event event);

  // Stores the configuration once: a priority of this build's scale, at
  // least 4 blocks of at least 80 bytes, 1 or 2 channels of 8 or 16 bits at
  // 8000, 11025, 22050 or 44100 Hz, and a ring (blocks x size, plus one
  // block) that fits in 32 bits. Returns 1, or 0 and changes nothing.
  int Init(Callback callback, int priority, unsigned short bufferCount, DWORD bufferSize,
           unsigned short channels, DWORD samplesPerSec, unsigned short bitsPerSample)
      EXCLUDES(m_cs) {
    ScopedLock lock(m_cs);
    if (!Configure(priority, bufferCount, bufferSize, channels, samplesPerSec, bitsPerSample,
                   DeviceBuffers(bufferCount)))
      return 0;
    m_Callback = callback;
    return 1;
  }

 protected:
  // How many device blocks serve a ring of `bufferCount` blocks.
  virtual int DeviceBuffers(unsigned short bufferCount) const = 0;
  // A device block the device has finished with.
  virtual void HandleBlock(WAVEHDR* hdr) EXCLUDES(m_cs) = 0;

  Callback m_Callback GUARDED_BY(m_cs) = nullptr;

 private:
  void HandleMessage(const MSG& msg) override EXCLUDES(m_cs) {
    if (msg.message == kBlockMessage) {
      HandleBlock(reinterpret_cast<WAVEHDR*>(msg.lParam));
    } else if (msg.message == kLostMessage) {
      Callback callback;
      {
        ScopedLock lock(m_cs);
        callback = m_Callback;
      }
      if (callback) callback(kLostEvent);
    }
  }
};

class CWaveInThread final
    : public WaveWorker<_WAVE_IN_EVENT, MM_WIM_DATA, MM_WIM_DEVICELOST, WAVE_IN_DEVICE_LOST> {
 public:
  CWaveInThread() = default;
  ~CWaveInThread();

  // Records only from capture device `id` instead of trying every device
  // from 0 on (WAVE_MAPPER, the default). Takes effect at the next
  // StartThread.
  void SetDevice(UINT id) EXCLUDES(m_cs);

  // StartThread records on the first capture device that opens (or the one
  // chosen with SetDevice).

  int IsActive() EXCLUDES(m_cs);

  // The id of the device recording now (WAVE_MAPPER while none is).
  UINT GetDeviceId() EXCLUDES(m_cs);

  // Discards everything in the ring (the next stored block becomes the new
  // start) and restarts a device stopped by an overflow.
  void ResetBuffer() EXCLUDES(m_cs);

  // Copies exactly `len` bytes of the oldest audio in the ring into `dest`
  // and returns 1, or copies nothing and returns 0 when there is not that
  // much (or nothing has been stored since the last reset). Restarts a
  // device stopped by an overflow once a block fits again.
  int ReadData(unsigned char* dest, DWORD len) EXCLUDES(m_cs);

 private:
  int OpenDevice() override REQUIRES(m_cs);
  void HaltDevice(bool workerEnded) override EXCLUDES(m_cs);
  void CloseDevice() override REQUIRES(m_cs);
  int DeviceBuffers(unsigned short bufferCount) const override { return bufferCount; }
  void HandleBlock(WAVEHDR* hdr) override EXCLUDES(m_cs);
  // Hands device block `index` (back) to the device.
  int QueueBlock(HWAVEIN h, int index) REQUIRES(m_cs);
  void Resume() REQUIRES(m_cs);

  // Clear after ResetBuffer until the first block is stored, which then
  // sets where the ring starts.
  int m_Anchored GUARDED_BY(m_cs) = 0;
  HWAVEIN m_hWave GUARDED_BY(m_cs) = nullptr;
  UINT m_DeviceId GUARDED_BY(m_cs) = WAVE_MAPPER;  // WAVE_MAPPER: try every device from 0 on
  UINT m_OpenId GUARDED_BY(m_cs) = WAVE_MAPPER;    // the device that opened
};

// Init as for capture; the ring holds bufferCount blocks, and four device
// buffers of bufferSize bytes are used whatever the count.
class CWaveOutThread final
    : public WaveWorker<_WAVE_OUT_EVENT, MM_WOM_DONE, MM_WOM_DEVICELOST, WAVE_OUT_DEVICE_LOST> {
 public:
  CWaveOutThread() = default;
  ~CWaveOutThread();

  // StartThread opens the first playback device that takes the format,
  // paused: playback begins once four buffers are queued.

  // Empties the ring; buffers already queued on the device play on.
  void ResetBuffer() EXCLUDES(m_cs);

  // Takes all `len` bytes into the ring and returns 1, or takes nothing and
  // returns 0 when they do not fit (or the thread is not started).
  int WriteData(const unsigned char* src, DWORD len) EXCLUDES(m_cs);

 private:
  static constexpr int kDeviceBuffers = 4;
  int OpenDevice() override REQUIRES(m_cs);
  void HaltDevice(bool workerEnded) override EXCLUDES(m_cs);
  void CloseDevice() override REQUIRES(m_cs);
  int DeviceBuffers(unsigned short) const override { return kDeviceBuffers; }
  void HandleBlock(WAVEHDR* hdr) override EXCLUDES(m_cs);
  int ChooseIdleBuffer() const REQUIRES(m_cs);
  bool QueueBlock(int buffer) REQUIRES(m_cs);

  HWAVEOUT m_hWave GUARDED_BY(m_cs) = nullptr;
  DWORD m_FreeMask GUARDED_BY(m_cs) = 0;
};

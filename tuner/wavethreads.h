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
// is ever killed.
#pragma once

#include "common_code/variant.h"
#include "platform/winapi/mmsystem.h"
#include "platform/winapi/win32.h"

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
// device blocks. Not used on its own.
class WaveThreadBase {
 public:
  DWORD GetBytesPerSecond();
  DWORD GetDataLen();

  WaveThreadBase(const WaveThreadBase&) = delete;
  WaveThreadBase& operator=(const WaveThreadBase&) = delete;

 protected:
  WaveThreadBase();
  ~WaveThreadBase();

  // Init's checks and storing; the caller holds the lock. 1, or 0 with
  // nothing changed.
  int Configure(int priority, unsigned short bufferCount, DWORD bufferSize, unsigned short channels,
                DWORD samplesPerSec, unsigned short bitsPerSample);
  void SetWorkerPriority(int priority);
  // Frees the block memory, the ring and the headers.
  void FreeBuffers();

  int m_Initialised = 0;
  DWORD m_ThreadId = 0;
  HANDLE m_hThread = nullptr;
  CRITICAL_SECTION m_cs;
  HANDLE m_hStopEvent = nullptr;
  int m_Priority = kPriorityNormal;
  unsigned short m_BufferCount = 0;
  DWORD m_BufferSize = 0;
  DWORD m_DataLen = 0;
  DWORD m_RingSize = 0;
  unsigned char* m_pBlocks = nullptr;
  unsigned char* m_pRing = nullptr;
  WAVEHDR* m_pHeaders = nullptr;
  int m_Suspended = 0;
  WAVEFORMATEX m_Format{};
};

class CWaveInThread : public WaveThreadBase {
 public:
  CWaveInThread() = default;
  ~CWaveInThread();

  // Stores the configuration once: a priority of this build's scale, at
  // least 4 blocks of at least 80 bytes, 1 or 2 channels of 8 or 16 bits at
  // 8000, 11025, 22050 or 44100 Hz, and a ring (blocks x size, plus one
  // block) that fits in 32 bits. Returns 1, or 0 and changes nothing.
  int Init(WaveInCallback callback, int priority, unsigned short bufferCount, DWORD bufferSize,
           unsigned short channels, DWORD samplesPerSec, unsigned short bitsPerSample);

  // Records only from capture device `id` instead of trying every device
  // from 0 on (WAVE_MAPPER, the default). Takes effect at the next
  // StartThread.
  void SetDevice(UINT id);

  // Starts the worker and recording on the first capture device that opens
  // (or the one chosen with SetDevice). 1 when recording runs; 0 with
  // everything torn down otherwise.
  int StartThread();

  // Stops recording, joins the worker, closes the device and frees the
  // ring. 0 when no worker runs (or when called from the worker itself,
  // which cannot wait for its own end), else 1.
  int StopThread();

  int IsActive();

  // The id of the device recording now (WAVE_MAPPER while none is).
  UINT GetDeviceId();

  // Discards everything in the ring (the next stored block becomes the new
  // start) and restarts a device stopped by an overflow.
  void ResetBuffer();

  // Copies exactly `len` bytes of the oldest audio in the ring into `dest`
  // and returns 1, or copies nothing and returns 0 when there is not that
  // much (or nothing has been stored since the last reset). Restarts a
  // device stopped by an overflow once a block fits again.
  int ReadData(unsigned char* dest, DWORD len);

  static DWORD WINAPI ThreadProc(LPVOID param);

 private:
  void HandleBlock(WAVEHDR* hdr);

  unsigned char* m_pRead = nullptr;
  HWAVEIN m_hWave = nullptr;
  WaveInCallback m_Callback = nullptr;
  UINT m_DeviceId = WAVE_MAPPER;  // WAVE_MAPPER: try every device from 0 on
  UINT m_OpenId = WAVE_MAPPER;    // the device that opened
};

class CWaveOutThread : public WaveThreadBase {
 public:
  CWaveOutThread() = default;
  ~CWaveOutThread();

  // As CWaveInThread::Init; the ring holds bufferCount blocks, and four
  // device buffers of bufferSize bytes are used whatever the count.
  int Init(WaveOutCallback callback, int priority, unsigned short bufferCount, DWORD bufferSize,
           unsigned short channels, DWORD samplesPerSec, unsigned short bitsPerSample);

  // Starts the worker and opens the first playback device that takes the
  // format, paused: playback begins once four buffers are queued.
  int StartThread();
  int StopThread();

  // Empties the ring; buffers already queued on the device play on.
  void ResetBuffer();

  // Takes all `len` bytes into the ring and returns 1, or takes nothing and
  // returns 0 when they do not fit (or the thread is not started).
  int WriteData(const unsigned char* src, DWORD len);

  static DWORD WINAPI ThreadProc(LPVOID param);

 private:
  static constexpr int kDeviceBuffers = 4;
  void HandleDone(WAVEHDR* hdr);
  int ChooseIdleBuffer() const;
  bool QueueBlock(int buffer);

  unsigned char* m_pWrite = nullptr;
  HWAVEOUT m_hWave = nullptr;
  WaveOutCallback m_Callback = nullptr;
  DWORD m_FreeMask = 0;
  unsigned short m_ReadBlock = 0;
};

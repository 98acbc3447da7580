// CWaveInThread and CWaveOutThread.
#include "tuner/wavethreads.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The handheld's scale (0 time-critical .. 7 idle) in desktop values.
constexpr int kPocketToDesktop[8] = {THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_HIGHEST,
                                     THREAD_PRIORITY_ABOVE_NORMAL,  THREAD_PRIORITY_NORMAL,
                                     THREAD_PRIORITY_BELOW_NORMAL,  THREAD_PRIORITY_LOWEST,
                                     THREAD_PRIORITY_LOWEST,        THREAD_PRIORITY_IDLE};

int PlatformPriority(int priority) { return kPocket ? kPocketToDesktop[priority] : priority; }

bool ValidConfiguration(int priority, unsigned short bufferCount, DWORD bufferSize,
                        unsigned short channels, DWORD samplesPerSec,
                        unsigned short bitsPerSample) {
  if (priority < kPriorityMin || priority > kPriorityMax) return false;
  if (bufferCount < 4 || bufferSize < 80) return false;
  if (channels != 1 && channels != 2) return false;
  if (bitsPerSample != 8 && bitsPerSample != 16) return false;
  if (samplesPerSec != 8000 && samplesPerSec != 11025 && samplesPerSec != 22050 &&
      samplesPerSec != 44100)
    return false;
  // The ring and the block memory are one block longer than the ring.
  uint64_t bytes = (static_cast<uint64_t>(bufferCount) + 1) * bufferSize;
  return bytes <= 0xFFFFFFFFu;
}

// The worker loop both classes share: wait for the stop event or a message,
// then hand every queued message to `handle`. The wait covers both, so the
// worker sleeps until there is something to do and still ends as soon as
// it is asked to.
template <class Handle>
DWORD RunWorker(HANDLE stopEvent, Handle handle) {
  for (;;) {
    DWORD r = MsgWaitForMultipleObjects(1, &stopEvent, FALSE, INFINITE, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return 0;
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) handle(msg);
  }
}

}  // namespace

// WaveThreadBase -----------------------------------------------------------------

WaveThreadBase::WaveThreadBase() {
  InitializeCriticalSection(&m_cs);
  m_hStopEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
}

WaveThreadBase::~WaveThreadBase() {
  DeleteCriticalSection(&m_cs);
  CloseHandle(m_hStopEvent);
}

int WaveThreadBase::Configure(int priority, unsigned short bufferCount, DWORD bufferSize,
                              unsigned short channels, DWORD samplesPerSec,
                              unsigned short bitsPerSample) {
  if (m_Initialised || !ValidConfiguration(priority, bufferCount, bufferSize, channels,
                                           samplesPerSec, bitsPerSample))
    return 0;
  m_Priority = priority;
  m_BufferCount = bufferCount;
  m_BufferSize = bufferSize;
  m_Format = PcmWaveFormat(samplesPerSec, bitsPerSample, channels);
  m_RingSize = static_cast<DWORD>(bufferCount) * bufferSize;
  m_Initialised = 1;
  return 1;
}

void WaveThreadBase::SetWorkerPriority(int priority) {
  SetThreadPriority(m_hThread, PlatformPriority(priority));
}

void WaveThreadBase::FreeBuffers() {
  std::free(m_pBlocks);
  std::free(m_pRing);
  std::free(m_pHeaders);
  m_pBlocks = m_pRing = nullptr;
  m_pHeaders = nullptr;
}

DWORD WaveThreadBase::GetBytesPerSecond() {
  EnterCriticalSection(&m_cs);
  DWORD rate = m_Initialised ? m_Format.nAvgBytesPerSec : 0;
  LeaveCriticalSection(&m_cs);
  return rate;
}

DWORD WaveThreadBase::GetDataLen() {
  EnterCriticalSection(&m_cs);
  DWORD len = m_DataLen;
  LeaveCriticalSection(&m_cs);
  return len;
}

// CWaveInThread ------------------------------------------------------------------

CWaveInThread::~CWaveInThread() { StopThread(); }

int CWaveInThread::Init(WaveInCallback callback, int priority, unsigned short bufferCount,
                        DWORD bufferSize, unsigned short channels, DWORD samplesPerSec,
                        unsigned short bitsPerSample) {
  EnterCriticalSection(&m_cs);
  const int ok =
      Configure(priority, bufferCount, bufferSize, channels, samplesPerSec, bitsPerSample);
  if (ok) m_Callback = callback;
  LeaveCriticalSection(&m_cs);
  return ok;
}

void CWaveInThread::SetDevice(UINT id) {
  EnterCriticalSection(&m_cs);
  m_DeviceId = id;
  LeaveCriticalSection(&m_cs);
}

int CWaveInThread::StartThread() {
  EnterCriticalSection(&m_cs);
  if (m_hThread || !m_Initialised) {
    LeaveCriticalSection(&m_cs);
    return 0;
  }
  ResetEvent(m_hStopEvent);
  m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, &m_ThreadId);
  const UINT deviceId = m_DeviceId;
  LeaveCriticalSection(&m_cs);
  if (!m_hThread) return 0;

  DWORD code = 0;
  if (GetExitCodeThread(m_hThread, &code) && code != STILL_ACTIVE) {
    StopThread();
    return 0;
  }
  if (m_hWave) {
    StopThread();
    return 0;
  }

  const size_t bytes = static_cast<size_t>(m_RingSize) + m_BufferSize;
  m_pBlocks = static_cast<unsigned char*>(std::calloc(bytes, 1));
  m_pRing = static_cast<unsigned char*>(std::calloc(bytes, 1));
  m_pHeaders = static_cast<WAVEHDR*>(std::calloc(m_BufferCount, sizeof(WAVEHDR)));
  if (m_pBlocks && m_pRing && m_pHeaders) {
    const UINT count = waveInGetNumDevs();
    const UINT first = deviceId == WAVE_MAPPER ? 0 : deviceId;
    const UINT last = deviceId == WAVE_MAPPER ? count : (deviceId < count ? deviceId + 1 : 0);
    for (UINT id = first; id < last; id++) {
      HWAVEIN h = nullptr;
      if (waveInOpen(&h, id, &m_Format, m_ThreadId, reinterpret_cast<DWORD_PTR>(this),
                     CALLBACK_THREAD) != MMSYSERR_NOERROR)
        continue;
      bool ok = true;
      for (DWORD j = 0; j < m_BufferCount; j++) {
        WAVEHDR* hdr = &m_pHeaders[j];
        std::memset(hdr, 0, sizeof *hdr);
        hdr->lpData = reinterpret_cast<LPSTR>(m_pBlocks + j * m_BufferSize);
        hdr->dwBufferLength = m_BufferSize;
        hdr->dwUser = j;
        ok = ok && waveInPrepareHeader(h, hdr, sizeof *hdr) == MMSYSERR_NOERROR &&
             waveInAddBuffer(h, hdr, sizeof *hdr) == MMSYSERR_NOERROR;
      }
      EnterCriticalSection(&m_cs);
      m_hWave = h;
      LeaveCriticalSection(&m_cs);
      if (ok) {
        ResetBuffer();
        SetWorkerPriority(m_Priority);
        EnterCriticalSection(&m_cs);
        m_Suspended = 0;
        ok = waveInStart(m_hWave) == MMSYSERR_NOERROR;
        if (ok) m_OpenId = id;
        LeaveCriticalSection(&m_cs);
        if (ok) return 1;
      }
      // This device took the format but not the blocks (or would not
      // start): give it back and try the next one.
      waveInReset(h);
      for (DWORD j = 0; j < m_BufferCount; j++)
        waveInUnprepareHeader(h, &m_pHeaders[j], sizeof(WAVEHDR));
      waveInClose(h);
      EnterCriticalSection(&m_cs);
      m_hWave = nullptr;
      LeaveCriticalSection(&m_cs);
    }
  }
  FreeBuffers();
  StopThread();
  return 0;
}

int CWaveInThread::StopThread() {
  EnterCriticalSection(&m_cs);
  HANDLE thread = m_hThread;
  LeaveCriticalSection(&m_cs);
  if (!thread || GetCurrentThreadId() == m_ThreadId) return 0;

  SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
  SetEvent(m_hStopEvent);
  // The handheld stops the device once the worker has gone, the desktop
  // before; either way the worker is never left waiting.
  if (!kPocket && m_hWave) waveInStop(m_hWave);
  WaitForSingleObject(thread, INFINITE);
  if (kPocket && m_hWave) waveInStop(m_hWave);
  CloseHandle(thread);

  EnterCriticalSection(&m_cs);
  m_hThread = nullptr;
  if (m_hWave) {
    waveInReset(m_hWave);
    for (DWORD j = 0; j < m_BufferCount; j++)
      waveInUnprepareHeader(m_hWave, &m_pHeaders[j], sizeof(WAVEHDR));
    waveInClose(m_hWave);
    m_hWave = nullptr;
  }
  m_OpenId = WAVE_MAPPER;
  FreeBuffers();
  // The read pointer pointed into the ring just freed.
  m_pRead = nullptr;
  m_DataLen = 0;
  m_Suspended = 0;
  LeaveCriticalSection(&m_cs);
  return 1;
}

int CWaveInThread::IsActive() {
  EnterCriticalSection(&m_cs);
  int active = m_hThread != nullptr && m_Initialised;
  LeaveCriticalSection(&m_cs);
  return active;
}

UINT CWaveInThread::GetDeviceId() {
  EnterCriticalSection(&m_cs);
  const UINT id = m_OpenId;
  LeaveCriticalSection(&m_cs);
  return id;
}

void CWaveInThread::ResetBuffer() {
  EnterCriticalSection(&m_cs);
  m_pRead = nullptr;
  if (m_Suspended) {
    SetWorkerPriority(m_Priority);
    waveInStart(m_hWave);
    m_Suspended = 0;
  }
  LeaveCriticalSection(&m_cs);
}

int CWaveInThread::ReadData(unsigned char* dest, DWORD len) {
  EnterCriticalSection(&m_cs);
  if (!dest || !m_pRead || len > m_DataLen) {
    LeaveCriticalSection(&m_cs);
    return 0;
  }
  unsigned char* end = m_pRing + m_RingSize;
  if (len > static_cast<DWORD>(end - m_pRead)) {
    DWORD first = static_cast<DWORD>(end - m_pRead);
    std::memcpy(dest, m_pRead, first);
    std::memcpy(dest + first, m_pRing, len - first);
    m_pRead = m_pRing + (len - first);
  } else {
    std::memcpy(dest, m_pRead, len);
    m_pRead += len;
  }
  m_DataLen -= len;
  if (m_Suspended && m_DataLen + m_RingSize / m_BufferCount <= m_RingSize) {
    SetWorkerPriority(m_Priority);
    waveInStart(m_hWave);
    m_Suspended = 0;
  }
  LeaveCriticalSection(&m_cs);
  return 1;
}

DWORD WINAPI CWaveInThread::ThreadProc(LPVOID param) {
  if (!param) return static_cast<DWORD>(-1);
  auto* self = static_cast<CWaveInThread*>(param);
  return RunWorker(self->m_hStopEvent, [self](const MSG& msg) {
    if (msg.message == MM_WIM_DATA) {
      self->HandleBlock(reinterpret_cast<WAVEHDR*>(msg.lParam));
    } else if (msg.message == MM_WIM_DEVICELOST) {
      if (self->m_Callback) self->m_Callback(WAVE_IN_DEVICE_LOST);
    }
  });
}

// One finished block. Block j of the device lands at ring offset
// j x m_BufferSize as long as blocks come back in order and none is
// dropped; the copy goes to the ring's write position (the end of the
// unread audio), which is that same offset then and stays right after an
// overflow has dropped a block, when the device's next block is no longer
// the ring's next slot.
void CWaveInThread::HandleBlock(WAVEHDR* hdr) {
  int event = 0;
  EnterCriticalSection(&m_cs);
  if (hdr && m_pHeaders && hdr >= m_pHeaders && hdr < m_pHeaders + m_BufferCount) {
    waveInUnprepareHeader(m_hWave, hdr, sizeof *hdr);
    const DWORD j = static_cast<DWORD>(hdr - m_pHeaders);
    if (!m_pRead) {
      m_pRead = m_pRing + j * m_BufferSize;
      m_DataLen = 0;
    }
    if (m_DataLen + hdr->dwBufferLength > m_RingSize) {
      SetWorkerPriority(kPriorityNormal);
      waveInStop(m_hWave);
      m_Suspended = 1;
      event = WAVE_IN_OVERFLOW;
    } else {
      // A short block keeps its full length: the missing tail is silence.
      const unsigned char silence = m_Format.wBitsPerSample == 8 ? 128 : 0;
      DWORD at = static_cast<DWORD>((m_pRead - m_pRing + m_DataLen) % m_RingSize);
      const auto* src = reinterpret_cast<const unsigned char*>(hdr->lpData);
      for (DWORD k = 0; k < hdr->dwBufferLength;) {
        DWORD n = hdr->dwBufferLength - k;
        if (n > m_RingSize - at) n = m_RingSize - at;
        DWORD recorded = hdr->dwBytesRecorded > k ? hdr->dwBytesRecorded - k : 0;
        if (recorded > n) recorded = n;
        std::memcpy(m_pRing + at, src + k, recorded);
        std::memset(m_pRing + at + recorded, silence, n - recorded);
        k += n;
        at = (at + n) % m_RingSize;
      }
      m_DataLen += hdr->dwBufferLength;
      event = WAVE_IN_DATA;
    }
    std::memset(hdr, 0, sizeof *hdr);
    hdr->dwBufferLength = m_BufferSize;
    hdr->lpData = reinterpret_cast<LPSTR>(m_pBlocks + j * m_BufferSize);
    hdr->dwUser = j;
    waveInPrepareHeader(m_hWave, hdr, sizeof *hdr);
    waveInAddBuffer(m_hWave, hdr, sizeof *hdr);
  }
  LeaveCriticalSection(&m_cs);
  if (m_Callback && event) m_Callback(static_cast<_WAVE_IN_EVENT>(event));
}

// CWaveOutThread -----------------------------------------------------------------

CWaveOutThread::~CWaveOutThread() { StopThread(); }

int CWaveOutThread::Init(WaveOutCallback callback, int priority, unsigned short bufferCount,
                         DWORD bufferSize, unsigned short channels, DWORD samplesPerSec,
                         unsigned short bitsPerSample) {
  EnterCriticalSection(&m_cs);
  const int ok =
      Configure(priority, bufferCount, bufferSize, channels, samplesPerSec, bitsPerSample);
  if (ok) m_Callback = callback;
  LeaveCriticalSection(&m_cs);
  return ok;
}

int CWaveOutThread::StartThread() {
  EnterCriticalSection(&m_cs);
  if (m_hThread || !m_Initialised) {
    LeaveCriticalSection(&m_cs);
    return 0;
  }
  m_FreeMask = 0;
  m_ReadBlock = 0;
  ResetEvent(m_hStopEvent);
  m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, &m_ThreadId);
  LeaveCriticalSection(&m_cs);
  if (!m_hThread) return 0;

  DWORD code = 0;
  if (GetExitCodeThread(m_hThread, &code) && code != STILL_ACTIVE) {
    StopThread();
    return 0;
  }
  if (m_hWave) {
    StopThread();
    return 0;
  }

  m_pBlocks = static_cast<unsigned char*>(std::calloc(kDeviceBuffers, m_BufferSize));
  m_pRing = static_cast<unsigned char*>(std::calloc(m_RingSize, 1));
  m_pHeaders = static_cast<WAVEHDR*>(std::calloc(kDeviceBuffers, sizeof(WAVEHDR)));
  if (m_pBlocks && m_pRing && m_pHeaders) {
    const UINT count = waveOutGetNumDevs();
    for (UINT id = 0; id < count; id++) {
      HWAVEOUT h = nullptr;
      if (waveOutOpen(&h, id, &m_Format, m_ThreadId, reinterpret_cast<DWORD_PTR>(this),
                      CALLBACK_THREAD) != MMSYSERR_NOERROR)
        continue;
      waveOutPause(h);
      EnterCriticalSection(&m_cs);
      m_hWave = h;
      m_FreeMask = (1u << kDeviceBuffers) - 1;
      LeaveCriticalSection(&m_cs);
      ResetBuffer();
      EnterCriticalSection(&m_cs);
      m_Suspended = 1;
      LeaveCriticalSection(&m_cs);
      return 1;
    }
  }
  FreeBuffers();
  StopThread();
  return 0;
}

int CWaveOutThread::StopThread() {
  EnterCriticalSection(&m_cs);
  HANDLE thread = m_hThread;
  LeaveCriticalSection(&m_cs);
  if (!thread || GetCurrentThreadId() == m_ThreadId) return 0;

  SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
  SetEvent(m_hStopEvent);
  if (m_hWave) waveOutPause(m_hWave);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);

  EnterCriticalSection(&m_cs);
  m_hThread = nullptr;
  if (m_hWave) {
    waveOutReset(m_hWave);
    for (int i = 0; i < kDeviceBuffers; i++)
      waveOutUnprepareHeader(m_hWave, &m_pHeaders[i], sizeof(WAVEHDR));
    waveOutClose(m_hWave);
    m_hWave = nullptr;
  }
  FreeBuffers();
  m_pWrite = nullptr;
  m_DataLen = 0;
  m_FreeMask = 0;
  m_Suspended = 0;
  LeaveCriticalSection(&m_cs);
  return 1;
}

void CWaveOutThread::ResetBuffer() {
  EnterCriticalSection(&m_cs);
  m_pWrite = m_pRing;
  m_DataLen = 0;
  m_ReadBlock = 0;
  LeaveCriticalSection(&m_cs);
}

// The lowest index of the highest run of idle buffers: with buffers
// finishing in queue order, the one idle longest. -1 when none is idle.
int CWaveOutThread::ChooseIdleBuffer() const {
  int found = -1;
  for (int i = kDeviceBuffers - 1; i >= 0; i--) {
    if (m_FreeMask & (1u << i))
      found = i;
    else if (found >= 0)
      break;
  }
  return found;
}

// Copies ring block m_ReadBlock into device buffer `buffer` and queues it.
// False, with the ring untouched, when the device will not take it.
bool CWaveOutThread::QueueBlock(int buffer) {
  WAVEHDR* hdr = &m_pHeaders[buffer];
  unsigned char* data = m_pBlocks + static_cast<size_t>(buffer) * m_BufferSize;
  std::memcpy(data, m_pRing + static_cast<size_t>(m_ReadBlock) * m_BufferSize, m_BufferSize);
  std::memset(hdr, 0, sizeof *hdr);
  hdr->lpData = reinterpret_cast<LPSTR>(data);
  hdr->dwBufferLength = m_BufferSize;
  hdr->dwUser = static_cast<DWORD_PTR>(buffer);
  if (waveOutPrepareHeader(m_hWave, hdr, sizeof *hdr) != MMSYSERR_NOERROR) return false;
  if (waveOutWrite(m_hWave, hdr, sizeof *hdr) != MMSYSERR_NOERROR) {
    waveOutUnprepareHeader(m_hWave, hdr, sizeof *hdr);
    return false;
  }
  m_DataLen -= m_BufferSize;
  m_ReadBlock = static_cast<unsigned short>((m_ReadBlock + 1) % m_BufferCount);
  return true;
}

int CWaveOutThread::WriteData(const unsigned char* src, DWORD len) {
  EnterCriticalSection(&m_cs);
  if (!src || !m_pRing || static_cast<uint64_t>(m_DataLen) + len > m_RingSize) {
    LeaveCriticalSection(&m_cs);
    return 0;
  }
  unsigned char* end = m_pRing + m_RingSize;
  DWORD first = len < static_cast<DWORD>(end - m_pWrite) ? len : static_cast<DWORD>(end - m_pWrite);
  std::memcpy(m_pWrite, src, first);
  std::memcpy(m_pRing, src + first, len - first);
  m_pWrite = len - first ? m_pRing + (len - first) : m_pWrite + first;
  if (m_pWrite == end) m_pWrite = m_pRing;
  m_DataLen += len;
  while (m_DataLen >= m_BufferSize) {
    int i = ChooseIdleBuffer();
    if (i < 0 || !QueueBlock(i)) break;
    m_FreeMask &= ~(1u << i);
    if (m_Suspended && m_FreeMask == 0) {
      SetWorkerPriority(m_Priority);
      waveOutRestart(m_hWave);
      m_Suspended = 0;
    }
  }
  LeaveCriticalSection(&m_cs);
  return 1;
}

DWORD WINAPI CWaveOutThread::ThreadProc(LPVOID param) {
  if (!param) return static_cast<DWORD>(-1);
  auto* self = static_cast<CWaveOutThread*>(param);
  return RunWorker(self->m_hStopEvent, [self](const MSG& msg) {
    if (msg.message == MM_WOM_DONE) {
      self->HandleDone(reinterpret_cast<WAVEHDR*>(msg.lParam));
    } else if (msg.message == MM_WOM_DEVICELOST) {
      if (self->m_Callback) self->m_Callback(WAVE_OUT_DEVICE_LOST);
    }
  });
}

// A finished buffer is refilled at once while the ring holds a whole block,
// so audio already accepted by WriteData plays out even when the owner
// writes nothing more; only when less than a block is left does the buffer
// go idle until the next WriteData.
void CWaveOutThread::HandleDone(WAVEHDR* hdr) {
  _WAVE_OUT_EVENT event = WAVE_OUT_DONE;
  EnterCriticalSection(&m_cs);
  if (hdr && m_pHeaders && hdr >= m_pHeaders && hdr < m_pHeaders + kDeviceBuffers) {
    waveOutUnprepareHeader(m_hWave, hdr, sizeof *hdr);
    const int i = static_cast<int>(hdr - m_pHeaders);
    std::memset(hdr, 0, sizeof *hdr);
    if (!(m_DataLen >= m_BufferSize && QueueBlock(i))) {
      m_FreeMask |= 1u << i;
      if (m_FreeMask == (1u << kDeviceBuffers) - 1) {
        SetWorkerPriority(kPriorityNormal);
        waveOutPause(m_hWave);
        m_Suspended = 1;
        event = WAVE_OUT_UNDERRUN;
      }
    }
  }
  LeaveCriticalSection(&m_cs);
  if (m_Callback) m_Callback(event);
}

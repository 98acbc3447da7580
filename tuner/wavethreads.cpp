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
  // The ring with a block to spare must fit in 32 bits.
  uint64_t bytes = (static_cast<uint64_t>(bufferCount) + 1) * bufferSize;
  return bytes <= 0xFFFFFFFFu;
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
                              unsigned short bitsPerSample, int deviceBuffers) {
  if (m_Initialised || !ValidConfiguration(priority, bufferCount, bufferSize, channels,
                                           samplesPerSec, bitsPerSample))
    return 0;
  m_Priority = priority;
  m_BufferCount = bufferCount;
  m_BufferSize = bufferSize;
  m_DeviceBuffers = deviceBuffers;
  m_Format = PcmWaveFormat(samplesPerSec, bitsPerSample, channels);
  m_RingSize = static_cast<DWORD>(bufferCount) * bufferSize;
  m_Initialised = 1;
  return 1;
}

void WaveThreadBase::SetWorkerPriority(int priority) {
  SetThreadPriority(m_hThread, PlatformPriority(priority));
}

WAVEHDR* WaveThreadBase::FreshHeader(int index) {
  WAVEHDR* hdr = &m_pHeaders[index];
  std::memset(hdr, 0, sizeof *hdr);
  hdr->lpData = reinterpret_cast<LPSTR>(m_pBlocks + static_cast<size_t>(index) * m_BufferSize);
  hdr->dwBufferLength = m_BufferSize;
  hdr->dwUser = static_cast<DWORD_PTR>(index);
  return hdr;
}

int WaveThreadBase::AllocateBuffers() {
  m_pBlocks = static_cast<unsigned char*>(std::calloc(m_DeviceBuffers, m_BufferSize));
  m_pHeaders = static_cast<WAVEHDR*>(std::calloc(m_DeviceBuffers, sizeof(WAVEHDR)));
  return m_pBlocks && m_pHeaders && m_Ring.Allocate(m_RingSize);
}

void WaveThreadBase::FreeBuffers() {
  std::free(m_pBlocks);
  std::free(m_pHeaders);
  m_pBlocks = nullptr;
  m_pHeaders = nullptr;
  m_Ring.Release();
}

DWORD WaveThreadBase::GetBytesPerSecond() {
  ScopedLock lock(m_cs);
  return m_Initialised ? m_Format.nAvgBytesPerSec : 0;
}

DWORD WaveThreadBase::GetDataLen() {
  ScopedLock lock(m_cs);
  return m_Ring.GetDataLen();
}

// The worker waits for its stop event and its messages together, so it
// sleeps until there is something to do and still ends as soon as it is
// asked to.
DWORD WINAPI WaveThreadBase::ThreadProc(LPVOID param) {
  if (!param) return static_cast<DWORD>(-1);
  auto* self = static_cast<WaveThreadBase*>(param);
  for (;;) {
    DWORD r = MsgWaitForMultipleObjects(1, &self->m_hStopEvent, FALSE, INFINITE, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return 0;
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) self->HandleMessage(msg);
  }
}

int WaveThreadBase::StartThread() {
  HANDLE thread;
  {
    ScopedLock lock(m_cs);
    if (m_hThread || !m_Initialised) return 0;
    ResetEvent(m_hStopEvent);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, &m_ThreadId);
    thread = m_hThread;
  }
  if (!thread) return 0;

  DWORD code = 0;
  if (!GetExitCodeThread(thread, &code) || code == STILL_ACTIVE) {
    // The device's messages go to the worker, so the worker is there before
    // the device opens; the lock keeps them waiting until it has.
    ScopedLock lock(m_cs);
    if (AllocateBuffers() && OpenDevice()) return 1;
  }
  StopThread();
  return 0;
}

int WaveThreadBase::StopThread() {
  HANDLE thread;
  {
    ScopedLock lock(m_cs);
    thread = m_hThread;
    if (!thread || GetCurrentThreadId() == m_ThreadId) return 0;
  }

  SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
  SetEvent(m_hStopEvent);
  HaltDevice(false);
  WaitForSingleObject(thread, INFINITE);
  HaltDevice(true);
  CloseHandle(thread);

  ScopedLock lock(m_cs);
  m_hThread = nullptr;
  CloseDevice();
  FreeBuffers();
  m_Suspended = 0;
  return 1;
}

// CWaveInThread ------------------------------------------------------------------

CWaveInThread::~CWaveInThread() { StopThread(); }

void CWaveInThread::SetDevice(UINT id) {
  ScopedLock lock(m_cs);
  m_DeviceId = id;
}

int CWaveInThread::QueueBlock(HWAVEIN h, int index) {
  WAVEHDR* hdr = FreshHeader(index);
  return waveInPrepareHeader(h, hdr, sizeof *hdr) == MMSYSERR_NOERROR &&
         waveInAddBuffer(h, hdr, sizeof *hdr) == MMSYSERR_NOERROR;
}

int CWaveInThread::OpenDevice() {
  const UINT count = waveInGetNumDevs();
  const UINT first = m_DeviceId == WAVE_MAPPER ? 0 : m_DeviceId;
  const UINT last = m_DeviceId == WAVE_MAPPER ? count : (m_DeviceId < count ? m_DeviceId + 1 : 0);
  for (UINT id = first; id < last; id++) {
    HWAVEIN h = nullptr;
    if (waveInOpen(&h, id, &m_Format, m_ThreadId, reinterpret_cast<DWORD_PTR>(this),
                   CALLBACK_THREAD) != MMSYSERR_NOERROR)
      continue;
    bool ok = true;
    for (int j = 0; j < m_DeviceBuffers; j++) {
      if (ok) {
        ok = QueueBlock(h, j);
      } else {
        std::memset(&m_pHeaders[j], 0, sizeof(WAVEHDR));
      }
    }
    m_hWave = h;
    if (ok) {
      m_Anchored = 0;
      SetWorkerPriority(m_Priority);
      m_Suspended = 0;
      if (waveInStart(m_hWave) == MMSYSERR_NOERROR) {
        m_OpenId = id;
        return 1;
      }
    }
    // This device took the format but not the blocks (or would not
    // start): give it back and try the next one.
    CloseDevice();
  }
  return 0;
}

void CWaveInThread::HaltDevice(bool workerEnded) {
  // The handheld stops the device once the worker has gone, the desktop
  // before; either way the worker is never left waiting.
  if (workerEnded != kPocket) return;
  ScopedLock lock(m_cs);
  if (m_hWave) waveInStop(m_hWave);
}

void CWaveInThread::CloseDevice() {
  if (m_hWave) {
    waveInReset(m_hWave);
    for (int j = 0; j < m_DeviceBuffers; j++)
      waveInUnprepareHeader(m_hWave, &m_pHeaders[j], sizeof(WAVEHDR));
    waveInClose(m_hWave);
    m_hWave = nullptr;
  }
  m_OpenId = WAVE_MAPPER;
  m_Anchored = 0;
}

int CWaveInThread::IsActive() {
  ScopedLock lock(m_cs);
  return m_hThread != nullptr && m_Initialised;
}

UINT CWaveInThread::GetDeviceId() {
  ScopedLock lock(m_cs);
  return m_OpenId;
}

void CWaveInThread::Resume() {
  SetWorkerPriority(m_Priority);
  waveInStart(m_hWave);
  m_Suspended = 0;
}

void CWaveInThread::ResetBuffer() {
  ScopedLock lock(m_cs);
  m_Anchored = 0;
  if (m_Suspended) Resume();
}

int CWaveInThread::ReadData(unsigned char* dest, DWORD len) {
  ScopedLock lock(m_cs);
  if (!m_Anchored || !m_Ring.Read(dest, len)) return 0;
  if (m_Suspended && m_Ring.GetFree() >= m_BufferSize) Resume();
  return 1;
}

// One finished block. Block j of the device lands at ring offset
// j x m_BufferSize as long as blocks come back in order and none is
// dropped; the copy goes to the ring's write position (the end of the
// unread audio), which is that same offset then and stays right after an
// overflow has dropped a block, when the device's next block is no longer
// the ring's next slot.
void CWaveInThread::HandleBlock(WAVEHDR* hdr) {
  int event = 0;
  WaveInCallback callback;
  {
    ScopedLock lock(m_cs);
    callback = m_Callback;
    if (!hdr || !m_pHeaders || hdr < m_pHeaders || hdr >= m_pHeaders + m_BufferCount) return;
    waveInUnprepareHeader(m_hWave, hdr, sizeof *hdr);
    const int j = static_cast<int>(hdr - m_pHeaders);
    if (!m_Anchored) {
      m_Ring.Reset(static_cast<DWORD>(j) * m_BufferSize);
      m_Anchored = 1;
    }
    if (hdr->dwBufferLength > m_Ring.GetFree()) {
      SetWorkerPriority(kPriorityNormal);
      waveInStop(m_hWave);
      m_Suspended = 1;
      event = WAVE_IN_OVERFLOW;
    } else {
      // A short block keeps its full length: the missing tail is silence.
      const DWORD recorded =
          hdr->dwBytesRecorded < hdr->dwBufferLength ? hdr->dwBytesRecorded : hdr->dwBufferLength;
      m_Ring.Write(reinterpret_cast<const unsigned char*>(hdr->lpData), recorded);
      m_Ring.Fill(m_Format.wBitsPerSample == 8 ? 128 : 0, hdr->dwBufferLength - recorded);
      event = WAVE_IN_DATA;
    }
    QueueBlock(m_hWave, j);
  }
  if (callback && event) callback(static_cast<_WAVE_IN_EVENT>(event));
}

// CWaveOutThread -----------------------------------------------------------------

CWaveOutThread::~CWaveOutThread() { StopThread(); }

int CWaveOutThread::OpenDevice() {
  const UINT count = waveOutGetNumDevs();
  for (UINT id = 0; id < count; id++) {
    HWAVEOUT h = nullptr;
    if (waveOutOpen(&h, id, &m_Format, m_ThreadId, reinterpret_cast<DWORD_PTR>(this),
                    CALLBACK_THREAD) != MMSYSERR_NOERROR)
      continue;
    waveOutPause(h);
    m_hWave = h;
    m_FreeMask = (1u << kDeviceBuffers) - 1;
    m_Ring.Reset();
    m_Suspended = 1;
    return 1;
  }
  return 0;
}

void CWaveOutThread::HaltDevice(bool workerEnded) {
  if (workerEnded) return;
  ScopedLock lock(m_cs);
  if (m_hWave) waveOutPause(m_hWave);
}

void CWaveOutThread::CloseDevice() {
  if (m_hWave) {
    waveOutReset(m_hWave);
    for (int i = 0; i < kDeviceBuffers; i++)
      waveOutUnprepareHeader(m_hWave, &m_pHeaders[i], sizeof(WAVEHDR));
    waveOutClose(m_hWave);
    m_hWave = nullptr;
  }
  m_FreeMask = 0;
}

void CWaveOutThread::ResetBuffer() {
  ScopedLock lock(m_cs);
  m_Ring.Reset();
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

// Copies the ring's oldest block into device buffer `buffer` and queues it.
// False, with the ring untouched, when the device will not take it.
bool CWaveOutThread::QueueBlock(int buffer) {
  WAVEHDR* hdr = FreshHeader(buffer);
  m_Ring.Peek(reinterpret_cast<unsigned char*>(hdr->lpData), m_BufferSize);
  if (waveOutPrepareHeader(m_hWave, hdr, sizeof *hdr) != MMSYSERR_NOERROR) return false;
  if (waveOutWrite(m_hWave, hdr, sizeof *hdr) != MMSYSERR_NOERROR) {
    waveOutUnprepareHeader(m_hWave, hdr, sizeof *hdr);
    return false;
  }
  m_Ring.Discard(m_BufferSize);
  return true;
}

int CWaveOutThread::WriteData(const unsigned char* src, DWORD len) {
  ScopedLock lock(m_cs);
  if (!m_Ring.Write(src, len)) return 0;
  while (m_Ring.GetDataLen() >= m_BufferSize) {
    int i = ChooseIdleBuffer();
    if (i < 0 || !QueueBlock(i)) break;
    m_FreeMask &= ~(1u << i);
    if (m_Suspended && m_FreeMask == 0) {
      SetWorkerPriority(m_Priority);
      waveOutRestart(m_hWave);
      m_Suspended = 0;
    }
  }
  return 1;
}

// A finished buffer is refilled at once while the ring holds a whole block,
// so audio already accepted by WriteData plays out even when the owner
// writes nothing more; only when less than a block is left does the buffer
// go idle until the next WriteData.
void CWaveOutThread::HandleBlock(WAVEHDR* hdr) {
  _WAVE_OUT_EVENT event = WAVE_OUT_DONE;
  WaveOutCallback callback;
  {
    ScopedLock lock(m_cs);
    callback = m_Callback;
    if (hdr && m_pHeaders && hdr >= m_pHeaders && hdr < m_pHeaders + kDeviceBuffers) {
      waveOutUnprepareHeader(m_hWave, hdr, sizeof *hdr);
      const int i = static_cast<int>(hdr - m_pHeaders);
      std::memset(hdr, 0, sizeof *hdr);
      if (!(m_Ring.GetDataLen() >= m_BufferSize && QueueBlock(i))) {
        m_FreeMask |= 1u << i;
        if (m_FreeMask == (1u << kDeviceBuffers) - 1) {
          SetWorkerPriority(kPriorityNormal);
          waveOutPause(m_hWave);
          m_Suspended = 1;
          event = WAVE_OUT_UNDERRUN;
        }
      }
    }
  }
  if (callback) callback(event);
}

// The sound effects mixer (see sound.h).
//
// Shutting down. The feeder thread waits for its event without a time limit,
// so it can only end when something wakes it: WaveOut_Terminate sets
// fStopThread under the lock, then signals the event, then waits for the
// thread. Whatever the feeder is doing at that moment, it comes back to the
// wait, finds the event signalled, takes the lock and sees the flag. Nothing
// the feeder does under the lock waits for the owner's thread (the device's
// completion function takes no lock, and posting a notification does not
// wait), so the wait for the thread always ends, provided the caller does
// not hold the lock itself; WaveOut_Terminate refuses in that case and when
// called from the feeder thread. When the program ends with the mixer still
// running, WAVEOUTSTATE's destructor does the same.
#include "common_code/sound.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common_code/salloc.h"
#include "platform/services/audioconvert.h"
#include "platform/services/byte_order.h"
#include "platform/services/riff.h"

WAVEOUTSTATE WaveOutState;
WAVEOUTMIX WaveOutMix;
SOUND* WavFiles[kSoundCount];
int Muted = 0;
int Volume = 5;

namespace {

constexpr WORD kWaveFormatIeeeFloat = 3;
constexpr DWORD kMinSourceRate = 1000;
constexpr DWORD kMaxSourceRate = 384000;

// Guards starting and ending the feeder thread.
constinit Mutex g_InitMutex ACQUIRED_BEFORE(WaveOutState.cs);

// The handheld puts the device volume found at start-up back at exit.
DWORD g_dwStartVolume = 0;
int g_fStartVolumeKept = 0;

// Thread identities here are the standard library's, not the platform's:
// at the program's end the platform's record of the main thread is gone
// before WAVEOUTSTATE's destructor runs.
void Lock() ACQUIRE(WaveOutState.cs) {
  EnterCriticalSection(&WaveOutState.cs);
  if (WaveOutState.cOwnerDepth++ == 0) WaveOutState.idOwner.store(std::this_thread::get_id());
}

void Unlock() RELEASE(WaveOutState.cs) {
  if (--WaveOutState.cOwnerDepth == 0) WaveOutState.idOwner.store(std::thread::id());
  LeaveCriticalSection(&WaveOutState.cs);
}

// Locks are taken in one order: g_InitMutex, then cs. A thread that holds cs
// never waits for g_InitMutex (WaveOut_Terminate refuses such a caller first).
void WaveOut_Initialize() {
  if (WaveOutState.fInitialized.load()) return;
  ScopedLock lk(g_InitMutex);
  if (WaveOutState.fInitialized.load()) return;
  InitializeCriticalSection(&WaveOutState.cs);
  Lock();
  WaveOutState.heBufferDone = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  WaveOutState.fStopThread = 0;
  WaveOutState.fFeeding.store(1);
  WaveOutState.hThread = WaveOutState.heBufferDone
                             ? CreateThread(nullptr, 0, WaveOut_FeedThread, nullptr, 0, nullptr)
                             : nullptr;
  if (!WaveOutState.hThread) WaveOutState.fFeeding.store(0);
  WaveOutState.fInitialized.store(1);
  Unlock();
}

// Hands back the queued buffers, unprepares them and closes the device.
// Lock held.
void CloseDevice() REQUIRES(WaveOutState.cs) {
  if (!WaveOutState.hwo) return;
  waveOutReset(WaveOutState.hwo);
  for (WAVEOUTBUFFER& b : WaveOutState.aBuffers) {
    waveOutUnprepareHeader(WaveOutState.hwo, &b.hBuf, sizeof(WAVEHDR));
    b.fDone.store(1);
  }
  waveOutClose(WaveOutState.hwo);
  WaveOutState.hwo = nullptr;
  WaveOutState.fStereo = 0;
  WaveOutState.fDeviceLost.store(0);
}

void StopAllSources() REQUIRES(WaveOutState.cs) {
  for (unsigned i = 0; i < WaveOutState.cSources; i++)
    if (WaveOutState.aSources[i].abData) WaveOut_OnStop(&WaveOutState.aSources[i]);
}

void FreeSources() REQUIRES(WaveOutState.cs) {
  if (WaveOutState.aSources) MemMgr_Free(WaveOutState.aSources, __FILE__, __LINE__);
  WaveOutState.aSources = nullptr;
  WaveOutState.cSources = 0;
}

// Ends the feeder thread and the device, releases the mixer's memory.
// `fAtExit`: called as the program ends, when this thread can no longer use
// the platform's waits (see Lock); the feeder's own flag is waited for.
int Terminate(bool fAtExit) {
  const std::thread::id idSelf = std::this_thread::get_id();
  if (WaveOutState.idOwner.load() == idSelf) return 0;
  ScopedLock lk(g_InitMutex);
  if (!WaveOutState.fInitialized.load()) return 1;
  if (WaveOutState.idFeeder.load() == idSelf) return 0;
  Lock();
  WaveOutState.fStopThread = 1;
  HANDLE hThread = WaveOutState.hThread;
  Unlock();
  if (hThread) {
    SetEvent(WaveOutState.heBufferDone);
    if (fAtExit) {
      while (WaveOutState.fFeeding.load()) WaveOutState.fFeeding.wait(1);
    } else {
      WaitForSingleObject(hThread, INFINITE);
    }
    CloseHandle(hThread);
  }
  Lock();
  WaveOutState.hThread = nullptr;
  WaveOutState.idFeeder.store(std::thread::id());
  StopAllSources();
  CloseDevice();
  FreeSources();
  WAVEOUTMIX& m = WaveOutMix;
  if (m.aLeft) MemMgr_Free(m.aLeft, __FILE__, __LINE__);
  if (m.aRight) MemMgr_Free(m.aRight, __FILE__, __LINE__);
  m = WAVEOUTMIX{};
  WaveOutState.fInitialized.store(0);
  Unlock();
  if (WaveOutState.heBufferDone) CloseHandle(WaveOutState.heBufferDone);
  WaveOutState.heBufferDone = nullptr;
  return 1;
}

// Grows an accumulator to hold `cNeed` samples; 0 when memory ran out.
int GrowAccumulator(short** ppAcc, unsigned* pcAcc, unsigned cNeed) {
  short* pOld = *ppAcc;
  if (!MemMgr_Realloc(sizeof(short), ppAcc, pcAcc, cNeed, 128, 0, __FILE__, __LINE__)) return 0;
  if (*ppAcc != pOld) MemMgr_Tare(*ppAcc, __FILE__, __LINE__);
  return 1;
}

BYTE ScaleToByte(int iAcc) REQUIRES(WaveOutState.cs) {
  const WAVEOUTMIX& m = WaveOutMix;
  int v = iAcc * m.cVolWanted / m.cVolCurrent + 128;
  return static_cast<BYTE>(std::clamp(v, 0, 255));
}

short AddSaturated(short a, int b) { return static_cast<short>(std::clamp(a + b, -32768, 32767)); }

// The sample format of a WAVE format's samples, when it is one we convert.
bool SampleFormatOf(WORD wTag, WORD wBits, SampleFormat* pFormat) {
  if (wTag == WAVE_FORMAT_PCM) {
    switch (wBits) {
      case 8:
        *pFormat = SampleFormat::U8;
        return true;
      case 16:
        *pFormat = SampleFormat::S16;
        return true;
      case 32:
        *pFormat = SampleFormat::S32;
        return true;
      default:
        return false;
    }
  }
  if (wTag == kWaveFormatIeeeFloat && wBits == 32) {
    *pFormat = SampleFormat::F32;
    return true;
  }
  return false;
}

// Brings a signal to PCM of the wanted rate, bits and channels. The signal
// and its length are replaced by the converted ones (memory manager memory;
// an earlier converted signal is released, and *pfAllocated set). Nothing
// to do is success. The length is what the conversion produced.
int ConvertWave(WAVEFORMATEX* pFormat, const BYTE** ppSignal, unsigned* pcbSignal, int* pfAllocated,
                DWORD nRate, WORD wBits, WORD nChannels) {
  if (pFormat->wFormatTag == WAVE_FORMAT_PCM && pFormat->nSamplesPerSec == nRate &&
      pFormat->wBitsPerSample == wBits && pFormat->nChannels == nChannels)
    return 1;
  AudioFormat from, to;
  if (!SampleFormatOf(pFormat->wFormatTag, pFormat->wBitsPerSample, &from.Format) ||
      !SampleFormatOf(WAVE_FORMAT_PCM, wBits, &to.Format))
    return 0;
  from.Channels = pFormat->nChannels;
  from.Rate = static_cast<int>(pFormat->nSamplesPerSec);
  to.Channels = nChannels;
  to.Rate = static_cast<int>(nRate);
  const size_t cbOut = ConvertedSize(*pcbSignal, from, to);
  if (cbOut == 0 || cbOut > kMaxSoundBytes) return 0;
  BYTE* pOut = static_cast<BYTE*>(MemMgr_Alloc(cbOut, "cbOut", __FILE__, __LINE__));
  if (!pOut) return 0;
  std::memset(pOut, 128, cbOut);
  size_t cbWritten = 0;
  if (!ConvertAudioInto(*ppSignal, *pcbSignal, from, to, pOut, cbOut, &cbWritten, nullptr) ||
      cbWritten == 0) {
    MemMgr_Free(pOut, __FILE__, __LINE__);
    return 0;
  }
  if (*pfAllocated) MemMgr_Free(const_cast<BYTE*>(*ppSignal), __FILE__, __LINE__);
  *ppSignal = pOut;
  *pcbSignal = static_cast<unsigned>(cbWritten);
  *pfAllocated = 1;
  *pFormat = PcmWaveFormat(nRate, wBits, nChannels);
  return 1;
}

// 24-bit samples widened to 32 bits, in place of the signal (as ConvertWave
// replaces it).
int Widen24To32(WAVEFORMATEX* pFormat, const BYTE** ppSignal, unsigned* pcbSignal,
                int* pfAllocated) {
  const size_t cSamples = *pcbSignal / 3;
  if (cSamples == 0 || cSamples * 4 > kMaxSoundBytes) return 0;
  auto* pOut = static_cast<BYTE*>(MemMgr_Alloc(cSamples * 4, "cbOut", __FILE__, __LINE__));
  if (!pOut) return 0;
  const BYTE* pIn = *ppSignal;
  for (size_t i = 0; i < cSamples; i++) {
    pOut[4 * i] = 0;
    std::memcpy(pOut + 4 * i + 1, pIn + 3 * i, 3);
  }
  if (*pfAllocated) MemMgr_Free(const_cast<BYTE*>(*ppSignal), __FILE__, __LINE__);
  *ppSignal = pOut;
  *pcbSignal = static_cast<unsigned>(cSamples * 4);
  *pfAllocated = 1;
  *pFormat = PcmWaveFormat(pFormat->nSamplesPerSec, 32, pFormat->nChannels);
  return 1;
}

std::string NativePath(const char* pszFileName) {
  std::string path = pszFileName;
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// A source's end as its sound sees it: one instance fewer, and the sound
// destroyed with its last instance when it asked for that.
void EndInstance(std::atomic<long>* pDecOnStop, SOUND* pDestroyAfter) {
  long cLeftPlaying = 0;
  if (pDecOnStop) cLeftPlaying = --*pDecOnStop;
  if (pDestroyAfter && cLeftPlaying <= 0) delete pDestroyAfter;
}

SOUND* TableSound(int id) {
  if (id < kSoundIdFirst || id >= kSoundIdFirst + kSoundCount) return nullptr;
  return WavFiles[id - kSoundIdFirst];
}

}  // namespace

WAVEOUTSTATE::~WAVEOUTSTATE() { Terminate(true); }

// Lock --------------------------------------------------------------------------

void WaveOut_Enter() {
  // WaveOut_Terminate may end the mixer while this thread waits for the lock;
  // then it starts again.
  for (;;) {
    WaveOut_Initialize();
    Lock();
    if (WaveOutState.fInitialized.load()) return;
    Unlock();
  }
}

void WaveOut_Leave() { Unlock(); }

namespace {
// Whether the mixer is set up and its handle `field` is held, read under the
// lock.
template <typename Handle>
int HoldsHandle(Handle WAVEOUTSTATE::*field) {
  if (!WaveOutState.fInitialized.load()) return 0;
  Lock();
  int held = WaveOutState.fInitialized.load() && WaveOutState.*field != nullptr;
  Unlock();
  return held;
}
}  // namespace

int WaveOut_IsRunning() { return HoldsHandle(&WAVEOUTSTATE::hThread); }
int WaveOut_IsOpen() { return HoldsHandle(&WAVEOUTSTATE::hwo); }

// Device -------------------------------------------------------------------------

void WaveOut_Init() {
  DWORD dwVolume;
  if (WaveOut_GetVolume(&dwVolume)) Volume = LOWORD(dwVolume) / 13107;
}

int WaveOut_Init(const WAVEFORMATEX* pFormat) {
  if (!pFormat) return 0;
  WaveOut_Enter();
  if (!WaveOutState.hwo) {
    for (WORD nChannels = 2; nChannels >= 1 && !WaveOutState.hwo; nChannels--) {
      WAVEFORMATEX f = PcmWaveFormat(pFormat->nSamplesPerSec, pFormat->wBitsPerSample, nChannels);
      HWAVEOUT h = nullptr;
      if (waveOutOpen(&h, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&WaveOut_Callback), 0,
                      CALLBACK_FUNCTION) == MMSYSERR_NOERROR) {
        WaveOutState.hwo = h;
        WaveOutState.fStereo = nChannels == 2;
      }
    }
    for (unsigned i = 0; WaveOutState.hwo && i < kWaveOutBufferCount; i++) {
      WAVEOUTBUFFER& b = WaveOutState.aBuffers[i];
      std::memset(&b.hBuf, 0, sizeof(b.hBuf));
      std::memset(b.abBuf, 0, sizeof(b.abBuf));
      b.hBuf.lpData = reinterpret_cast<LPSTR>(b.abBuf);
      b.hBuf.dwBufferLength = kWaveOutBufferBytes;
      b.fDone.store(1);
      if (waveOutPrepareHeader(WaveOutState.hwo, &b.hBuf, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
        CloseDevice();
    }
  }
  int fOpen = WaveOutState.hwo != nullptr;
  WaveOut_Leave();
  return fOpen;
}

void CALLBACK WaveOut_Callback(HANDLE, UINT uMsg, DWORD_PTR, DWORD_PTR dwParam1, DWORD_PTR) {
  if (uMsg == WOM_DONE) {
    auto* pHdr = reinterpret_cast<WAVEHDR*>(dwParam1);
    for (WAVEOUTBUFFER& b : WaveOutState.aBuffers)
      if (&b.hBuf == pHdr) b.fDone.store(1);
    SetEvent(WaveOutState.heBufferDone);
  } else if (uMsg == MM_WOM_DEVICELOST) {
    WaveOutState.fDeviceLost.store(1);
    SetEvent(WaveOutState.heBufferDone);
  }
}

int WaveOut_Start(const WAVEOUTREQ* pReq) {
  if (!pReq) return 0;
  int fAccepted = 0;
  const WAVEFORMATEX& f = pReq->Format;
  if (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 8 &&
      f.nSamplesPerSec == kWaveOutRate && (f.nChannels == 1 || f.nChannels == 2) && pReq->abData &&
      pReq->cbData) {
    WaveOut_Enter();
    if (WaveOutState.hThread && WaveOut_Init(&f)) {
      WAVEOUTSOURCE* pSource = nullptr;
      for (unsigned i = 0; i < WaveOutState.cSources && !pSource; i++)
        if (!WaveOutState.aSources[i].abData) pSource = &WaveOutState.aSources[i];
      if (!pSource) {
        WAVEOUTSOURCE* pOld = WaveOutState.aSources;
        unsigned cOld = WaveOutState.cSources;
        if (MemMgr_Realloc(sizeof(WAVEOUTSOURCE), &WaveOutState.aSources, &WaveOutState.cSources,
                           cOld + 1, 1, 0, __FILE__, __LINE__)) {
          if (WaveOutState.aSources != pOld) MemMgr_Tare(WaveOutState.aSources, __FILE__, __LINE__);
          pSource = &WaveOutState.aSources[cOld];
        }
      }
      if (pSource) {
        pSource->fStereo = f.nChannels == 2;
        pSource->abData = pReq->abData;
        pSource->cbData = pReq->cbData;
        pSource->ibRead = 0;
        pSource->fLoop = pReq->fLoop;
        pSource->hNotify = pReq->hNotify;
        pSource->wpCookie = pReq->wpCookie;
        pSource->lpCookie = pReq->lpCookie;
        pSource->pDecOnStop = pReq->pDecOnStop;
        pSource->pDestroyAfter = pReq->pDestroyAfter;
        SetEvent(WaveOutState.heBufferDone);
        fAccepted = 1;
      }
    }
    WaveOut_Leave();
  }
  if (!fAccepted) EndInstance(pReq->pDecOnStop, pReq->pDestroyAfter);
  return fAccepted;
}

void WaveOut_Stop(const BYTE* abData) {
  // Before the mixer has started nothing plays: no thread is started for it.
  if (!abData || !WaveOutState.fInitialized.load()) return;
  WaveOut_Enter();
  for (unsigned i = 0; i < WaveOutState.cSources; i++)
    if (WaveOutState.aSources[i].abData == abData) WaveOutState.aSources[i] = WAVEOUTSOURCE{};
  WaveOut_Leave();
}

void WaveOut_Pause() {
  if (!WaveOutState.fInitialized.load()) return;
  WaveOut_Enter();
  if (WaveOutState.hwo) waveOutPause(WaveOutState.hwo);
  WaveOut_Leave();
}

void WaveOut_Restart() {
  if (!WaveOutState.fInitialized.load()) return;
  WaveOut_Enter();
  if (WaveOutState.hwo) waveOutRestart(WaveOutState.hwo);
  WaveOut_Leave();
}

// The level belongs to the device id, so it is set and read on the default
// device's id whether or not the device is open.
void WaveOut_SetVolume(WORD wLevel) {
  waveOutSetVolume(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                   static_cast<DWORD>(wLevel) * 0x10001);
}

int WaveOut_GetVolume(DWORD* pdwVolume) {
  if (!pdwVolume) return 0;
  return waveOutGetVolume(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                          pdwVolume) == MMSYSERR_NOERROR;
}

int WaveOut_Shutdown() {
  if (!WaveOutState.fInitialized.load()) return 1;
  WaveOut_Enter();
  int fActive = 0;
  for (unsigned i = 0; i < WaveOutState.cSources; i++)
    fActive |= WaveOutState.aSources[i].abData != nullptr;
  if (!fActive) {
    FreeSources();
    CloseDevice();
  }
  WaveOut_Leave();
  return !fActive;
}

int WaveOut_Terminate() { return Terminate(false); }

// Feeder --------------------------------------------------------------------------

DWORD WINAPI WaveOut_FeedThread(LPVOID) {
  WaveOutState.idFeeder.store(std::this_thread::get_id());
  for (;;) {
    WaitForSingleObject(WaveOutState.heBufferDone, INFINITE);
    Lock();
    if (WaveOutState.fStopThread) {
      Unlock();
      WaveOutState.fFeeding.store(0);
      WaveOutState.fFeeding.notify_all();
      return 0;
    }
    if (WaveOutState.fDeviceLost.load()) {
      StopAllSources();
      CloseDevice();
    }
    if (WaveOutState.hwo) {
      unsigned cActive = 0;
      for (WAVEOUTBUFFER& b : WaveOutState.aBuffers) cActive += b.fDone.load() ? 0 : 1;
      for (WAVEOUTBUFFER& b : WaveOutState.aBuffers) {
        if (!b.fDone.load()) continue;
        if (WaveOut_LoadBuffer(&b, cActive < 4 ? LBR_FORCEPLAY : LBR_NORMAL)) cActive++;
      }
    }
    Unlock();
  }
}

int WaveOut_LoadBuffer(WAVEOUTBUFFER* pBuffer, LOADBUFFERREQ req) {
  if (!WaveOut_MixBuffer(pBuffer->abBuf, req) || !WaveOutState.hwo) return 0;
  pBuffer->fDone.store(0);
  if (waveOutWrite(WaveOutState.hwo, &pBuffer->hBuf, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
    pBuffer->fDone.store(1);
    return 0;
  }
  return 1;
}

int WaveOut_MixBuffer(BYTE* abTarget, LOADBUFFERREQ req) {
  WaveOut_ClearMix();
  const unsigned cSamples = WaveOutState.fStereo ? kWaveOutBufferBytes / 2 : kWaveOutBufferBytes;
  int fFoundContent = req == LBR_FORCEPLAY;
  // WaveOut_OnStop may destroy a sound, which stops its other sources; the
  // array itself stays where it is.
  for (unsigned i = 0; i < WaveOutState.cSources; i++) {
    WAVEOUTSOURCE* pSource = &WaveOutState.aSources[i];
    if (!pSource->abData) continue;
    unsigned iSampleWrite = 0;
    int fYielded = 0;
    for (;;) {
      const BYTE* pData;
      unsigned cb;
      unsigned n = WaveOut_ReadSource(pSource, &pData, &cb, cSamples - iSampleWrite);
      if (n == 0) break;
      WaveOut_MixAudio(iSampleWrite, pData, cb, pSource->fStereo);
      iSampleWrite += n;
      fYielded = fFoundContent = 1;
    }
    if (!fYielded && req != LBR_PRELOAD) WaveOut_OnStop(pSource);
  }
  if (!fFoundContent) return 0;
  WaveOut_WriteTarget(abTarget, kWaveOutBufferBytes, WaveOutState.fStereo);
  return 1;
}

void WaveOut_ClearMix() {
  WAVEOUTMIX& m = WaveOutMix;
  m.cVolWanted = m.cVolCurrent = 0;
  if (m.aLeft) std::memset(m.aLeft, 0, m.cLeft * sizeof(short));
  if (m.aRight) std::memset(m.aRight, 0, m.cRight * sizeof(short));
}

unsigned WaveOut_ReadSource(WAVEOUTSOURCE* pSource, const BYTE** ppData, unsigned* pcbData,
                            unsigned cSamplesMax) {
  const unsigned cbFrame = pSource->fStereo ? 2 : 1;
  const unsigned ibRead = std::min(pSource->ibRead, pSource->cbData);
  const unsigned cSamples = std::min((pSource->cbData - ibRead) / cbFrame, cSamplesMax);
  *ppData = cSamples ? pSource->abData + ibRead : nullptr;
  *pcbData = cSamples * cbFrame;
  pSource->ibRead = ibRead + *pcbData;
  // The end is where less than a whole frame is left.
  if (pSource->cbData - pSource->ibRead < cbFrame)
    pSource->ibRead = pSource->fLoop ? 0 : pSource->cbData;
  return cSamples;
}

void WaveOut_MixAudio(unsigned iSampleOut, const BYTE* pbData, unsigned cb, int fSourceStereo) {
  WAVEOUTMIX& m = WaveOutMix;
  const unsigned cSamples = fSourceStereo ? cb / 2 : cb;
  const unsigned cNeed = iSampleOut + cSamples;
  if (!GrowAccumulator(&m.aLeft, &m.cLeft, cNeed) || !GrowAccumulator(&m.aRight, &m.cRight, cNeed))
    return;
  int iWanted = m.cVolWanted, iCurrent = m.cVolCurrent;
  for (unsigned k = 0; k < cSamples; k++) {
    const int iLeft = (fSourceStereo ? pbData[2 * k] : pbData[k]) - 128;
    const int iRight = (fSourceStereo ? pbData[2 * k + 1] : pbData[k]) - 128;
    iWanted = std::max({iWanted, std::abs(iLeft), std::abs(iRight)});
    short& l = m.aLeft[iSampleOut + k];
    short& r = m.aRight[iSampleOut + k];
    l = AddSaturated(l, iLeft);
    r = AddSaturated(r, iRight);
    iCurrent = std::max({iCurrent, std::abs(static_cast<int>(l)), std::abs(static_cast<int>(r))});
  }
  m.cVolWanted = static_cast<short>(iWanted);
  m.cVolCurrent = static_cast<short>(iCurrent);
}

void WaveOut_WriteTarget(BYTE* pbTarget, unsigned cbTarget, int fTargetStereo) {
  const WAVEOUTMIX& m = WaveOutMix;
  std::memset(pbTarget, 128, cbTarget);
  if (m.cVolCurrent == 0) return;
  const unsigned cSamples = std::min({fTargetStereo ? cbTarget / 2 : cbTarget, m.cLeft, m.cRight});
  for (unsigned i = 0; i < cSamples; i++) {
    if (fTargetStereo) {
      pbTarget[2 * i] = ScaleToByte(m.aLeft[i]);
      pbTarget[2 * i + 1] = ScaleToByte(m.aRight[i]);
    } else {
      pbTarget[i] = ScaleToByte((m.aLeft[i] + m.aRight[i]) / 2);
    }
  }
}

void WaveOut_OnStop(WAVEOUTSOURCE* pSource) {
  const WAVEOUTSOURCE source = *pSource;
  *pSource = WAVEOUTSOURCE{};
  if (source.hNotify && IsWindow(source.hNotify))
    PostMessage(source.hNotify, WM_SOUNDDONE, source.wpCookie, source.lpCookie);
  EndInstance(source.pDecOnStop, source.pDestroyAfter);
}

// SOUND ----------------------------------------------------------------------------

void* SOUND::operator new(size_t cb) noexcept {
  return MemMgr_New(nullptr, cb, "SOUND", __FILE__, __LINE__);
}

void SOUND::operator delete(void* p) noexcept {
  if (p) MemMgr_Delete(p, __FILE__, __LINE__);
}

void SOUND::Zero() {
  fPlaying.store(0);
  fLooped = 0;
  hNotify = nullptr;
  dwCookie = 0;
  Format = WAVEFORMATEX{};
  abSignal = nullptr;
  cbSignal = 0;
}

SOUND::SOUND(const char* pszFileName) {
  Zero();
  LoadFile(pszFileName);
}

SOUND::SOUND(const void* pImage, unsigned cbImage) {
  Zero();
  Load(pImage, cbImage);
}

SOUND::SOUND(HINSTANCE hInst, const char* pszName) {
  Zero();
  HRSRC hRes = FindResource(hInst, pszName, "WAVE");
  if (!hRes) return;
  const void* pImage = LockResource(LoadResource(hInst, hRes));
  if (pImage) LoadWave(pImage, SizeofResource(hInst, hRes));
}

SOUND::SOUND(const WAVEFORMATEX* pFormat, const void* pSignal, unsigned cbSignal) {
  Zero();
  LoadWave(pFormat, pSignal, cbSignal);
}

SOUND::~SOUND() { Free(); }

void SOUND::Free() {
  Stop();
  if (abSignal) MemMgr_Free(abSignal, __FILE__, __LINE__);
  Zero();
}

int SOUND::LoadFile(const char* pszFileName) {
  if (!pszFileName) return 0;
  std::FILE* f = std::fopen(NativePath(pszFileName).c_str(), "rb");
  if (!f) return 0;
  int fOk = 0;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long cbFile = std::ftell(f);
    if (cbFile > 0 && static_cast<unsigned long>(cbFile) < kMaxClientReq &&
        std::fseek(f, 0, SEEK_SET) == 0) {
      const auto cb = static_cast<unsigned>(cbFile);
      auto* pImage = static_cast<BYTE*>(MemMgr_Alloc(cb, "file image", __FILE__, __LINE__));
      if (pImage) {
        if (std::fread(pImage, 1, cb, f) == cb) fOk = LoadWave(pImage, cb);
        MemMgr_Free(pImage, __FILE__, __LINE__);
      }
    }
  }
  std::fclose(f);
  return fOk;
}

int SOUND::Load(const void* pImage, unsigned cbImage) { return LoadWave(pImage, cbImage); }

int SOUND::LoadWave(const void* pImage, unsigned cbImage) {
  Free();
  const auto* p = static_cast<const BYTE*>(pImage);
  if (!p || cbImage < platform::kRiffHeaderBytes || !platform::IsRiffWaveHeader(p)) return 0;
  WAVEFORMATEX format{};
  int fHaveFormat = 0;
  const BYTE* pSignal = nullptr;
  unsigned cbData = 0;
  size_t ib = platform::kRiffHeaderBytes;
  while (cbImage - ib > platform::kChunkHeaderBytes) {
    const platform::ChunkHeader chunk(p + ib);
    const DWORD cbChunk = chunk.Length;
    const size_t cbLeft = cbImage - ib - platform::kChunkHeaderBytes;
    if (cbChunk > cbLeft) break;
    const BYTE* pChunk = p + ib + platform::kChunkHeaderBytes;
    if (chunk.Is("fmt ")) {
      if (cbChunk > 17) {
        std::memcpy(&format, pChunk, 18);
        fHaveFormat = 1;
      } else if (cbChunk == 16) {
        std::memcpy(&format, pChunk, 16);
        format.cbSize = 0;
        fHaveFormat = 1;
      }
    } else if (chunk.Is("data")) {
      pSignal = pChunk;
      cbData = cbChunk;
      break;
    }
    ib += platform::kChunkHeaderBytes + size_t{cbChunk};
    // RIFF pads a chunk of odd length with a byte; writers that leave the
    // pad out are read too.
    if ((cbChunk & 1) && cbImage - ib > platform::kChunkHeaderBytes &&
        platform::LooksLikeChunkId(p + ib + 1) && !platform::LooksLikeChunkId(p + ib))
      ib++;
  }
  if (!fHaveFormat) return 0;
  return LoadWave(&format, pSignal, cbData);
}

int SOUND::LoadWave(const WAVEFORMATEX* pFormat, const void* pSignal, unsigned cbSignalIn) {
  Free();
  if (!pFormat || !pSignal || !cbSignalIn) return 0;
  WAVEFORMATEX f = *pFormat;
  // PCM samples of 1 to 32 bits sit left-justified in containers of 1 to 4
  // bytes, so they are read at the container's width.
  if (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample >= 1 && f.wBitsPerSample <= 32)
    f.wBitsPerSample = static_cast<WORD>((f.wBitsPerSample + 7) / 8 * 8);
  SampleFormat sample;
  if ((!SampleFormatOf(f.wFormatTag, f.wBitsPerSample, &sample) &&
       !(f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 24)) ||
      f.nChannels < 1 || f.nChannels > 8 || f.nSamplesPerSec < kMinSourceRate ||
      f.nSamplesPerSec > kMaxSourceRate)
    return 0;
  const BYTE* pData = static_cast<const BYTE*>(pSignal);
  unsigned cb = cbSignalIn;
  int fAllocated = 0;
  const WORD nChannels = std::min<WORD>(f.nChannels, 2);
  int fOk =
      (f.wBitsPerSample != 24 || Widen24To32(&f, &pData, &cb, &fAllocated)) &&
      ConvertWave(&f, &pData, &cb, &fAllocated, f.nSamplesPerSec, f.wBitsPerSample, f.nChannels) &&
      ConvertWave(&f, &pData, &cb, &fAllocated, kWaveOutRate, f.wBitsPerSample, f.nChannels) &&
      ConvertWave(&f, &pData, &cb, &fAllocated, kWaveOutRate, 8, nChannels);
  // Whole frames only.
  cb -= cb % f.nChannels;
  if (fOk && (cb == 0 || cb > kMaxSoundBytes)) fOk = 0;
  if (fOk && !fAllocated) {
    auto* pCopy = static_cast<BYTE*>(MemMgr_Alloc(cb, "cbSignal", __FILE__, __LINE__));
    if (pCopy) std::memcpy(pCopy, pData, cb);
    pData = pCopy;
    fAllocated = fOk = pCopy != nullptr;
  }
  if (!fOk) {
    if (fAllocated) MemMgr_Free(const_cast<BYTE*>(pData), __FILE__, __LINE__);
    return 0;
  }
  Format = PcmWaveFormat(kWaveOutRate, 8, f.nChannels);
  abSignal = const_cast<BYTE*>(pData);
  cbSignal = cb;
  return 1;
}

void SOUND::SetNotify(HWND hNotifyIn, long dwCookieIn) {
  hNotify = hNotifyIn;
  dwCookie = dwCookieIn;
}

int SOUND::Play(int fLoopedIn) { return Play(fLoopedIn ? PLAY_LOOPED : PLAY_ONCE); }

int SOUND::Play(SOUNDPLAYRULE rule) {
  if (!CanPlay()) {
    if (rule == PLAY_THEN_DESTROY) delete this;
    return 0;
  }
  fLooped = rule == PLAY_LOOPED;
  ++fPlaying;
  WAVEOUTREQ req{};
  req.Format = Format;
  req.abData = abSignal;
  req.cbData = cbSignal;
  req.fLoop = fLooped;
  req.hNotify = hNotify;
  req.wpCookie = reinterpret_cast<WPARAM>(this);
  req.lpCookie = dwCookie;
  req.pDecOnStop = &fPlaying;
  req.pDestroyAfter = rule == PLAY_THEN_DESTROY ? this : nullptr;
  // With PLAY_THEN_DESTROY this object may be gone once the request is in.
  return WaveOut_Start(&req);
}

void SOUND::Stop() {
  if (fPlaying.load() == 0) return;
  WaveOut_Stop(abSignal);
  fPlaying.store(0);
  fLooped = 0;
}

int SOUND::IsPlaying() const { return fPlaying.load() != 0; }
int SOUND::CanPlay() const { return abSignal != nullptr; }

void SOUND::Prewarm() {
  if (WaveOut_IsOpen()) return;
  BYTE abSilence[16];
  std::memset(abSilence, 128, sizeof(abSilence));
  const WAVEFORMATEX f = PcmWaveFormat(kWaveOutRate, 8, 1);
  SOUND* pSound = new SOUND(&f, abSilence, sizeof(abSilence));
  if (pSound) pSound->Play(PLAY_THEN_DESTROY);
}

// Module and sound table ----------------------------------------------------------------

void play(const char* pszFileName) {
  if (Muted) return;
  SOUND* pSound = new SOUND(pszFileName);
  if (pSound) pSound->Play(PLAY_THEN_DESTROY);
}

void play(HINSTANCE hInst, const char* pszName) {
  if (Muted) return;
  SOUND* pSound = new SOUND(hInst, pszName);
  if (pSound) pSound->Play(PLAY_THEN_DESTROY);
}

void InitSound() {
  WaveOut_Init();
  if (kPocket) g_fStartVolumeKept = WaveOut_GetVolume(&g_dwStartVolume);
  for (SOUND*& pSound : WavFiles) pSound = nullptr;
}

void ExitSound() {
  FreeSounds();
  WaveOut_Terminate();
  if (kPocket && g_fStartVolumeKept) {
    waveOutSetVolume(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                     g_dwStartVolume);
    g_fStartVolumeKept = 0;
  }
}

void FreeSounds() {
  for (SOUND*& pSound : WavFiles) {
    delete pSound;
    pSound = nullptr;
  }
}

int LoadSoundFromMemory(const void* pImage, unsigned cbImage, int index) {
  if (index < kSoundIdFirst || index >= kSoundIdFirst + kSoundCount) return 0;
  SOUND* pSound = new SOUND(pImage, cbImage);
  if (!pSound) return 0;
  if (!pSound->CanPlay()) {
    delete pSound;
    return 0;
  }
  delete WavFiles[index - kSoundIdFirst];
  WavFiles[index - kSoundIdFirst] = pSound;
  return 1;
}

void PlayPreloadedSound(int id) {
  SOUND* pSound = TableSound(id);
  if (!Muted && pSound) pSound->Play(PLAY_ONCE);
}

void PlayLoopedSound(int id) {
  SOUND* pSound = TableSound(id);
  if (!Muted && pSound) pSound->Play(PLAY_LOOPED);
}

// Stopping works while muted too: a loop started before muting must end.
void StopLoopedSound(int id) {
  if (SOUND* pSound = TableSound(id)) pSound->Stop();
}

#if !ZELVARO_POCKET
const PCMSOUND PCM_SOUNDS[kSoundCount] = {
    {100, "CLICK.WAV"},    {101, "TAP.WAV"},      {102, "BEEP.WAV"},  {103, "CHIME.WAV"},
    {104, "POP.WAV"},      {105, "TICK.WAV"},     {106, "TOCK.WAV"},  {107, "BELL.WAV"},
    {108, "BLIP.WAV"},     {109, "BUZZ.WAV"},     {110, "DING.WAV"},  {111, "DONG.WAV"},
    {112, "ERROR.WAV"},    {113, "OPEN.WAV"},     {114, "CLOSE.WAV"}, {115, "SWOOSH.WAV"},
    {116, "THUD.WAV"},     {117, "TUNED.WAV"},    {118, "SHARP.WAV"}, {119, "FLAT.WAV"},
    {120, "METRO_HI.WAV"}, {121, "METRO_LO.WAV"}, {122, "A440.WAV"},  {123, "E_LOW.WAV"},
    {124, "SLIDE.WAV"},    {125, "STRUM.WAV"},    {126, "PLUCK.WAV"}, {127, "FANFARE.WAV"},
};

void PreLoadSounds(int iLevel) {
  FreeSounds();
  for (const PCMSOUND& entry : PCM_SOUNDS) {
    char szPath[64];
    std::snprintf(szPath, sizeof(szPath), "LEVEL%02d\\SOUND\\%s", iLevel, entry.filename);
    SOUND* pSound = new SOUND(szPath);
    if (!pSound) MessageBox(nullptr, entry.filename, "File Missing", MB_OK);
    WavFiles[entry.id - kSoundIdFirst] = pSound;
  }
}

void LoadSounds(int iLevel) { PreLoadSounds(iLevel); }

const char* SoundIDToFileName(int id) {
  for (const PCMSOUND& entry : PCM_SOUNDS)
    if (entry.id == id) return entry.filename;
  return nullptr;
}
#endif

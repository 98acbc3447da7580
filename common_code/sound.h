// The sound effects mixer: any number of short sounds played at once through
// one wave-output device.
//
// A SOUND is loaded from a RIFF WAVE file, a "WAVE" resource or memory and
// converted once, at load time, to the only format the mixer plays: PCM,
// 8 bits unsigned, 22050 samples per second, mono or stereo. Playing a sound
// adds a source to the mixer; a feeder thread keeps six 1152-byte device
// buffers cycling, adds every active source into 16-bit accumulators and
// scales the mix back to 8 bits so that its peak equals the loudest single
// input. Once anything has played, at least four buffers (silent if need be)
// stay queued until the device is closed.
//
// Nothing starts until the first sound plays: InitSound reads the volume and
// clears the sound table, and opens no device and starts no thread. The
// first play starts the feeder thread and opens the device; ExitSound ends
// the thread and closes the device (so does the end of the program).
//
// All of the mixer's heap memory comes from the memory manager (salloc.h).
// Threads: the owner's thread plays and stops sounds; the feeder thread
// mixes, and ends sources, posting their notifications and destroying the
// sounds played with PLAY_THEN_DESTROY; the device's completion function only
// marks a buffer done and wakes the feeder.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

#include "common_code/variant.h"
#include "platform/winapi/mmsystem.h"
#include "platform/winapi/resources.h"
#include "platform/winapi/win32.h"

enum SOUNDPLAYRULE { PLAY_ONCE = 0, PLAY_LOOPED = 1, PLAY_THEN_DESTROY = 2 };
enum LOADBUFFERREQ { LBR_PRELOAD = 0, LBR_NORMAL = 1, LBR_FORCEPLAY = 2 };

inline constexpr unsigned kWaveOutBufferCount = 6;
inline constexpr unsigned kWaveOutBufferBytes = 1152;
inline constexpr DWORD kWaveOutRate = 22050;
// Sent to a sound's notification window when one of its playing instances
// ends: wParam is the SOUND, lParam its cookie.
inline constexpr UINT WM_SOUNDDONE = WM_USER + 100;  // 0x464
// The longest signal a sound keeps after conversion (about 25 minutes of
// stereo); longer ones are refused.
inline constexpr unsigned kMaxSoundBytes = 64u << 20;

class SOUND;

// One playing instance.
struct WAVEOUTSOURCE {
  int fStereo;
  const BYTE* abData;  // null marks a free slot
  unsigned cbData;
  unsigned ibRead;  // next byte
  int fLoop;
  HWND hNotify;
  WPARAM wpCookie;
  LPARAM lpCookie;
  std::atomic<long>* pDecOnStop;  // decremented when the source stops
  SOUND* pDestroyAfter;           // destroyed when the source stops
};

// A play request.
struct WAVEOUTREQ {
  WAVEFORMATEX Format;
  const BYTE* abData;
  unsigned cbData;
  int fLoop;
  HWND hNotify;
  WPARAM wpCookie;
  LPARAM lpCookie;
  std::atomic<long>* pDecOnStop;
  SOUND* pDestroyAfter;
};

struct WAVEOUTBUFFER {
  WAVEHDR hBuf;
  BYTE abBuf[kWaveOutBufferBytes];
  // Idle: set by the device's completion function when the device hands the
  // buffer back, cleared when the buffer is written to the device.
  std::atomic<int> fDone;
};

// The mixer's state. Read it only while holding the lock (WaveOut_Enter).
struct WAVEOUTSTATE {
  std::atomic<int> fInitialized{0};  // the feeder thread and the event exist
  CRITICAL_SECTION cs;
  WAVEOUTSOURCE* aSources GUARDED_BY(cs) = nullptr;
  // Auto-reset: a buffer came back or work arrived. Made before the feeder
  // starts and kept until it has ended, so it is used without the lock.
  HANDLE heBufferDone = nullptr;
  unsigned cSources GUARDED_BY(cs) = 0;   // slots in aSources
  HWAVEOUT hwo GUARDED_BY(cs) = nullptr;  // null while the device is closed
  WAVEOUTBUFFER aBuffers[kWaveOutBufferCount] GUARDED_BY(cs) = {};
  int fStereo GUARDED_BY(cs) = 0;  // the device was opened with two channels
  int fStopThread GUARDED_BY(cs) = 0;
  HANDLE hThread GUARDED_BY(cs) = nullptr;
  std::atomic<int> fFeeding{0};             // the feeder thread is in its loop
  std::atomic<std::thread::id> idFeeder{};  // the feeder thread, once it runs
  std::atomic<int> fDeviceLost{0};          // the device has gone; the feeder closes it
  std::atomic<std::thread::id> idOwner{};   // thread holding cs, if any
  unsigned cOwnerDepth GUARDED_BY(cs) = 0;
  // Ends the feeder thread and closes the device when the program ends.
  ~WAVEOUTSTATE();
};
extern WAVEOUTSTATE WaveOutState;

// The mixing record of the buffer being made.
struct WAVEOUTMIX {
  short cVolWanted;   // largest input magnitude |x - 128| of this buffer
  short cVolCurrent;  // largest accumulator magnitude of this buffer
  short* aLeft;
  unsigned cLeft;
  short* aRight;
  unsigned cRight;
};
extern WAVEOUTMIX WaveOutMix GUARDED_BY(WaveOutState.cs);

// The lock over sources, buffers and accumulators. The first Enter (after
// start-up or WaveOut_Terminate) starts the feeder thread. Recursive.
void WaveOut_Enter() ACQUIRE(WaveOutState.cs);
void WaveOut_Leave() RELEASE(WaveOutState.cs);

// Volume := low 16 bits of the default device's volume / 13107 (0..5).
// Starts nothing.
void WaveOut_Init();
// Opens the device for `pFormat` when it is closed: two channels, else one,
// at the format's rate and bits, with the six buffers prepared. Non-zero
// when the device is open.
int WaveOut_Init(const WAVEFORMATEX* pFormat);
// Starts a source. Accepts PCM, 8 bits, 22050 Hz, one or two channels, with
// data, when the device is or can be opened; 1 when accepted. A refused
// request still counts as stopped: its counter goes down and its sound is
// destroyed, if it asked for either.
int WaveOut_Start(const WAVEOUTREQ* pReq);
// Stops, without notification, every source playing `abData`.
void WaveOut_Stop(const BYTE* abData);
void WaveOut_Pause();
void WaveOut_Restart();
// Sets the device volume to `wLevel` on both channels (0xFFFF = full).
void WaveOut_SetVolume(WORD wLevel);
// Reads the default device's volume (left in the low word); 1 on success.
int WaveOut_GetVolume(DWORD* pdwVolume);
// Only when no source is active: releases the sources and closes the
// device (a later play opens it again). 1 when the device is closed.
int WaveOut_Shutdown();
// Ends the feeder thread and waits for it, stops every source (with their
// notifications), closes the device and releases the mixer's memory. The
// next play starts afresh. 0, doing nothing, when called from the feeder
// thread or while the caller holds the lock: the thread could never end.
int WaveOut_Terminate();
// Whether the feeder thread runs / the device is open.
int WaveOut_IsRunning();
int WaveOut_IsOpen();

// The feeder's steps, for tests and measurement; the caller holds the lock
// while the feeder runs.
void CALLBACK WaveOut_Callback(HANDLE hwo, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                               DWORD_PTR dwParam2);
DWORD WINAPI WaveOut_FeedThread(LPVOID);
// Mixes the next buffer of every source into the target (1152 bytes, in the
// device's channel count); sources that yield nothing are stopped unless
// `req` is LBR_PRELOAD. 0, leaving the target alone, when no source gave
// anything and `req` is not LBR_FORCEPLAY.
int WaveOut_MixBuffer(BYTE* abTarget, LOADBUFFERREQ req) REQUIRES(WaveOutState.cs);
// WaveOut_MixBuffer into a device buffer, then writes it to the device.
int WaveOut_LoadBuffer(WAVEOUTBUFFER* pBuffer, LOADBUFFERREQ req) REQUIRES(WaveOutState.cs);
void WaveOut_ClearMix() REQUIRES(WaveOutState.cs);
// Up to `cSamplesMax` samples (frames) of the source from its read position:
// sets the data and byte count and returns the samples. A looped source
// wraps to its start at its end; another stays at its end.
unsigned WaveOut_ReadSource(WAVEOUTSOURCE* pSource, const BYTE** ppData, unsigned* pcbData,
                            unsigned cSamplesMax);
// Adds `cb` bytes of input to the accumulators from sample `iSampleOut` on.
void WaveOut_MixAudio(unsigned iSampleOut, const BYTE* pbData, unsigned cb, int fSourceStereo)
    REQUIRES(WaveOutState.cs);
// The accumulators scaled to 8 bits: peak of the mix = loudest input.
void WaveOut_WriteTarget(BYTE* pbTarget, unsigned cbTarget, int fTargetStereo)
    REQUIRES(WaveOutState.cs);
// Ends a source: its counter, its notification, its sound; frees the slot.
void WaveOut_OnStop(WAVEOUTSOURCE* pSource);

// A sound. Made with new, its memory comes from the memory manager ("SOUND").
class SOUND {
 public:
  // From a WAVE file (either '/' or '\' separates folders).
  explicit SOUND(const char* pszFileName);
  // From a WAVE image in memory (copied).
  SOUND(const void* pImage, unsigned cbImage);
  // From the resource `pszName` of type "WAVE".
  SOUND(HINSTANCE hInst, const char* pszName);
  // From a format and its signal (copied or converted).
  SOUND(const WAVEFORMATEX* pFormat, const void* pSignal, unsigned cbSignal);
  ~SOUND();
  SOUND(const SOUND&) = delete;
  SOUND& operator=(const SOUND&) = delete;

  static void* operator new(size_t cb) noexcept;
  static void operator delete(void* p) noexcept;

  // Stops the sound and releases its signal; the SOUND is then empty.
  void Free();
  int Load(const void* pImage, unsigned cbImage);
  // A RIFF WAVE image: "RIFF" and "WAVE", a "fmt " chunk and a "data"
  // chunk, every chunk within the image. 1 when the sound can play; else it
  // is left empty.
  int LoadWave(const void* pImage, unsigned cbImage);
  // PCM (1 to 32 bits) or IEEE float (32 bits), 1 to 8 channels at 1000
  // to 384000 Hz, converted to 8 bits at 22050 Hz, more than two channels
  // mixed down to two.
  int LoadWave(const WAVEFORMATEX* pFormat, const void* pSignal, unsigned cbSignal);
  void SetNotify(HWND hNotify, long dwCookie);
  // Plays looped when `fLooped` is set, else once. 1 when the mixer took it.
  int Play(int fLooped);
  // PLAY_THEN_DESTROY destroys the sound once it has played (at once when
  // it cannot play): only for sounds made with new, not used afterwards.
  int Play(SOUNDPLAYRULE rule);
  void Stop();
  int IsPlaying() const;
  int CanPlay() const;
  // Opens the device ahead of the first sound by playing a short silence.
  static void Prewarm();

  std::atomic<long> fPlaying;  // playing instances
  int fLooped;
  HWND hNotify;
  long dwCookie;
  WAVEFORMATEX Format;
  BYTE* abSignal;  // owned; memory manager
  unsigned cbSignal;

 private:
  void Zero();
  int LoadFile(const char* pszFileName);
};

// Plays a sound once and forgets it, unless Muted.
void play(const char* pszFileName);
void play(HINSTANCE hInst, const char* pszName);

// Start of the sound module: reads the volume (the handheld also keeps the
// device volume to restore at exit) and clears the sound table.
void InitSound();
// End of the sound module: frees the table's sounds, ends the feeder thread
// and closes the device; the handheld puts back the volume found at start.
void ExitSound();

// The sound table: ids 100..127, slot id - 100 of WavFiles.
inline constexpr int kSoundIdFirst = 100;
inline constexpr int kSoundCount = 28;
extern SOUND* WavFiles[kSoundCount];
void FreeSounds();
// Replaces the slot of `index` (100..127) by a sound loaded from the image.
// 0, changing nothing, for another index or an image that cannot play.
int LoadSoundFromMemory(const void* pImage, unsigned cbImage, int index);
void PlayPreloadedSound(int id);
void PlayLoopedSound(int id);
void StopLoopedSound(int id);

#if !ZELVARO_POCKET
struct PCMSOUND {
  BYTE id;
  const char* filename;
};
extern const PCMSOUND PCM_SOUNDS[kSoundCount];
// Loads every table entry from "LEVEL<nn>\SOUND\<file name>"; an entry
// whose object cannot be made is reported ("File Missing"). A missing or
// unreadable file leaves its sound empty, unreported.
void PreLoadSounds(int iLevel);
void LoadSounds(int iLevel);
// The table's file name of `id`, or null.
const char* SoundIDToFileName(int id);
#endif

// When set, play, PlayPreloadedSound and PlayLoopedSound do nothing.
extern int Muted;
// The device volume read at start-up, 0..5.
extern int Volume;

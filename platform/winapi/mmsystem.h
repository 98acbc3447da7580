// The wave audio services: PCM capture (waveIn...) and playback
// (waveOut...) into caller-supplied blocks, with the records, messages and
// result codes of the Windows multimedia interface, over the backend's audio
// devices (platform/services/backend.h).
//
// Device ids: 0 is the system's default device, then every named device
// (WAVE_MAPPER means 0). Formats: PCM, 1 or 2 channels, 8-bit unsigned
// (silence 128) or 16-bit signed little-endian, 1 to 192000 samples per
// second; the backend converts from what the hardware does.
//
// Capture fills the queued blocks strictly in the order they were added and
// hands each back full, with dwBytesRecorded set and WHDR_DONE, by the
// completion chosen at open: MM_WIM_DATA posted to a thread
// (CALLBACK_THREAD, wParam = device handle, lParam = the WAVEHDR*) or a
// call of a function (CALLBACK_FUNCTION, WIM_DATA with the header as
// dwParam1). Playback plays queued blocks in order and hands each back with
// MM_WOM_DONE / WOM_DONE once its bytes have gone to the device. Open and
// close are announced the same way (MM_WIM_OPEN, MM_WIM_CLOSE ...).
//
// A completion function runs on the device's own thread (or on the thread
// that called waveInReset, waveInStop or the close); like on Windows it may
// post messages and signal events, and must not wait for a lock that a
// caller of these functions may hold.
//
// A device that disappears (unplugged, sound server gone) hands back its
// partly recorded block, then announces MM_WIM_DEVICELOST (MM_WOM_DEVICELOST
// after handing back every queued playback block); it records and plays
// nothing more, and reset, unprepare and close still work on it.
#pragma once

#include <string>

#include "platform/winapi/win32.h"

typedef UINT MMRESULT;
typedef void* HWAVEIN;
typedef void* HWAVEOUT;
typedef HWAVEIN* LPHWAVEIN;
typedef HWAVEOUT* LPHWAVEOUT;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_NOTENABLED 3
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BADFORMAT 32
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34

#define WAVE_MAPPER ((UINT)-1)
#define WAVE_FORMAT_PCM 1

#define CALLBACK_TYPEMASK 0x00070000L
#define CALLBACK_NULL 0x00000000L
#define CALLBACK_WINDOW 0x00010000L
#define CALLBACK_THREAD 0x00020000L
#define CALLBACK_FUNCTION 0x00030000L
#define CALLBACK_EVENT 0x00050000L

#define MM_WOM_OPEN 0x3BB
#define MM_WOM_CLOSE 0x3BC
#define MM_WOM_DONE 0x3BD
#define MM_WIM_OPEN 0x3BE
#define MM_WIM_CLOSE 0x3BF
#define MM_WIM_DATA 0x3C0
// Our own: the device has gone (no Windows equivalent). wParam is the device
// handle, lParam 0.
#define MM_WOM_DEVICELOST 0x3DE
#define MM_WIM_DEVICELOST 0x3DF

#define WOM_OPEN MM_WOM_OPEN
#define WOM_CLOSE MM_WOM_CLOSE
#define WOM_DONE MM_WOM_DONE
#define WIM_OPEN MM_WIM_OPEN
#define WIM_CLOSE MM_WIM_CLOSE
#define WIM_DATA MM_WIM_DATA

#define WHDR_DONE 0x00000001
#define WHDR_PREPARED 0x00000002
#define WHDR_BEGINLOOP 0x00000004
#define WHDR_ENDLOOP 0x00000008
#define WHDR_INQUEUE 0x00000010

// The 18-byte record of a RIFF WAVE "fmt " chunk, packed as on Windows.
#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
typedef WAVEFORMATEX* LPWAVEFORMATEX;
typedef const WAVEFORMATEX* LPCWAVEFORMATEX;

// The PCM format record for `channels` interleaved channels of
// `bitsPerSample`-bit samples at `samplesPerSec`, with its block size and
// byte rate filled in.
WAVEFORMATEX PcmWaveFormat(DWORD samplesPerSec, WORD bitsPerSample, WORD channels);

// A block of audio. The caller owns it and its lpData; between
// waveIn/waveOutPrepareHeader and the matching unprepare it must stay in
// place, and while queued (WHDR_INQUEUE) only the service touches it.
// dwLoops and the loop flags are not supported (blocks play once).
struct WAVEHDR {
  LPSTR lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  WAVEHDR* lpNext;
  DWORD_PTR reserved;
};
typedef WAVEHDR* LPWAVEHDR;

typedef void(CALLBACK* LPWAVECALLBACK)(HANDLE hwave, UINT message, DWORD_PTR instance,
                                       DWORD_PTR param1, DWORD_PTR param2);

// Milliseconds of the backend's clock; the same clock as GetTickCount.
DWORD timeGetTime();

// Capture ------------------------------------------------------------------------

// Number of capture device ids (the default device and every named one); 0
// when there is no capture device at all.
UINT waveInGetNumDevs();

// Opens device `deviceId` for `format`. `callback` and `instance` are the
// thread id (CALLBACK_THREAD) or the LPWAVECALLBACK (CALLBACK_FUNCTION) and
// its instance value; other completion kinds give MMSYSERR_INVALFLAG.
// MMSYSERR_BADDEVICEID for an id out of range, WAVERR_BADFORMAT for a format
// outside the list above or with inconsistent block align or byte rate,
// MMSYSERR_NODRIVER when the device would not open (GetWaveErrorDetail says
// why). The device starts stopped.
MMRESULT waveInOpen(LPHWAVEIN phwi, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags);

// Marks a block prepared (lpData and dwBufferLength must be set).
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR hdr, UINT size);
// WAVERR_STILLPLAYING while the block is queued; unpreparing a block that
// is not prepared succeeds.
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR hdr, UINT size);
// Queues a prepared block at the end (WAVERR_UNPREPARED otherwise); clears
// dwBytesRecorded and WHDR_DONE.
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR hdr, UINT size);
// Starts recording into the queued blocks (a no-op while recording).
// MMSYSERR_NODRIVER on a device that has gone.
MMRESULT waveInStart(HWAVEIN hwi);
// Stops recording. The block being filled, if it holds any audio, is handed
// back with what it has; the empty ones stay queued.
MMRESULT waveInStop(HWAVEIN hwi);
// Stops recording and hands back every queued block, in order.
MMRESULT waveInReset(HWAVEIN hwi);
// Closes the device: WAVERR_STILLPLAYING while blocks are queued. The
// handle is invalid afterwards.
MMRESULT waveInClose(HWAVEIN hwi);

// Playback -----------------------------------------------------------------------

UINT waveOutGetNumDevs();
// As waveInOpen. The device plays as soon as blocks are written, unless
// paused.
MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size);
// Queues a prepared block for playing.
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size);
// Pausing holds playback where it is (the device plays silence); restart
// continues from there.
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
// Hands back every queued block, in order, without playing the rest; a
// paused device stays paused.
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutClose(HWAVEOUT hwo);
// Volume as two 16-bit levels, left in the low word and right in the high
// word (0xFFFF = full); a mono device uses the low word. `hwo` may be an
// open handle or a device id (cast to HWAVEOUT); the level belongs to the
// device id and applies to everything it plays from then on. It is this
// program's own gain: the system's mixer is never changed. The default
// device's level (id 0, WAVE_MAPPER) can be read and set before any device
// is present, without starting the audio system.
MMRESULT waveOutGetVolume(HWAVEOUT hwo, LPDWORD volume);
MMRESULT waveOutSetVolume(HWAVEOUT hwo, DWORD volume);

// Our own -------------------------------------------------------------------------

// The name of capture (or playback) device `deviceId` for people: for id 0
// "Default device", with the system's name for it when known. Empty for an
// id out of range.
std::string WaveInDeviceName(UINT deviceId);
std::string WaveOutDeviceName(UINT deviceId);

// The capture input the user chose for the whole program (the programs'
// --device and --input options). Either leaves one capture device, id 0
// (and WAVE_MAPPER), in place of the backend's list; the choice holds until
// another is made.
//
// Capture device `deviceId` of the backend's list as it is now, under its
// own name. False with *error set when there is no such device.
bool ChooseCaptureDevice(UINT deviceId, std::string* error);
// A RIFF WAVE recording (what zelvaro-analyze reads), mixed down to one
// channel and played over and over in place of a microphone, paced by the
// backend's clock, named "Recording <file name>". False with *error set when
// it cannot be read or decoded or holds no audio.
bool ChooseCaptureRecording(const std::string& path, std::string* error);
// Every capture device of the backend again.
void ChooseEveryCaptureDevice();

// Why the calling thread's last failed wave call failed, in the backend's
// words (for example "Could not connect to PulseAudio server"); empty when
// it gave no reason.
std::string GetWaveErrorDetail();

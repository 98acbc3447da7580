// zelvaro-analyze: the tuner in a terminal. Runs the screen's reading step
// over a recording, or over live audio recorded the way the desk program
// records it, and prints one line per reading.
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common_code/cmdline.h"
#include "platform/services/backend.h"
#include "platform/services/wavefile.h"
#include "platform/winapi/mmsystem.h"
#include "tuner/analysis.h"
#include "tuner/capturewatch.h"
#include "tuner/prefs.h"
#include "tuner/reading.h"
#include "tuner/wavethreads.h"

namespace {

const char kUsage[] =
    "Usage: zelvaro-analyze [OPTIONS] FILE.wav\n"
    "       zelvaro-analyze [OPTIONS] --live [--seconds S] [--device ID]\n"
    "       zelvaro-analyze --list-devices\n"
    "\n"
    "Zelvaro's chromatic tuner in a terminal: names the note of a recording,\n"
    "or of the microphone, the way the tuner screen would, one line per 64 ms\n"
    "piece of audio once the 0.512 s analysis window is full.\n"
    "\n"
    "Each line: time (s) at the end of the analysed window, frequency (Hz, 0\n"
    "without a valid reading), note in scientific pitch notation (A4 = 440 Hz),\n"
    "deviation in cents, lit signal-strength segments out of 10.\n"
    "\n"
    "Options:\n"
    "  --live          listen to a capture device (8000 Hz, 8-bit mono, in\n"
    "                  blocks of 512 bytes like the tuner) until Ctrl-C\n"
    "  --seconds S     with --live: stop after S seconds (of wall-clock time,\n"
    "                  whatever the device does; a device silent for 2 s is\n"
    "                  named on stderr)\n"
    "  --device ID     with --live: the capture device to use (default: the\n"
    "                  system's default device, else the first that opens)\n"
    "  --list-devices  list the capture devices with their ids\n"
    "  --every-piece   make a fresh estimate for every reading (the screen\n"
    "                  estimates on every second one and repeats it between)\n"
    "  --steady        the steady reading: the octave named by the spectrum's\n"
    "                  evidence, the note held while it sounds, its cents\n"
    "                  averaged over the last fresh estimates\n"
    "  --json          print one JSON object per line instead\n"
    "  --trigger N     trigger level 0 (off) to 3: the lit segments a reading\n"
    "                  needs to count (default: from the settings, else 1)\n"
    "  --adjust N      meter adjustment in tenths of a percent, -100 to 100\n"
    "                  (default: from the settings, else 0)\n"
    "  --settings FILE read the settings from FILE instead of the tuner's\n"
    "                  ($XDG_CONFIG_HOME/zelvaro/PREFS.DAT, by default\n"
    "                  ~/.config/zelvaro/PREFS.DAT)\n"
    "  --headless      use scripted devices and a virtual clock instead of the\n"
    "                  sound system (for tests; see ZELVARO_HEADLESS_CAPTURE)\n"
    "  -h, --help      show this help\n"
    "  --version       show the program's name and version\n"
    "\n"
    "Input: RIFF WAVE, PCM 8/16/24/32-bit or 32-bit float, 1000 Hz to 1 MHz,\n"
    "any number of channels (mixed down and converted to 8000 Hz 8-bit mono),\n"
    "read as it is analysed: any length, from a file or a pipe (/dev/stdin).\n"
    "Exit status: 0 on success, 2 on a bad option, an unreadable file, no\n"
    "capture device that works, or output that cannot be written, 3 when the\n"
    "capture device went away during a live run (the readings until then are\n"
    "printed). A reader that stops reading (| head) ends the program quietly.\n";

constexpr int kExitError = 2;
constexpr int kExitDeviceLost = 3;
// The audio the first reading needs: a full window and one piece more.
constexpr double kLeastSeconds = static_cast<double>(kWindowSize + kPieceSize) / kSampleRate;

struct Options {
  std::string File;
  bool EveryPiece = false;
  bool Json = false;
  bool Live = false;
  bool ListDevices = false;
  bool Headless = false;
  double Seconds = -1;  // live: stop after this long (< 0: until Ctrl-C)
  int Device = -1;      // live: capture device id (< 0: the usual choice)
  TunerSettings Settings;
  bool TriggerGiven = false, AdjustGiven = false;  // else from the settings file
  std::string SettingsFile;
};

// Reads exactly `len` bytes per call from a recording as it is decoded; the
// tail shorter than a piece is never used.
class RecordingSource : public PieceSource {
 public:
  explicit RecordingSource(WaveReader& reader) : m_Reader(reader) {}
  int ReadData(unsigned char* dest, unsigned long len) override {
    if (m_Reader.Read(dest, len) < len) return 0;
    m_Pos += len;
    return 1;
  }
  size_t Position() const { return m_Pos; }

 private:
  WaveReader& m_Reader;
  size_t m_Pos = 0;
};

int UsageError(const std::string& message) {
  return CommandLineError("zelvaro-analyze", message, kExitError);
}

bool ParseSeconds(const char* text, double* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !(v > 0) || v > 1e7) return false;
  *value = v;
  return true;
}

// Parses the command line; returns -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options& opt) {
  OptionReader r("zelvaro-analyze", argc, argv);
  std::string given;
  while (r.Next()) {
    if (r.Is("-h") || r.Is("--help")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (r.Is("--version")) {
      std::printf("zelvaro-analyze (Zelvaro) %s\n", ZELVARO_VERSION);
      return 0;
    } else if (r.Is("--every-piece")) {
      opt.EveryPiece = true;
    } else if (r.Is("--json")) {
      opt.Json = true;
    } else if (r.Is("--steady")) {
      opt.Settings.Steady = true;
    } else if (r.Is("--trigger")) {
      if (!r.WholeNumber(0, 3, &opt.Settings.TriggerLevel, &given))
        return r.BadValue("a level from 0 to 3", given, kExitError);
      opt.TriggerGiven = true;
    } else if (r.Is("--adjust")) {
      if (!r.WholeNumber(-100, 100, &opt.Settings.MeterAdjust, &given))
        return r.BadValue("a value from -100 to 100", given, kExitError);
      opt.AdjustGiven = true;
    } else if (r.Is("--settings")) {
      if (!r.Text(&opt.SettingsFile)) return r.Missing("a file name", kExitError);
    } else if (r.Is("--live")) {
      opt.Live = true;
    } else if (r.Is("--list-devices")) {
      opt.ListDevices = true;
    } else if (r.Is("--headless")) {
      opt.Headless = true;
    } else if (r.Is("--seconds")) {
      const char* v = r.Value();
      if (!ParseSeconds(v, &opt.Seconds))
        return r.BadValue("a positive number of seconds", v ? v : "", kExitError);
    } else if (r.Is("--device")) {
      if (!r.WholeNumber(0, 1000000, &opt.Device, &given))
        return r.BadValue("a device id (see --list-devices)", given, kExitError);
    } else if (r.IsOption()) {
      return r.Unknown(kExitError);
    } else if (opt.File.empty()) {
      opt.File = r.Word();
    } else {
      return UsageError("only one recording can be analysed at a time ('" + std::string(r.Word()) +
                        "')");
    }
  }
  if (opt.ListDevices) return -1;
  if (opt.Live && !opt.File.empty())
    return UsageError("--live records from a device; no recording ('" + opt.File + "') is read");
  if (!opt.Live && opt.Seconds >= 0) return UsageError("--seconds goes with --live");
  if (!opt.Live && opt.Device >= 0) return UsageError("--device goes with --live");
  if (!opt.Live && opt.File.empty()) return UsageError("no recording given");
  return -1;
}

// Prints one reading; false when standard output refused it, with errno
// telling why.
bool PrintReading(const Options& opt, const TunerReading& r, double time) {
  char name[4] = "";
  int octave = 0;
  bool named = r.Valid && ScientificName(r, name, sizeof name, &octave);
  char pitch[8] = "--";
  if (named) std::snprintf(pitch, sizeof pitch, "%s%d", name, octave);
  double freq = r.Valid ? r.Frequency : 0.0;
  int cents = r.Valid ? r.Cents : 0;

  if (opt.Json) {
    char note[40];
    if (named)
      std::snprintf(note, sizeof note, "\"%s\",\"name\":\"%s\",\"octave\":%d", pitch, name, octave);
    else
      std::snprintf(note, sizeof note, "null,\"name\":null,\"octave\":null");
    return std::printf(
               "{\"time\":%.3f,\"frequency\":%.3f,\"valid\":%s,\"note\":%s,\"cents\":%d,"
               "\"nearest\":%.2f,\"segments\":%d,\"level\":%d,\"fresh\":%s}\n",
               time, freq, r.Valid ? "true" : "false", note, cents, r.Valid ? r.Nearest : 0.0f,
               r.Bars, r.Level, r.Fresh ? "true" : "false") >= 0;
  }
  return std::printf("%8.3f s  %8.2f Hz  %-4s %+4d cents  %2d/10\n", time, freq, pitch, cents,
                     r.Bars) >= 0;
}

// The end of a run whose output stopped at a failed write (`error`, an
// errno value): a reader that closed its end of a pipe (`| head`) wanted
// no more and hears nothing; anything else is an error.
int WriteFailed(int error) {
  if (error == EPIPE) return 0;
  std::fprintf(stderr, "zelvaro-analyze: cannot write the readings: %s\n", std::strerror(error));
  return kExitError;
}

// Flushes standard output; 0, or the errno value of the failed write.
int FlushOutput() { return std::fflush(stdout) == 0 ? 0 : errno; }

// Live input ---------------------------------------------------------------------

// Recorded exactly as the desk program records: the same capture thread,
// configuration and overflow handling.
CWaveInThread g_WaveIn;
CaptureWatch g_Watch;
std::atomic<bool> g_DeviceLost{false};

void WaveInEventCB(_WAVE_IN_EVENT event) {
  if (event == WAVE_IN_DATA) g_Watch.Delivered();
  if (event == WAVE_IN_OVERFLOW) g_WaveIn.ResetBuffer();
  if (event == WAVE_IN_DEVICE_LOST) g_DeviceLost = true;
}

// Hands the reading step one piece that has already been read.
class OnePiece : public PieceSource {
 public:
  explicit OnePiece(const unsigned char* piece) : m_Piece(piece) {}
  int ReadData(unsigned char* dest, unsigned long len) override {
    if (!m_Piece || len != static_cast<unsigned long>(kPieceSize)) return 0;
    std::memcpy(dest, m_Piece, len);
    m_Piece = nullptr;
    return 1;
  }

 private:
  const unsigned char* m_Piece;
};

int NoCaptureDevice() {
  std::fprintf(stderr, "zelvaro-analyze: no audio capture device: %s\n",
               GetWaveErrorDetail().c_str());
  return kExitError;
}

int ListDevices() {
  UINT n = waveInGetNumDevs();
  if (n == 0) return NoCaptureDevice();
  for (UINT id = 0; id < n; id++) std::printf("%u  %s\n", id, WaveInDeviceName(id).c_str());
  return 0;
}

int RunLive(const Options& opt) {
  const UINT count = waveInGetNumDevs();
  if (count == 0) return NoCaptureDevice();
  if (opt.Device >= 0 && static_cast<UINT>(opt.Device) >= count) {
    std::fprintf(
        stderr, "zelvaro-analyze: no capture device with id %d (ids 0 to %u; see --list-devices)\n",
        opt.Device, count - 1);
    return kExitError;
  }
  // --seconds counts from here, whatever the device takes to open.
  const DWORD start = timeGetTime();
  g_WaveIn.Init(WaveInEventCB, kPriorityNormal, 4, kPieceSize, 1, kSampleRate, 8);
  if (opt.Device >= 0) g_WaveIn.SetDevice(static_cast<UINT>(opt.Device));
  if (!g_WaveIn.StartThread()) {
    std::string detail = GetWaveErrorDetail();
    std::string name = WaveInDeviceName(opt.Device >= 0 ? static_cast<UINT>(opt.Device) : 0);
    std::fprintf(stderr, "zelvaro-analyze: cannot record from %s%s%s\n",
                 opt.Device >= 0 ? name.c_str() : "any capture device", detail.empty() ? "" : ": ",
                 detail.c_str());
    return kExitError;
  }
  g_Watch.Start(start, WaveInDeviceName(g_WaveIn.GetDeviceId()));

  TunerState state;
  TunerReading reading;
  double analysed_end = 0.0;
  unsigned long consumed = 0;  // bytes of audio read so far
  int lines = 0;
  int write_error = 0;
  bool lost = false;
  unsigned char piece[kPieceSize];
  for (;;) {
    MSG msg;
    bool quit = false;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.message == WM_QUIT) quit = true;
    // Looked at before the ring is drained: the worker raises the event only
    // after storing the device's last block.
    lost = g_DeviceLost;
    while (!write_error && g_WaveIn.ReadData(piece, kPieceSize)) {
      bool steady = state.bufferlen >= kWindowSize;
      OnePiece source(piece);
      ReadingStep(state, source, opt.Settings, reading);
      if (steady) {
        if (reading.Fresh) analysed_end = static_cast<double>(consumed) / kSampleRate;
        if (!PrintReading(opt, reading, analysed_end))
          write_error = errno;
        else
          write_error = FlushOutput();
        lines++;
      }
      consumed += kPieceSize;
    }
    if (quit || lost || write_error) break;
    g_Watch.Check(timeGetTime(), "zelvaro-analyze");
    if (opt.Seconds > 0 && timeGetTime() - start >= static_cast<DWORD>(opt.Seconds * 1000)) break;
    Sleep(10);
  }
  g_WaveIn.StopThread();
  calc_end();
  if (write_error) return WriteFailed(write_error);
  if (lost) {
    std::fprintf(stderr, "zelvaro-analyze: the capture device went away after %.3f s of audio\n",
                 static_cast<double>(consumed) / kSampleRate);
    return kExitDeviceLost;
  }
  if (lines == 0)
    std::fprintf(
        stderr,
        "zelvaro-analyze: no reading: stopped after %.3f s of audio (at least %.3f s needed)\n",
        static_cast<double>(consumed) / kSampleRate, kLeastSeconds);
  return 0;
}

int AnalyzeFile(const Options& opt) {
  WaveReader reader;
  std::string error;
  if (!reader.Open(opt.File, kSampleRate, &error)) {
    std::fprintf(stderr, "zelvaro-analyze: %s: %s\n", opt.File.c_str(), error.c_str());
    return kExitError;
  }

  RecordingSource source(reader);
  TunerState state;
  TunerReading reading;
  double analysed_end = 0.0;  // end of the window the shown estimate covers
  int lines = 0;
  int write_error = 0;
  for (;;) {
    size_t before = source.Position();
    bool steady = state.bufferlen >= kWindowSize;
    if (ReadingStep(state, source, opt.Settings, reading) == 0) break;
    if (!steady) {
      if (source.Position() == before) break;  // the recording ended while filling
      continue;
    }
    if (reading.Fresh) analysed_end = static_cast<double>(before) / kSampleRate;
    if (!PrintReading(opt, reading, analysed_end)) {
      write_error = errno;
      break;
    }
    lines++;
  }
  if (!write_error) write_error = FlushOutput();
  calc_end();
  if (write_error) return WriteFailed(write_error);
  if (!reader.Error().empty()) {
    std::fprintf(stderr, "zelvaro-analyze: %s: %s\n", opt.File.c_str(), reader.Error().c_str());
    return kExitError;
  }
  if (size_t missing = reader.MissingFrames())
    std::fprintf(stderr,
                 "zelvaro-analyze: %s: cut short: the data chunk claims %zu sample frames, the "
                 "file holds %zu (%.3f s); analysed those\n",
                 opt.File.c_str(), reader.FramesRead() + missing, reader.FramesRead(),
                 static_cast<double>(reader.FramesRead()) / reader.Info().Rate);
  if (lines == 0)
    std::fprintf(stderr,
                 "zelvaro-analyze: %s: too short for a reading (at least %.3f s of audio needed)\n",
                 opt.File.c_str(), kLeastSeconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  opt.Settings.Bands = false;  // no line shows the spectrum
  int status = ParseOptions(argc, argv, opt);
  if (status >= 0) return status;
  SetPrefsFile(opt.SettingsFile);
  ReadPrefs();
  if (!opt.TriggerGiven) opt.Settings.TriggerLevel = TriggerLevel;
  if (!opt.AdjustGiven) opt.Settings.MeterAdjust = MeterAdjust;
  if (opt.EveryPiece) opt.Settings.EstimateEvery = 1;
  if (opt.Headless) {
    std::string error;
    if (!platform::SelectBackend("headless", &error)) {
      std::fprintf(stderr, "zelvaro-analyze: %s\n", error.c_str());
      return kExitError;
    }
  }
  if (opt.ListDevices) {
    status = ListDevices();
    int write_error = FlushOutput();
    return write_error ? WriteFailed(write_error) : status;
  }
  if (opt.Live) return RunLive(opt);
  return AnalyzeFile(opt);
}

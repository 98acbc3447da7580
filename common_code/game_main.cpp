// zelvaro-desk and zelvaro-pocket: the command line, then the frame's
// WinMain with the application. Without options the program runs exactly
// as the frame and the application say.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common_code/PPCAPI.h"
#include "common_code/cmdline.h"
#include "platform/services/backend.h"
#include "platform/services/files.h"
#include "platform/winapi/mmsystem.h"
#include "platform/winapi/resources.h"
#include "tuner/prefs.h"

namespace {

constexpr const char* kProgram = kPocket ? "zelvaro-pocket" : "zelvaro-desk";
constexpr int kExitUsage = 2;

const char kDeskAbout[] =
    "Zelvaro, the chromatic tuner, in a 240x320 window: play a note near the\n"
    "microphone and read its name, how far it is from the note and its\n"
    "frequency. Click the screen where you would tap it; the left and right\n"
    "arrow keys calibrate the meter once the up arrow has switched to it.\n";
const char kPocketAbout[] =
    "Zelvaro, the chromatic tuner, on the whole screen, as on a handheld: play\n"
    "a note near the microphone and read its name, how far it is from the\n"
    "note and its frequency. Tap or click the screen; the arrow keys and the\n"
    "A and B keys (or a game controller's pad and buttons) work as the\n"
    "handheld's hardware keys.\n";

const char kOptions[] =
    "  --device ID           record from capture device ID (the ids of\n"
    "                        'zelvaro-analyze --list-devices') instead of the\n"
    "                        system's default input\n"
    "  --input FILE.wav      listen to a recording (of up to an hour), over and\n"
    "                        over, instead of a microphone\n"
    "  --frames N            close the window after N frames (the screen draws\n"
    "                        %s frames a second)\n"
    "  --screenshot FILE.bmp when the program ends, save its last frame there\n"
    "                        (a 24-bit BMP image of the 240x320 screen; a new\n"
    "                        file or one that replaces a regular file)\n"
    "  --steady              a calmer reading that names the octave by the\n"
    "                        spectrum's evidence and holds the note while\n"
    "                        it sounds\n"
    "  --headless            show nothing and use no sound system: scripted\n"
    "                        capture devices and a virtual clock, for tests\n"
    "                        (see ZELVARO_HEADLESS_CAPTURE in the README)\n"
    "  --settings FILE       keep the settings in FILE instead of the usual\n"
    "                        place (--settings ./PREFS.DAT: the current folder)\n"
    "  -h, --help            show this help\n"
    "  --version             show the program's name and version\n";

const char kScaleOption[] =
    "  --scale N             show each screen pixel as N x N pixels, 1 to 16\n"
    "                        (default: the largest that keeps the window\n"
    "                        within two thirds of the screen's height)\n";

void PrintUsage() {
  std::printf("Usage: %s [OPTIONS]\n\n%s\nOptions:\n", kProgram,
              kPocket ? kPocketAbout : kDeskAbout);
  if constexpr (!kPocket) std::fputs(kScaleOption, stdout);
  std::printf(kOptions, kPocket ? "up to 19" : "up to 29");
  std::printf(
      "\nThe trigger level and the meter adjustment are kept between runs in\n"
      "$XDG_CONFIG_HOME/zelvaro/PREFS.DAT (~/.config/zelvaro/PREFS.DAT when\n"
      "XDG_CONFIG_HOME is unset or not absolute).\n"
      "\nOnly one %s runs at a time: starting it again brings the\n"
      "running one to the front.\n"
      "\nExit status: 0 when the window was closed or another instance was\n"
      "brought forward, 1 when the program could not start (or the running\n"
      "instance did not answer) or the screenshot could not be written, 2 for\n"
      "a bad option or an unusable --device or --input.\n",
      kProgram);
}

struct Options {
  bool Headless = false;
  bool Steady = false;
  int Scale = 0;
  long Frames = 0;
  int Device = -1;
  std::string Input;
  std::string Screenshot;
  std::string Settings;
};

int UsageError(const std::string& message) {
  return CommandLineError(kProgram, message, kExitUsage);
}

// Reads the command line; -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options& opt) {
  OptionReader r(kProgram, argc, argv);
  std::string given;
  while (r.Next()) {
    if (r.Is("-h") || r.Is("--help")) {
      PrintUsage();
      return 0;
    } else if (r.Is("--version")) {
      std::printf("%s (Zelvaro) %s\n", kProgram, ZELVARO_VERSION);
      return 0;
    } else if (r.Is("--headless")) {
      opt.Headless = true;
    } else if (r.Is("--steady")) {
      opt.Steady = true;
    } else if (r.Is("--scale") && !kPocket) {
      if (!r.WholeNumber(1, 16, &opt.Scale, &given))
        return r.BadValue("a whole factor from 1 to 16", given, kExitUsage);
    } else if (r.Is("--frames")) {
      if (!r.WholeNumber(1, LONG_MAX, &opt.Frames, &given))
        return r.BadValue("a number of frames above 0", given, kExitUsage);
    } else if (r.Is("--screenshot")) {
      if (!r.Text(&opt.Screenshot)) return r.Missing("a file name", kExitUsage);
    } else if (r.Is("--device")) {
      if (!r.WholeNumber(0, 1000000, &opt.Device, &given))
        return r.BadValue("a device id (see zelvaro-analyze --list-devices)", given, kExitUsage);
    } else if (r.Is("--input")) {
      if (!r.Text(&opt.Input)) return r.Missing("a WAVE file", kExitUsage);
    } else if (r.Is("--settings")) {
      if (!r.Text(&opt.Settings)) return r.Missing("a file name", kExitUsage);
    } else {
      return r.Unknown(kExitUsage);
    }
  }
  if (opt.Device >= 0 && !opt.Input.empty())
    return r.Error("--device and --input both choose the input; give one", kExitUsage);
  return -1;
}

// A screenshot replaces only a regular file: says so and returns true when
// something else (a device, a FIFO, a link, a folder) stands at `path`.
bool ScreenshotRefused(const std::string& path) {
  std::string what;
  if (path.empty() || MayReplaceWithFile(path, &what)) return false;
  std::fprintf(stderr, "%s: --screenshot %s: %s stands there; give a new or a regular file\n",
               kProgram, path.c_str(), what.c_str());
  return true;
}

// Puts the options into effect; -1 to go on, else the exit status.
int Apply(const Options& opt) {
  std::string error;
  if (opt.Headless && !platform::SelectBackend("headless", &error)) return UsageError(error);
  if (opt.Scale > 0) platform::SetDisplayScale(opt.Scale);
  if (opt.Device >= 0 && !ChooseCaptureDevice(static_cast<UINT>(opt.Device), &error))
    return UsageError("--device " + std::to_string(opt.Device) + ": " + error);
  if (!opt.Input.empty() && !ChooseCaptureRecording(opt.Input, &error))
    return UsageError("--input " + opt.Input + ": " + error);
  ProgramOptions.CloseAfterFrames = static_cast<unsigned long>(opt.Frames);
  SetPrefsFile(opt.Settings);
  platform::SetApplicationId(ZELVARO_APP_ID);
  ProgramOptions.SteadyReading = opt.Steady;
  return ScreenshotRefused(opt.Screenshot) ? 1 : -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  int status = ParseOptions(argc, argv, opt);
  if (status < 0) status = Apply(opt);
  if (status >= 0) return status;

  // From the first look at the queue on, a stop signal (Ctrl-C, SIGTERM)
  // asks the window to close, so that the program ends through ProgramEnd
  // even when the signal comes during the start-up.
  MSG msg;
  PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);

  TPocketPCWindow& app = TheApplication();
  status = WinMain(app, GetModuleHandle(nullptr));
  if (!opt.Screenshot.empty() && status == 0) {
    if (!app.screen.m_Bits) {
      std::fprintf(stderr, "%s: --screenshot %s: no frame was shown\n", kProgram,
                   opt.Screenshot.c_str());
      status = 1;
    } else if (ScreenshotRefused(opt.Screenshot)) {
      status = 1;
    } else if (!SaveBitmap(&app.screen, opt.Screenshot.c_str())) {
      std::fprintf(stderr, "%s: --screenshot %s: the file could not be written\n", kProgram,
                   opt.Screenshot.c_str());
      status = 1;
    }
  }
  return status;
}

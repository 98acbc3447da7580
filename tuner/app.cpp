// The tuner application: MyClass, module globals, callbacks, the trigger
// menu, and the tuner screen's drawing from a reading.
#include "tuner/app.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "common_code/menu.h"
#include "platform/services/power.h"
#include "tuner/analysis.h"
#include "tuner/capturewatch.h"

CWaveInThread waveIn;
CWaveOutThread waveOut;
ButtonArray buttons;
Font font;
Font bigfont;
CDib Meter;
CDib Arrows;
int AdjustMode = 0;
char szTriggerLevel[24] = "Trigger: 1";
int SquareScreen = 0;
TunerState Tuner;
int IdleTimerCount = 0;
MyClass game;

TPocketPCWindow& TheApplication() { return game; }

const SegmentColour SignalStrength[10] = {
    {0, 255, 0},   {64, 255, 0},  {128, 255, 0}, {192, 255, 0}, {255, 255, 0},
    {255, 255, 0}, {255, 192, 0}, {255, 128, 0}, {255, 64, 0},  {255, 0, 0},
};

namespace {

// Screen layout.
constexpr int kArrowMargin = 15;  // arrows at (15, 15) and (225 - W/2, 15)
constexpr int kNoteNameY = 48;
constexpr int kReferenceY = 76;
constexpr int kStatusY = 140;
constexpr int kPivotX = 120, kPivotY = 117;
constexpr int kNeedleLength = 80;
constexpr int kNeedleWidth = 3;  // desk; the pocket draws one pixel
constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr int kButtonY = 290;
constexpr int kTriggerButtonX = 15, kExitButtonX = 125;  // both 100 x 20
constexpr int kButtonWidth = 100, kButtonHeight = 20;
constexpr int kScreenWidth = 240;
// The strength bar: ten segments of kSegmentWidth + 1 pixels, kSegmentPitch
// apart, on rows kSegmentTop to kSegmentBottom.
constexpr int kSegmentLeft = 21, kSegmentPitch = 20, kSegmentWidth = 18;
constexpr int kSegmentTop = 6, kSegmentBottom = 10;

// Capture: four pieces in the ring, 8-bit mono at 8000 Hz.
constexpr unsigned short kCaptureBuffers = 4;
// Without a capture device (none would start, or it went away), opening
// one is tried again this often.
constexpr DWORD kCaptureRetryMs = 2000;
constexpr const char* kProgram = kPocket ? "zelvaro-pocket" : "zelvaro-desk";

CaptureWatch captureWatch;
std::atomic<bool> captureLost{false};
DWORD lastCaptureTry = 0;

// Starts capture, watching the device from `now` on. 1 when it records.
int StartCapture(DWORD now) {
  captureLost = false;
  if (!waveIn.StartThread()) return 0;
  captureWatch.Start(now, WaveInDeviceName(waveIn.GetDeviceId()));
  return 1;
}

// Pieces of silence, for the frames without a capture device.
class SilenceSource : public PieceSource {
 public:
  int ReadData(unsigned char* dest, unsigned long len) override {
    std::memset(dest, 128, len);
    return 1;
  }
};

// Keeps capture going from frame to frame: a device that went away is let
// go, and without one another is tried every kCaptureRetryMs; a running one
// that stays silent is named on stderr. True while a device records.
bool TendCapture() {
  const DWORD now = GetTickCount();
  if (captureLost.exchange(false)) {
    waveIn.StopThread();
    captureWatch.Stop();
    lastCaptureTry = now;
    // Nothing heard before the loss is shown again: the window is silence.
    std::memset(Tuner.wavebuffer, 128, sizeof Tuner.wavebuffer);
    Tuner.LastFrequency = 0.0;
    Tuner.Level = 0;
    Tuner.Counter = 0;
    std::fprintf(stderr, "%s: the capture device went away; trying again every %u seconds\n",
                 kProgram, static_cast<unsigned>(kCaptureRetryMs / 1000));
  }
  if (waveIn.IsActive()) {
    captureWatch.Check(now, kProgram);
    return true;
  }
  if (now - lastCaptureTry < kCaptureRetryMs) return false;
  lastCaptureTry = now;
  if (!StartCapture(now)) return false;
  std::fprintf(stderr, "%s: recording again from %s\n", kProgram,
               WaveInDeviceName(waveIn.GetDeviceId()).c_str());
  return true;
}
// Pocket: Paint calls between resets of the system's idle timer (10 s at
// the pocket's 20 frames a second).
constexpr int kIdleResetCalls = 200;

// The spectrum view: baseline and tallest bar on a 320-line screen and on
// the square pocket screen.
constexpr int kBaseline = 258, kMaxBar = 60;
constexpr int kSquareBaseline = 219, kSquareMaxBar = 30;
constexpr float kMarkerLimit = 4000.0f;  // no marker from here on
// Eight bars of kBandWidth + 1 pixels, kBandPitch apart from kBandLeft.
constexpr int kBandLeft = 20, kBandPitch = 25, kBandWidth = 22;
// The selected band's marker: a box 2 x kMarkerHalfWidth wide around a centre
// kMarkerCentre right of the bar's left edge, from kMarkerTop to
// kMarkerBottom above the tallest bar, with the note's name in it, and a
// line down to a cap kCapGap above the bar.
constexpr int kMarkerCentre = 12, kMarkerHalfWidth = 15;
constexpr int kMarkerTop = 18, kMarkerBottom = 5;
constexpr int kCapGap = 2;

unsigned short Black() { return ColorValue(0, 0, 0); }

// Copies `text` into `out` without its trailing blanks.
void WithoutTrailingBlanks(const char* text, char* out, size_t size) {
  std::snprintf(out, size, "%s", text ? text : "");
  size_t n = std::strlen(out);
  while (n > 0 && out[n - 1] == ' ') out[--n] = '\0';
}

// The meter image over the screen: a straight copy of its rows when the
// widths agree, else a clipped block copy.
void CopyBackground(CDib* screen) {
  if (!Meter.m_Bits) return;
  if (Meter.W == screen->W) {
    int rows = Meter.H < screen->H ? Meter.H : screen->H;
    std::memcpy(screen->m_Bits, Meter.m_Bits,
                static_cast<size_t>(rows) * static_cast<size_t>(Meter.W) * sizeof(PIXEL));
  } else {
    screen->BitBlt(0, 0, Meter.W, Meter.H, &Meter, 0, 0, kCopyBlock);
  }
}

void DrawUnlitArrows(CDib* dib) {
  const int aw = Arrows.W / 2, ah = Arrows.H / 2;
  dib->BitBlt(kArrowMargin, kArrowMargin, aw, ah, &Arrows, 0, ah, kCopyTransparent);
  dib->BitBlt(kScreenWidth - kArrowMargin - aw, kArrowMargin, aw, ah, &Arrows, 0, 0,
              kCopyTransparent);
}

}  // namespace

// MyClass -------------------------------------------------------------------------------

void MyClass::ProgramStart(int& orientation) {
  if constexpr (kPocket) {
    KeepDisplayAwake(true);
    orientation = 0;
    // The handheld's screen is the GAPI display, whatever the monitor.
    const GXDisplayProperties display = GXGetDisplayProperties();
    SquareScreen = display.cxWidth == display.cyHeight;
  }
  ReadPrefs();
  waveIn.Init(waveInEventCB, kPriorityNormal, kCaptureBuffers, kPieceSize, 1, kSampleRate, 8);
  lastCaptureTry = GetTickCount();
  if (!StartCapture(lastCaptureTry)) {
    if constexpr (kPocket)
      MessageBox(nullptr, L"Unable to start WAVEIN thread", L"Debug", MB_OK);
    else
      MessageBox(nullptr, "Unable to start WAVEIN thread", "Debug", MB_OK);
  }
}

void MyClass::DisplayInit() { LoadTunerScreen(hInst); }

void MyClass::Paint() {
  const bool recording = TendCapture();
  if constexpr (kPocket) {
    if (++IdleTimerCount == kIdleResetCalls) {
      SystemIdleTimerReset();
      IdleTimerCount = 0;
    }
  }
  static WaveInSource source(waveIn);
  static SilenceSource silence;
  if (recording)
    PaintTunerFrame(&screen, source);
  else
    PaintTunerFrame(&screen, silence);
}

void MyClass::ProcessMessage(unsigned message, unsigned wParam, long lParam) {
  switch (message) {
    case WM_KEYDOWN:
      if constexpr (kPocket) {
        // The hardware keys stand in for the buttons (a square screen has none).
        if (DefaultKeys.vkA && wParam == static_cast<unsigned short>(DefaultKeys.vkA)) {
          PostMessage(hWindow, WM_COMMAND, ID_TRIGGER, 0);
          return;
        }
        if (DefaultKeys.vkB && wParam == static_cast<unsigned short>(DefaultKeys.vkB)) {
          PostMessage(hWindow, WM_COMMAND, ID_EXIT, 0);
          return;
        }
      }
      if (wParam == VK_LEFT) {
        if (AdjustMode && MeterAdjust > -100) MeterAdjust--;
      } else if (wParam == VK_UP) {
        AdjustMode = !AdjustMode;
      } else if (wParam == VK_RIGHT) {
        if (AdjustMode && MeterAdjust < 100) MeterAdjust++;
      }
      return;
    case WM_COMMAND:
      if (wParam == ID_EXIT)
        Exit();
      else if (wParam == ID_TRIGGER)
        SelectTrigger(&screen);
      return;
    case WM_LBUTTONDOWN:
      buttons.ProcessEvent(hWindow, static_cast<int>(message), wParam, lParam);
      return;
    default:
      return;
  }
}

int MyClass::DisplayExit() {
  if constexpr (kPocket) waveIn.StopThread();
  return 1;
}

void MyClass::ProgramEnd() {
  if constexpr (kPocket) KeepDisplayAwake(false);
  WritePrefs();
  waveIn.StopThread();
  calc_end();
}

void SelectTrigger(CScreen* screen) {
  Menu menu;
  const int choice =
      menu.Go(screen, "Trigger Level", "01Off,021,032,043", MENU_OPEN | MENU_WAIT | MENU_CLOSE);
  if (choice > 0) {
    TriggerLevel = choice - 1;
    UpdateButtonBuffers();
  }
}

// The tuner screen ------------------------------------------------------------------------

void UpdateButtonBuffers() {
  if (TriggerLevel)
    std::snprintf(szTriggerLevel, sizeof(szTriggerLevel), "Trigger: %d", TriggerLevel);
  else
    std::snprintf(szTriggerLevel, sizeof(szTriggerLevel), "Trigger: OFF");
}

void waveInEventCB(_WAVE_IN_EVENT event) {
  if (event == WAVE_IN_DATA) captureWatch.Delivered();
  if (event == WAVE_IN_OVERFLOW) waveIn.ResetBuffer();
  if (event == WAVE_IN_DEVICE_LOST) captureLost = true;
}

void waveOutEventCB(_WAVE_OUT_EVENT event) {
  if (event == WAVE_OUT_UNDERRUN) waveOut.ResetBuffer();
}

void LoadTunerScreen(void* module) {
  font.LoadGAPIFont(module, "MENUFONT");
  bigfont.LoadFont(module, "FONT3");
  Meter.LoadBMP(module, SquareScreen ? "METER_SMALL" : "METER");
  Arrows.LoadBMP(module, "ARROWS");
  Arrows.SetTransparentColor(Arrows.GetPixel(0, 0));
  // The pocket keeps the unlit arrows in its background too.
  if constexpr (kPocket) DrawUnlitArrows(&Meter);

  buttons.DeleteButtons();
  if (!SquareScreen) {
    buttons.AddButton(ID_TRIGGER, szTriggerLevel, kTriggerButtonX, kButtonY, kButtonWidth,
                      kButtonHeight, 0);
    buttons.AddButton(ID_EXIT, "Exit", kExitButtonX, kButtonY, kButtonWidth, kButtonHeight, 0);
    buttons.SetButtonColor(ID_EXIT, ColorValue(0, 0, 0), ColorValue(224, 224, 192), -1, -1);
    buttons.SetButtonColor(ID_TRIGGER, ColorValue(0, 0, 0), ColorValue(224, 224, 192), -1, -1);
  }
  UpdateButtonBuffers();
}

int PaintTunerFrame(CDib* screen, PieceSource& source, TunerReading* shown) {
  TunerSettings settings;
  settings.TriggerLevel = TriggerLevel;
  settings.MeterAdjust = MeterAdjust;
  settings.AdjustMode = AdjustMode;
  settings.Steady = ProgramOptions.SteadyReading;
  TunerReading reading;
  if (!ReadingStep(Tuner, source, settings, reading)) return 0;
  DrawTunerScreen(screen, reading);
  if (shown) *shown = reading;
  return 1;
}

void DrawTunerScreen(CDib* screen, const TunerReading& r) {
  if (!screen || !screen->m_Bits) return;
  const unsigned short black = Black();
  const int aw = Arrows.W / 2, ah = Arrows.H / 2;
  const int sharpX = kScreenWidth - kArrowMargin - aw;

  CopyBackground(screen);
  DrawUnlitArrows(screen);
  font.Print(screen, -1, kStatusY, r.Status, 0, kCopyTransparent);

  if (r.Valid) {
    char text[32];
    WithoutTrailingBlanks(r.Name, text, sizeof(text));
    bigfont.Print(screen, -1, kNoteNameY, text, black, kCopySilhouette);
    std::snprintf(text, sizeof(text), "%0.2fHz", static_cast<double>(r.Nearest));
    buttonfont.Print(screen, -1, kReferenceY, text, black, kCopySilhouette);
  }
  if (r.SharpLit) screen->BitBlt(sharpX, kArrowMargin, aw, ah, &Arrows, aw, 0, kCopyTransparent);
  if (r.FlatLit)
    screen->BitBlt(kArrowMargin, kArrowMargin, aw, ah, &Arrows, aw, ah, kCopyTransparent);

  // 0 degrees points straight up, +90 right, -90 left.
  const double t = (180 - r.Angle) * kRadiansPerDegree;
  const int dx = static_cast<int>(kNeedleLength * std::sin(t));
  const int dy = static_cast<int>(kNeedleLength * std::cos(t));
  if constexpr (kPocket)
    screen->Line(static_cast<float>(kPivotX), static_cast<float>(kPivotY),
                 static_cast<float>(kPivotX + dx), static_cast<float>(kPivotY + dy), black);
  else
    DrawWideLine(screen, kPivotX, kPivotY, kPivotX + dx, kPivotY + dy, kNeedleWidth, black);

  if (r.Bands) {
    if (r.Valid)
      DrawOctaveBands(screen, r.BandLevel, r.Nearest, r.Name);
    else
      DrawOctaveBands(screen, r.BandLevel, 0.0f, nullptr);
  }

  for (int i = 0; i < static_cast<int>(std::size(SignalStrength)); i++) {
    const SegmentColour& c = SignalStrength[i];
    unsigned short colour =
        i < r.Bars ? ColorValue(c.r, c.g, c.b) : ColorValue(c.r >> 2, c.g >> 2, c.b >> 2);
    const int left = kSegmentLeft + kSegmentPitch * i;
    screen->Fill(left, kSegmentTop, left + kSegmentWidth, kSegmentBottom, colour);
  }

  buttons.Paint(screen);
}

void DrawWideLine(CDib* dib, int x1, int y1, int x2, int y2, int width, unsigned short colour) {
  if (!dib || !dib->m_Bits || width < 1) return;
  // Exact integer tests: a pixel centre q is on the line when its distance
  // to the segment is at most width/2, i.e. 4 d^2 <= width^2.
  const int64_t dx = static_cast<int64_t>(x2) - x1, dy = static_cast<int64_t>(y2) - y1;
  const int64_t len2 = dx * dx + dy * dy;
  const int64_t w2 = static_cast<int64_t>(width) * width;
  const int64_t reach = width / 2 + 1;
  const int64_t left = std::max<int64_t>(std::min<int64_t>(x1, x2) - reach, 0);
  const int64_t right = std::min<int64_t>(std::max<int64_t>(x1, x2) + reach, dib->W - 1);
  const int64_t top = std::max<int64_t>(std::min<int64_t>(y1, y2) - reach, 0);
  const int64_t bottom = std::min<int64_t>(std::max<int64_t>(y1, y2) + reach, dib->H - 1);
  for (int64_t y = top; y <= bottom; y++) {
    PIXEL* row = dib->m_Bits + y * dib->W;
    for (int64_t x = left; x <= right; x++) {
      const int64_t wx = x - x1, wy = y - y1;
      const int64_t dot = wx * dx + wy * dy;
      bool on;
      if (len2 == 0 || dot <= 0) {
        on = 4 * (wx * wx + wy * wy) <= w2;
      } else if (dot >= len2) {
        const int64_t ex = x - x2, ey = y - y2;
        on = 4 * (ex * ex + ey * ey) <= w2;
      } else {
        const int64_t cross = wx * dy - wy * dx;
        on = 4 * cross * cross <= w2 * len2;
      }
      if (on) row[x] = colour;
    }
  }
}

#if ZELVARO_POCKET
void DrawSpectrumAnalyser2(CDib* dib, float notefreq, const char* name) {
#else
void DrawSpectrumAnalyser2(CDib* dib, float notefreq, const char* name, int octave) {
  (void)octave;
#endif
  double level[8];
  if (dib && OctaveBandLevels(MeterAdjust, level)) DrawOctaveBands(dib, level, notefreq, name);
}

void DrawOctaveBands(CDib* dib, const double level[8], float notefreq, const char* name) {
  if (!dib) return;
  const int B = SquareScreen ? kSquareBaseline : kBaseline;
  const int M = SquareScreen ? kSquareMaxBar : kMaxBar;
  int selected = -1;
  for (int j = 0; j < 8; j++)
    if (BinsOctave[j][0] <= notefreq && notefreq < BinsOctave[j][1]) selected = j;

  const unsigned short black = Black();
  const unsigned short red = ColorValue(255, 0, 0), green = ColorValue(0, 255, 0);
  for (int j = 0; j < 8; j++) {
    const int h = static_cast<int>((level[j] + 100) * M * 0.01);
    const int left = kBandLeft + kBandPitch * j;

    if (j == selected && notefreq > 0 && notefreq < kMarkerLimit) {
      const int cx = left + kMarkerCentre;
      const int top = B - M - kMarkerTop, bottom = B - M - kMarkerBottom, cap = B - h - kCapGap;
      dib->Line(static_cast<float>(cx), static_cast<float>(bottom), static_cast<float>(cx),
                static_cast<float>(cap), black);
      dib->hLine(left, cap, kBandWidth, black);
      dib->Box(cx - kMarkerHalfWidth, top, cx + kMarkerHalfWidth, bottom, black);
      if (name) {
        char text[16];
        WithoutTrailingBlanks(name, text, sizeof(text));
        buttonfont.Print(dib, cx - buttonfont.GetTextLength(text) / 2, top, text, black,
                         kCopySilhouette);
      }
    }
    dib->Fill(left, B + 1 - h, left + kBandWidth, B, j == selected ? red : green);
  }
}

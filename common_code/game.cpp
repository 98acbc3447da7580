// The program frame (PPCAPI.h): start-up, the window procedure, the main
// loop with its frame clock, and the splash.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common_code/PPCAPI.h"
#include "common_code/button.h"
#include "common_code/shader.h"
#include "common_code/sound.h"
#include "platform/services/instance.h"
#include "platform/services/sysinfo.h"
#include "platform/winapi/mmsystem.h"
#include "platform/winapi/wingdi.h"

HINSTANCE hInst = nullptr;
char ProgramPath[260] = "";
GXKeyList DefaultKeys = {};
FrameOptions ProgramOptions;

namespace {

// Per-build constants.
constexpr DWORD kFrameTime =
    kPocket ? 50 : 33;  // a frame is due once more than this has passed, ms
constexpr float kParticleFrameTime = kPocket ? 50.0f : 33.0f;
constexpr const char* kInstanceName = kPocket ? "zelvaro-pocket" : "zelvaro-desk";
constexpr DWORD kDeskStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
constexpr int kScreenWidth = 240, kScreenHeight = 320;
constexpr unsigned long long kPocketMemory = 2048000;

SingleInstance g_Instance;
bool g_ProgramStarted = false;  // ProgramStart ran, so ProgramEnd must
bool g_FrameActive = false;     // pocket: the main loop runs

// The pocket's splash, drawn inside Init: "SPLASH", turned a quarter turn
// clockwise when it is narrower than the screen, with the version over it,
// faded in and held for 2 s.
void PocketSplash(CScreen& screen) {
  CDib splash, turned;
  if (!splash.LoadBMP(hInst, "SPLASH")) return;
  CDib* shown = &splash;
  if (splash.W < screen.W && turned.Create(splash.H, splash.W)) {
    for (int y = 0; y < splash.H; y++)
      for (int x = 0; x < splash.W; x++)
        turned.SetPixel(splash.H - 1 - y, x, splash.GetPixel(x, y));
    shown = &turned;
  }
  screen.BitBlt(0, 0, shown->W, shown->H, shown, 0, 0, kCopyBlock);
  screen.Print("Version 1.2", -1, 270, ColorValue(255, 255, 255));
  screen.FadeIn(0, 50);
  screen.Refresh();
  wait(2000u);
}

// Takes back a quit request that a failed window creation left queued.
void DropQuit() {
  MSG msg;
  while (PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

// The end of a run that got as far as InitInstance.
void EndInstance(HINSTANCE hInstance) {
  g_Instance.Release();
  UnregisterClass(kFrameClassName, hInstance);
}

// One message at most per pass, then the frame clock (the pocket looks at
// the clock before the message), then a sleep: 1 ms while messages are
// waiting, so each takes a pass of its own; with none waiting, until the
// next frame is due. Input shows only in frames, so handling it just before
// the next one changes nothing the user sees, and an idle loop wakes ~30
// times a second instead of a thousand (each wake-up costs more than a
// whole frame of the tuner).
void MainLoop(TPocketPCWindow& app) {
  DWORD last = 0;
  unsigned long frames = 0;
  auto clock = [] { return kPocket ? GetTickCount() : timeGetTime(); };
  auto frame = [&] {
    const DWORD now = clock();
    if (now - last <= kFrameTime) return;
    if (IsWindow(app.hWindow) && app.bUpdate) {
      app.Paint();
      if constexpr (!kPocket) particlesystem.Update(&app.screen, 1);
      app.screen.Refresh();
      if (++frames == ProgramOptions.CloseAfterFrames) PostMessage(app.hWindow, WM_CLOSE, 0, 0);
    }
    last = now;
  };
  MSG msg;
  for (;;) {
    if constexpr (kPocket) frame();
    if (PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!GetMessage(&msg, nullptr, 0, 0)) break;
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
    if constexpr (!kPocket) frame();
    DWORD wait = 1;
    if (!PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      const DWORD since = clock() - last;
      if (since <= kFrameTime) wait = kFrameTime + 1 - since;
    }
    Sleep(wait);
  }
}

void Process(TPocketPCWindow& app, UINT message, WPARAM wParam, LPARAM lParam) {
  app.ProcessMessage(message, static_cast<unsigned>(wParam), static_cast<long>(lParam));
}

LRESULT DeskMessage(TPocketPCWindow& app, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      app.bUpdate = 0;
      PostQuitMessage(0);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hWnd, &ps);
      EndPaint(hWnd, &ps);
      app.screen.Refresh();
      return 0;
    }
    case WM_CLOSE:
      if (!app.DisplayExit()) return 0;
      app.bUpdate = 0;
      break;
    case WM_KEYDOWN:
    case WM_COMMAND:
    case WM_TIMER:
      Process(app, message, wParam, lParam);
      break;
    case kRaiseMessage:
      SetWindowPos(hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      SetWindowPos(hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      ShowWindow(hWnd, SW_SHOWNORMAL);
      return 0;
    default:
      // The client area is the screen pixel for pixel.
      if (message >= WM_MOUSEMOVE && message <= WM_RBUTTONDBLCLK)
        Process(app, message, wParam, lParam);
      break;
  }
  return DefWindowProc(hWnd, message, wParam, lParam);
}

LRESULT PocketMessage(TPocketPCWindow& app, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      app.bUpdate = 0;
      app.screen.Exit();
      PostQuitMessage(0);
      return 0;
    case WM_PAINT:
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_CLOSE:
      if (app.DisplayExit()) DestroyWindow(hWnd);
      return 0;
    case WM_ACTIVATE:
      // The full-screen display steps aside while another program has the
      // focus and comes back with the program.
      if (!g_FrameActive) return 0;
      if (LOWORD(wParam) == WA_INACTIVE) {
        GXCloseInput();
        GXSuspend();
      } else {
        SetForegroundWindow(hWnd);
        GXResume();
        GXOpenInput();
        app.screen.Refresh();
      }
      return 0;
    case WM_KEYDOWN:
    case WM_COMMAND:
    case WM_TIMER:
    case kParticleMessage:
      Process(app, message, wParam, lParam);
      return 0;
    case kRepaintMessage:
      app.Paint();
      return 0;
    case kRaiseMessage:
      SetForegroundWindow(hWnd);
      SendMessage(hWnd, kRepaintMessage, 0, 0);
      return 0;
    default:
      if (message >= WM_MOUSEMOVE && message <= WM_RBUTTONDBLCLK) {
        const int x = LOWORD(lParam);
        const int y = static_cast<int>(static_cast<float>(HIWORD(lParam)) * StylusScale);
        Process(app, message, wParam, MAKELPARAM(x, y));
        return 0;
      }
      break;
  }
  return DefWindowProc(hWnd, message, wParam, lParam);
}

int DeskMain(TPocketPCWindow& app, HINSTANCE hInstance) {
  InitSQRTables();
  hInst = hInstance;
  InitLLSLibrary();
  const int go = InitInstance(hInstance, app);
  if (go <= 0) {
    EndInstance(hInstance);
    ExitLLSLibrary();
    return go == 0 ? 0 : 1;
  }
  int orientation = 0;
  app.ProgramStart(orientation);
  g_ProgramStarted = true;
  RECT rc{0, 0, kScreenWidth, kScreenHeight};
  AdjustWindowRect(&rc, kDeskStyle, FALSE);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  HWND hwnd = CreateWindowEx(
      0, kFrameClassName, kFrameTitle, kDeskStyle, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
      (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, nullptr, nullptr, hInstance, &app);
  // The system's keyboard repeat is left as the user set it: held arrow
  // keys repeat at that pace.
  int status = 0;
  if (hwnd) {
    g_Instance.SetWindow(hwnd, kRaiseMessage);
    MainLoop(app);
  } else {
    DropQuit();
    status = 1;
  }
  app.ProgramEnd();
  g_ProgramStarted = false;
  EndInstance(hInstance);
  ExitLLSLibrary();
  return status;
}

int PocketMain(TPocketPCWindow& app, HINSTANCE hInstance) {
  unsigned long long available = 0;
  if (AvailableMemory(&available) && !CheckFreeMemory(available)) return 1;
  InitLLSLibrary();
  g_ProgramStarted = false;
  const int go = InitInstance(hInstance, app);
  int status = 0;
  if (go > 0) {
    g_FrameActive = true;
    MainLoop(app);
    g_FrameActive = false;
  } else {
    DropQuit();
    status = go == 0 ? 0 : 1;
  }
  if (g_ProgramStarted) app.ProgramEnd();
  g_ProgramStarted = false;
  ExitSound();
  EndInstance(hInstance);
  ExitLLSLibrary();
  return status;
}

}  // namespace

// TPocketPCWindow -----------------------------------------------------------------------

void TPocketPCWindow::DisplaySplash() { ShowSplash(screen, "SPLASH"); }

int TPocketPCWindow::Init(HWND hWnd) {
  hWindow = hWnd;
  if constexpr (!kPocket) {
    bUpdate = 1;
    InitSound();
    InitButtons();
    if (!screen.Init(hWnd, 0)) return 0;
    particlesystem.Init(hWnd, kParticleFrameTime);
    DisplayInit();
    return 1;
  }
  InitSound();
  int orientation = 0;
  ProgramStart(orientation);
  g_ProgramStarted = true;
  if (!screen.Init(hWnd, orientation)) return 0;
  DefaultKeys = GXGetDefaultKeys(GX_NORMALKEYS);
  PocketSplash(screen);
  DisplayInit();
  InitButtons();
  particlesystem.Init(hWnd, kParticleFrameTime);
  bUpdate = 1;
  return 1;
}

void TPocketPCWindow::Exit() { SendMessage(hWindow, WM_CLOSE, 0, 0); }

// The frame ---------------------------------------------------------------------------------

void ShowSplash(CScreen& screen, const char* name) {
  CDib splash;
  if (splash.LoadBMP(hInst, name)) {
    // A picture of another size is put at the top left rather than
    // resizing the screen.
    if (splash.W == screen.W && splash.H == screen.H) {
      CopyDib(&screen, &splash);
    } else {
      screen.Clear(0);
      screen.BitBlt(0, 0, splash.W, splash.H, &splash, 0, 0, kCopyBlock);
    }
    screen.FadeIn(0, 10);
    screen.Refresh();
    wait(2000u);
  }
  screen.FadeOut(0, 10);
}

LRESULT CALLBACK FrameWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    auto* app =
        static_cast<TPocketPCWindow*>(reinterpret_cast<CREATESTRUCT*>(lParam)->lpCreateParams);
    SetWindowLongPtr(hWnd, 0, reinterpret_cast<LONG_PTR>(app));
    if (!app) return -1;
    if constexpr (kPocket) {
      ShowWindow(hWnd, SW_SHOW);
      if (!app->Init(hWnd)) {
        MessageBox(hWnd, "GAME INIT ERROR", "DEBUG", MB_OK);
        return -1;
      }
    } else {
      if (!app->Init(hWnd)) return -1;
      ShowWindow(hWnd, SW_SHOW);
      // The window comes on the screen with its first picture; a program
      // that has no screen to show it on cannot run.
      app->screen.Refresh();
      if (!IsDisplayOpen(hWnd)) return -1;
      app->DisplaySplash();
    }
    return 0;
  }
  auto* app = reinterpret_cast<TPocketPCWindow*>(GetWindowLongPtr(hWnd, 0));
  if (!app) return DefWindowProc(hWnd, message, wParam, lParam);
  if constexpr (kPocket) return PocketMessage(*app, hWnd, message, wParam, lParam);
  return DeskMessage(*app, hWnd, message, wParam, lParam);
}

int InitInstance(HINSTANCE hInstance, TPocketPCWindow& app) {
  if constexpr (kPocket) hInst = hInstance;
  switch (g_Instance.Claim(kInstanceName)) {
    case SingleInstance::kOther:
      return 0;
    case SingleInstance::kNoAnswer:
      std::fprintf(stderr, "%s: another %s holds the lock %s and does not answer\n", kInstanceName,
                   kInstanceName, g_Instance.LockPath().c_str());
      return -1;
    default:
      break;
  }
  WNDCLASS wc{};
  if constexpr (!kPocket) {
    std::error_code error;
    std::string folder = std::filesystem::current_path(error).string();
    std::snprintf(ProgramPath, sizeof ProgramPath, "%s", error ? "" : folder.c_str());
    wc.style = CS_DBLCLKS;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  } else {
    wc.style = CS_HREDRAW | CS_VREDRAW;
  }
  wc.lpfnWndProc = FrameWndProc;
  wc.cbWndExtra = sizeof(TPocketPCWindow*);
  wc.hInstance = hInstance;
  wc.hIcon = LoadIcon(hInstance, "PROGRAMICON");
  wc.lpszClassName = kFrameClassName;
  if (!RegisterClass(&wc)) {
    g_Instance.Release();
    return -1;
  }
  if constexpr (kPocket) {
    HWND hwnd = CreateWindowEx(0, kFrameClassName, kFrameTitle, WS_VISIBLE, 0, 0,
                               GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                               nullptr, nullptr, hInstance, &app);
    if (!hwnd) return -1;
    g_Instance.SetWindow(hwnd, kRaiseMessage);
  }
  return 1;
}

int CheckFreeMemory(unsigned long long available) {
  if (available >= kPocketMemory) return 1;
  MessageBox(nullptr,
             "This program requires at least 2Mb of free Program memory in order to run, ideally "
             "3Mb or more. Please free off some memory and try again.",
             "Insufficient Memory", MB_OK);
  return 0;
}

int WinMain(TPocketPCWindow& app, HINSTANCE hInstance) {
  if constexpr (kPocket) return PocketMain(app, hInstance);
  return DeskMain(app, hInstance);
}

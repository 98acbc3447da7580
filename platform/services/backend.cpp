// Choosing the backend at run time.
#include "platform/services/backend.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/backends/headless/headless.h"
#include "platform/backends/sdl/sdl_backend.h"

namespace platform {

int OpenWaveDeviceCount();  // mmsystem.cpp

namespace {
std::atomic<Backend*> g_Current{nullptr};
std::mutex g_SelectMutex;

Backend* Named(const std::string& name) {
  if (name == "sdl") return &SdlBackend();
  if (name == "headless") return &headless::TheBackend();
  return nullptr;
}
}  // namespace

Backend& CurrentBackend() {
  Backend* b = g_Current.load(std::memory_order_acquire);
  if (b) return *b;
  std::lock_guard<std::mutex> lk(g_SelectMutex);
  b = g_Current.load(std::memory_order_acquire);
  if (!b) {
    const char* env = std::getenv("ZELVARO_BACKEND");
    std::string name = env && *env ? env : "sdl";
    b = Named(name);
    if (!b) {
      std::fprintf(stderr, "zelvaro: unknown ZELVARO_BACKEND '%s', using sdl\n", name.c_str());
      b = &SdlBackend();
    }
    g_Current.store(b, std::memory_order_release);
  }
  return *b;
}

bool SelectBackend(const std::string& name, std::string* error) {
  Backend* b = Named(name);
  if (!b) {
    if (error) *error = "unknown backend '" + name + "' (sdl or headless)";
    return false;
  }
  if (std::string problem = b->SetupProblem(); !problem.empty()) {
    if (error) *error = problem;
    return false;
  }
  std::lock_guard<std::mutex> lk(g_SelectMutex);
  Backend* current = g_Current.load(std::memory_order_acquire);
  if (current && current != b && OpenWaveDeviceCount() > 0) {
    if (error)
      *error = "an audio device of the " + std::string(current->Name()) + " backend is open";
    return false;
  }
  g_Current.store(b, std::memory_order_release);
  return true;
}

std::vector<int> MessageBoxButtons(unsigned type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
      return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case MB_RETRYCANCEL:
      return {IDRETRY, IDCANCEL};
    default:
      return {IDOK};
  }
}

int DefaultMessageBoxAnswer(unsigned type) {
  std::vector<int> buttons = MessageBoxButtons(type);
  size_t index = (type & MB_DEFMASK) >> 8;
  return buttons[index < buttons.size() ? index : 0];
}

void ViewportToDisplay(int vx, int vy, int vw, int vh, int width, int height, int px, int py,
                       int* x, int* y) {
  auto map = [](long long p, long long v, long long size, long long pixels) {
    if (size <= 0 || pixels <= 0) return 0LL;
    long long d = p - v;
    long long out = d < 0 ? 0 : d * pixels / size;
    return std::min(out, pixels - 1);
  };
  *x = static_cast<int>(map(px, vx, vw, width));
  *y = static_cast<int>(map(py, vy, vh, height));
}

void DisplayViewport(int outw, int outh, int w, int h, int* x, int* y, int* vw, int* vh) {
  *x = 0;
  *y = 0;
  *vw = outw;
  *vh = outh;
  if (w <= 0 || h <= 0 || outw <= 0 || outh <= 0) return;
  int k = std::min(outw / w, outh / h);
  if (k >= 1) {
    *vw = w * k;
    *vh = h * k;
  } else if (static_cast<long long>(outw) * h <= static_cast<long long>(outh) * w) {
    *vw = outw;
    *vh = static_cast<int>(static_cast<long long>(outw) * h / w);
  } else {
    *vh = outh;
    *vw = static_cast<int>(static_cast<long long>(outh) * w / h);
  }
  *x = (outw - *vw) / 2;
  *y = (outh - *vh) / 2;
}

int ChooseDisplayScale(int setting, int height, int screenHeight) {
  if (setting > 0) return setting;
  if (height <= 0) return 1;
  return std::max(1, screenHeight * 2 / 3 / height);
}

namespace {
std::atomic<int> g_DisplayScale{0};
}

void SetDisplayScale(int scale) { g_DisplayScale = std::max(scale, 0); }
int DisplayScale() { return g_DisplayScale; }

namespace {
std::string g_ApplicationId;  // set by the program's main, before any thread starts
}

void SetApplicationId(const std::string& id) { g_ApplicationId = id; }
std::string ApplicationId() { return g_ApplicationId; }

int ClosedMessageBoxAnswer(unsigned type) {
  std::vector<int> buttons = MessageBoxButtons(type);
  for (int id : buttons)
    if (id == IDCANCEL) return IDCANCEL;
  return buttons.size() == 1 ? buttons[0] : DefaultMessageBoxAnswer(type);
}

bool IsGuiThread() { return static_cast<pid_t>(syscall(SYS_gettid)) == getpid(); }

}  // namespace platform

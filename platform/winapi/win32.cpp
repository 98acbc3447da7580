// Message queues, windows as objects, the GUI thread's event pump and its
// handling of stop signals, the clock and message boxes (win32.h).
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/services/backend.h"
#include "platform/services/icon.h"
#include "platform/winapi/internal/win32_kernel.h"
#include "platform/winapi/resources.h"

using namespace platform::kernel;

namespace {

struct ClassRecord {
  WNDCLASS Class{};
  std::string Name;
  ATOM Atom = 0;
};

struct WindowObject {
  uint64_t Sequence = 0;
  std::string ClassKey;  // lower-case class name
  std::string Title;
  WNDPROC Proc = nullptr;
  std::vector<unsigned char> Extra;
  DWORD ThreadId = 0;
  HWND Parent = nullptr;
  DWORD Style = 0;
  bool Destroying = false;
};

struct WindowState {
  std::map<std::string, ClassRecord> Classes;
  std::map<HWND, std::shared_ptr<WindowObject>> Windows;
  ATOM NextAtom = 0xC000;
  uint64_t NextSequence = 1;
};

// Guarded by the kernel lock; never destroyed.
WindowState& Win() {
  static WindowState* state = new WindowState;
  return *state;
}

std::string Lower(const char* s) {
  std::string out = s ? s : "";
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::shared_ptr<WindowObject> FindWindowLocked(HWND hwnd) {
  auto it = Win().Windows.find(hwnd);
  return it == Win().Windows.end() ? nullptr : it->second;
}

// As FindWindowLocked, setting ERROR_INVALID_WINDOW_HANDLE when there is no
// such window.
std::shared_ptr<WindowObject> WindowOrErrorLocked(HWND hwnd) {
  auto w = FindWindowLocked(hwnd);
  if (!w) SetError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

// Whether `hwnd` is a window; ERROR_INVALID_WINDOW_HANDLE when not.
bool KnownWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lk(Lock());
  return WindowOrErrorLocked(hwnd) != nullptr;
}

bool InRange(UINT message, UINT lo, UINT hi) {
  return (lo == 0 && hi == 0) || (message >= lo && message <= hi);
}

// Finds the first message of `self` that the filter lets through; removes
// it when asked. Lock held.
bool TakeLocked(ThreadRecord& self, LPMSG msg, HWND hwnd, UINT lo, UINT hi, bool remove) {
  for (auto it = self.Posted.begin(); it != self.Posted.end(); ++it) {
    if (hwnd && it->hwnd != hwnd) continue;
    if (!InRange(it->message, lo, hi)) continue;
    *msg = *it;
    if (remove) {
      self.Posted.erase(it);
      self.Busy = true;
    }
    return true;
  }
  if (self.QuitPosted && InRange(WM_QUIT, lo, hi)) {
    *msg = MSG{};
    msg->message = WM_QUIT;
    msg->wParam = static_cast<WPARAM>(self.QuitCode);
    if (remove) {
      self.QuitPosted = false;
      self.Busy = true;
    }
    return true;
  }
  return false;
}

bool PostToThread(DWORD threadId, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD now = GetTickCount();
  std::lock_guard<std::mutex> lk(Lock());
  auto target = FindThreadLocked(threadId);
  if (!target) {
    SetError(ERROR_INVALID_THREAD_ID);
    return false;
  }
  target->Posted.push_back(MSG{hwnd, message, wParam, lParam, now, {0, 0}});
  Changed().notify_all();
  return true;
}

// Stop signals ------------------------------------------------------------------

std::atomic<int> g_StopSignals{0};
int g_StopSignalsSeen = 0;  // GUI thread only

void OnStopSignal(int sig) {
  if (g_StopSignals.fetch_add(1) >= 1) {
    signal(sig, SIG_DFL);
    raise(sig);
  }
}

void InstallStopSignals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
  }
}

// Asks the GUI thread's windows to close, or its loop to end when it has
// none. GUI thread only.
void RequestQuit() {
  DWORD me = GetCurrentThreadId();
  std::vector<HWND> tops;
  {
    std::lock_guard<std::mutex> lk(Lock());
    for (auto& [h, w] : Win().Windows)
      if (w->ThreadId == me && !w->Parent && !w->Destroying) tops.push_back(h);
  }
  if (tops.empty()) PostQuitMessage(0);
  for (HWND h : tops) PostMessage(h, WM_CLOSE, 0, 0);
}

class GuiSink : public platform::EventSink {
 public:
  void QuitRequested() override { RequestQuit(); }
  void PostWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override {
    PostMessage(hwnd, message, wParam, lParam);
  }
};

// The GUI thread's share of every look at its queue.
void PumpGui() {
  InstallStopSignals();
  int signals = g_StopSignals.load();
  if (signals > g_StopSignalsSeen) {
    g_StopSignalsSeen = signals;
    RequestQuit();
  }
  GuiSink sink;
  platform::CurrentBackend().PumpEvents(sink);
}

constexpr auto kGuiPumpPeriod = std::chrono::milliseconds(10);

}  // namespace

namespace platform::kernel {

LRESULT CallWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> lk(Lock());
    auto w = FindWindowLocked(hwnd);
    if (!w) return 0;
    proc = w->Proc;
  }
  return proc(hwnd, message, wParam, lParam);
}

void DescribeDisplay(HWND hwnd, platform::DisplayRequest* request) {
  std::lock_guard<std::mutex> lk(Lock());
  auto w = FindWindowLocked(hwnd);
  if (!w) return;
  request->Title = w->Title;
  auto cls = Win().Classes.find(w->ClassKey);
  if (cls != Win().Classes.end())
    request->Icon = static_cast<const platform::DisplayIcon*>(cls->second.Class.hIcon);
}

}  // namespace platform::kernel

BOOL PtInRect(const RECT* rc, POINT pt) {
  return rc && pt.x >= rc->left && pt.x < rc->right && pt.y >= rc->top && pt.y < rc->bottom;
}

// Messages ------------------------------------------------------------------------

BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostToThread(threadId, nullptr, message, wParam, lParam) ? TRUE : FALSE;
}

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return PostThreadMessage(GetCurrentThreadId(), message, wParam, lParam);
  DWORD owner;
  {
    std::lock_guard<std::mutex> lk(Lock());
    auto w = WindowOrErrorLocked(hwnd);
    if (!w) return FALSE;
    owner = w->ThreadId;
  }
  return PostToThread(owner, hwnd, message, wParam, lParam) ? TRUE : FALSE;
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto self = Self();
  std::unique_lock<std::mutex> lk(Lock());
  auto w = WindowOrErrorLocked(hwnd);
  if (!w) return 0;
  if (w->ThreadId == self->Id) {
    WNDPROC proc = w->Proc;
    lk.unlock();
    return proc(hwnd, message, wParam, lParam);
  }
  auto target = FindThreadLocked(w->ThreadId);
  if (!target) return 0;
  auto sent = std::make_shared<SentMessage>();
  sent->Msg = MSG{hwnd, message, wParam, lParam, 0, {0, 0}};
  target->Sent.push_back(sent);
  Changed().notify_all();
  // Serve messages sent to us meanwhile, so two threads sending to each
  // other do not wait for ever.
  for (;;) {
    Changed().wait(lk, [&] { return sent->Done || !self->Sent.empty(); });
    if (sent->Done) return sent->Result;
    ServeSentLocked(*self, lk);
  }
}

BOOL GetMessage(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg) {
    SetError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  auto self = Self();
  const bool gui = platform::IsGuiThread();
  std::unique_lock<std::mutex> lk(Lock());
  self->Loop = true;
  for (;;) {
    NoteIdleLocked(*self);
    if (gui) {
      lk.unlock();
      PumpGui();
      lk.lock();
    }
    ServeSentLocked(*self, lk);
    if (TakeLocked(*self, msg, hwnd, filterMin, filterMax, true))
      return msg->message == WM_QUIT ? FALSE : TRUE;
    MSG probe;
    auto ready = [&] {
      return !self->Sent.empty() || TakeLocked(*self, &probe, hwnd, filterMin, filterMax, false);
    };
    if (gui)
      Changed().wait_for(lk, kGuiPumpPeriod, ready);
    else
      Changed().wait(lk, ready);
  }
}

BOOL PeekMessage(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  if (!msg) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto self = Self();
  if (platform::IsGuiThread()) PumpGui();
  std::unique_lock<std::mutex> lk(Lock());
  self->Loop = true;
  NoteIdleLocked(*self);
  ServeSentLocked(*self, lk);
  return TakeLocked(*self, msg, hwnd, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0) ? TRUE
                                                                                          : FALSE;
}

BOOL TranslateMessage(const MSG* msg) {
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP) ? TRUE : FALSE;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  DWORD me = GetCurrentThreadId();
  {
    std::lock_guard<std::mutex> lk(Lock());
    auto w = FindWindowLocked(msg->hwnd);
    if (!w || w->ThreadId != me) return 0;
  }
  return CallWindowProcedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
  auto self = Self();
  std::lock_guard<std::mutex> lk(Lock());
  self->QuitPosted = true;
  self->QuitCode = exitCode;
  Changed().notify_all();
}

// Windows -------------------------------------------------------------------------

ATOM RegisterClass(const WNDCLASS* wc) {
  if (!wc || !wc->lpfnWndProc || !wc->lpszClassName || !*wc->lpszClassName || wc->cbWndExtra < 0 ||
      wc->cbClsExtra < 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> lk(Lock());
  std::string key = Lower(wc->lpszClassName);
  if (Win().Classes.count(key)) {
    SetError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  ClassRecord& r = Win().Classes[key];
  r.Class = *wc;
  r.Name = wc->lpszClassName;
  r.Class.lpszClassName = r.Name.c_str();
  r.Class.lpszMenuName = nullptr;
  r.Atom = Win().NextAtom++;
  return r.Atom;
}

BOOL UnregisterClass(LPCSTR className, HINSTANCE) {
  std::lock_guard<std::mutex> lk(Lock());
  std::string key = Lower(className);
  auto it = Win().Classes.find(key);
  if (it == Win().Classes.end()) {
    SetError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  for (auto& [h, w] : Win().Windows)
    if (w->ClassKey == key) {
      SetError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
  Win().Classes.erase(it);
  return TRUE;
}

HWND CreateWindowEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                    LPVOID param) {
  DWORD me = GetCurrentThreadId();
  HWND hwnd;
  {
    std::lock_guard<std::mutex> lk(Lock());
    auto cls = Win().Classes.find(Lower(className));
    if (cls == Win().Classes.end()) {
      SetError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (parent && !FindWindowLocked(parent)) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    auto w = std::make_shared<WindowObject>();
    w->Sequence = Win().NextSequence++;
    w->ClassKey = cls->first;
    w->Title = windowName ? windowName : "";
    w->Proc = cls->second.Class.lpfnWndProc;
    w->Extra.assign(static_cast<size_t>(cls->second.Class.cbWndExtra), 0);
    w->ThreadId = me;
    w->Parent = parent;
    w->Style = style;
    // Handles are opaque numbers, never reused, never dereferenced.
    hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10000 + 16 * w->Sequence));
    Win().Windows[hwnd] = w;
  }
  CREATESTRUCT cs{
      param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
      windowName, className, exStyle};
  LPARAM lp = reinterpret_cast<LPARAM>(&cs);
  if (CallWindowProcedure(hwnd, WM_NCCREATE, 0, lp) == 0) {
    CallWindowProcedure(hwnd, WM_NCDESTROY, 0, 0);
    std::lock_guard<std::mutex> lk(Lock());
    Win().Windows.erase(hwnd);
    return nullptr;
  }
  if (CallWindowProcedure(hwnd, WM_CREATE, 0, lp) == -1) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  DWORD me = GetCurrentThreadId();
  std::vector<std::pair<uint64_t, HWND>> children;
  {
    std::lock_guard<std::mutex> lk(Lock());
    auto w = WindowOrErrorLocked(hwnd);
    if (!w) return FALSE;
    if (w->ThreadId != me) {
      SetError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (w->Destroying) return TRUE;
    w->Destroying = true;
    for (auto& [h, c] : Win().Windows)
      if (c->Parent == hwnd) children.emplace_back(c->Sequence, h);
  }
  std::sort(children.begin(), children.end());
  CallWindowProcedure(hwnd, WM_DESTROY, 0, 0);
  for (auto& [seq, child] : children) DestroyWindow(child);
  CallWindowProcedure(hwnd, WM_NCDESTROY, 0, 0);
  platform::CurrentBackend().CloseDisplay(hwnd);
  std::lock_guard<std::mutex> lk(Lock());
  Win().Windows.erase(hwnd);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lk(Lock());
  return FindWindowLocked(hwnd) ? TRUE : FALSE;
}

int GetWindowText(HWND hwnd, LPSTR text, int maxCount) {
  std::string title;
  {
    std::lock_guard<std::mutex> lk(Lock());
    auto w = FindWindowLocked(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      if (text && maxCount > 0) *text = 0;
      return 0;
    }
    title = w->Title;
  }
  if (!text || maxCount <= 0) return 0;
  size_t n = std::min(title.size(), static_cast<size_t>(maxCount - 1));
  std::memcpy(text, title.data(), n);
  text[n] = 0;
  return static_cast<int>(n);
}

HWND FindWindow(LPCSTR className, LPCSTR windowName) {
  std::lock_guard<std::mutex> lk(Lock());
  std::string cls = Lower(className), title = Lower(windowName);
  HWND best = nullptr;
  uint64_t best_seq = 0;
  for (auto& [h, w] : Win().Windows) {
    if (className && w->ClassKey != cls) continue;
    if (windowName && Lower(w->Title.c_str()) != title) continue;
    if (!best || w->Sequence < best_seq) {
      best = h;
      best_seq = w->Sequence;
    }
  }
  return best;
}

namespace {
template <class T>
T ExtraValue(HWND hwnd, int index, const T* replacement) {
  std::lock_guard<std::mutex> lk(Lock());
  auto w = WindowOrErrorLocked(hwnd);
  if (!w) return 0;
  if (index < 0 || static_cast<size_t>(index) + sizeof(T) > w->Extra.size()) {
    SetError(ERROR_INVALID_INDEX);
    return 0;
  }
  T old;
  std::memcpy(&old, w->Extra.data() + index, sizeof(T));
  if (replacement) std::memcpy(w->Extra.data() + index, replacement, sizeof(T));
  return old;
}
}  // namespace

LONG GetWindowLong(HWND hwnd, int index) { return ExtraValue<LONG>(hwnd, index, nullptr); }
LONG SetWindowLong(HWND hwnd, int index, LONG value) { return ExtraValue(hwnd, index, &value); }
LONG_PTR GetWindowLongPtr(HWND hwnd, int index) {
  return ExtraValue<LONG_PTR>(hwnd, index, nullptr);
}
LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
  return ExtraValue(hwnd, index, &value);
}

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_NCCREATE:
      return TRUE;
    case WM_ERASEBKGND:
      return 1;
    default:
      return 0;
  }
}

// Showing windows -------------------------------------------------------------------

BOOL ShowWindow(HWND hwnd, int cmd) {
  bool wasVisible;
  {
    std::lock_guard<std::mutex> lk(Lock());
    auto w = WindowOrErrorLocked(hwnd);
    if (!w) return FALSE;
    wasVisible = (w->Style & WS_VISIBLE) != 0;
    if (cmd == SW_HIDE)
      w->Style &= ~static_cast<DWORD>(WS_VISIBLE);
    else
      w->Style |= WS_VISIBLE;
  }
  platform::Backend& b = platform::CurrentBackend();
  if (cmd == SW_SHOWNORMAL || cmd == SW_RESTORE) b.RaiseDisplay(hwnd);
  if (cmd == SW_MINIMIZE || cmd == SW_SHOWMINIMIZED) b.MinimiseDisplay(hwnd);
  return wasVisible ? TRUE : FALSE;
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int, int, int, int, UINT flags) {
  if (!KnownWindow(hwnd)) return FALSE;
  if (!(flags & SWP_NOZORDER) && (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST))
    platform::CurrentBackend().RaiseDisplay(hwnd);
  return TRUE;
}

BOOL SetForegroundWindow(HWND hwnd) {
  if (!KnownWindow(hwnd)) return FALSE;
  platform::CurrentBackend().RaiseDisplay(hwnd);
  return TRUE;
}

BOOL AdjustWindowRect(LPRECT rect, DWORD, BOOL) {
  if (!rect) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

int GetSystemMetrics(int index) {
  if (index != SM_CXSCREEN && index != SM_CYSCREEN) return 0;
  int w = 0, h = 0;
  if (!platform::CurrentBackend().ScreenSize(&w, &h)) return 0;
  return index == SM_CXSCREEN ? w : h;
}

HICON LoadIcon(HINSTANCE, LPCSTR name) {
  // Decoded icons by resource entry, kept for the whole run.
  static std::mutex mutex;
  static auto* icons = new std::map<HRSRC, platform::DisplayIcon*>;
  HRSRC res = FindResource(nullptr, name, RT_ICON);
  if (!res) return nullptr;
  std::lock_guard<std::mutex> lk(mutex);
  auto it = icons->find(res);
  if (it != icons->end()) return it->second;
  auto* icon = new platform::DisplayIcon;
  const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, res)));
  if (!DecodeIcon(data, SizeofResource(nullptr, res), icon, nullptr)) {
    delete icon;
    icon = nullptr;
  }
  (*icons)[res] = icon;
  return icon;
}

HCURSOR LoadCursor(HINSTANCE, LPCSTR name) {
  static int arrow;
  return name == IDC_ARROW ? &arrow : nullptr;
}

HBRUSH GetSysColorBrush(int index) {
  static int brushes[31];
  return index >= 0 && index < 31 ? &brushes[index] : nullptr;
}

// Time and message boxes -----------------------------------------------------------

DWORD GetTickCount() { return platform::CurrentBackend().Milliseconds(); }

void Sleep(DWORD milliseconds) {
  auto self = Self();
  {
    std::lock_guard<std::mutex> lk(Lock());
    NoteIdleLocked(*self);
  }
  platform::CurrentBackend().Sleep(milliseconds);
}

int MessageBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  return platform::CurrentBackend().ShowMessageBox(text ? text : "", caption ? caption : "", type);
}

namespace {
std::string Utf8(LPCWSTR s) {
  std::string out;
  for (; s && *s; s++) {
    auto c = static_cast<uint32_t>(*s);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}
}  // namespace

int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  return MessageBox(owner, Utf8(text).c_str(), Utf8(caption).c_str(), type);
}

// Failure notices through one process-wide handler (atomic, so that any
// thread may raise one).
#include "platform/winapi/alert.h"

#include <atomic>

#include "platform/winapi/win32.h"

namespace {
std::atomic<AlertHandler> g_Handler{nullptr};
}

void Alert(const char* text, const char* caption) {
  if (!text) text = "";
  if (!caption) caption = "";
  AlertHandler h = g_Handler.load();
  if (h) {
    h(text, caption);
    return;
  }
  MessageBox(nullptr, text, caption, MB_OK);
}

AlertHandler SetAlertHandler(AlertHandler handler) { return g_Handler.exchange(handler); }

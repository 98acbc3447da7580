// Test helper: a fixture that runs each test on the headless backend with
// no audio devices, and byte patterns that show any gap or reordering.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/backends/headless/headless.h"
#include "platform/winapi/win32.h"

namespace testing_support {

// The desk window's title, as the programs show it.
inline constexpr const char* kWindowTitle = "Zelvaro (Version 1.5)";
// The trigger level menu's items, as the tuner offers them.
inline constexpr const char* kTriggerItems = "01Off,021,032,043";

inline LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::Use();
    headless::Reset();
    headless::RemoveDevices();
    MSG m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override { CloseWindow(); }

  // Registers the window class `className` (with `proc`, a plain window
  // when null, and `icon`) and opens a 240 x 320 window of it at (0, 0);
  // TearDown closes it and unregisters the class.
  HWND OpenWindow(const char* className, WNDPROC proc = nullptr, const char* title = kWindowTitle,
                  DWORD style = WS_VISIBLE, HICON icon = nullptr) {
    WNDCLASS wc{};
    wc.lpfnWndProc = proc ? proc : PlainWindowProc;
    wc.lpszClassName = className;
    wc.hIcon = icon;
    RegisterClass(&wc);
    m_Class = className;
    m_Window = CreateWindowEx(0, className, title, style, 0, 0, 240, 320, nullptr, nullptr, nullptr,
                              nullptr);
    return m_Window;
  }
  void CloseWindow() {
    if (m_Window && IsWindow(m_Window)) DestroyWindow(m_Window);
    m_Window = nullptr;
    if (m_Class) UnregisterClass(m_Class, nullptr);
    m_Class = nullptr;
  }

 private:
  HWND m_Window = nullptr;
  const char* m_Class = nullptr;
};

// Byte `offset` of the pattern recording: offset mod 251. A block (of any
// size not a multiple of 251) missing, repeated or out of place breaks the
// sequence.
inline unsigned char PatternByte(uint64_t offset) {
  return static_cast<unsigned char>(offset % 251);
}

// An endless capture script that records the pattern.
inline headless::CaptureScript PatternScript() {
  headless::CaptureScript s;
  s.Name = "Pattern";
  s.Fill = [](const platform::StreamFormat&, uint64_t offset, unsigned char* out, size_t len) {
    for (size_t i = 0; i < len; i++) out[i] = PatternByte(offset + i);
  };
  return s;
}

// Whether `bytes` is the pattern from `offset` on.
inline bool IsPatternFrom(const unsigned char* bytes, size_t len, uint64_t offset) {
  for (size_t i = 0; i < len; i++)
    if (bytes[i] != PatternByte(offset + i)) return false;
  return true;
}

// Where in the pattern `bytes` starts, if they are a stretch of it (-1 if not).
inline int64_t PatternOffset(const unsigned char* bytes, size_t len) {
  if (len == 0) return -1;
  for (uint64_t start = bytes[0]; start < 1u << 20; start += 251)
    if (IsPatternFrom(bytes, len, start)) return static_cast<int64_t>(start);
  return -1;
}

}  // namespace testing_support

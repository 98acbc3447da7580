// What the capture thread cannot tell by itself: a device that is open but
// delivers nothing (a sound server without its session manager, a frozen
// or suspended source, a headset profile without a microphone). The owner's
// capture callback counts the blocks stored; the owner's loop looks at the
// clock and says once, on stderr, when none has come for a while.
#pragma once

#include <atomic>
#include <string>

#include "platform/winapi/win32.h"

class CaptureWatch {
 public:
  static constexpr DWORD kQuietMs = 2000;

  // Watches the device called `device` from `since` on (when its recording
  // was asked for).
  void Start(DWORD since, const std::string& device);
  // Stops watching: recording has stopped.
  void Stop();
  // A block was stored. Any thread.
  void Delivered() { m_Blocks.fetch_add(1, std::memory_order_relaxed); }
  // From the owner's loop: after kQuietMs without a block, writes
  // "<program>: no sound from <device> for 2 seconds; still waiting" to
  // stderr, once until blocks come again. True when it did.
  bool Check(DWORD now, const char* program);

 private:
  std::atomic<unsigned> m_Blocks{0};
  unsigned m_Seen = 0;
  DWORD m_Since = 0;
  bool m_Watching = false;
  bool m_Said = false;
  std::string m_Device;
};

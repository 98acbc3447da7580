// Internal to platform/: the state behind the Windows-style functions.
//
// One lock guards every thread record, message queue, event and thread
// handle, and one condition variable announces every change to them. The
// program has a handful of threads and a few hundred messages a second, so
// a single lock costs nothing measurable and makes every wait simple: wait
// on Changed() until the predicate holds. Window procedures, completion
// functions and backend calls never run while it is held.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/services/backend.h"
#include "platform/winapi/win32.h"

namespace platform::kernel {

// A message sent from another thread, waiting for the receiver.
struct SentMessage {
  MSG Msg{};
  LRESULT Result = 0;
  bool Done = false;
};

// Everything the layer knows about one thread.
struct ThreadRecord : std::enable_shared_from_this<ThreadRecord> {
  DWORD Id = 0;
  pid_t Tid = 0;     // the kernel's thread id, for priorities
  int BaseNice = 0;  // nice value of THREAD_PRIORITY_NORMAL
  int Priority = THREAD_PRIORITY_NORMAL;
  bool Alive = true;
  std::deque<MSG> Posted;
  std::deque<std::shared_ptr<SentMessage>> Sent;
  bool QuitPosted = false;
  int QuitCode = 0;
  // Whether the thread runs a message loop (made by CreateThread, or has
  // looked at its queue): only those count for WaitForOtherThreadsIdle.
  bool Loop = false;
  // Took a message (or has just started) and has not yet come back to its
  // queue or to a wait.
  bool Busy = false;
};

std::mutex& Lock();
std::condition_variable& Changed();

// The calling thread's record, made on first use (with a new id). Takes
// the lock itself: call without holding it.
std::shared_ptr<ThreadRecord> Self();

// Adopts `record` as the calling thread's record (the first thing a thread
// made by CreateThread does). Call without holding the lock.
void AdoptSelf(std::shared_ptr<ThreadRecord> record);

// A new record with a fresh id, registered; lock held.
std::shared_ptr<ThreadRecord> NewRecordLocked();

// The live record with that id, or null; lock held.
std::shared_ptr<ThreadRecord> FindThreadLocked(DWORD id);

// Marks the record ended: its queue is dropped, waiting senders are
// released, it is forgotten. Lock held.
void EndThreadLocked(ThreadRecord& record);

// The calling thread is back at its queue or about to wait; lock held.
inline void NoteIdleLocked(ThreadRecord& self) {
  if (self.Busy) {
    self.Busy = false;
    Changed().notify_all();
  }
}

// Waits (real time, at most `timeout`) until every message loop thread
// other than the caller has an empty queue and is waiting. False on time-out.
bool WaitForOtherThreadsIdle(std::chrono::milliseconds timeout);

// Delivers any sent messages waiting for `self`: unlocks around each window
// procedure call. `lk` holds the lock on entry and on return.
void ServeSentLocked(ThreadRecord& self, std::unique_lock<std::mutex>& lk);

// Whether a message is waiting for `self` (posted, sent or quit); lock held.
inline bool HasMessageLocked(const ThreadRecord& self) {
  return !self.Posted.empty() || !self.Sent.empty() || self.QuitPosted;
}

// Calls a window's procedure; 0 for an unknown window. Without the lock.
LRESULT CallWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Sets the calling thread's last error.
void SetError(DWORD error);

// What the display of `hwnd` is to show besides its pixels: the window's
// title and its class's icon. Without the lock.
void DescribeDisplay(HWND hwnd, platform::DisplayRequest* request);

}  // namespace platform::kernel

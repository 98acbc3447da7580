// Threads, thread records, events, critical sections and the waits on them,
// over std::thread and one lock (see win32_kernel.h). Priorities become nice
// values of the thread (setpriority on its kernel thread id).
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/winapi/internal/win32_kernel.h"

namespace platform::kernel {
namespace {

struct KernelState {
  std::mutex Mutex;
  std::condition_variable Changed;
  std::unordered_map<DWORD, std::shared_ptr<ThreadRecord>> Threads;
  DWORD NextThreadId = 1;
};

// Never destroyed: threads may still touch it while the program exits.
KernelState& State() {
  static KernelState* state = new KernelState;
  return *state;
}

pid_t CurrentTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// Ends the record when the thread that owns it ends. The main thread's
// record is kept instead: the program's static destructors and exit
// handlers run after the main thread's thread-local objects are gone, and
// they may still ask for the thread id or wait on an event.
std::shared_ptr<ThreadRecord>* g_MainRecord = nullptr;  // never freed

struct SelfHolder {
  std::shared_ptr<ThreadRecord> Record;
  ~SelfHolder() {
    if (!Record) return;
    if (CurrentTid() == getpid()) {
      g_MainRecord = new std::shared_ptr<ThreadRecord>(Record);
      return;
    }
    std::lock_guard<std::mutex> lk(Lock());
    EndThreadLocked(*Record);
  }
};
thread_local SelfHolder t_Self;
// The same record as a plain pointer, which stays readable after t_Self's
// destructor has run (a thread-local without a destructor of its own).
thread_local ThreadRecord* t_Record = nullptr;
thread_local DWORD t_LastError = 0;

}  // namespace

std::mutex& Lock() { return State().Mutex; }
std::condition_variable& Changed() { return State().Changed; }

std::shared_ptr<ThreadRecord> NewRecordLocked() {
  auto r = std::make_shared<ThreadRecord>();
  r->Id = State().NextThreadId++;
  State().Threads[r->Id] = r;
  return r;
}

std::shared_ptr<ThreadRecord> Self() {
  if (t_Record) return t_Record->shared_from_this();
  std::lock_guard<std::mutex> lk(Lock());
  auto r = NewRecordLocked();
  r->Tid = CurrentTid();
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(r->Tid));
  r->BaseNice = errno == 0 ? nice : 0;
  t_Self.Record = r;
  t_Record = r.get();
  return r;
}

void AdoptSelf(std::shared_ptr<ThreadRecord> record) {
  t_Record = record.get();
  t_Self.Record = std::move(record);
}

std::shared_ptr<ThreadRecord> FindThreadLocked(DWORD id) {
  auto it = State().Threads.find(id);
  if (it == State().Threads.end() || !it->second->Alive) return nullptr;
  return it->second;
}

void EndThreadLocked(ThreadRecord& record) {
  if (!record.Alive) return;
  record.Alive = false;
  record.Busy = false;
  record.Posted.clear();
  record.QuitPosted = false;
  for (auto& sent : record.Sent) sent->Done = true;
  record.Sent.clear();
  State().Threads.erase(record.Id);
  Changed().notify_all();
}

bool WaitForOtherThreadsIdle(std::chrono::milliseconds timeout) {
  const DWORD me = Self()->Id;
  std::unique_lock<std::mutex> lk(Lock());
  return Changed().wait_for(lk, timeout, [me] {
    for (auto& [id, r] : State().Threads) {
      if (id == me || !r->Loop) continue;
      if (r->Busy || HasMessageLocked(*r)) return false;
    }
    return true;
  });
}

void ServeSentLocked(ThreadRecord& self, std::unique_lock<std::mutex>& lk) {
  while (!self.Sent.empty()) {
    std::shared_ptr<SentMessage> sent = self.Sent.front();
    self.Sent.pop_front();
    lk.unlock();
    LRESULT result =
        CallWindowProcedure(sent->Msg.hwnd, sent->Msg.message, sent->Msg.wParam, sent->Msg.lParam);
    lk.lock();
    sent->Result = result;
    sent->Done = true;
    Changed().notify_all();
  }
}

void SetError(DWORD error) { t_LastError = error; }

}  // namespace platform::kernel

using namespace platform::kernel;

DWORD GetLastError() { return t_LastError; }
void SetLastError(DWORD error) { t_LastError = error; }

// Handles -----------------------------------------------------------------------

namespace {

struct KernelObject {
  enum class Kind { Thread, Event } Type;
  explicit KernelObject(Kind k) : Type(k) {}
  virtual ~KernelObject() = default;
};

struct EventObject : KernelObject {
  EventObject() : KernelObject(Kind::Event) {}
  bool Manual = false;
  bool Signalled = false;
};

struct ThreadObject : KernelObject {
  ThreadObject() : KernelObject(Kind::Thread) {}
  std::thread Thread;
  std::shared_ptr<ThreadRecord> Record;
  bool Started = false;
  bool Finished = false;
  DWORD ExitCode = STILL_ACTIVE;
};

std::unordered_map<void*, std::shared_ptr<KernelObject>>& Handles() {
  static auto* handles = new std::unordered_map<void*, std::shared_ptr<KernelObject>>;
  return *handles;
}

std::shared_ptr<KernelObject> FindHandleLocked(HANDLE h) {
  auto it = Handles().find(h);
  return it == Handles().end() ? nullptr : it->second;
}

HANDLE RegisterLocked(std::shared_ptr<KernelObject> object) {
  HANDLE h = object.get();
  Handles()[h] = std::move(object);
  return h;
}

// Whether waiting on `object` would return now; consumes an auto-reset
// event's signal. Lock held.
bool TrySatisfyLocked(KernelObject& object) {
  if (object.Type == KernelObject::Kind::Event) {
    auto& e = static_cast<EventObject&>(object);
    if (!e.Signalled) return false;
    if (!e.Manual) e.Signalled = false;
    return true;
  }
  return static_cast<ThreadObject&>(object).Finished;
}

std::chrono::steady_clock::time_point Deadline(DWORD milliseconds) {
  if (milliseconds == INFINITE) return std::chrono::steady_clock::time_point::max();
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

// Waits on the condition until `ready` or the deadline; true when ready.
template <class Pred>
bool WaitUntil(std::unique_lock<std::mutex>& lk, std::chrono::steady_clock::time_point deadline,
               Pred ready) {
  if (deadline == std::chrono::steady_clock::time_point::max()) {
    Changed().wait(lk, ready);
    return true;
  }
  return Changed().wait_until(lk, deadline, ready);
}

int NiceOffset(int priority) {
  if (priority >= THREAD_PRIORITY_TIME_CRITICAL) return -20;
  if (priority <= THREAD_PRIORITY_IDLE) return 19;
  if (priority > THREAD_PRIORITY_HIGHEST) priority = THREAD_PRIORITY_HIGHEST;
  if (priority < THREAD_PRIORITY_LOWEST) priority = THREAD_PRIORITY_LOWEST;
  return -5 * priority;
}

}  // namespace

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD,
                    LPDWORD threadId) {
  if (!start) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto self = Self();
  auto object = std::make_shared<ThreadObject>();
  HANDLE handle;
  {
    std::lock_guard<std::mutex> lk(Lock());
    object->Record = NewRecordLocked();
    object->Record->Loop = true;
    object->Record->Busy = true;
    object->Record->BaseNice = self->BaseNice;
    handle = RegisterLocked(object);
  }
  try {
    object->Thread = std::thread([object, start, param] {
      AdoptSelf(object->Record);
      {
        std::lock_guard<std::mutex> lk(Lock());
        object->Record->Tid = static_cast<pid_t>(syscall(SYS_gettid));
        object->Started = true;
        Changed().notify_all();
      }
      DWORD code = start(param);
      std::lock_guard<std::mutex> lk(Lock());
      EndThreadLocked(*object->Record);
      object->ExitCode = code;
      object->Finished = true;
      Changed().notify_all();
    });
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lk(Lock());
    EndThreadLocked(*object->Record);
    Handles().erase(handle);
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::unique_lock<std::mutex> lk(Lock());
  Changed().wait(lk, [&] { return object->Started; });
  if (threadId) *threadId = object->Record->Id;
  return handle;
}

DWORD GetCurrentThreadId() { return Self()->Id; }

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  std::lock_guard<std::mutex> lk(Lock());
  auto object = FindHandleLocked(thread);
  if (!object || object->Type != KernelObject::Kind::Thread || !exitCode) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = static_cast<ThreadObject&>(*object).ExitCode;
  return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  std::shared_ptr<ThreadRecord> record;
  {
    std::lock_guard<std::mutex> lk(Lock());
    auto object = FindHandleLocked(thread);
    if (!object || object->Type != KernelObject::Kind::Thread) {
      SetError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    auto& t = static_cast<ThreadObject&>(*object);
    if (t.Finished) {
      SetError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    record = t.Record;
  }
  int nice = record->BaseNice + NiceOffset(priority);
  if (nice > 19) nice = 19;
  if (nice < -20) nice = -20;
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(record->Tid), nice) != 0) {
    SetError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(Lock());
  record->Priority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  std::lock_guard<std::mutex> lk(Lock());
  auto object = FindHandleLocked(thread);
  if (!object || object->Type != KernelObject::Kind::Thread) {
    SetError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_NORMAL;
  }
  return static_cast<ThreadObject&>(*object).Record->Priority;
}

HANDLE CreateEvent(void*, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (name) {
    SetError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto e = std::make_shared<EventObject>();
  e->Manual = manualReset != FALSE;
  e->Signalled = initialState != FALSE;
  std::lock_guard<std::mutex> lk(Lock());
  return RegisterLocked(std::move(e));
}

static BOOL SetEventState(HANDLE event, bool signalled) {
  std::lock_guard<std::mutex> lk(Lock());
  auto object = FindHandleLocked(event);
  if (!object || object->Type != KernelObject::Kind::Event) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  static_cast<EventObject&>(*object).Signalled = signalled;
  if (signalled) Changed().notify_all();
  return TRUE;
}

BOOL SetEvent(HANDLE event) { return SetEventState(event, true); }
BOOL ResetEvent(HANDLE event) { return SetEventState(event, false); }

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto self = Self();
  std::unique_lock<std::mutex> lk(Lock());
  auto object = FindHandleLocked(handle);
  if (!object || (object->Type == KernelObject::Kind::Thread &&
                  static_cast<ThreadObject&>(*object).Record == self)) {
    SetError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  NoteIdleLocked(*self);
  bool ok = WaitUntil(lk, Deadline(milliseconds), [&] { return TrySatisfyLocked(*object); });
  return ok ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD) {
  auto self = Self();
  std::unique_lock<std::mutex> lk(Lock());
  if (waitAll || (count > 0 && !handles)) {
    SetError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  for (DWORD i = 0; i < count; i++) {
    auto object = FindHandleLocked(handles[i]);
    if (!object) {
      SetError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(object);
  }
  self->Loop = true;
  NoteIdleLocked(*self);
  DWORD result = WAIT_TIMEOUT;
  WaitUntil(lk, Deadline(milliseconds), [&] {
    for (DWORD i = 0; i < count; i++) {
      if (TrySatisfyLocked(*objects[i])) {
        result = WAIT_OBJECT_0 + i;
        return true;
      }
    }
    if (HasMessageLocked(*self)) {
      result = WAIT_OBJECT_0 + count;
      return true;
    }
    return false;
  });
  return result;
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object;
  {
    std::lock_guard<std::mutex> lk(Lock());
    auto it = Handles().find(handle);
    if (it == Handles().end()) {
      SetError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object = std::move(it->second);
    Handles().erase(it);
  }
  if (object->Type == KernelObject::Kind::Thread) {
    auto& t = static_cast<ThreadObject&>(*object);
    bool finished;
    {
      std::lock_guard<std::mutex> lk(Lock());
      finished = t.Finished;
    }
    // A finished thread is past its last use of the lock: joining is quick.
    // A running one goes on by itself and frees its state when it ends.
    if (t.Thread.joinable()) {
      if (finished && t.Thread.get_id() != std::this_thread::get_id())
        t.Thread.join();
      else
        t.Thread.detach();
    }
  }
  return TRUE;
}

void InitializeCriticalSection(LPCRITICAL_SECTION) {}
void EnterCriticalSection(LPCRITICAL_SECTION cs) { cs->lock(); }
void LeaveCriticalSection(LPCRITICAL_SECTION cs) { cs->unlock(); }
void DeleteCriticalSection(LPCRITICAL_SECTION) {}

// Threads, events, critical sections, waits on a thread's queue, thread
// priorities, and the headless clock.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "platform/winapi/mmsystem.h"
#include "platform/winapi/win32.h"
#include "support/headless.h"
#include "support/process.h"

namespace {

using testing_support::HeadlessTest;
using Sync = HeadlessTest;

TEST_F(Sync, AnAutoResetEventReleasesOneWaitAndResets) {
  HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(e);
  SetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(e, 10), static_cast<DWORD>(WAIT_TIMEOUT));

  std::atomic<int> woken{0};
  std::thread a([&] { woken += WaitForSingleObject(e, 10000) == WAIT_OBJECT_0; });
  std::thread b([&] { woken += WaitForSingleObject(e, 10000) == WAIT_OBJECT_0; });
  SetEvent(e);
  ASSERT_TRUE(testing_support::WaitFor([&] { return woken == 1; }, 10000));
  SetEvent(e);
  a.join();
  b.join();
  EXPECT_EQ(woken, 2);
  EXPECT_TRUE(CloseHandle(e));
  EXPECT_FALSE(CloseHandle(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_FAILED));
}

TEST_F(Sync, AManualResetEventStaysSignalledUntilReset) {
  HANDLE e = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ResetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(e);
  EXPECT_EQ(CreateEvent(nullptr, FALSE, FALSE, "BackLightChangeEvent"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

DWORD WINAPI WaitThenReturn(LPVOID param) {
  WaitForSingleObject(static_cast<HANDLE>(param), INFINITE);
  return 42;
}

TEST_F(Sync, AThreadRunsAtOnceAndReportsItsExitCode) {
  HANDLE go = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, WaitThenReturn, go, 0, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  // Its queue exists from the start.
  EXPECT_TRUE(PostThreadMessage(id, WM_APP, 0, 0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(t, 20), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(t, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_FALSE(PostThreadMessage(id, WM_APP, 0, 0));
  EXPECT_TRUE(CloseHandle(t));
  CloseHandle(go);
}

struct SelfWait {
  HANDLE Self = nullptr;
  HANDLE Ready = nullptr;
  DWORD Result = 0;
};

DWORD WINAPI WaitForItself(LPVOID param) {
  auto* s = static_cast<SelfWait*>(param);
  WaitForSingleObject(s->Ready, INFINITE);
  s->Result = WaitForSingleObject(s->Self, INFINITE);
  return 0;
}

TEST_F(Sync, AThreadWaitingForItselfFailsInsteadOfHanging) {
  SelfWait s;
  s.Ready = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  s.Self = CreateThread(nullptr, 0, WaitForItself, &s, 0, nullptr);
  SetEvent(s.Ready);
  EXPECT_EQ(WaitForSingleObject(s.Self, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(s.Result, static_cast<DWORD>(WAIT_FAILED));
  CloseHandle(s.Self);
  CloseHandle(s.Ready);
}

TEST_F(Sync, MsgWaitReturnsForTheEventAMessageOrTheTimeOut) {
  HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 5, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_TIMEOUT));
  PostMessage(nullptr, WM_APP, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 10000, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_OBJECT_0 + 1));
  // A message already queued still counts: a drain loop never misses one.
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 0, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_OBJECT_0 + 1));
  MSG m;
  PeekMessage(&m, nullptr, 0, 0, PM_REMOVE);
  SetEvent(e);
  PostMessage(nullptr, WM_APP, 0, 0);
  // The event comes first and is consumed.
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 10000, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  PeekMessage(&m, nullptr, 0, 0, PM_REMOVE);

  const DWORD me = GetCurrentThreadId();
  std::thread poster([me] { PostThreadMessage(me, WM_APP, 1, 0); });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 10000, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_OBJECT_0 + 1));
  poster.join();
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, TRUE, 0, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_FAILED));
  CloseHandle(e);
}

TEST_F(Sync, ACriticalSectionIsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; i++) {
      EnterCriticalSection(&cs);
      EnterCriticalSection(&cs);
      long v = counter;
      counter = v + 1;
      LeaveCriticalSection(&cs);
      LeaveCriticalSection(&cs);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
  DeleteCriticalSection(&cs);
}

struct PriorityProbe {
  HANDLE Stop = nullptr;
  std::atomic<int> Tid{0};
};

DWORD WINAPI ReportTidAndWait(LPVOID param) {
  auto* p = static_cast<PriorityProbe*>(param);
  p->Tid = static_cast<int>(gettid());
  WaitForSingleObject(p->Stop, INFINITE);
  return 0;
}

int NiceOf(int tid) {
  errno = 0;
  return getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
}

TEST_F(Sync, PrioritiesBecomeNiceValuesOrAreRefusedWithoutEffect) {
  PriorityProbe p;
  p.Stop = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HANDLE t = CreateThread(nullptr, 0, ReportTidAndWait, &p, 0, nullptr);
  ASSERT_TRUE(testing_support::WaitFor([&] { return p.Tid != 0; }, 10000));
  const int base = NiceOf(p.Tid);
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_NORMAL);

  for (int priority : {THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_HIGHEST,
                       THREAD_PRIORITY_NORMAL}) {
    int before = GetThreadPriority(t);
    int nice_before = NiceOf(p.Tid);
    if (SetThreadPriority(t, priority)) {
      EXPECT_EQ(GetThreadPriority(t), priority);
      int expected = base - 5 * priority;
      EXPECT_EQ(NiceOf(p.Tid), expected < -20 ? -20 : (expected > 19 ? 19 : expected));
    } else {
      // Refused (an unprivileged raise): nothing changed.
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      EXPECT_EQ(GetThreadPriority(t), before);
      EXPECT_EQ(NiceOf(p.Tid), nice_before);
    }
  }
  SetEvent(p.Stop);
  WaitForSingleObject(t, 10000);
  EXPECT_FALSE(SetThreadPriority(t, THREAD_PRIORITY_NORMAL));
  CloseHandle(t);
  CloseHandle(p.Stop);
}

TEST_F(Sync, TheHeadlessClockMovesOnlyWhenSomeoneSleeps) {
  const DWORD start = GetTickCount();
  EXPECT_EQ(timeGetTime(), start);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(GetTickCount(), start);
  Sleep(1000);
  EXPECT_EQ(GetTickCount() - start, 1000u);
  EXPECT_EQ(timeGetTime() - start, 1000u);
  Sleep(0);
  EXPECT_EQ(GetTickCount() - start, 1000u);
}

}  // namespace

namespace {
// Runs in a child process after main's thread-local objects are gone.
void UseTheThreadAtExit() {
  HANDLE event = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  bool ok = GetCurrentThreadId() != 0 && event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  CloseHandle(event);
  if (!ok) _exit(5);
}
}  // namespace

TEST_F(Sync, TheMainThreadStaysUsableFromExitHandlersAndStaticDestructors) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    GetCurrentThreadId();  // the thread's record exists before exit
    std::atexit(UseTheThreadAtExit);
    std::exit(0);
  }
  EXPECT_EQ(testing_support::WaitProcess(pid, 30000), 0);
}

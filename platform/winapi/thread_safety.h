// Lock annotations for clang's -Wthread-safety, and the lock types they
// describe. A lock is a capability; a member marked GUARDED_BY(lock) may only
// be touched while that lock is held, and a function marked REQUIRES(lock)
// only be called with it held. Clang checks this at compile time; other
// compilers see plain code (the macros expand to nothing).
//
// Locks taken through these types are checked; a std::mutex used directly is
// invisible to the analysis.
#pragma once

#include <mutex>

#if defined(__clang__)
#define ZELVARO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZELVARO_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ZELVARO_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ZELVARO_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ZELVARO_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ZELVARO_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) ZELVARO_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define REQUIRES(...) ZELVARO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) ZELVARO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZELVARO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) ZELVARO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS ZELVARO_THREAD_ANNOTATION(no_thread_safety_analysis)

// A standard mutex the analysis knows about: std::mutex or
// std::recursive_mutex underneath, with the same lock() and unlock().
template <class M>
class CAPABILITY("mutex") AnnotatedMutex {
 public:
  constexpr AnnotatedMutex() = default;
  AnnotatedMutex(const AnnotatedMutex&) = delete;
  AnnotatedMutex& operator=(const AnnotatedMutex&) = delete;

  void lock() ACQUIRE() { m_Mutex.lock(); }
  void unlock() RELEASE() { m_Mutex.unlock(); }

 private:
  M m_Mutex;
};
using Mutex = AnnotatedMutex<std::mutex>;
using RecursiveMutex = AnnotatedMutex<std::recursive_mutex>;

// Holds `lock` from construction to the end of the scope, whatever way the
// scope is left. Works with any of the annotated lock types (and
// CRITICAL_SECTION).
template <class L>
class SCOPED_CAPABILITY ScopedLock {
 public:
  explicit ScopedLock(L& lock) ACQUIRE(lock) : m_Lock(lock) { m_Lock.lock(); }
  ~ScopedLock() RELEASE() { m_Lock.unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  L& m_Lock;
};

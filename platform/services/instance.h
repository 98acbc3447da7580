// One running instance of a program per user. The first start holds a lock
// file in the user's runtime folder and listens on a local socket beside it;
// a later start finds the lock taken, asks the first one through the socket
// to bring its window to the front, and ends. The lock goes with the
// process that holds it, so a crashed instance never blocks the next start.
#pragma once

#include <memory>
#include <string>

#include "platform/winapi/win32.h"

class SingleInstance {
 public:
  enum ClaimResult {
    kFirst,     // this process is the running instance until Release or its end
    kOther,     // another process is; it has been asked to come to the front
    kUnknown,   // no runtime folder or lock to go by: run as if alone
    kNoAnswer,  // another process holds the lock but did not answer the request
  };

  SingleInstance();
  ~SingleInstance();  // releases
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Tries to become the running instance of the program `name` (a file name
  // without a folder). On kOther the other instance has taken the request to
  // come to the front; kNoAnswer when it did not within a few seconds (it is
  // frozen, or the lock is held by something that does not listen).
  ClaimResult Claim(const std::string& name);

  // The lock file of the last Claim ("" before one).
  const std::string& LockPath() const;

  // Where the requests of later starts go: `message` (wParam and lParam 0)
  // posted to `hwnd`. Requests that came before a window was given are
  // posted now, once. A null window keeps them waiting again.
  void SetWindow(HWND hwnd, UINT message);

  // Stops listening, removes the socket and releases the lock.
  void Release();

  // The user's runtime folder: $XDG_RUNTIME_DIR when it is an absolute path
  // to a folder of this user's, else /tmp/zelvaro-<uid>, made private to
  // the user when missing and refused when anyone else could write to it.
  // Empty with *error set when neither will do.
  static std::string RuntimeFolder(std::string* error);

 private:
  struct State;
  std::unique_ptr<State> m_State;
};

// The single-instance lock and the raise requests (instance.h). The
// listener is a thread of its own that waits on the socket and on a pipe
// that Release writes to; a request is one line, "raise", answered "ok".
#include "platform/services/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr int kConnectTries = 60;      // every 50 ms: three seconds for the first to listen
constexpr int kReplyTimeoutMs = 2000;  // for the answer to a request
constexpr int kRequestTimeoutMs = 1000;

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Reads what arrives within `timeoutMs`, up to `size` bytes or a line end.
std::string ReadLine(int fd, size_t size, int timeoutMs) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (line.size() < size && line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buf[32];
    ssize_t n = read(fd, buf, std::min(sizeof(buf), size - line.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  return line;
}

void WriteAll(int fd, const char* text) {
  size_t len = std::strlen(text), done = 0;
  while (done < len) {
    ssize_t n = send(fd, text + done, len - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Asks the instance listening at `path` to come to the front; true when it
// said it would.
bool AskToRaise(const std::string& path) {
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) return false;
  for (int attempt = 0; attempt < kConnectTries; attempt++) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
      WriteAll(fd, "raise\n");
      // A frozen instance's socket still takes the connection; only the
      // answer shows that someone is there.
      bool answered = ReadLine(fd, 8, kReplyTimeoutMs) == "ok\n";
      close(fd);
      return answered;
    }
    int err = errno;
    close(fd);
    // Not listening yet (still starting) or already gone: try again a little.
    if (err != ECONNREFUSED && err != ENOENT && err != EAGAIN && err != EINTR) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace

struct SingleInstance::State {
  int LockFd = -1;
  int ListenFd = -1;
  int WakeRead = -1, WakeWrite = -1;
  std::string LockPath, SocketPath;
  std::thread Listener;

  std::mutex Mutex;  // guards the three below
  HWND Window = nullptr;
  UINT Message = 0;
  int Pending = 0;

  void Request() {
    std::lock_guard<std::mutex> lk(Mutex);
    if (Window)
      PostMessage(Window, Message, 0, 0);
    else
      Pending++;
  }

  void Listen() {
    for (;;) {
      pollfd p[2] = {{ListenFd, POLLIN, 0}, {WakeRead, POLLIN, 0}};
      int r = poll(p, 2, -1);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 || p[1].revents) return;
      if (!(p[0].revents & POLLIN)) continue;
      int fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      if (ReadLine(fd, 16, kRequestTimeoutMs).rfind("raise\n", 0) == 0) {
        Request();
        WriteAll(fd, "ok\n");
      }
      close(fd);
    }
  }
};

SingleInstance::SingleInstance() : m_State(std::make_unique<State>()) {}

SingleInstance::~SingleInstance() { Release(); }

std::string SingleInstance::RuntimeFolder(std::string* error) {
  const uid_t uid = getuid();
  struct stat st {};
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && xdg[0] == '/' && stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid)
    return xdg;
  std::string folder = "/tmp/zelvaro-" + std::to_string(uid);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = folder + ": " + std::strerror(errno);
    return "";
  }
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid ||
      (st.st_mode & 077) != 0) {
    if (error) *error = folder + " is not a private folder of this user";
    return "";
  }
  return folder;
}

SingleInstance::ClaimResult SingleInstance::Claim(const std::string& name) {
  Release();
  State& s = *m_State;
  std::string folder = RuntimeFolder(nullptr);
  if (folder.empty() || name.empty() || name.find('/') != std::string::npos) return kUnknown;
  const std::string base = folder + "/" + name;
  s.SocketPath = base + ".socket";
  s.LockPath = base + ".lock";

  s.LockFd = open(s.LockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (s.LockFd < 0) return kUnknown;
  if (flock(s.LockFd, LOCK_EX | LOCK_NB) != 0) {
    bool held = errno == EWOULDBLOCK;
    close(s.LockFd);
    s.LockFd = -1;
    if (!held) return kUnknown;
    return AskToRaise(s.SocketPath) ? kOther : kNoAnswer;
  }

  // Holding the lock, anything at the socket's path is a leftover.
  sockaddr_un addr;
  int wake[2];
  if (!FillAddress(s.SocketPath, &addr) || pipe2(wake, O_CLOEXEC) != 0) return kFirst;
  s.WakeRead = wake[0];
  s.WakeWrite = wake[1];
  unlink(s.SocketPath.c_str());
  s.ListenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s.ListenFd < 0 || bind(s.ListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(s.ListenFd, 4) != 0) {
    if (s.ListenFd >= 0) close(s.ListenFd);
    s.ListenFd = -1;
    return kFirst;
  }
  s.Listener = std::thread([&s] { s.Listen(); });
  return kFirst;
}

const std::string& SingleInstance::LockPath() const { return m_State->LockPath; }

void SingleInstance::SetWindow(HWND hwnd, UINT message) {
  State& s = *m_State;
  std::lock_guard<std::mutex> lk(s.Mutex);
  s.Window = hwnd;
  s.Message = message;
  if (!hwnd) return;
  if (s.Pending > 0) PostMessage(hwnd, message, 0, 0);
  s.Pending = 0;
}

void SingleInstance::Release() {
  State& s = *m_State;
  if (s.Listener.joinable()) {
    char c = 0;
    ssize_t n;
    do n = write(s.WakeWrite, &c, 1);
    while (n < 0 && errno == EINTR);
    s.Listener.join();
  }
  if (s.ListenFd >= 0) {
    close(s.ListenFd);
    unlink(s.SocketPath.c_str());
  }
  for (int fd : {s.ListenFd, s.WakeRead, s.WakeWrite, s.LockFd})
    if (fd >= 0) close(fd);
  s.ListenFd = s.WakeRead = s.WakeWrite = s.LockFd = -1;
  std::lock_guard<std::mutex> lk(s.Mutex);
  s.Window = nullptr;
  s.Pending = 0;
}

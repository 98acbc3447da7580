// File-system services over POSIX calls: /proc/self/exe for the program's
// location; open, fsync and rename for atomic replacement.
#include "platform/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/backend.h"

std::string ProgramFolder() { return platform::CurrentBackend().ProgramFolder(); }

std::string ExecutableFolder() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  std::string exe(path, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : exe.substr(0, slash);
}

bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         std::string* error) {
  // A name no other process uses, created with the user's usual permissions.
  std::string tmp = path + ".tmp." + std::to_string(getpid());
  const char* step = "create a temporary file";
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd >= 0) {
    step = "write";
    bool ok = write(fd, data, size) == static_cast<ssize_t>(size);
    if (ok) {
      step = "flush";
      ok = fsync(fd) == 0;
    }
    if (close(fd) != 0 && ok) {
      step = "close";
      ok = false;
    }
    if (ok) {
      step = "replace";
      if (std::rename(tmp.c_str(), path.c_str()) == 0) return true;
    }
    int saved = errno;
    unlink(tmp.c_str());
    errno = saved;
  }
  if (error) *error = std::string(step) + ": " + std::strerror(errno);
  return false;
}

// File-system services over POSIX calls: mkostemp, fsync and rename for
// atomic replacement.
#include "platform/services/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         std::string* error) {
  // mkstemp makes a name nobody can guess and creates the file exclusively,
  // so nothing planted beside `path` (a symlink, a file of someone else's)
  // is ever opened. It makes the file private; the replacement then takes
  // the permission bits the file had, or those a new file would get.
  std::string tmp = path + ".XXXXXX";
  const char* step = "create a temporary file";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd >= 0) {
    struct stat st {};
    mode_t mode;
    if (stat(path.c_str(), &st) == 0) {
      mode = st.st_mode & 07777;
    } else {
      // The only way to read the umask sets it; put it straight back.
      const mode_t mask = umask(022);
      umask(mask);
      mode = 0666 & ~mask;
    }
    step = "write";
    bool ok = fchmod(fd, mode) == 0 && write(fd, data, size) == static_cast<ssize_t>(size);
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

bool MayReplaceWithFile(const std::string& path, std::string* why) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return true;
  if (why) {
    if (S_ISDIR(st.st_mode))
      *why = "a directory";
    else if (S_ISLNK(st.st_mode))
      *why = "a symbolic link";
    else if (S_ISFIFO(st.st_mode))
      *why = "a FIFO";
    else if (S_ISSOCK(st.st_mode))
      *why = "a socket";
    else
      *why = "a device";
  }
  return false;
}

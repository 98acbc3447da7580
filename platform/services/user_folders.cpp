// The user's folders over POSIX: getpwuid_r for a home without HOME, mkdir
// and stat for making folders.
#include "platform/services/user_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/')
    return found->pw_dir;
  return "/";
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string UserConfigFolder(bool* ignored) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (ignored) *ignored = xdg && xdg[0] != '\0' && xdg[0] != '/';
  if (xdg && xdg[0] == '/') return xdg;
  std::string home = HomeFolder();
  return (home == "/" ? "" : home) + "/.config";
}

bool MakePrivateFolder(const std::string& path, std::string* error) {
  if (path.empty() || IsFolder(path)) return true;
  // Each missing folder from the top down; one that appears meanwhile is
  // as good as made.
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (!part.empty() && !IsFolder(part) && mkdir(part.c_str(), 0700) != 0 &&
        !(errno == EEXIST && IsFolder(part))) {
      if (error) {
        const int saved = errno;
        *error = "cannot make the folder " + part + ": " +
                 (saved == EEXIST ? std::string("a file is in the way") : std::strerror(saved));
      }
      return false;
    }
    if (end == std::string::npos) return true;
  }
}

// System information from /proc (sysinfo.h).
#include "platform/services/sysinfo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

bool ParseMemAvailable(const std::string& meminfo, unsigned long long* bytes) {
  std::istringstream in(meminfo);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("MemAvailable:", 0) != 0) continue;
    const char* p = line.c_str() + 13;
    while (*p == ' ' || *p == '\t') p++;
    if (*p < '0' || *p > '9') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long kb = std::strtoull(p, &end, 10);
    if (errno != 0 || kb > ULLONG_MAX / 1024) return false;
    while (*end == ' ' || *end == '\t') end++;
    if (std::string(end) != "kB") return false;
    *bytes = kb * 1024;
    return true;
  }
  return false;
}

bool AvailableMemory(unsigned long long* bytes) {
  std::ifstream in("/proc/meminfo");
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  return ParseMemAvailable(text.str(), bytes);
}

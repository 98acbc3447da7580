// Debugger presence from /proc/self/status; the break is a raised SIGTRAP,
// which a debugger reports and can step over.
#include "platform/winapi/debugger.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool DebuggerAttached() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return false;
  char line[256];
  long pid = 0;
  while (std::fgets(line, sizeof(line), f)) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      pid = std::strtol(line + 10, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return pid != 0;
}

void BreakIntoDebugger() { std::raise(SIGTRAP); }

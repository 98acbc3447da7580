// Numbers on the programs' command lines.
#pragma once

#include <cerrno>
#include <cstdlib>

// Whether `text` is a whole decimal number from lo to hi with nothing
// before or after it; if so, it is stored in *value (an integer type that
// holds the range).
template <class Int>
bool ParseWholeNumber(const char* text, long lo, long hi, Int* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *value = static_cast<Int>(v);
  return true;
}

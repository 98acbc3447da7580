// What the system says about itself.
#pragma once

#include <string>

// The memory available for starting programs without swapping, as the
// kernel estimates it (MemAvailable of /proc/meminfo), in bytes. False when
// the system does not say.
bool AvailableMemory(unsigned long long* bytes);

// The MemAvailable line of a /proc/meminfo text ("MemAvailable: 123 kB"),
// in bytes. False when there is no such line or it cannot be read.
bool ParseMemAvailable(const std::string& meminfo, unsigned long long* bytes);

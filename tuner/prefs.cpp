// PREFS.DAT: read once at start-up, written once at exit.
#include "prefs.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "variant.h"

int TriggerLevel = 1;
int MeterAdjust = 0;

namespace {
constexpr const char* kPrefsName = "PREFS.DAT";

// Reads up to four bytes into the low-order end of `field` (little-endian
// file), leaving the bytes the file lacks unchanged.
void ReadField(FILE* f, int& field) {
  unsigned char bytes[4];
  size_t got = std::fread(bytes, 1, 4, f);
  uint32_t value = static_cast<uint32_t>(field);
  for (size_t i = 0; i < got; i++) {
    value &= ~(0xFFu << (8 * i));
    value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  }
  field = static_cast<int>(value);
}

void PutLittleEndian(unsigned char* out, int v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; i++) out[i] = static_cast<unsigned char>(u >> (8 * i));
}
}  // namespace

std::string PrefsPath() {
  if constexpr (kPocket) return ProgramFolder() + "/" + kPrefsName;
  return kPrefsName;
}

void ReadPrefs() { ReadPrefsFrom(PrefsPath()); }

void ReadPrefsFrom(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  ReadField(f, TriggerLevel);
  ReadField(f, MeterAdjust);
  std::fclose(f);
  if (TriggerLevel < 0 || TriggerLevel > 3) TriggerLevel = 1;
  if (MeterAdjust < -100 || MeterAdjust > 100) MeterAdjust = 0;
}

bool WritePrefs() { return WritePrefsTo(PrefsPath()); }

bool WritePrefsTo(const std::string& path) {
  unsigned char bytes[8];
  PutLittleEndian(bytes, TriggerLevel);
  PutLittleEndian(bytes + 4, MeterAdjust);
  // A file that already holds exactly these settings is left as it is.
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    unsigned char old[sizeof bytes + 1];
    const size_t got = std::fread(old, 1, sizeof old, f);
    std::fclose(f);
    if (got == sizeof bytes && std::memcmp(old, bytes, sizeof bytes) == 0) return true;
  }
  std::string error;
  if (WriteFileAtomically(path, bytes, sizeof(bytes), &error)) return true;
  std::fprintf(stderr, "zelvaro: cannot save the settings to %s (%s)\n", path.c_str(),
               error.c_str());
  return false;
}

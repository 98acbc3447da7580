// PREFS.DAT: read once at start-up, written once at exit.
#include "tuner/prefs.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/services/byte_order.h"
#include "platform/services/files.h"
#include "platform/services/user_folders.h"

int TriggerLevel = 1;
int MeterAdjust = 0;

namespace {
constexpr const char* kPrefsName = "PREFS.DAT";

std::string g_PrefsFile;  // named by --settings; "" for the usual place

std::string UsualFolder(bool* ignoredXdg = nullptr) {
  return UserConfigFolder(ignoredXdg) + "/zelvaro";
}

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

// Loads a settings file of an earlier version from the current folder and
// saves it to `path`; false when there is none that can be trusted.
bool TakeOverOldPrefs(const std::string& path) {
  FILE* f = std::fopen(kPrefsName, "rb");
  if (!f) return false;
  int trigger = 0, adjust = 0;
  ReadField(f, trigger);
  ReadField(f, adjust);
  const bool eightBytes = std::ftell(f) == 8 && std::fgetc(f) == EOF;
  std::fclose(f);
  if (!eightBytes || trigger < 0 || trigger > 3 || adjust < -100 || adjust > 100) return false;
  TriggerLevel = trigger;
  MeterAdjust = adjust;
  // Saved at once, so that the next start finds it even if this one never
  // ends well; when the usual place is unusable the session still runs with
  // these values and the save at exit reports why.
  std::string error;
  if (MakePrivateFolder(UsualFolder(), &error) && WritePrefsTo(path))
    std::fprintf(stderr, "zelvaro: the settings in ./%s are now kept in %s\n", kPrefsName,
                 path.c_str());
  return true;
}
}  // namespace

void SetPrefsFile(const std::string& path) { g_PrefsFile = path; }

std::string PrefsPath() {
  if (!g_PrefsFile.empty()) return g_PrefsFile;
  return UsualFolder() + "/" + kPrefsName;
}

void ReadPrefs() {
  const std::string path = PrefsPath();
  if (g_PrefsFile.empty()) {
    bool ignoredXdg = false;
    const std::string folder = UsualFolder(&ignoredXdg);
    if (ignoredXdg)
      std::fprintf(stderr,
                   "zelvaro: XDG_CONFIG_HOME is not an absolute path; the settings are kept in "
                   "%s\n",
                   folder.c_str());
    std::error_code error;
    if (!std::filesystem::exists(path, error) && TakeOverOldPrefs(path)) return;
  }
  ReadPrefsFrom(path);
}

void ReadPrefsFrom(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  ReadField(f, TriggerLevel);
  ReadField(f, MeterAdjust);
  std::fclose(f);
  if (TriggerLevel < 0 || TriggerLevel > 3) TriggerLevel = 1;
  if (MeterAdjust < -100 || MeterAdjust > 100) MeterAdjust = 0;
}

bool WritePrefs() {
  const std::string path = PrefsPath();
  std::string error;
  if (g_PrefsFile.empty() && !MakePrivateFolder(UsualFolder(), &error)) {
    std::fprintf(stderr, "zelvaro: cannot save the settings to %s (%s)\n", path.c_str(),
                 error.c_str());
    return false;
  }
  return WritePrefsTo(path);
}

bool WritePrefsTo(const std::string& path) {
  unsigned char bytes[8];
  platform::PutLE32(bytes, static_cast<uint32_t>(TriggerLevel));
  platform::PutLE32(bytes + 4, static_cast<uint32_t>(MeterAdjust));
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

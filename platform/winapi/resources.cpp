// The resource calls over the table that the build generates from
// resources/ (cmake/EmbedResources.cmake). Lookups walk the table; it holds a
// few dozen entries and programs look resources up at start-up only.
#include "platform/winapi/resources.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

// Defined in the generated table source.
extern const ResourceEntry kResourceTable[];
extern const size_t kResourceTableCount;

namespace {

// The names Windows gives its standard resource types, by number; any
// other number is written "#n", as Windows spells numbered names.
void IntResourceName(uintptr_t id, char* out, size_t size) {
  const char* name = nullptr;
  switch (id) {
    case 1:
      name = "CURSOR";
      break;
    case 2:
      name = "BITMAP";
      break;
    case 3:
      name = "ICON";
      break;
    case 4:
      name = "MENU";
      break;
    case 5:
      name = "DIALOG";
      break;
    case 6:
      name = "STRING";
      break;
    case 10:
      name = "RCDATA";
      break;
    case 14:
      name = "GROUP_ICON";
      break;
    default:
      break;
  }
  if (name)
    std::snprintf(out, size, "%s", name);
  else
    std::snprintf(out, size, "#%u", static_cast<unsigned>(id));
}

bool Matches(const char* wanted, const char* have, bool is_type) {
  char buf[16];
  if (IS_INTRESOURCE(wanted)) {
    uintptr_t id = reinterpret_cast<uintptr_t>(wanted);
    if (is_type) {
      IntResourceName(id, buf, sizeof(buf));
    } else {
      std::snprintf(buf, sizeof(buf), "#%u", static_cast<unsigned>(id));
    }
    wanted = buf;
  }
  return strcasecmp(wanted, have) == 0;
}

}  // namespace

HMODULE GetModuleHandle(const char* name) {
  static int module;
  return name ? nullptr : &module;
}

HRSRC FindResource(HMODULE, const char* name, const char* type) {
  if (!name || !type) return nullptr;
  for (size_t i = 0; i < kResourceTableCount; i++) {
    const ResourceEntry& e = kResourceTable[i];
    if (Matches(type, e.Type, true) && Matches(name, e.Name, false))
      return const_cast<ResourceEntry*>(&e);
  }
  return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (!resource) return nullptr;
  return const_cast<unsigned char*>(static_cast<const ResourceEntry*>(resource)->Data);
}

void* LockResource(HGLOBAL data) { return data; }

uint32_t SizeofResource(HMODULE, HRSRC resource) {
  if (!resource) return 0;
  return static_cast<const ResourceEntry*>(resource)->Size;
}

size_t ResourceCount() { return kResourceTableCount; }

const ResourceEntry& ResourceAt(size_t index) { return kResourceTable[index]; }

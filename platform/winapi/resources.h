// Named resources compiled into the program: the artwork and font records of
// resources/, looked up by name and type through the Windows resource calls.
//
// Names and string types match without regard to case, as on Windows. A
// type given as a small integer (MAKEINTRESOURCE, RT_BITMAP ...) matches the
// resources of that standard type. Bitmap resources (type RT_BITMAP) start at
// their BITMAPINFOHEADER; every other resource is its file's bytes. The
// module handle is accepted and ignored: the program has one resource table.
// Resource bytes are read-only and live for the whole run.
#pragma once

#include <cstddef>
#include <cstdint>

typedef void* HINSTANCE;
typedef void* HMODULE;
typedef void* HRSRC;
typedef void* HGLOBAL;

#define MAKEINTRESOURCEA(i) ((char*)(uintptr_t)(uint16_t)(i))
#define MAKEINTRESOURCE(i) MAKEINTRESOURCEA(i)
#define IS_INTRESOURCE(p) ((((uintptr_t)(p)) >> 16) == 0)

#define RT_CURSOR MAKEINTRESOURCE(1)
#define RT_BITMAP MAKEINTRESOURCE(2)
#define RT_ICON MAKEINTRESOURCE(3)
#define RT_MENU MAKEINTRESOURCE(4)
#define RT_DIALOG MAKEINTRESOURCE(5)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_RCDATA MAKEINTRESOURCE(10)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)

// The program's own module for a null name: a non-null handle (for calls
// that tell resources from files by a null module). Null for any other
// name: the program loads no other module.
HMODULE GetModuleHandle(const char* name);

// The resource `name` of type `type`, or null when there is none (or when
// either argument is null).
HRSRC FindResource(HMODULE module, const char* name, const char* type);

// The resource's data handle; null for a null resource.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);

// The first byte of the resource's data; null for a null handle.
void* LockResource(HGLOBAL data);

// The size in bytes of the resource's data; 0 for a null resource.
uint32_t SizeofResource(HMODULE module, HRSRC resource);

// One entry of the table the build makes from resources/: the resource's
// name and type (upper case, e.g. "METER", "BITMAP"), its bytes and their
// count.
struct ResourceEntry {
  const char* Name;
  const char* Type;
  const unsigned char* Data;
  uint32_t Size;
};

// Every resource of the program, in the table's order.
size_t ResourceCount();
const ResourceEntry& ResourceAt(size_t index);

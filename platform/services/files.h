// File-system services: replacing a small file without ever leaving it
// damaged, and telling what stands at a path.
#pragma once

#include <cstddef>
#include <string>

// Writes `size` bytes to a temporary file beside `path`, flushes it to disk
// and renames it over `path`, so that readers see either the old file or the
// complete new one, with the permission bits the old one had (a new file
// gets the usual ones, 0666 less the umask). The temporary file has a name
// no other process can guess and is created only if nothing stands there.
// On failure `path` is untouched, the temporary file is removed, false is
// returned and `error` says which step failed and why.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         std::string* error);

// Whether a new file may take `path`'s place: nothing stands there, or a
// regular file does (a symbolic link is not followed). False with *why
// naming what stands there otherwise ("a directory", "a device" ...).
bool MayReplaceWithFile(const std::string& path, std::string* why);

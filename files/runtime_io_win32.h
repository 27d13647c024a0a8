// C-runtime descriptors for the code that hands files to GMime (which reads and writes through
// descriptors) on Windows, where open() and mkstemp() would take the path in the ANSI code page,
// open in text mode and leave temporary files behind. Windows only; POSIX code uses the system
// calls directly.
#pragma once

#ifdef _WIN32

#include <cstddef>
#include <cstdint>
#include <string>

namespace mailfold::files {

// Opens `path` (UTF-8) for reading in binary mode; other programs may go on reading, writing or
// deleting it. The descriptor, or -1 with errno set (ENOENT when it does not exist, EISDIR for a
// folder, EACCES, ...).
int OpenForReading(const std::string& path);

// An empty binary read-write file in `directory` (the user's temporary folder when empty) that
// the system deletes when its last descriptor is closed, also when the process dies. The
// descriptor, or -1 with errno set.
int CreateTemporaryFile(const std::string& directory);

// Reads up to `size` bytes at `offset` (64-bit); the byte count, 0 at the end, -1 with errno set.
long long ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset);

}  // namespace mailfold::files

#endif  // _WIN32

// Byte buffers, little-endian access and the error type shared by every layer of the store engine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace mailfold::pst {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// What kind of failure an Error is, for callers that act on it without reading its text.
enum class ErrorKind {
  kNotFound,   // what was asked for does not exist: a file, a node, a folder, a row
  kCorrupt,    // the file is not a store, or its structures do not decode or do not agree
  kIo,         // the system failed a read, write, flush or lock (disk full, no permission, ...)
  kRefused,    // the store may not be changed so: its format (ANSI), its password, another
               // writer, an open for reading only, a closed store, a store that is full
  kBadInput,   // a value, message or request the store cannot take: a value of the wrong type
               // or size, a folder name in use, a file that is not a message
  kInternal,   // a broken rule of this code itself
};

// Every failure of the store engine. The message says what failed and why, with enough context
// (file, offset, node id) to act on; the kind says what sort of failure it is.
class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  // `cause` with `context` in front of its message ("opening store x.pst: "), of its kind.
  Error(const std::string& context, const Error& cause) : std::runtime_error(context + cause.what()), kind_(cause.kind_) {}
  ErrorKind kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

// A writable open refused because another writer (another program or window, or a checker)
// holds the file. Callers tell it apart: the file belongs to that writer, and nothing beside it
// (a log, a half-made file) may be touched on its behalf.
class StoreInUseError : public Error {
 public:
  explicit StoreInUseError(const std::string& what) : Error(ErrorKind::kRefused, what) {}
};

// "0x1A2B": ids, tags and offsets in error messages.
inline std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

// Little-endian loads and stores. Callers check bounds before calling (lengths read from a
// file are never trusted); these only move bytes.
template <class T>
inline T load(const std::uint8_t* p) {
  T v{};
  std::memcpy(&v, p, sizeof v);
  return v;  // every supported host is little-endian, like the format
}
template <class T>
inline void store(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace mailfold::pst

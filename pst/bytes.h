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

// Every failure of the store engine: bad input read from a file, an I/O error, a misuse.
// The message says what failed and why, with enough context (offset, node id) to act on.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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

// The vocabulary of property values: tags and types, and the values property and table
// contexts store. The message model above is made of these; text is UTF-8 here and becomes
// UTF-16 in the store.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "pst/bytes.h"

namespace mailfold::pst::ltp {

// Property types as the store encodes them.
enum PropType : std::uint16_t {
  kPtInt16 = 0x0002,
  kPtInt32 = 0x0003,
  kPtFloat = 0x0004,
  kPtDouble = 0x0005,
  kPtCurrency = 0x0006,
  kPtAppTime = 0x0007,
  kPtError = 0x000A,
  kPtBoolean = 0x000B,
  kPtObject = 0x000D,
  kPtInt64 = 0x0014,
  kPtString8 = 0x001E,
  kPtUnicode = 0x001F,
  kPtSysTime = 0x0040,
  kPtGuid = 0x0048,
  kPtBinary = 0x0102,
  kPtMvInt32 = 0x1003,
  kPtMvInt64 = 0x1014,
  kPtMvUnicode = 0x101F,
  kPtMvBinary = 0x1102,
};

using PropTag = std::uint32_t;
constexpr PropTag makeTag(std::uint16_t id, std::uint16_t type) { return (PropTag{id} << 16) | type; }
constexpr std::uint16_t tagId(PropTag tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr std::uint16_t tagType(PropTag tag) { return static_cast<std::uint16_t>(tag & 0xFFFF); }

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FileTime {
  std::uint64_t ticks = 0;
  friend bool operator==(FileTime, FileTime) = default;
};

// A GUID in its stored byte order (Data1..Data3 little-endian, then Data4).
struct Guid {
  std::array<std::uint8_t, 16> bytes{};
  friend bool operator==(const Guid&, const Guid&) = default;
  friend auto operator<=>(const Guid&, const Guid&) = default;
};

// Large binary content read in pieces (attachment data of any size): the writer pulls it in
// chunks, so a 100 MB attachment is never held twice in memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Copies up to out.size() bytes starting at `offset`; returns the number copied.
  virtual std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// A ByteSource over bytes held in memory.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(out.size(), bytes_.size() - offset);
    std::memcpy(out.data(), bytes_.data() + offset, n);
    return n;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// One property value. The alternative must fit the tag's type:
//   bool <-> kPtBoolean; int16_t <-> kPtInt16; int32_t <-> kPtInt32/kPtError;
//   int64_t <-> kPtInt64/kPtCurrency; double <-> kPtDouble/kPtAppTime/kPtFloat;
//   FileTime <-> kPtSysTime; std::string (UTF-8) <-> kPtUnicode/kPtString8;
//   Bytes <-> kPtBinary; Guid <-> kPtGuid; std::shared_ptr<const ByteSource> <-> kPtBinary (large);
//   the vectors <-> the multi-valued types.
using PropertyValue =
    std::variant<bool, std::int16_t, std::int32_t, std::int64_t, double, FileTime, std::string, Bytes, Guid,
                 std::shared_ptr<const ByteSource>, std::vector<std::int32_t>, std::vector<std::int64_t>,
                 std::vector<std::string>, std::vector<Bytes>>;

}  // namespace mailfold::pst::ltp

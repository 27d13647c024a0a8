// The message model: a plain value that describes one mail item to be written into a store.
//
// The importer (MIME side) fills it; the store writes it. It knows nothing about the file
// layout: properties are keyed by MAPI property tag (id << 16 | type) or, for named
// properties, by property set and name. Text is UTF-8 here and becomes UTF-16 in the store.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "pst/bytes.h"

namespace mailfold::pst {

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

// A named property: a property set and either a numeric id (LID) or a string name.
struct NamedPropertyKey {
  Guid propertySet;
  std::variant<std::uint32_t, std::string> name;
  friend bool operator==(const NamedPropertyKey&, const NamedPropertyKey&) = default;
  friend auto operator<=>(const NamedPropertyKey&, const NamedPropertyKey&) = default;
};

struct NamedProperty {
  NamedPropertyKey key;
  std::uint16_t type = kPtUnicode;
  PropertyValue value;
};

// The properties of one object (message, recipient row, attachment).
class PropertyBag {
 public:
  void set(PropTag tag, PropertyValue value) { props_[tag] = std::move(value); }
  void setNamed(NamedPropertyKey key, std::uint16_t type, PropertyValue value) {
    for (auto& n : named_) {
      if (n.key == key) {
        n.type = type;
        n.value = std::move(value);
        return;
      }
    }
    named_.push_back(NamedProperty{std::move(key), type, std::move(value)});
  }
  void erase(PropTag tag) { props_.erase(tag); }
  const PropertyValue* get(PropTag tag) const {
    auto it = props_.find(tag);
    return it == props_.end() ? nullptr : &it->second;
  }
  template <class T>
  const T* getAs(PropTag tag) const {
    const PropertyValue* v = get(tag);
    return v ? std::get_if<T>(v) : nullptr;
  }
  bool has(PropTag tag) const { return props_.count(tag) != 0; }
  const std::map<PropTag, PropertyValue>& all() const { return props_; }
  const std::vector<NamedProperty>& named() const { return named_; }

 private:
  std::map<PropTag, PropertyValue> props_;
  std::vector<NamedProperty> named_;
};

struct MessageModel;

// One row of the recipient table: PR_RECIPIENT_TYPE, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, ...
struct Recipient {
  PropertyBag props;
};

// One attachment: by value (PR_ATTACH_DATA_BIN, usually a ByteSource) or an embedded message
// (PR_ATTACH_METHOD = 5, `embedded` set).
struct Attachment {
  PropertyBag props;
  std::shared_ptr<MessageModel> embedded;
};

struct MessageModel {
  PropertyBag props;
  std::vector<Recipient> recipients;
  std::vector<Attachment> attachments;
};

}  // namespace mailfold::pst

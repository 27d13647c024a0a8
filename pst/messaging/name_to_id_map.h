// The store-wide map from named properties (property set + name or number) to the property ids
// 0x8000 and up that messages use for them.
//
// On disk it is a property context at node 0x61 holding a GUID stream, an entry stream of
// 8-byte NAMEID records, a string stream of length-prefixed UTF-16 names and a hash table of
// 251 buckets, each bucket a binary property from id 0x1000 on. This class is the in-memory
// form: decode from the streams, look up, add, and encode the streams and buckets again.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "pst/bytes.h"
#include "pst/messaging/message_model.h"

namespace mailfold::pst {

inline constexpr PropTag kPrNameidBucketCount = makeTag(0x0001, kPtInt32);
inline constexpr PropTag kPrNameidStreamGuid = makeTag(0x0002, kPtBinary);
inline constexpr PropTag kPrNameidStreamEntry = makeTag(0x0003, kPtBinary);
inline constexpr PropTag kPrNameidStreamString = makeTag(0x0004, kPtBinary);
inline constexpr std::uint16_t kNameidBucketBase = 0x1000;
inline constexpr std::uint32_t kDefaultNameidBucketCount = 251;
inline constexpr std::uint16_t kFirstNamedPropId = 0x8000;
inline constexpr std::uint16_t kLastNamedPropId = 0xFFFE;

class NameToIdMap {
 public:
  NameToIdMap() = default;

  // Rebuilds the map from its stored streams. Throws Error naming the bad record when a stream
  // is malformed (an entry pointing past the GUID or string stream, a duplicate property index).
  static NameToIdMap decode(ByteView guidStream, ByteView entryStream, ByteView stringStream,
                            std::uint32_t bucketCount);

  std::optional<std::uint16_t> find(const NamedPropertyKey& key) const;
  // The id of `key`, assigning the next free one when it is new. Throws Error when the id range
  // is exhausted.
  std::uint16_t add(const NamedPropertyKey& key);
  std::optional<NamedPropertyKey> nameOf(std::uint16_t propId) const;
  std::size_t size() const { return entries_.size(); }

  // The map as it is; rollback() forgets every name added since (the names of a message whose
  // writing failed). Names are only ever added, so a mark is three sizes.
  struct Mark {
    std::size_t entries = 0, guids = 0, strings = 0;
  };
  Mark mark() const { return {entries_.size(), guids_.size(), strings_.size()}; }
  void rollback(const Mark& mark);
  std::uint32_t bucketCount() const { return bucketCount_; }

  Bytes guidStream() const;
  Bytes entryStream() const;
  Bytes stringStream() const;
  // The non-empty buckets by bucket property id (0x1000 + n); like Outlook, empty ones are not stored.
  std::map<std::uint16_t, Bytes> buckets() const;

  // The bucket a NAMEID hash record falls in: (dwPropertyID ^ low word of the second DWORD) mod count.
  static std::uint32_t bucketOf(std::uint32_t hashValue, std::uint16_t guidAndKind, std::uint32_t bucketCount);

 private:
  struct Entry {
    NamedPropertyKey key;
    std::uint16_t guidIndex = 0;  // 1 = PS_MAPI, 2 = PS_PUBLIC_STRINGS, 3+ = GUID stream index + 3
    std::uint32_t stringOffset = 0;
  };
  std::uint16_t guidIndexFor(const Guid& g);

  std::vector<Guid> guids_;
  std::vector<Entry> entries_;          // by property index (id - 0x8000)
  Bytes strings_;                       // the string stream as stored, appended to
  std::map<NamedPropertyKey, std::uint16_t> byKey_;
  std::uint32_t bucketCount_ = kDefaultNameidBucketCount;
};

}  // namespace mailfold::pst

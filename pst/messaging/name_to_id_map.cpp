#include "pst/messaging/name_to_id_map.h"

#include <string>

#include "pst/messaging/property_tags.h"
#include "pst/ltp/utf16.h"
#include "pst/ndb/crc.h"

namespace mailfold::pst {
namespace {

// Most names are UTF-16; some add-ons stored plain 8-bit names, which are kept as they are.
std::string decodeName(ByteView bytes) {
  if (ltp::isWellFormedUtf16le(bytes)) return ltp::utf16leToUtf8(bytes);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::uint32_t NameToIdMap::bucketOf(std::uint32_t hashValue, std::uint16_t guidAndKind, std::uint32_t bucketCount) {
  return (hashValue ^ guidAndKind) % bucketCount;
}

NameToIdMap NameToIdMap::decode(ByteView guidStream, ByteView entryStream, ByteView stringStream,
                                std::uint32_t bucketCount) {
  if (bucketCount == 0) throw Error(ErrorKind::kCorrupt, "name-to-id map: bucket count is 0");
  if (guidStream.size() % 16 != 0)
    throw Error(ErrorKind::kCorrupt, "name-to-id map: GUID stream of " + std::to_string(guidStream.size()) + " bytes is not a multiple of 16");
  if (entryStream.size() % 8 != 0)
    throw Error(ErrorKind::kCorrupt, "name-to-id map: entry stream of " + std::to_string(entryStream.size()) + " bytes is not a multiple of 8");
  NameToIdMap map;
  map.bucketCount_ = bucketCount;
  for (std::size_t i = 0; i < guidStream.size(); i += 16) {
    Guid g;
    std::memcpy(g.bytes.data(), guidStream.data() + i, 16);
    map.guids_.push_back(g);
  }
  map.strings_.assign(stringStream.begin(), stringStream.end());
  const std::size_t count = entryStream.size() / 8;
  if (count > std::size_t{kLastNamedPropId - kFirstNamedPropId + 1})
    throw Error(ErrorKind::kCorrupt, "name-to-id map: " + std::to_string(count) + " entries exceed the named property id range");
  map.entries_.resize(count);
  std::vector<bool> seen(count, false);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* rec = entryStream.data() + 8 * i;
    const std::uint32_t value = load<std::uint32_t>(rec);
    const std::uint16_t guidAndKind = load<std::uint16_t>(rec + 4);
    const std::uint16_t propIndex = load<std::uint16_t>(rec + 6);
    const std::string where = "name-to-id map entry " + std::to_string(i);
    if (propIndex >= count || seen[propIndex])
      throw Error(ErrorKind::kCorrupt, where + ": property index " + std::to_string(propIndex) + " is out of range or used twice");
    seen[propIndex] = true;
    Entry e;
    e.guidIndex = guidAndKind >> 1;
    if (e.guidIndex == 1) {
      e.key.propertySet = kPsMapi;
    } else if (e.guidIndex == 2) {
      e.key.propertySet = kPsPublicStrings;
    } else if (e.guidIndex >= 3 && std::size_t{e.guidIndex} - 3 < map.guids_.size()) {
      e.key.propertySet = map.guids_[e.guidIndex - 3];
    } else if (e.guidIndex != 0) {
      throw Error(ErrorKind::kCorrupt, where + ": GUID index " + std::to_string(e.guidIndex) + " is outside the GUID stream");
    }
    if (guidAndKind & 1) {
      if (std::uint64_t{value} + 4 > stringStream.size())
        throw Error(ErrorKind::kCorrupt, where + ": string offset " + hex(value) + " is past the string stream");
      const std::uint32_t len = load<std::uint32_t>(stringStream.data() + value);
      if (std::uint64_t{value} + 4 + len > stringStream.size())
        throw Error(ErrorKind::kCorrupt, where + ": name of " + std::to_string(len) + " bytes runs past the string stream");
      e.key.name = decodeName(stringStream.subspan(value + 4, len));
      e.stringOffset = value;
    } else {
      e.key.name = value;
    }
    map.byKey_.emplace(e.key, static_cast<std::uint16_t>(kFirstNamedPropId + propIndex));
    map.entries_[propIndex] = std::move(e);
  }
  return map;
}

std::optional<std::uint16_t> NameToIdMap::find(const NamedPropertyKey& key) const {
  auto it = byKey_.find(key);
  if (it == byKey_.end()) return std::nullopt;
  return it->second;
}

std::uint16_t NameToIdMap::guidIndexFor(const Guid& g) {
  if (g == kPsMapi) return 1;
  if (g == kPsPublicStrings) return 2;
  for (std::size_t i = 0; i < guids_.size(); ++i)
    if (guids_[i] == g) return static_cast<std::uint16_t>(i + 3);
  if (guids_.size() + 3 > 0x7FFF) throw Error(ErrorKind::kRefused, "name-to-id map: too many property sets");
  guids_.push_back(g);
  return static_cast<std::uint16_t>(guids_.size() + 2);
}

std::uint16_t NameToIdMap::add(const NamedPropertyKey& key) {
  if (auto id = find(key)) return *id;
  if (entries_.size() > std::size_t{kLastNamedPropId - kFirstNamedPropId})
    throw Error(ErrorKind::kRefused, "name-to-id map is full: no named property id left for a new name");
  Entry e;
  e.key = key;
  e.guidIndex = guidIndexFor(key.propertySet);
  if (const auto* name = std::get_if<std::string>(&key.name)) {
    const Bytes utf16 = ltp::utf8ToUtf16le(*name);
    e.stringOffset = static_cast<std::uint32_t>(strings_.size());
    Bytes len(4);
    store<std::uint32_t>(len.data(), static_cast<std::uint32_t>(utf16.size()));
    strings_.insert(strings_.end(), len.begin(), len.end());
    strings_.insert(strings_.end(), utf16.begin(), utf16.end());
    while (strings_.size() % 4 != 0) strings_.push_back(0);
  }
  const auto id = static_cast<std::uint16_t>(kFirstNamedPropId + entries_.size());
  entries_.push_back(std::move(e));
  byKey_.emplace(key, id);
  return id;
}

void NameToIdMap::rollback(const Mark& mark) {
  if (mark.entries > entries_.size() || mark.guids > guids_.size() || mark.strings > strings_.size())
    throw Error(ErrorKind::kInternal, "internal: name-to-id map rolled back past its end");
  for (std::size_t i = mark.entries; i < entries_.size(); ++i) byKey_.erase(entries_[i].key);
  entries_.resize(mark.entries);
  guids_.resize(mark.guids);
  strings_.resize(mark.strings);
}

std::optional<NamedPropertyKey> NameToIdMap::nameOf(std::uint16_t propId) const {
  if (propId < kFirstNamedPropId || std::size_t{propId} - kFirstNamedPropId >= entries_.size()) return std::nullopt;
  return entries_[propId - kFirstNamedPropId].key;
}

Bytes NameToIdMap::guidStream() const {
  Bytes out;
  for (const auto& g : guids_) out.insert(out.end(), g.bytes.begin(), g.bytes.end());
  return out;
}

Bytes NameToIdMap::entryStream() const {
  Bytes out(entries_.size() * 8);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    const bool isString = std::holds_alternative<std::string>(e.key.name);
    store<std::uint32_t>(out.data() + 8 * i, isString ? e.stringOffset : std::get<std::uint32_t>(e.key.name));
    store<std::uint16_t>(out.data() + 8 * i + 4, static_cast<std::uint16_t>((e.guidIndex << 1) | (isString ? 1 : 0)));
    store<std::uint16_t>(out.data() + 8 * i + 6, static_cast<std::uint16_t>(i));
  }
  return out;
}

Bytes NameToIdMap::stringStream() const { return strings_; }

std::map<std::uint16_t, Bytes> NameToIdMap::buckets() const {
  std::map<std::uint16_t, Bytes> out;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    std::uint32_t value;
    std::uint16_t kind = static_cast<std::uint16_t>(e.guidIndex << 1);
    if (std::holds_alternative<std::string>(e.key.name)) {
      // Hash records carry the CRC of the stored name instead of its offset.
      const std::uint32_t len = load<std::uint32_t>(strings_.data() + e.stringOffset);
      value = ndb::crc32(ByteView(strings_).subspan(e.stringOffset + 4, len));
      kind |= 1;
    } else {
      value = std::get<std::uint32_t>(e.key.name);
    }
    Bytes& bucket = out[static_cast<std::uint16_t>(kNameidBucketBase + bucketOf(value, kind, bucketCount_))];
    const std::size_t at = bucket.size();
    bucket.resize(at + 8);
    store<std::uint32_t>(bucket.data() + at, value);
    store<std::uint16_t>(bucket.data() + at + 4, kind);
    store<std::uint16_t>(bucket.data() + at + 6, static_cast<std::uint16_t>(i));
  }
  return out;
}

}  // namespace mailfold::pst

#include "pst/messaging/entry_id.h"

#include <random>
#include <string>

namespace mailfold::pst {

Bytes encodeEntryId(const EntryId& id) {
  Bytes out(kEntryIdSize, 0);
  std::memcpy(out.data() + 4, id.storeUid.bytes.data(), 16);
  store<std::uint32_t>(out.data() + 20, id.nid);
  return out;
}

std::optional<ndb::Nid> nidOfOwnEntryId(ByteView bytes, const Guid& storeUid) {
  if (bytes.size() != kEntryIdSize || load<std::uint32_t>(bytes.data()) != 0) return std::nullopt;
  if (std::memcmp(bytes.data() + 4, storeUid.bytes.data(), 16) != 0) return std::nullopt;
  return load<std::uint32_t>(bytes.data() + 20);
}

Guid randomGuid() {
  static thread_local std::random_device device;
  Guid g;
  for (std::size_t i = 0; i < 16; i += 4) {
    const std::uint32_t r = device();
    std::memcpy(g.bytes.data() + i, &r, 4);
  }
  // Mark it as a random (version 4, RFC 4122 variant) GUID, as Windows' own generator does.
  g.bytes[7] = static_cast<std::uint8_t>((g.bytes[7] & 0x0F) | 0x40);
  g.bytes[8] = static_cast<std::uint8_t>((g.bytes[8] & 0x3F) | 0x80);
  return g;
}

Bytes randomKey() {
  const Guid g = randomGuid();
  return Bytes(g.bytes.begin(), g.bytes.end());
}

}  // namespace mailfold::pst

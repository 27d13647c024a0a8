// The store's name-to-id map moves between its node (0x61) and memory: read once at open,
// written back when it gained names, before every commit.
#include "pst/ltp/property_context.h"
#include "pst/messaging/store_state.h"
#include "pst/messaging/store_tags.h"

namespace mailfold::pst {

void StoreState::flushNames() {
  if (!namesDirty) return;
  auto node = db->openNode(kNidNameToIdMap);
  ltp::PropertyContext pc = ltp::PropertyContext::open(*node);
  pc.set(kPrNameidBucketCount, static_cast<std::int32_t>(names.bucketCount()));
  pc.set(kPrNameidStreamGuid, names.guidStream());
  pc.set(kPrNameidStreamEntry, names.entryStream());
  pc.set(kPrNameidStreamString, names.stringStream());
  for (const auto& [id, bytes] : names.buckets()) pc.set(makeTag(id, kPtBinary), bytes);
  namesDirty = false;
}

void StoreState::loadNames() {
  if (!db->hasNode(kNidNameToIdMap)) return;  // some stores have none; it is made on first use
  auto node = db->openNode(kNidNameToIdMap);
  ltp::PropertyContext pc = ltp::PropertyContext::open(*node);
  auto bytesOf = [&](PropTag tag) {
    auto v = pc.get(tag);
    const Bytes* b = v ? std::get_if<Bytes>(&*v) : nullptr;
    return b ? *b : Bytes{};
  };
  auto count = pc.get(kPrNameidBucketCount);
  const std::int32_t* c = count ? std::get_if<std::int32_t>(&*count) : nullptr;
  names = NameToIdMap::decode(bytesOf(kPrNameidStreamGuid), bytesOf(kPrNameidStreamEntry),
                              bytesOf(kPrNameidStreamString),
                              c && *c > 0 ? static_cast<std::uint32_t>(*c) : kDefaultNameidBucketCount);
}

}  // namespace mailfold::pst

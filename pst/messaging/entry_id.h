// Entry ids, search keys and record keys: how the store names its own objects to the outside.
//
// An entry id is 4 zero flag bytes, the store's 16-byte provider UID (its record key) and the
// object's node id. Every entry id the store records about itself (special folders, the receive
// folder, the Inbox's folder links) carries the same UID, so a reader can tell ours from others.
#pragma once

#include <cstdint>
#include <optional>

#include "pst/bytes.h"
#include "pst/messaging/message_model.h"
#include "pst/ndb/node.h"

namespace mailfold::pst {

inline constexpr std::size_t kEntryIdSize = 24;

struct EntryId {
  Guid storeUid;
  ndb::Nid nid = 0;
  friend bool operator==(const EntryId&, const EntryId&) = default;
};

Bytes encodeEntryId(const EntryId& id);
// The node id an entry id names when it is one of this store's own ids; nullopt when the bytes
// are another provider's id (Exchange long-term ids in exported stores) or malformed.
std::optional<ndb::Nid> nidOfOwnEntryId(ByteView bytes, const Guid& storeUid);

// 16 random bytes from the system's entropy source: provider UIDs, search keys, record keys.
Guid randomGuid();
Bytes randomKey();

}  // namespace mailfold::pst

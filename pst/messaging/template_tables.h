// Column layouts of the tables every store holds: the six template tables that give each new
// folder, recipient and attachment table its columns, and the store's other fixed tables.
#pragma once

#include <cstdint>
#include <span>

#include "pst/ltp/table_layout.h"
#include "pst/ndb/node.h"

namespace mailfold::pst {

inline constexpr ndb::Nid kNidHierarchyTemplate = 0x60D;
inline constexpr ndb::Nid kNidContentsTemplate = 0x60E;
inline constexpr ndb::Nid kNidAssocContentsTemplate = 0x60F;
inline constexpr ndb::Nid kNidSearchContentsTemplate = 0x610;
inline constexpr ndb::Nid kNidReceiveFolderTable = 0x62B;
inline constexpr ndb::Nid kNidOutgoingQueueTable = 0x64C;
inline constexpr ndb::Nid kNidAttachmentTemplate = 0x671;
inline constexpr ndb::Nid kNidRecipientTemplate = 0x692;

// A table of a new store: where it sits and its layout.
struct FixedTable {
  ndb::Nid nid = 0;
  ltp::TableLayout layout;
};

// Every fixed table, in the order a new store writes them.
std::span<const FixedTable> fixedTables();
// The layout of the fixed table at `nid`, or nullptr when `nid` is not one of them.
const ltp::TableLayout* fixedTableLayout(ndb::Nid nid);

}  // namespace mailfold::pst

// Column layouts of the tables every store holds: the six template tables that give each new
// folder, recipient and attachment table its columns, and the store's other fixed tables.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "pst/messaging/message_model.h"
#include "pst/ndb/node.h"

namespace mailfold::pst {

struct TableColumn {
  PropTag tag = 0;
  std::uint16_t ibData = 0;  // offset of the cell in the row
  std::uint8_t cbData = 0;   // 1, 2, 4 or 8 bytes (variable-size values hold a 4-byte HNID)
  std::uint8_t iBit = 0;     // index of the cell's bit in the cell-existence bitmap
  friend bool operator==(const TableColumn&, const TableColumn&) = default;
};

struct TableLayout {
  ndb::Nid nid = 0;  // where the table sits in a new store
  // End offsets of the 8/4-byte cells, the 2-byte cells, the 1-byte cells and the bitmap (the
  // row size), as a table's header records them.
  std::array<std::uint16_t, 4> groupEnds{};
  std::vector<TableColumn> columns;  // sorted by tag

  const TableColumn* column(PropTag tag) const {
    for (const auto& c : columns)
      if (c.tag == tag) return &c;
    return nullptr;
  }
};

inline constexpr ndb::Nid kNidHierarchyTemplate = 0x60D;
inline constexpr ndb::Nid kNidContentsTemplate = 0x60E;
inline constexpr ndb::Nid kNidAssocContentsTemplate = 0x60F;
inline constexpr ndb::Nid kNidSearchContentsTemplate = 0x610;
inline constexpr ndb::Nid kNidReceiveFolderTable = 0x62B;
inline constexpr ndb::Nid kNidOutgoingQueueTable = 0x64C;
inline constexpr ndb::Nid kNidAttachmentTemplate = 0x671;
inline constexpr ndb::Nid kNidRecipientTemplate = 0x692;

const TableLayout& hierarchyTemplate();
const TableLayout& contentsTemplate();
const TableLayout& assocContentsTemplate();
const TableLayout& searchContentsTemplate();
const TableLayout& attachmentTemplate();
const TableLayout& recipientTemplate();
const TableLayout& receiveFolderTable();
const TableLayout& outgoingQueueTable();
const TableLayout& internalTable6b6();
const TableLayout& internalTable6d7();
const TableLayout& internalTable6f8();

// The layout of the fixed table at `nid`, or nullptr when `nid` is not one of them.
const TableLayout* fixedTableLayout(ndb::Nid nid);

}  // namespace mailfold::pst

namespace mailfold::pst {

// `base` with columns for `extraTags` added (tags already in `base` are skipped). The cells of
// base's 8- and 4-byte columns keep their offsets and every base column keeps its existence
// bit; new wide cells follow the base's wide cells, the 2- and 1-byte groups move behind them.
// Variable-size types take a 4-byte cell (their HNID). Columns stay sorted by tag.
TableLayout extendLayout(const TableLayout& base, const std::vector<PropTag>& extraTags);

// Width of a table cell for a property type: 1 (boolean), 2 (16-bit integer), 8 (64-bit
// values and times) or 4 (32-bit values and the HNID of every variable-size value).
std::uint8_t cellWidth(std::uint16_t type);

}  // namespace mailfold::pst

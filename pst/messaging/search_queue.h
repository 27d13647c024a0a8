// Search update descriptors: the store's search folders learn about added messages and folders
// through a queue of 20-byte records (node 0x1E1) that Outlook works through when it opens the
// store. Changes are queued for folders in the search domain (node 0x261: the folders some
// search folder looks at); a folder outside it concerns no search folder.
#pragma once

#include <cstdint>
#include <set>

#include "pst/ndb/node_database.h"

namespace mailfold::pst {

inline constexpr std::uint16_t kSudMessageAdded = 0x01;
inline constexpr std::uint16_t kSudFolderAdded = 0x05;
inline constexpr std::uint32_t kSudSize = 20;

class SearchQueue {
 public:
  // Reads the search domain; a store without one has an empty domain.
  explicit SearchQueue(ndb::NodeDatabase& db);

  bool inDomain(ndb::Nid folder) const { return domain_.count(folder >> 5) != 0; }
  // Queues "`child` was added to `parent`" when `parent` is in the search domain.
  void added(std::uint16_t sudType, ndb::Nid parent, ndb::Nid child);

 private:
  ndb::NodeDatabase* db_;
  std::set<std::uint32_t> domain_;  // folder node indexes (the domain's ids carry varying type bits)
};

// Appends `bytes` to a node's data, filling its last block to the full block size first so
// that every block but the last stays full.
void appendToNodeData(ndb::NodeData& data, ByteView bytes);

}  // namespace mailfold::pst

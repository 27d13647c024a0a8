#include "pst/messaging/search_queue.h"

#include <algorithm>

#include "pst/messaging/store_tags.h"

namespace mailfold::pst {

SearchQueue::SearchQueue(ndb::NodeDatabase& db) : db_(&db) {
  if (!db.hasNode(kNidSearchDomainObject)) return;
  auto node = db.openNode(kNidSearchDomainObject);
  // An array of node ids; a trailing partial entry is ignored.
  const std::uint32_t blocks = node->data().blockCount();
  for (std::uint32_t b = 0; b < blocks; ++b) {
    const Bytes block = node->data().readBlock(b);
    for (std::size_t at = 0; at + 4 <= block.size(); at += 4) domain_.insert(load<std::uint32_t>(block.data() + at) >> 5);
  }
}

void SearchQueue::added(std::uint16_t sudType, ndb::Nid parent, ndb::Nid child) {
  if (!inDomain(parent) || !db_->hasNode(kNidSearchManagementQueue)) return;
  Bytes sud(kSudSize, 0);
  store<std::uint16_t>(sud.data() + 2, sudType);
  store<std::uint32_t>(sud.data() + 4, parent);
  store<std::uint32_t>(sud.data() + 8, child);
  auto node = db_->openNode(kNidSearchManagementQueue);
  appendToNodeData(node->data(), sud);
}

void appendToNodeData(ndb::NodeData& data, ByteView bytes) {
  std::uint32_t count = data.blockCount();
  while (!bytes.empty()) {
    Bytes last;
    if (count > 0) last = data.readBlock(count - 1);
    if (count == 0 || last.size() >= ndb::kMaxBlockPayload) {
      const std::size_t n = std::min<std::size_t>(bytes.size(), ndb::kMaxBlockPayload);
      data.writeBlock(count, bytes.first(n));
      bytes = bytes.subspan(n);
      ++count;
      continue;
    }
    const std::size_t n = std::min<std::size_t>(bytes.size(), ndb::kMaxBlockPayload - last.size());
    last.insert(last.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    data.writeBlock(count - 1, last);
    bytes = bytes.subspan(n);
  }
}

}  // namespace mailfold::pst

#include "pst/messaging/store.h"

#include "pst/messaging/entry_id.h"
#include "pst/messaging/message_reader.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store_state.h"
#include "pst/messaging/store_tags.h"

namespace mailfold::pst {

Store::Store(std::unique_ptr<StoreState> state) : state_(std::move(state)) {}
Store::~Store() = default;

std::string Store::displayName() const { return state_->displayName; }
Bytes Store::entryId() const { return encodeEntryId({state_->uid, kNidMessageStore}); }
bool Store::writable() const { return !state_->closed && state_->db->writable(); }
bool Store::isNew() const { return state_->created; }

Folder Store::folder(ndb::Nid nid) {
  state_->requireOpen();
  if (!state_->isFolder(nid)) throw Error(ErrorKind::kNotFound, "store " + state_->path + " has no folder " + hex(nid));
  return Folder(state_.get(), nid);
}

Folder Store::ipmRoot() {
  state_->requireOpen();
  auto v = state_->property(kNidMessageStore, kPrIpmSubtreeEntryId);
  if (auto nid = v ? state_->ownFolderId(*v) : std::nullopt) return Folder(state_.get(), *nid);
  throw Error(ErrorKind::kCorrupt, "store " + state_->path + " records no valid IPM subtree entry id");
}

Folder Store::folderByPath(std::string_view path) {
  state_->requireOpen();
  Folder current = ipmRoot();
  std::string_view rest = path;
  // "\\<display name>" names the IPM root; components follow after one "\".
  if (rest.size() >= 2 && rest[0] == '\\' && rest[1] == '\\') {
    rest.remove_prefix(2);
    const std::size_t end = rest.find('\\');
    const std::string_view storeName = rest.substr(0, end);
    if (!sameNameIgnoringAsciiCase(storeName, state_->displayName))
      throw Error(ErrorKind::kNotFound, "Folder \"" + std::string(storeName) + "\" does not exist");
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
  }
  while (!rest.empty()) {
    if (rest.front() == '\\') {
      rest.remove_prefix(1);
      continue;
    }
    const std::size_t end = rest.find('\\');
    const std::string_view component = rest.substr(0, end);
    auto next = current.child(component);
    if (!next) throw Error(ErrorKind::kNotFound, "Folder \"" + std::string(component) + "\" does not exist");
    current = *next;
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
  }
  return current;
}

MessageModel Store::readMessage(ndb::Nid nid) {
  state_->requireOpen();
  if (ndb::nidType(nid) != ndb::kNidTypeNormalMessage && ndb::nidType(nid) != ndb::kNidTypeAssocMessage)
    throw Error(ErrorKind::kBadInput, "node " + hex(nid) + " is not a message");
  auto node = state_->db->openNode(nid);
  return pst::readMessage(*node, state_->names);
}

void Store::commit() {
  state_->requireOpen();
  if (!state_->db->writable()) return;
  state_->flushNames();
  state_->db->commit();
}

void Store::close() {
  if (state_->closed) return;
  if (state_->db->writable()) state_->flushNames();
  state_->db->close();
  state_->closed = true;
}

void Store::discard() {
  if (state_->closed) return;
  state_->closed = true;
  state_->db->discard();
}

}  // namespace mailfold::pst

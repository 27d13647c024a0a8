// Folders: a folder object with its hierarchy, contents and associated contents tables, listed
// in its parent's hierarchy table; and the Folder handle that reads and adds to one.
#include "pst/messaging/store.h"

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/message_properties.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store_state.h"
#include "pst/messaging/store_tags.h"
#include "pst/messaging/template_tables.h"

namespace mailfold::pst {

void StoreState::createTable(Nid nid, const ltp::TableLayout& layout) {
  auto node = db->createNode(nid, 0);
  ltp::TableContext::create(*node, layout);
}

PropertyBag StoreState::newFolderProperties(std::string_view name, std::string_view containerClass) {
  PropertyBag p;
  p.set(kPrDisplayName, std::string(name));
  p.set(kPrContentCount, std::int32_t{0});
  p.set(kPrContentUnreadCount, std::int32_t{0});
  p.set(kPrSubfolders, false);
  if (!containerClass.empty()) p.set(kPrContainerClass, std::string(containerClass));
  p.set(kPrPstHiddenCount, std::int32_t{0});
  p.set(kPrPstHiddenUnread, std::int32_t{0});
  return p;
}

void StoreState::createFolder(Nid nid, Nid parent, const PropertyBag& props) {
  {
    auto node = db->createNode(nid, parent);
    ltp::PropertyContext pc = ltp::PropertyContext::create(*node);
    for (const auto& [tag, value] : props.all()) pc.set(tag, value);
  }
  createTable(tableNid(nid, ndb::kNidTypeHierarchyTable), templateLayout(kNidHierarchyTemplate));
  createTable(tableNid(nid, ndb::kNidTypeContentsTable), templateLayout(kNidContentsTemplate));
  createTable(tableNid(nid, ndb::kNidTypeAssocContentsTable), templateLayout(kNidAssocContentsTemplate));
  if (parent != nid) addHierarchyRow(parent, nid, props);
}

void StoreState::addHierarchyRow(Nid parent, Nid child, const PropertyBag& childProps) {
  {
    auto node = db->openNode(tableNid(parent, ndb::kNidTypeHierarchyTable));
    ltp::TableContext table = ltp::TableContext::open(*node);
    // Rows follow the parent table's own columns (older stores have fewer than ours).
    ltp::RowValues cells = rowFor(table.layout(), childProps);
    cells[ltp::kTagLtpRowId] = static_cast<std::int32_t>(child);
    cells[ltp::kTagLtpRowVer] = std::int32_t{1};
    table.appendRow(child, cells);
  }
  if (!propertyAs<bool>(parent, kPrSubfolders).value_or(false)) {
    PropertyBag p;
    p.set(kPrSubfolders, true);
    updateFolder(parent, p);
  }
}

void StoreState::updateFolder(Nid folder, const PropertyBag& props) {
  setProperties(folder, props);
  const Nid parent = db->parentOf(folder);
  if (parent == folder || !db->hasNode(tableNid(parent, ndb::kNidTypeHierarchyTable))) return;
  auto node = db->openNode(tableNid(parent, ndb::kNidTypeHierarchyTable));
  ltp::TableContext table = ltp::TableContext::open(*node);
  if (!table.rowIndex(folder)) return;
  const ltp::RowValues cells = rowFor(table.layout(), props);
  if (!cells.empty()) table.updateRow(folder, cells);
}

std::string Folder::name() const {
  return state_->displayNameOf(nid_);
}

std::int32_t Folder::contentCount() const {
  return state_->propertyAs<std::int32_t>(nid_, kPrContentCount).value_or(0);
}

std::int32_t Folder::unreadCount() const {
  return state_->propertyAs<std::int32_t>(nid_, kPrContentUnreadCount).value_or(0);
}

std::vector<Folder> Folder::children() const {
  std::vector<Folder> out;
  for (Nid nid : state_->tableRowIds(tableNid(nid_, ndb::kNidTypeHierarchyTable)))
    if (state_->isFolder(nid)) out.push_back(Folder(state_, nid));
  return out;
}

std::optional<Folder> Folder::child(std::string_view name) const {
  for (const Folder& f : children())
    if (sameNameIgnoringAsciiCase(f.name(), name)) return f;
  return std::nullopt;
}

Folder Folder::addChild(std::string_view name, std::string_view containerClass) {
  state_->requireWritable();
  if (name.empty()) throw Error(ErrorKind::kBadInput, "a folder name must not be empty");
  if (ndb::nidType(nid_) != ndb::kNidTypeNormalFolder)
    throw Error(ErrorKind::kBadInput, "folder " + hex(nid_) + " is not a normal folder and cannot hold sub-folders");
  if (child(name)) throw Error(ErrorKind::kBadInput, "Folder \"" + std::string(name) + "\" exists already in \"" + this->name() + "\"");
  AllOrNothing change(*state_);
  const Nid nid = state_->newNid(ndb::kNidTypeNormalFolder);
  state_->createFolder(nid, nid_, state_->newFolderProperties(name, containerClass));
  state_->searchQueue().added(kSudFolderAdded, nid_, nid);
  change.keep();
  return Folder(state_, nid);
}

ndb::Nid Folder::addMessage(MessageModel m, std::optional<std::int32_t> messageFlags) {
  state_->requireWritable();
  if (ndb::nidType(nid_) != ndb::kNidTypeNormalFolder)
    throw Error(ErrorKind::kBadInput, "folder " + hex(nid_) + " is not a normal folder and cannot hold messages");
  completeMessage(m, fileTimeNow(), messageFlags);
  AllOrNothing change(*state_);
  const Nid nid = state_->newNid(ndb::kNidTypeNormalMessage);
  {
    auto node = state_->db->createNode(nid, nid_);
    MessageWriteContext ctx;
    const std::size_t namesBefore = state_->names.size();
    ctx.names = &state_->names;
    ctx.recipientLayout = &state_->templateLayout(kNidRecipientTemplate);
    ctx.attachmentLayout = &state_->templateLayout(kNidAttachmentTemplate);
    ctx.newMessageNid = [this] { return state_->newNid(ndb::kNidTypeNormalMessage); };
    m.props.set(kPrMessageSize, writeMessage(*node, m, ctx));
    if (state_->names.size() != namesBefore) state_->namesDirty = true;
  }
  // The contents-table row repeats the message's own values.
  {
    auto node = state_->db->openNode(tableNid(nid_, ndb::kNidTypeContentsTable));
    ltp::TableContext table = ltp::TableContext::open(*node);
    ltp::RowValues cells = rowFor(table.layout(), m.props);
    cells[ltp::kTagLtpRowId] = static_cast<std::int32_t>(nid);
    cells[ltp::kTagLtpRowVer] = std::int32_t{1};
    table.appendRow(nid, cells);
  }
  const bool unread = (*m.props.getAs<std::int32_t>(kPrMessageFlags) & kMsgFlagRead) == 0;
  PropertyBag counts;
  counts.set(kPrContentCount, contentCount() + 1);
  if (unread) counts.set(kPrContentUnreadCount, unreadCount() + 1);
  state_->updateFolder(nid_, counts);
  state_->searchQueue().added(kSudMessageAdded, nid_, nid);
  change.keep();
  return nid;
}

std::vector<ndb::Nid> Folder::messages() const {
  return state_->tableRowIds(tableNid(nid_, ndb::kNidTypeContentsTable));
}

Bytes Folder::entryId() const { return encodeEntryId({state_->uid, nid_}); }

}  // namespace mailfold::pst

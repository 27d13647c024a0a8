#include "pst/messaging/store_check.h"

#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/message_properties.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store_tags.h"
#include "pst/messaging/template_tables.h"
#include "pst/ndb/file.h"
#include "pst/ndb/ndb_check.h"
#include "pst/ndb/node_database.h"

namespace mailfold::pst {
namespace {

using ndb::Nid;

Nid sibling(Nid nid, ndb::NidType type) { return ndb::makeNid(type, ndb::nidIndex(nid)); }

// Presence by property id: 32-bit stores keep their strings as 8-bit (type 0x001E) values.
bool hasId(const std::map<PropTag, PropertyValue>& props, PropTag tag) {
  auto it = props.lower_bound(makeTag(tagId(tag), 0));
  return it != props.end() && tagId(it->first) == tagId(tag);
}
const PropertyValue* byId(const std::map<PropTag, PropertyValue>& props, PropTag tag) {
  auto it = props.lower_bound(makeTag(tagId(tag), 0));
  return it != props.end() && tagId(it->first) == tagId(tag) ? &it->second : nullptr;
}

std::string show(const PropertyValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return "\"" + *s + "\"";
  if (const auto* i = std::get_if<std::int32_t>(&v)) return std::to_string(*i);
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "true" : "false";
  if (const auto* t = std::get_if<FileTime>(&v)) return std::to_string(t->ticks);
  if (const auto* b = std::get_if<Bytes>(&v)) return std::to_string(b->size()) + " bytes";
  return "(value)";
}

class Checker {
 public:
  Checker(ndb::NodeDatabase& db, std::vector<std::string>& out, std::vector<std::string>& notes, std::size_t max)
      : db_(db), out_(out), notes_(notes), max_(max) {}

  void run() {
    for (const auto& info : db_.nodes()) {
      parents_[info.nid] = info.parent;
      if (ndb::nidType(info.nid) == ndb::kNidTypeNormalMessage) messagesIn_[info.parent].push_back(info.nid);
    }
    checkMandatoryNodes();
    checkMessageStore();
    sizesAreOccupiedBytes_ = hasCurrentContentsTemplate();
    for (const auto& [nid, parent] : parents_) {
      if (full()) return;
      const auto type = ndb::nidType(nid);
      if (type == ndb::kNidTypeNormalFolder) checkFolder(nid);
      if (type == ndb::kNidTypeNormalMessage) checkMessageNode(nid);
    }
  }

 private:
  bool full() const { return out_.size() >= max_; }
  void violation(std::string line) {
    if (!full()) out_.push_back(std::move(line));
  }
  void note(std::string line) {
    if (notes_.size() < max_) notes_.push_back(std::move(line));
  }

  std::optional<std::map<PropTag, PropertyValue>> properties(ndb::Node& node, const std::string& what) {
    try {
      return ltp::PropertyContext::open(node).readAll();
    } catch (const Error& e) {
      violation(what + ": property context does not decode: " + e.what());
      return std::nullopt;
    }
  }

  struct Table {
    ltp::TableLayout layout;
    std::vector<std::pair<std::uint32_t, ltp::RowValues>> rows;  // row id, cells
  };
  std::optional<Table> table(ndb::Node& node, const std::string& what) {
    try {
      ltp::TableContext tc = ltp::TableContext::open(node);
      Table t{tc.layout(), {}};
      for (std::uint32_t i = 0; i < tc.rowCount(); ++i) t.rows.emplace_back(tc.rowIdAt(i), tc.readRow(i));
      return t;
    } catch (const Error& e) {
      violation(what + ": table context does not decode: " + e.what());
      return std::nullopt;
    }
  }
  std::optional<Table> topTable(Nid nid, const std::string& what) {
    try {
      auto node = db_.openNode(nid);
      return table(*node, what);
    } catch (const Error& e) {
      violation(what + ": " + e.what());
      return std::nullopt;
    }
  }
  std::optional<std::map<PropTag, PropertyValue>> topProperties(Nid nid, const std::string& what) {
    try {
      auto node = db_.openNode(nid);
      return properties(*node, what);
    } catch (const Error& e) {
      violation(what + ": " + e.what());
      return std::nullopt;
    }
  }

  // Stores of Outlook 2010 and later (and ours) record each message's size as the bytes it
  // occupies; older Outlook used another formula, which is no fault in its files. They are told
  // apart by the contents-table template, which gained its last columns with Outlook 2010.
  bool hasCurrentContentsTemplate() {
    if (!db_.hasNode(kNidContentsTemplate)) return false;
    try {
      auto node = db_.openNode(kNidContentsTemplate);
      const ltp::TableLayout layout = ltp::TableContext::open(*node).layout();
      for (const auto& column : fixedTableLayout(kNidContentsTemplate)->columns)
        if (!layout.find(column.tag)) return false;
      return true;
    } catch (const Error&) {
      return false;  // reported with the template itself
    }
  }

  void checkMandatoryNodes() {
    const std::pair<Nid, const char*> required[] = {
        {kNidMessageStore, "message store"},
        {kNidNameToIdMap, "name-to-id map"},
        {kNidRootFolder, "root folder"},
        {kNidHierarchyTemplate, "hierarchy table template"},
        {kNidContentsTemplate, "contents table template"},
        {kNidAssocContentsTemplate, "associated contents table template"},
        {kNidSearchContentsTemplate, "search contents table template"},
        {kNidAttachmentTemplate, "attachment table template"},
        {kNidRecipientTemplate, "recipient table template"},
        {kNidSearchManagementQueue, "search management queue"},
        {kNidSearchActivityList, "search activity list"},
    };
    for (const auto& [nid, name] : required)
      if (!parents_.count(nid)) violation(std::string("mandatory node ") + hex(nid) + " (" + name + ") is missing");
    for (Nid nid : {kNidHierarchyTemplate, kNidContentsTemplate, kNidAssocContentsTemplate, kNidSearchContentsTemplate,
                    kNidAttachmentTemplate, kNidRecipientTemplate}) {
      if (!parents_.count(nid)) continue;
      auto t = topTable(nid, "template table " + hex(nid));
      if (t && !t->rows.empty()) violation("template table " + hex(nid) + " has " + std::to_string(t->rows.size()) + " rows, must have none");
    }
    if (parents_.count(kNidSearchManagementQueue)) {
      auto node = db_.openNode(kNidSearchManagementQueue);
      const std::uint64_t size = node->data().size();
      if (size % 20 != 0)
        violation("search management queue holds " + std::to_string(size) + " bytes, not a whole number of 20-byte records");
      else if (parents_[kNidSearchManagementQueue] > size)
        violation("search management queue head " + std::to_string(parents_[kNidSearchManagementQueue]) + " is past its " +
                  std::to_string(size) + " bytes");
    }
    if (parents_.count(kNidNameToIdMap)) {
      auto p = topProperties(kNidNameToIdMap, "name-to-id map " + hex(kNidNameToIdMap));
      if (p && !p->count(kPrNameidBucketCount)) violation("name-to-id map has no bucket count");
    }
  }

  void checkMessageStore() {
    if (!parents_.count(kNidMessageStore)) return;
    auto p = topProperties(kNidMessageStore, "message store");
    if (!p) return;
    auto rk = p->find(kPrRecordKey);
    const Bytes* key = rk == p->end() ? nullptr : std::get_if<Bytes>(&rk->second);
    if (!key || key->size() != 16) {
      violation("message store: record key (provider UID) missing or not 16 bytes");
      return;
    }
    std::copy(key->begin(), key->end(), uid_.bytes.begin());
    if (!hasId(*p, kPrDisplayName)) violation("message store: display name missing");
    const std::pair<PropTag, const char*> ids[] = {{kPrIpmSubtreeEntryId, "IPM subtree"},
                                                   {kPrIpmWastebasketEntryId, "Deleted Items"},
                                                   {kPrFinderEntryId, "search root"}};
    for (const auto& [tag, name] : ids) {
      auto it = p->find(tag);
      const Bytes* id = it == p->end() ? nullptr : std::get_if<Bytes>(&it->second);
      if (!id) {
        violation(std::string("message store: entry id of the ") + name + " missing");
        continue;
      }
      auto nid = nidOfOwnEntryId(*id, uid_);
      if (!nid) {
        violation(std::string("message store: entry id of the ") + name + " is not one of this store's ids");
      } else if (!parents_.count(*nid)) {
        violation(std::string("message store: entry id of the ") + name + " names node " + hex(*nid) + ", which is missing");
      }
    }
  }

  void checkFolder(Nid nid) {
    const std::string what = "folder " + hex(nid);
    auto props = topProperties(nid, what);
    if (!props) return;
    if (!hasId(*props, kPrDisplayName)) violation(what + ": display name missing");
    // Stores exported by Exchange leave the counts out; readers count the tables then.
    for (const auto& [tag, name] : {std::pair{kPrContentCount, "item count"}, std::pair{kPrContentUnreadCount, "unread count"},
                                    std::pair{kPrSubfolders, "sub-folder flag"}})
      if (!hasId(*props, tag)) note(what + ": no " + name + " recorded (readers count the folder's tables)");
    const std::string* folderName = byId(*props, kPrDisplayName) ? std::get_if<std::string>(byId(*props, kPrDisplayName)) : nullptr;
    const std::string named = what + " \"" + (folderName ? *folderName : "") + "\"";

    // Contents: the count, the rows and the message nodes below the folder agree.
    const Nid contentsNid = sibling(nid, ndb::kNidTypeContentsTable);
    const auto& children = messagesIn_[nid];
    if (parents_.count(contentsNid)) {
      auto contents = topTable(contentsNid, named + " contents table");
      if (contents) {
        std::int32_t unread = 0;
        std::set<Nid> rowIds;
        for (const auto& [rowId, cells] : contents->rows) {
          rowIds.insert(rowId);
          auto f = cells.find(kPrMessageFlags);
          if (f != cells.end())
            if (const auto* v = std::get_if<std::int32_t>(&f->second); v && !(*v & kMsgFlagRead)) ++unread;
          if (ndb::nidType(rowId) == ndb::kNidTypeNormalMessage) checkContentsRow(named, rowId, cells);
        }
        // A count may include the folder's hidden items (its associated contents), which
        // readers take off again: either way of counting agrees with the rows.
        auto countOf = [&](PropTag tag) -> std::optional<std::int32_t> {
          auto c = props->find(tag);
          const auto* v = c == props->end() ? nullptr : std::get_if<std::int32_t>(&c->second);
          return v ? std::optional<std::int32_t>(*v) : std::nullopt;
        };
        auto agrees = [](std::optional<std::int32_t> count, std::optional<std::int32_t> hidden, std::int64_t rows) {
          return *count == rows || (hidden && std::int64_t{*count} - *hidden == rows);
        };
        if (const auto count = countOf(kPrContentCount); count && !agrees(count, countOf(kPrPstHiddenCount), static_cast<std::int64_t>(contents->rows.size())))
          violation(named + ": content count " + std::to_string(*count) + " but " + std::to_string(contents->rows.size()) +
                    " contents rows");
        if (const auto count = countOf(kPrContentUnreadCount); count && !agrees(count, countOf(kPrPstHiddenUnread), unread))
          violation(named + ": unread count " + std::to_string(*count) + " but " + std::to_string(unread) + " unread rows");
        for (Nid m : children)
          if (!rowIds.count(m)) violation(named + ": message " + hex(m) + " has no contents row");
        for (Nid r : rowIds)
          if (ndb::nidType(r) == ndb::kNidTypeNormalMessage && (!parents_.count(r) || parents_[r] != nid))
            violation(named + ": contents row " + hex(r) + " names no message of this folder");
      }
    } else if (!children.empty()) {
      violation(named + ": holds " + std::to_string(children.size()) + " messages but has no contents table");
    }

    // Hierarchy: rows name sub-folders of this folder and repeat their properties.
    const Nid hierarchyNid = sibling(nid, ndb::kNidTypeHierarchyTable);
    if (parents_.count(hierarchyNid)) {
      auto hierarchy = topTable(hierarchyNid, named + " hierarchy table");
      if (!hierarchy) return;
      for (const auto& [rowId, cells] : hierarchy->rows) {
        if (!parents_.count(rowId)) {
          violation(named + ": hierarchy row " + hex(rowId) + " names a missing folder");
          continue;
        }
        if (parents_[rowId] != nid) {
          violation(named + ": hierarchy row " + hex(rowId) + " names a folder whose parent is " + hex(parents_[rowId]));
          continue;
        }
        auto child = topProperties(rowId, "folder " + hex(rowId));
        if (!child) continue;
        for (const auto& [tag, value] : cells) {
          if (tagId(tag) != tagId(kPrDisplayName) && tag != kPrContentCount && tag != kPrContentUnreadCount) continue;
          auto own = child->find(tag);
          if (own != child->end() && !(value == own->second))
            violation(named + ": hierarchy row " + hex(rowId) + " has " + ltp::tagName(tag) + " = " + show(value) +
                      " but the folder has " + show(own->second));
        }
      }
    }
  }

  void checkContentsRow(const std::string& folder, Nid message, const ltp::RowValues& cells) {
    if (!parents_.count(message)) return;  // reported by the caller
    auto props = topProperties(message, "message " + hex(message));
    if (!props) return;
    for (const auto& [tag, value] : cells) {
      if (tag == ltp::kTagLtpRowId || tag == ltp::kTagLtpRowVer) continue;
      auto own = props->find(tag);
      if (own == props->end()) continue;  // Outlook keeps cells of values it computes elsewhere
      if (tag == kPrMessageSize) {
        // Outlook's own rows lag the message's size by a few percent after it edits a message;
        // a larger gap means the row does not describe this message.
        const auto* a = std::get_if<std::int32_t>(&value);
        const auto* b = std::get_if<std::int32_t>(&own->second);
        if (a && b && std::llabs(std::int64_t{*a} - *b) * 16 <= std::max<std::int64_t>(*b, 1)) continue;
      }
      if (!(own->second == value))
        violation(folder + ": contents row of message " + hex(message) + " has " + ltp::tagName(tag) + " = " + show(value) +
                  " but the message has " + show(own->second));
    }
  }

  void checkMessageNode(Nid nid) {
    try {
      auto node = db_.openNode(nid);
      checkMessage(*node, "message " + hex(nid));
    } catch (const Error& e) {
      violation("message " + hex(nid) + ": " + e.what());
    }
  }

  void checkMessage(ndb::Node& node, const std::string& what) {
    auto props = properties(node, what);
    if (!props) return;
    for (const auto& [tag, name] : {std::pair{kPrMessageClass, "message class"}, std::pair{kPrMessageFlags, "message flags"},
                                    std::pair{kPrMessageSize, "message size"}})
      if (!hasId(*props, tag)) violation(what + ": " + name + " missing");
    if (node.hasSubnode(kNidMessageRecipientTable)) {
      auto sub = node.openSubnode(kNidMessageRecipientTable);
      table(*sub, what + " recipient table");
    }
    std::uint64_t attachmentBytes = 0;
    if (node.hasSubnode(kNidMessageAttachmentTable)) {
      auto sub = node.openSubnode(kNidMessageAttachmentTable);
      auto t = table(*sub, what + " attachment table");
      std::set<Nid> objects;
      for (Nid s : node.subnodeIds())
        if (ndb::nidType(s) == ndb::kNidTypeAttachment) objects.insert(s);
      if (t) {
        if (t->rows.size() != objects.size())
          violation(what + ": attachment table has " + std::to_string(t->rows.size()) + " rows but the message holds " +
                    std::to_string(objects.size()) + " attachment objects");
        for (const auto& [rowId, cells] : t->rows) {
          if (!objects.count(rowId)) {
            violation(what + ": attachment row " + hex(rowId) + " names a missing attachment object");
            continue;
          }
          auto att = node.openSubnode(rowId);
          ltp::PropertyContext pc = [&] { return ltp::PropertyContext::open(*att); }();
          if (auto tag = pc.tagOf(tagId(kPrAttachDataBin)); tag && *tag == kPrAttachDataBin)
            attachmentBytes += pc.storedSize(kPrAttachDataBin);
          std::uint64_t embeddedBytes = 0;
          if (auto ref = pc.get(kPtagAttachDataObject)) {
            const Bytes* b = std::get_if<Bytes>(&*ref);
            if (!b || b->size() < 4) {
              violation(what + ": attachment " + hex(rowId) + " has a malformed object reference");
            } else if (const Nid embedded = load<std::uint32_t>(b->data()); !att->hasSubnode(embedded)) {
              violation(what + ": attachment " + hex(rowId) + " names embedded message " + hex(embedded) + ", which is missing");
            } else {
              auto inner = att->openSubnode(embedded);
              checkMessage(*inner, what + " > attachment " + hex(rowId));
              embeddedBytes = occupiedBytes(*inner);
            }
          }
          if (sizesAreOccupiedBytes_) checkAttachmentSize(pc, embeddedBytes, what + ": attachment " + hex(rowId));
        }
      }
    }
    if (auto s = props->find(kPrMessageSize); s != props->end()) {
      const auto* size = std::get_if<std::int32_t>(&s->second);
      if (size && (*size < 0 || static_cast<std::uint64_t>(*size) < std::min<std::uint64_t>(attachmentBytes, INT32_MAX)))
        violation(what + ": message size " + std::to_string(*size) + " is below the " + std::to_string(attachmentBytes) +
                  " bytes of attachment data it holds");
      else if (size && sizesAreOccupiedBytes_ && *size != sizeProperty(occupiedBytes(node)))
        violation(what + ": message size " + std::to_string(*size) + " but the message occupies " +
                  std::to_string(occupiedBytes(node)) + " bytes");
    }
  }

  void checkAttachmentSize(ltp::PropertyContext& pc, std::uint64_t embeddedBytes, const std::string& what) {
    auto stored = pc.get(kPrAttachSize);
    const auto* size = stored ? std::get_if<std::int32_t>(&*stored) : nullptr;
    if (!size) return;  // optional
    std::uint64_t expected = embeddedBytes;
    for (const PropTag tag : pc.tags())
      if (tag != kPtagAttachDataObject)
        expected += ltp::fixedWidth(tagType(tag)) ? ltp::fixedWidth(tagType(tag)) : pc.storedSize(tag);
    if (*size != sizeProperty(expected))
      violation(what + ": attachment size " + std::to_string(*size) + " but its values and embedded message take " +
                std::to_string(expected) + " bytes");
  }

  ndb::NodeDatabase& db_;
  std::vector<std::string>& out_;
  std::vector<std::string>& notes_;
  std::size_t max_;
  Guid uid_;
  std::map<Nid, Nid> parents_;
  std::map<Nid, std::vector<Nid>> messagesIn_;
  bool sizesAreOccupiedBytes_ = false;
};

}  // namespace

StoreCheckReport examineStore(const std::string& path, const StoreCheckOptions& options) {
  StoreCheckReport report;
  // The shared lock is held until the check is over.
  std::unique_ptr<ndb::File> lock;
  try {
    lock = ndb::File::open(path, ndb::File::Mode::kRead);
    if (!lock->lockShared()) {
      report.beingWritten = true;
      return report;
    }
  } catch (const Error&) {
    // Reported by the open below.
  }
  std::vector<std::string>& out = report.violations;
  std::unique_ptr<ndb::NodeDatabase> db;
  try {
    db = ndb::NodeDatabase::open(path, ndb::OpenMode::kReadOnly);
  } catch (const Error& e) {
    out.push_back(std::string("cannot open the store: ") + e.what());
    return report;
  }
  if (options.checkNodeDatabase) {
    ndb::CheckOptions ndbOptions;
    ndbOptions.maxViolations = options.maxViolations;
    ndbOptions.requireFullDataBlocks = options.requireFullDataBlocks;
    ndb::CheckReport ndbReport = ndb::examineNdb(path, ndbOptions);
    out = std::move(ndbReport.violations);
    report.notes = std::move(ndbReport.notes);
  }
  if (out.size() >= options.maxViolations) return report;
  try {
    Checker(*db, out, report.notes, options.maxViolations).run();
  } catch (const Error& e) {
    out.push_back(std::string("checking stopped: ") + e.what());
  }
  return report;
}

std::vector<std::string> checkStore(const std::string& path, const StoreCheckOptions& options) {
  StoreCheckReport report = examineStore(path, options);
  if (report.beingWritten) return {path + " is being written by another program: not checked"};
  for (const auto& n : report.notes) report.violations.push_back("note: " + n);
  return report.violations;
}

}  // namespace mailfold::pst

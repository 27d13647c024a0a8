#include "pst/messaging/store.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/initial_named_properties.h"
#include "pst/messaging/message_properties.h"
#include "pst/messaging/message_reader.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/search_queue.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store_tags.h"
#include "pst/messaging/template_tables.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/node_database.h"

namespace mailfold::pst {
namespace {

using ndb::Nid;

Nid tableNid(Nid folder, ndb::NidType type) { return ndb::makeNid(type, ndb::nidIndex(folder)); }

bool isEmptyFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && std::filesystem::file_size(path, ec) == 0 && !ec;
}

bool sameNameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Folders every new store has, at the node ids Outlook 2010 to 365 give them.
constexpr Nid kNidIpmSubtree = 0x8022;
constexpr Nid kNidSearchRoot = 0x8042;
constexpr Nid kNidDeletedItems = 0x8062;
constexpr Nid kNidCommonViews = 0x8082;
constexpr Nid kNidSpamSearchFolder = 0x2223;
constexpr const char* kIpmSubtreeName = "Top of Personal Folders";

// A store password only asks Outlook to prompt for it; adding to such a store behind the
// owner's back would defeat the point, so only the holder of the password may add to it.
void requirePassword(ndb::NodeDatabase& db, const std::string& path, const std::optional<std::string>& password) {
  if (!db.hasNode(kNidMessageStore)) return;  // reported by the open itself
  auto node = db.openNode(kNidMessageStore);
  const auto v = ltp::PropertyContext::open(*node).get(kPrPstPassword);
  const std::int32_t* crc = v ? std::get_if<std::int32_t>(&*v) : nullptr;
  if (!crc || *crc == 0) return;
  if (!password)
    throw PasswordError("cannot add to store " + path + ": it is protected by a password", false);
  if (!Store::passwordMatches(*password, static_cast<std::uint32_t>(*crc)))
    throw PasswordError("cannot add to store " + path + ": the password is not the store's password", true);
}

// The Latin-1 bytes of UTF-8 text whose characters all have one.
std::optional<std::string> latin1Of(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() && (static_cast<std::uint8_t>(utf8[i + 1]) & 0xC0) == 0x80) {
      out += static_cast<char>(((c & 0x03) << 6) | (static_cast<std::uint8_t>(utf8[++i]) & 0x3F));
    } else {
      return std::nullopt;
    }
  }
  return out;
}

}  // namespace

// Everything a Store and its Folder handles share.
class StoreState {
 public:
  std::unique_ptr<ndb::NodeDatabase> db;
  Guid uid;
  std::string displayName;
  NameToIdMap names;
  bool namesDirty = false;
  bool closed = false;
  bool created = false;
  std::string path;
  std::map<Nid, ltp::TableLayout> templates;
  std::unique_ptr<SearchQueue> search;

  SearchQueue& searchQueue() {
    if (!search) search = std::make_unique<SearchQueue>(*db);
    return *search;
  }

  // The layout of the store's own template table `nid` (ours for a store we made; an older
  // Outlook's for stores it made), falling back to ours when the store has none.
  const ltp::TableLayout& templateLayout(Nid nid) {
    auto it = templates.find(nid);
    if (it != templates.end()) return it->second;
    ltp::TableLayout layout = *fixedTableLayout(nid);
    if (db->hasNode(nid)) {
      auto node = db->openNode(nid);
      layout = ltp::TableContext::open(*node).layout();
    }
    return templates.emplace(nid, std::move(layout)).first->second;
  }

  void requireOpen() const {
    if (closed) throw Error("store " + path + " is closed");
  }
  void requireWritable() const {
    requireOpen();
    if (!db->writable()) throw Error("store " + path + " is open for reading only");
  }

  // ---- properties of one node ----
  std::optional<PropertyValue> property(Nid nid, PropTag tag) {
    requireOpen();
    auto node = db->openNode(nid);
    return ltp::PropertyContext::open(*node).get(tag);
  }
  template <class T>
  std::optional<T> propertyAs(Nid nid, PropTag tag) {
    auto v = property(nid, tag);
    if (!v) return std::nullopt;
    if (const T* t = std::get_if<T>(&*v)) return *t;
    return std::nullopt;
  }
  void setProperties(Nid nid, const PropertyBag& props) {
    auto node = db->openNode(nid);
    ltp::PropertyContext pc = ltp::PropertyContext::open(*node);
    for (const auto& [tag, value] : props.all()) pc.set(tag, value);
  }

  // ---- folders ----
  Nid newNid(ndb::NidType type) {
    // Our fixed nodes are made with explicit ids; never hand one of them out again.
    for (int attempt = 0; attempt < 1 << 20; ++attempt) {
      const Nid nid = db->allocateNid(type);
      bool used = db->hasNode(nid);
      if (type == ndb::kNidTypeNormalFolder) {
        for (auto t : {ndb::kNidTypeHierarchyTable, ndb::kNidTypeContentsTable, ndb::kNidTypeAssocContentsTable})
          used = used || db->hasNode(tableNid(nid, t));
      }
      if (!used) return nid;
    }
    throw Error("store " + path + ": no free node id of type " + hex(type));
  }

  void createTable(Nid nid, const ltp::TableLayout& layout) {
    auto node = db->createNode(nid, 0);
    ltp::TableContext::create(*node, layout);
  }

  PropertyBag newFolderProperties(std::string_view name, std::string_view containerClass) {
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

  // Writes a folder object (property context and its three tables) and lists it in its parent.
  void createFolder(Nid nid, Nid parent, const PropertyBag& props) {
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

  void addHierarchyRow(Nid parent, Nid child, const PropertyBag& childProps) {
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

  // Sets folder properties and mirrors them in the parent's hierarchy row.
  void updateFolder(Nid folder, const PropertyBag& props) {
    setProperties(folder, props);
    const Nid parent = db->parentOf(folder);
    if (parent == folder || !db->hasNode(tableNid(parent, ndb::kNidTypeHierarchyTable))) return;
    auto node = db->openNode(tableNid(parent, ndb::kNidTypeHierarchyTable));
    ltp::TableContext table = ltp::TableContext::open(*node);
    if (!table.rowIndex(folder)) return;
    const ltp::RowValues cells = rowFor(table.layout(), props);
    if (!cells.empty()) table.updateRow(folder, cells);
  }

  std::vector<Nid> tableRowIds(Nid tableNode) {
    requireOpen();
    if (!db->hasNode(tableNode)) return {};  // some folders have no such table
    auto node = db->openNode(tableNode);
    ltp::TableContext table = ltp::TableContext::open(*node);
    std::vector<Nid> out;
    out.reserve(table.rowCount());
    for (std::uint32_t i = 0; i < table.rowCount(); ++i) out.push_back(table.rowIdAt(i));
    return out;
  }

  bool isFolder(Nid nid) {
    const auto t = ndb::nidType(nid);
    return (t == ndb::kNidTypeNormalFolder || t == ndb::kNidTypeSearchFolder) && db->hasNode(nid);
  }

  // The folder a recorded entry id names. Ids carry the store's UID; some stores made by Outlook
  // 2003 keep links recorded under an earlier UID of the same file, which still name the folder
  // by its node id, so a well-formed store entry id naming one of our folders is taken as well.
  // Ids of other providers (Exchange long-term ids, longer than 24 bytes) never match.
  std::optional<Nid> ownFolderId(const PropertyValue& v) {
    const Bytes* b = std::get_if<Bytes>(&v);
    if (!b) return std::nullopt;
    std::optional<Nid> nid = nidOfOwnEntryId(*b, uid);
    if (!nid && b->size() == kEntryIdSize && load<std::uint32_t>(b->data()) == 0) nid = load<std::uint32_t>(b->data() + 20);
    if (!nid || !isFolder(*nid)) return std::nullopt;
    return nid;
  }

  // ---- the receive folder table ----
  std::optional<Nid> receiveFolder() {
    if (!db->hasNode(kNidReceiveFolderTable)) return std::nullopt;
    auto node = db->openNode(kNidReceiveFolderTable);
    ltp::TableContext table = ltp::TableContext::open(*node);
    // The most specific class that names a folder wins; the root is no Inbox.
    std::optional<Nid> best;
    int bestRank = -1;
    for (std::uint32_t i = 0; i < table.rowCount(); ++i) {
      const ltp::RowValues row = table.readRow(i);
      auto cls = row.find(kPrMessageClass);
      auto target = row.find(kPrReceiveFolderNid);
      if (target == row.end()) continue;
      const auto* nid = std::get_if<std::int32_t>(&target->second);
      if (!nid) continue;
      const std::string c = cls == row.end() ? "" : std::get_if<std::string>(&cls->second) ? std::get<std::string>(cls->second) : "";
      const int rank = c.empty() ? 0 : c == "IPM" ? 1 : c == "IPM.Note" ? 2 : -1;
      const Nid n = static_cast<Nid>(*nid);
      if (rank > bestRank && n != kNidRootFolder && isFolder(n)) {
        best = n;
        bestRank = rank;
      }
    }
    return best;
  }

  void setReceiveFolder(Nid folder) {
    auto node = db->openNode(kNidReceiveFolderTable);
    ltp::TableContext table = ltp::TableContext::open(*node);
    for (std::uint32_t i = 0; i < table.rowCount(); ++i) {
      const ltp::RowValues row = table.readRow(i);
      auto cls = row.find(kPrMessageClass);
      const std::string* c = cls == row.end() ? nullptr : std::get_if<std::string>(&cls->second);
      if (c && !c->empty() && *c != "IPM" && *c != "IPM.Note") continue;
      table.updateRow(table.rowIdAt(i), {{kPrReceiveFolderNid, static_cast<std::int32_t>(folder)}});
    }
    // Like Outlook once a store has an Inbox: mail and reports ("", IPM, Report.IPM) go there,
    // interprocess messages (IPC) to the root.
    std::set<std::string> classes;
    for (std::uint32_t i = 0; i < table.rowCount(); ++i) {
      const ltp::RowValues row = table.readRow(i);
      auto cls = row.find(kPrMessageClass);
      const std::string* c = cls == row.end() ? nullptr : std::get_if<std::string>(&cls->second);
      classes.insert(c ? *c : std::string());
    }
    std::uint32_t id = 1;
    for (const auto& [rowId, index] : table.rowIds()) id = std::max(id, rowId + 1);
    for (const auto& [cls, target] : {std::pair<std::string, Nid>{"", folder}, {"IPM", folder}, {"Report.IPM", folder},
                                      {"IPC", kNidRootFolder}}) {
      if (classes.count(cls)) continue;
      table.appendRow(id, {{ltp::kTagLtpRowId, static_cast<std::int32_t>(id)},
                           {ltp::kTagLtpRowVer, std::int32_t{1}},
                           {kPrMessageClass, cls},
                           {kPrReceiveFolderNid, static_cast<std::int32_t>(target)}});
      ++id;
    }
  }

  void flushNames() {
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

  void loadNames() {
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
};

// ---------------------------------------------------------------------------------------------
// Folder

std::string Folder::name() const {
  return state_->propertyAs<std::string>(nid_, kPrDisplayName).value_or("");
}

std::string Folder::containerClass() const {
  return state_->propertyAs<std::string>(nid_, kPrContainerClass).value_or("");
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
  if (name.empty()) throw Error("a folder name must not be empty");
  if (ndb::nidType(nid_) != ndb::kNidTypeNormalFolder)
    throw Error("folder " + hex(nid_) + " is not a normal folder and cannot hold sub-folders");
  if (child(name)) throw Error("Folder \"" + std::string(name) + "\" exists already in \"" + this->name() + "\"");
  const Nid nid = state_->newNid(ndb::kNidTypeNormalFolder);
  state_->createFolder(nid, nid_, state_->newFolderProperties(name, containerClass));
  state_->searchQueue().added(kSudFolderAdded, nid_, nid);
  return Folder(state_, nid);
}

ndb::Nid Folder::addMessage(MessageModel m, std::optional<std::int32_t> messageFlags) {
  state_->requireWritable();
  if (ndb::nidType(nid_) != ndb::kNidTypeNormalFolder)
    throw Error("folder " + hex(nid_) + " is not a normal folder and cannot hold messages");
  completeMessage(m, fileTimeNow(), messageFlags);
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
  return nid;
}

std::vector<ndb::Nid> Folder::messages() const {
  return state_->tableRowIds(tableNid(nid_, ndb::kNidTypeContentsTable));
}

Bytes Folder::entryId() const { return encodeEntryId({state_->uid, nid_}); }

// ---------------------------------------------------------------------------------------------
// Store

Store::Store(std::unique_ptr<StoreState> state) : state_(std::move(state)) {}
Store::~Store() = default;

std::unique_ptr<Store> Store::create(const std::string& path, std::string_view displayName) {
  // An empty file holds nothing to lose (a placeholder made by the user or a file dialog).
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !isEmptyFile(path))
    throw Error("cannot create store " + path + ": the file exists already");
  auto state = std::make_unique<StoreState>();
  state->path = path;
  state->db = ndb::NodeDatabase::create(path);
  state->uid = randomGuid();
  state->displayName = std::string(displayName);
  state->created = true;
  StoreState& s = *state;
  try {
    auto entryIdOf = [&](Nid nid) { return encodeEntryId({s.uid, nid}); };
    // The message store object.
    {
      auto node = s.db->createNode(kNidMessageStore, 0);
      ltp::PropertyContext pc = ltp::PropertyContext::create(*node);
      const Bytes uid(s.uid.bytes.begin(), s.uid.bytes.end());
      pc.set(kPrRecordKey, uid);
      pc.set(kPrDisplayName, s.displayName);
      pc.set(kPrIpmSubtreeEntryId, entryIdOf(kNidIpmSubtree));
      pc.set(kPrIpmWastebasketEntryId, entryIdOf(kNidDeletedItems));
      pc.set(kPrFinderEntryId, entryIdOf(kNidSearchRoot));
      pc.set(kPrCommonViewsEntryId, entryIdOf(kNidCommonViews));
      pc.set(kPrValidFolderMask, kFolderIpmSubtreeValid | kFolderIpmWastebasketValid | kFolderCommonViewsValid |
                                     kFolderFinderValid);
      pc.set(kPrReplFlags, std::int32_t{0});
      pc.set(kPrPstLrNoRestrictions, true);
      pc.set(kPrPstPassword, std::int32_t{0});
    }
    // The name-to-id map with the names Outlook registers in a new store.
    {
      auto node = s.db->createNode(kNidNameToIdMap, 0);
      ltp::PropertyContext::create(*node);
      for (const NamedPropertyKey& key : initialNamedProperties()) s.names.add(key);
      s.namesDirty = true;
      s.flushNames();
    }
    // Template tables and the store's other fixed tables.
    for (const FixedTable& t : fixedTables()) s.createTable(t.nid, t.layout);
    // Search management: an empty queue, the activity list naming the spam search folder, no domain.
    s.db->createNode(kNidSearchManagementQueue, 0);
    {
      auto node = s.db->createNode(kNidSearchActivityList, 0);
      Bytes list(4);
      store<std::uint32_t>(list.data(), kNidSpamSearchFolder);
      node->data().writeBlock(0, list);
    }
    s.db->createNode(kNidSearchDomainObject, 0);

    // The folder tree: root, IPM subtree with Deleted Items, search root, common views, spam search.
    s.createFolder(kNidRootFolder, kNidRootFolder, s.newFolderProperties("", ""));
    s.createFolder(kNidIpmSubtree, kNidRootFolder, s.newFolderProperties(kIpmSubtreeName, ""));
    s.createFolder(kNidSearchRoot, kNidRootFolder, s.newFolderProperties("Search Root", ""));
    {
      PropertyBag p = s.newFolderProperties("SPAM Search Folder 2", "");
      {
        auto node = s.db->createNode(kNidSpamSearchFolder, kNidRootFolder);
        ltp::PropertyContext pc = ltp::PropertyContext::create(*node);
        for (const auto& [tag, value] : p.all()) pc.set(tag, value);
      }
      s.db->createNode(tableNid(kNidSpamSearchFolder, ndb::kNidTypeSearchUpdateQueue), 0);
      {
        auto node = s.db->createNode(tableNid(kNidSpamSearchFolder, ndb::kNidTypeSearchCriteriaObject), 0);
        ltp::PropertyContext pc = ltp::PropertyContext::create(*node);
        pc.set(makeTag(0x660B, kPtInt32), std::int32_t{0});  // search state: none
      }
      s.createTable(tableNid(kNidSpamSearchFolder, ndb::kNidTypeSearchContentsTable), *fixedTableLayout(kNidSearchContentsTemplate));
      s.addHierarchyRow(kNidRootFolder, kNidSpamSearchFolder, p);
    }
    s.createFolder(kNidCommonViews, kNidRootFolder, s.newFolderProperties("IPM_COMMON_VIEWS", ""));
    s.createFolder(kNidDeletedItems, kNidIpmSubtree, s.newFolderProperties("Deleted Items", ""));
    // Mail with no more specific receive folder goes to the root until an Inbox exists.
    {
      auto node = s.db->openNode(kNidReceiveFolderTable);
      ltp::TableContext table = ltp::TableContext::open(*node);
      table.appendRow(1, {{ltp::kTagLtpRowId, std::int32_t{1}},
                          {ltp::kTagLtpRowVer, std::int32_t{1}},
                          {kPrMessageClass, std::string()},
                          {kPrReceiveFolderNid, static_cast<std::int32_t>(kNidRootFolder)}});
    }
    s.db->commit();
  } catch (const Error& e) {
    throw Error("creating store " + path + ": " + e.what());
  }
  return std::unique_ptr<Store>(new Store(std::move(state)));
}

bool Store::passwordMatches(std::string_view password, std::uint32_t recorded) {
  auto crcOf = [](std::string_view bytes) {
    return ndb::crc32(ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  };
  if (crcOf(password) == recorded) return true;
  const auto latin1 = latin1Of(password);
  return latin1 && *latin1 != password && crcOf(*latin1) == recorded;
}

std::unique_ptr<Store> Store::open(const std::string& path, bool writable, const std::optional<std::string>& password) {
  // A store we may not add to is turned away before the writable open, which may already
  // tidy the file (cut off an unfinished transaction, rebuild untrusted maps).
  if (writable) {
    auto reader = ndb::NodeDatabase::open(path, ndb::OpenMode::kReadOnly);
    if (!reader->format().unicode)
      throw Error("cannot add to store " + path + ": it is in the old 32-bit (ANSI) format, which can be read but not changed");
    requirePassword(*reader, path, password);
  }
  auto state = std::make_unique<StoreState>();
  state->path = path;
  state->db = ndb::NodeDatabase::open(path, writable ? ndb::OpenMode::kReadWrite : ndb::OpenMode::kReadOnly);
  StoreState& s = *state;
  if (writable) requirePassword(*s.db, path, password);  // again, now that the file is ours
  try {
    if (!s.db->hasNode(kNidMessageStore)) throw Error("it has no message store object (node 0x21)");
    auto uid = s.propertyAs<Bytes>(kNidMessageStore, kPrRecordKey);
    if (!uid || uid->size() != 16) throw Error("its message store object has no 16-byte record key");
    std::copy(uid->begin(), uid->end(), s.uid.bytes.begin());
    s.displayName = s.propertyAs<std::string>(kNidMessageStore, kPrDisplayName).value_or("");
    if (!s.isFolder(kNidRootFolder)) throw Error("it has no root folder (node 0x122)");
    s.loadNames();
  } catch (const Error& e) {
    throw Error("opening store " + path + ": " + e.what());
  }
  return std::unique_ptr<Store>(new Store(std::move(state)));
}

std::unique_ptr<Store> Store::openOrCreate(const std::string& path, std::string_view displayName,
                                           const std::optional<std::string>& password) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !isEmptyFile(path)) return open(path, true, password);
  return create(path, displayName);
}

std::string Store::displayName() const { return state_->displayName; }
Guid Store::providerUid() const { return state_->uid; }
Bytes Store::entryId() const { return encodeEntryId({state_->uid, kNidMessageStore}); }
bool Store::writable() const { return !state_->closed && state_->db->writable(); }
bool Store::isNew() const { return state_->created; }

Folder Store::rootFolder() {
  state_->requireOpen();
  return Folder(state_.get(), kNidRootFolder);
}

Folder Store::ipmRoot() {
  state_->requireOpen();
  auto v = state_->property(kNidMessageStore, kPrIpmSubtreeEntryId);
  if (auto nid = v ? state_->ownFolderId(*v) : std::nullopt) return Folder(state_.get(), *nid);
  throw Error("store " + state_->path + " records no valid IPM subtree entry id");
}

Folder Store::folder(ndb::Nid nid) {
  state_->requireOpen();
  if (!state_->isFolder(nid)) throw Error("store " + state_->path + " has no folder " + hex(nid));
  return Folder(state_.get(), nid);
}

std::optional<Folder> Store::findDefaultFolder(int kind) {
  state_->requireOpen();
  const auto info = defaultFolderInfo(kind);
  if (!info) throw Error("unknown default folder kind " + std::to_string(kind));
  StoreState& s = *state_;
  auto wrap = [&](std::optional<Nid> nid) -> std::optional<Folder> {
    if (!nid) return std::nullopt;
    return Folder(&s, *nid);
  };
  switch (info->record) {
    case FolderRecord::kStoreProperty: {
      auto v = s.property(kNidMessageStore, info->tag);
      return wrap(v ? s.ownFolderId(*v) : std::nullopt);
    }
    case FolderRecord::kReceiveFolder:
      return wrap(s.receiveFolder());
    case FolderRecord::kInboxProperty:
    case FolderRecord::kInboxAdditionalRen: {
      // Outlook reads these on the Inbox first, then on the root folder.
      std::vector<Nid> holders;
      if (auto inbox = s.receiveFolder()) holders.push_back(*inbox);
      holders.push_back(kNidRootFolder);
      for (Nid holder : holders) {
        auto v = s.property(holder, info->tag);
        if (!v) continue;
        if (info->record == FolderRecord::kInboxProperty) {
          if (auto nid = s.ownFolderId(*v)) return Folder(&s, *nid);
        } else if (const auto* list = std::get_if<std::vector<Bytes>>(&*v); list && info->renIndex < list->size()) {
          if (auto nid = s.ownFolderId((*list)[info->renIndex])) return Folder(&s, *nid);
        }
      }
      return std::nullopt;
    }
  }
  return std::nullopt;
}

Folder Store::defaultFolder(int kind) {
  if (auto f = findDefaultFolder(kind)) return *f;
  throw Error("store " + state_->path + " records no " + defaultFolderInfo(kind)->name + " folder");
}

void Store::validateIpmTree() {
  StoreState& s = *state_;
  s.requireWritable();
  Folder ipm = ipmRoot();
  for (const DefaultFolderInfo& info : defaultFolders()) {
    if (findDefaultFolder(static_cast<int>(info.kind))) continue;
    // A folder of that name that nothing records (made by hand, or by a tool) is taken over
    // rather than doubled.
    std::optional<Folder> existing = ipm.child(info.name);
    const Folder f = existing ? *existing : ipm.addChild(info.name, info.containerClass);
    const Bytes id = f.entryId();
    switch (info.record) {
      case FolderRecord::kStoreProperty: {
        PropertyBag p;
        p.set(info.tag, id);
        std::int32_t mask = s.propertyAs<std::int32_t>(kNidMessageStore, kPrValidFolderMask).value_or(0);
        mask |= info.kind == DefaultFolder::kOutbox        ? kFolderIpmOutboxValid
                : info.kind == DefaultFolder::kSentItems   ? kFolderIpmSentMailValid
                : info.kind == DefaultFolder::kDeletedItems ? kFolderIpmWastebasketValid
                                                            : 0;
        p.set(kPrValidFolderMask, mask);
        s.setProperties(kNidMessageStore, p);
        break;
      }
      case FolderRecord::kReceiveFolder: {
        s.setReceiveFolder(f.nid());
        PropertyBag p;
        p.set(kPrValidFolderMask,
              s.propertyAs<std::int32_t>(kNidMessageStore, kPrValidFolderMask).value_or(0) | kFolderIpmInboxValid);
        s.setProperties(kNidMessageStore, p);
        break;
      }
      case FolderRecord::kInboxProperty: {
        PropertyBag p;
        p.set(info.tag, id);
        s.setProperties(defaultFolder(static_cast<int>(DefaultFolder::kInbox)).nid(), p);
        break;
      }
      case FolderRecord::kInboxAdditionalRen: {
        const Nid inbox = defaultFolder(static_cast<int>(DefaultFolder::kInbox)).nid();
        std::vector<Bytes> list = s.propertyAs<std::vector<Bytes>>(inbox, info.tag).value_or(std::vector<Bytes>{});
        if (list.size() <= info.renIndex) list.resize(info.renIndex + 1);
        list[info.renIndex] = id;
        PropertyBag p;
        p.set(info.tag, list);
        s.setProperties(inbox, p);
        break;
      }
    }
  }
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
      throw Error("Folder \"" + std::string(storeName) + "\" does not exist");
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
    if (!next) throw Error("Folder \"" + std::string(component) + "\" does not exist");
    current = *next;
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
  }
  return current;
}

MessageModel Store::readMessage(ndb::Nid nid) {
  state_->requireOpen();
  if (ndb::nidType(nid) != ndb::kNidTypeNormalMessage && ndb::nidType(nid) != ndb::kNidTypeAssocMessage)
    throw Error("node " + hex(nid) + " is not a message");
  auto node = state_->db->openNode(nid);
  return pst::readMessage(*node, state_->names);
}

const NameToIdMap& Store::namedProperties() const { return state_->names; }

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

}  // namespace mailfold::pst

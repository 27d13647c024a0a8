// A new store: the message store object, the name-to-id map, the template and other fixed
// tables, search management, and the folders every store has, as Outlook 2010 to 365 lay out
// a new store of their own.
#include <filesystem>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/initial_named_properties.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_state.h"
#include "pst/messaging/store_tags.h"
#include "pst/messaging/template_tables.h"

namespace mailfold::pst {
namespace {

// Folders every new store has, at the node ids Outlook 2010 to 365 give them.
constexpr Nid kNidIpmSubtree = 0x8022;
constexpr Nid kNidSearchRoot = 0x8042;
constexpr Nid kNidDeletedItems = 0x8062;
constexpr Nid kNidCommonViews = 0x8082;
constexpr Nid kNidSpamSearchFolder = 0x2223;
constexpr const char* kIpmSubtreeName = "Top of Personal Folders";

}  // namespace

std::unique_ptr<Store> Store::create(const std::string& path, std::string_view displayName) {
  // An empty file holds nothing to lose (a placeholder made by the user or a file dialog).
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !isEmptyFile(path))
    throw Error(ErrorKind::kRefused, "cannot create store " + path + ": the file exists already");
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
    throw Error("creating store " + path + ": ", e);
  }
  return std::unique_ptr<Store>(new Store(std::move(state)));
}

}  // namespace mailfold::pst

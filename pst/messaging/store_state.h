// What a Store and its Folder handles share: the open node database, the store's identity and
// named-property map, and the operations on nodes that folders, default folders and the store
// itself are built from. Internal to the messaging layer; the interface is store.h.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pst/ltp/table_layout.h"
#include "pst/messaging/message_model.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/search_queue.h"
#include "pst/ndb/node_database.h"

namespace mailfold::pst {

using ndb::Nid;

// The node of one of a folder's tables (hierarchy, contents, ...): the folder's index, the table's type.
inline Nid tableNid(Nid folder, ndb::NidType type) { return ndb::makeNid(type, ndb::nidIndex(folder)); }

bool isEmptyFile(const std::string& path);
bool sameNameIgnoringAsciiCase(std::string_view a, std::string_view b);

class StoreState;

// One change of the store that happens whole or not at all, like adding a folder or a message:
// until keep() is called, destroying the guard (an exception on the way) undoes every change made
// under it, in the node database (a savepoint of its open transaction) and in the named-property
// map. Nothing the user can see is left of a failed change, so a commit after it is safe. A
// guard inside another one leaves the decision to the outer one.
class AllOrNothing {
 public:
  explicit AllOrNothing(StoreState& state);
  ~AllOrNothing();
  AllOrNothing(const AllOrNothing&) = delete;
  AllOrNothing& operator=(const AllOrNothing&) = delete;
  void keep();

 private:
  StoreState& state_;
  bool outermost_ = false;
  bool kept_ = false;
  NameToIdMap::Mark names_;
  bool namesDirty_ = false;
};

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

  SearchQueue& searchQueue();
  // The layout of the store's own template table `nid` (ours for a store we made; an older
  // Outlook's for stores it made), falling back to ours when the store has none.
  const ltp::TableLayout& templateLayout(Nid nid);
  void requireOpen() const;
  void requireWritable() const;

  // ---- properties of one node ----
  std::optional<PropertyValue> property(Nid nid, PropTag tag);
  template <class T>
  std::optional<T> propertyAs(Nid nid, PropTag tag) {
    auto v = property(nid, tag);
    if (!v) return std::nullopt;
    if (const T* t = std::get_if<T>(&*v)) return *t;
    return std::nullopt;
  }
  void setProperties(Nid nid, const PropertyBag& props);
  // PR_DISPLAY_NAME as UTF-8, "" when there is none. A 32-bit (ANSI) store keeps it as an
  // 8-bit string in the code page of the Windows that wrote it, read here as windows-1252, the
  // western one.
  std::string displayNameOf(Nid nid);

  // ---- node ids and folders ----
  Nid newNid(ndb::NidType type);
  std::vector<Nid> tableRowIds(Nid tableNode);
  bool isFolder(Nid nid);
  // The folder a recorded entry id names. Ids carry the store's UID; some stores made by Outlook
  // 2003 keep links recorded under an earlier UID of the same file, which still name the folder
  // by its node id, so a well-formed store entry id naming one of our folders is taken as well.
  // Ids of other providers (Exchange long-term ids, longer than 24 bytes) never match.
  std::optional<Nid> ownFolderId(const PropertyValue& v);

  // ---- making folders (folder.cpp) ----
  void createTable(Nid nid, const ltp::TableLayout& layout);
  PropertyBag newFolderProperties(std::string_view name, std::string_view containerClass);
  // Writes a folder object (property context and its three tables) and lists it in its parent.
  void createFolder(Nid nid, Nid parent, const PropertyBag& props);
  void addHierarchyRow(Nid parent, Nid child, const PropertyBag& childProps);
  // Sets folder properties and mirrors them in the parent's hierarchy row.
  void updateFolder(Nid folder, const PropertyBag& props);

  // ---- the receive folder table (default_folder_records.cpp) ----
  std::optional<Nid> receiveFolder();
  void setReceiveFolder(Nid folder);

  // ---- the name-to-id map's node (store_named_properties.cpp) ----
  void flushNames();
  void loadNames();
};

}  // namespace mailfold::pst

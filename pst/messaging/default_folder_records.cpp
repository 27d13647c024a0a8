// Where a store records its default folders and how they are found and made: entry ids among
// the message store's properties, the receive folder table (the Inbox), the Inbox's own
// properties. See default_folders.h for the list.
#include <algorithm>
#include <set>

#include "pst/ltp/table_context.h"
#include "pst/messaging/default_folders.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_state.h"
#include "pst/messaging/store_tags.h"
#include "pst/messaging/template_tables.h"

namespace mailfold::pst {

std::optional<Nid> StoreState::receiveFolder() {
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

void StoreState::setReceiveFolder(Nid folder) {
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

std::optional<Folder> Store::findDefaultFolder(int kind) {
  state_->requireOpen();
  const auto info = defaultFolderInfo(kind);
  if (!info) throw Error(ErrorKind::kBadInput, "unknown default folder kind " + std::to_string(kind));
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
  throw Error(ErrorKind::kNotFound, "store " + state_->path + " records no " + defaultFolderInfo(kind)->name + " folder");
}

void Store::validateIpmTree() {
  StoreState& s = *state_;
  s.requireWritable();
  Folder ipm = ipmRoot();
  for (const DefaultFolderInfo& info : defaultFolders()) {
    if (findDefaultFolder(static_cast<int>(info.kind))) continue;
    // Each folder is made and recorded together, or not at all.
    AllOrNothing change(s);
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
    change.keep();
  }
}

}  // namespace mailfold::pst

#include "pst/messaging/store_state.h"

#include <filesystem>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ltp/windows1252.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/template_tables.h"

namespace mailfold::pst {

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

AllOrNothing::AllOrNothing(StoreState& state) : state_(state) {
  if (state_.db->inSavepoint()) return;
  state_.db->beginSavepoint();
  outermost_ = true;
  names_ = state_.names.mark();
  namesDirty_ = state_.namesDirty;
}

AllOrNothing::~AllOrNothing() {
  if (!outermost_ || kept_) return;
  try {
    state_.db->rollbackToSavepoint();
    state_.names.rollback(names_);
    state_.namesDirty = namesDirty_;
  } catch (const Error&) {
    // Only a broken rule of this code gets here.
  }
}

void AllOrNothing::keep() {
  if (!outermost_ || kept_) return;
  state_.db->releaseSavepoint();
  kept_ = true;
}

SearchQueue& StoreState::searchQueue() {
  if (!search) search = std::make_unique<SearchQueue>(*db);
  return *search;
}

const ltp::TableLayout& StoreState::templateLayout(Nid nid) {
  auto it = templates.find(nid);
  if (it != templates.end()) return it->second;
  ltp::TableLayout layout = *fixedTableLayout(nid);
  if (db->hasNode(nid)) {
    auto node = db->openNode(nid);
    layout = ltp::TableContext::open(*node).layout();
  }
  return templates.emplace(nid, std::move(layout)).first->second;
}

void StoreState::requireOpen() const {
  if (closed) throw Error(ErrorKind::kRefused, "store " + path + " is closed");
}

void StoreState::requireWritable() const {
  requireOpen();
  if (!db->writable()) throw Error(ErrorKind::kRefused, "store " + path + " is open for reading only");
}

std::optional<PropertyValue> StoreState::property(Nid nid, PropTag tag) {
  requireOpen();
  auto node = db->openNode(nid);
  return ltp::PropertyContext::open(*node).get(tag);
}

std::string StoreState::displayNameOf(Nid nid) {
  requireOpen();
  auto node = db->openNode(nid);
  ltp::PropertyContext pc = ltp::PropertyContext::open(*node);
  if (auto value = pc.get(kPrDisplayName)) {
    if (const auto* name = std::get_if<std::string>(&*value)) return *name;
  }
  if (auto value = pc.get(makeTag(tagId(kPrDisplayName), kPtString8))) {
    if (const auto* bytes = std::get_if<std::string>(&*value)) return ltp::windows1252ToUtf8(*bytes);
  }
  return {};
}

void StoreState::setProperties(Nid nid, const PropertyBag& props) {
  auto node = db->openNode(nid);
  ltp::PropertyContext pc = ltp::PropertyContext::open(*node);
  for (const auto& [tag, value] : props.all()) pc.set(tag, value);
}

Nid StoreState::newNid(ndb::NidType type) {
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
  throw Error(ErrorKind::kRefused, "store " + path + ": no free node id of type " + hex(type));
}

std::vector<Nid> StoreState::tableRowIds(Nid tableNode) {
  requireOpen();
  if (!db->hasNode(tableNode)) return {};  // some folders have no such table
  auto node = db->openNode(tableNode);
  ltp::TableContext table = ltp::TableContext::open(*node);
  std::vector<Nid> out;
  out.reserve(table.rowCount());
  for (std::uint32_t i = 0; i < table.rowCount(); ++i) out.push_back(table.rowIdAt(i));
  return out;
}

bool StoreState::isFolder(Nid nid) {
  const auto t = ndb::nidType(nid);
  return (t == ndb::kNidTypeNormalFolder || t == ndb::kNidTypeSearchFolder) && db->hasNode(nid);
}

std::optional<Nid> StoreState::ownFolderId(const PropertyValue& v) {
  const Bytes* b = std::get_if<Bytes>(&v);
  if (!b) return std::nullopt;
  std::optional<Nid> nid = nidOfOwnEntryId(*b, uid);
  if (!nid && b->size() == kEntryIdSize && load<std::uint32_t>(b->data()) == 0) nid = load<std::uint32_t>(b->data() + 20);
  if (!nid || !isFolder(*nid)) return std::nullopt;
  return nid;
}

}  // namespace mailfold::pst

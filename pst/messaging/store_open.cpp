// Opening a store that exists, and refusing to add to one that must not be changed: the 32-bit
// (ANSI) format, and stores protected by a password without that password.
#include <filesystem>

#include "pst/ltp/property_context.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_state.h"
#include "pst/messaging/store_tags.h"
#include "pst/messaging/template_tables.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/file.h"
#include "pst/ndb/header.h"

namespace mailfold::pst {
namespace {

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

bool hasStoreHeader(const std::string& path) {
  try {
    auto file = ndb::File::open(path, ndb::File::Mode::kRead);
    (void)ndb::decodeHeader(file->read(0, ndb::kHeaderReadSize, "header"));
    return true;
  } catch (const Error&) {
    return false;
  }
}

// A conversion changes the folders it adds to (their objects and tables), the named-property
// map and the search queue, and reads the store's other fixed nodes: their blocks are read and
// checked before anything is added, so that a store damaged there is turned away instead of
// being built on. Messages are never changed and are not read.
void checkNodesToChange(ndb::NodeDatabase& db, const std::string& path) {
  for (const ndb::NodeInfo& info : db.nodes()) {
    const auto type = ndb::nidType(info.nid);
    const bool touched = type == ndb::kNidTypeInternal || type == ndb::kNidTypeNormalFolder ||
                         type == ndb::kNidTypeReceiveFolderTable || type == ndb::kNidTypeHierarchyTable ||
                         type == ndb::kNidTypeContentsTable || type == ndb::kNidTypeAssocContentsTable ||
                         info.nid == kNidSearchContentsTemplate || info.nid == kNidAttachmentTemplate ||
                         info.nid == kNidRecipientTemplate;
    if (!touched) continue;
    try {
      db.checkNodeBlocks(info.nid);
    } catch (const Error& e) {
      if (e.kind() != ErrorKind::kCorrupt) throw;
      throw ndb::damagedStoreError(path, e.what());
    }
  }
}

}  // namespace

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
    std::unique_ptr<ndb::NodeDatabase> reader;
    try {
      reader = ndb::NodeDatabase::open(path, ndb::OpenMode::kReadOnly);
    } catch (const Error& e) {
      // A file with a store's header whose trees do not read is a damaged store, not a
      // file of another kind.
      if (e.kind() == ErrorKind::kCorrupt && hasStoreHeader(path)) throw ndb::damagedStoreError(path, e.what());
      throw;
    }
    if (!reader->format().unicode)
      throw Error(ErrorKind::kRefused, "cannot add to store " + path + ": it is in the old 32-bit (ANSI) format, which can be read but not changed");
    requirePassword(*reader, path, password);
  }
  auto state = std::make_unique<StoreState>();
  state->path = path;
  state->db = ndb::NodeDatabase::open(path, writable ? ndb::OpenMode::kReadWrite : ndb::OpenMode::kReadOnly);
  StoreState& s = *state;
  if (writable) {
    requirePassword(*s.db, path, password);  // again, now that the file is ours
    checkNodesToChange(*s.db, path);
  }
  try {
    if (!s.db->hasNode(kNidMessageStore)) throw Error(ErrorKind::kCorrupt, "it has no message store object (node 0x21)");
    auto uid = s.propertyAs<Bytes>(kNidMessageStore, kPrRecordKey);
    if (!uid || uid->size() != 16) throw Error(ErrorKind::kCorrupt, "its message store object has no 16-byte record key");
    std::copy(uid->begin(), uid->end(), s.uid.bytes.begin());
    s.displayName = s.displayNameOf(kNidMessageStore);
    if (!s.isFolder(kNidRootFolder)) throw Error(ErrorKind::kCorrupt, "it has no root folder (node 0x122)");
    s.loadNames();
  } catch (const Error& e) {
    throw Error("opening store " + path + ": ", e);
  }
  return std::unique_ptr<Store>(new Store(std::move(state)));
}

std::unique_ptr<Store> Store::openOrCreate(const std::string& path, std::string_view displayName,
                                           const std::optional<std::string>& password) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !isEmptyFile(path)) return open(path, true, password);
  return create(path, displayName);
}

}  // namespace mailfold::pst

// Adding a folder or a message happens whole or not at all: a failure at any step (a damaged
// parent table, a value that cannot be stored, a failed write) leaves no node, row, count or
// name behind, so the commit that follows writes the store as it was plus what did succeed.
#include <gtest/gtest.h>

#include <functional>

#include "pst/ltp/table_context.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "pst/messaging/store_tags.h"
#include "pst/ndb/file.h"
#include "safety_fixture.h"
#include "support/error_kind.h"
#include "support/temp_dir.h"
#include "tools/crashtest/crash_messages.h"

namespace mailfold::pst::safety {
namespace {

// What a failed add must not change: the nodes and their parents, every folder's counts, the
// checker's verdict and the named-property map.
struct Snapshot {
  std::map<ndb::Nid, ndb::Nid> nodes;
  std::vector<std::string> folders;
  std::vector<std::string> check;
  Bytes names;
};

Snapshot snapshotOf(const std::string& path) {
  Snapshot s;
  {
    auto db = ndb::NodeDatabase::open(path);
    for (const auto& n : db->nodes()) s.nodes[n.nid] = n.parent;
    auto names = db->openNode(kNidNameToIdMap);
    s.names = ndb::readAll(names->data());
    for (ndb::Nid sub : names->subnodeIds()) {
      const Bytes b = ndb::readAll(names->openSubnode(sub)->data());
      s.names.insert(s.names.end(), b.begin(), b.end());
    }
  }
  auto store = Store::open(path, false);
  std::function<void(const Folder&, const std::string&)> walk = [&](const Folder& f, const std::string& at) {
    s.folders.push_back(at + " " + std::to_string(f.contentCount()) + " " + std::to_string(f.unreadCount()));
    for (const Folder& c : f.children()) walk(c, at + "\\" + c.name());
  };
  walk(store->ipmRoot(), "");
  s.check = checkStore(path);
  return s;
}

// A store of ours: a folder "Mail" with messages and a sub-folder.
std::string makeBase(const test::TempDir& dir) {
  const std::string path = (dir.path() / "base.pst").string();
  auto store = Store::create(path, "Base");
  Folder mail = store->ipmRoot().addChild("Mail");
  for (std::uint32_t n = 0; n < 4; ++n) mail.addMessage(crashtest::crashMessage(n));
  mail.addChild("Sub");
  store->close();
  return path;
}

// A row already in `table` for the node id the store hands out next for `type`: a parent table
// damaged so that appending the new object's row fails, after the object itself was written.
void plantStaleRow(const std::string& path, ndb::Nid table, ndb::NidType type) {
  auto db = ndb::NodeDatabase::open(path, ndb::OpenMode::kReadWrite);
  db->beginSavepoint();  // the id the store hands out next, without taking it
  const ndb::Nid next = db->allocateNid(type);
  db->rollbackToSavepoint();
  auto node = db->openNode(table);
  ltp::TableContext::open(*node).appendRow(next, {{ltp::kTagLtpRowId, static_cast<std::int32_t>(next)}});
  db->close();
}

// An attachment whose data ends before the size it announced: a value that cannot be stored,
// found only once the message's other parts are written.
class ShortSource final : public ByteSource {
 public:
  std::uint64_t size() const override { return 30000; }
  std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (offset >= 12000) return 0;
    const std::size_t n = std::min<std::uint64_t>(out.size(), 12000 - offset);
    std::fill_n(out.begin(), n, std::uint8_t{7});
    return n;
  }
};

MessageModel messageWith(Attachment a) {
  MessageModel m = crashtest::crashMessage(7);
  m.props.setNamed({kPsPublicStrings, std::string("x-failed-add-only")}, kPtUnicode, std::string("never stored"));
  m.attachments.push_back(std::move(a));
  return m;
}

TEST(AllOrNothing, FailedAddsLeaveNoTrace) {
  test::TempDir dir;
  const std::string base = makeBase(dir);
  const std::string path = (dir.path() / "run.pst").string();
  struct Case {
    const char* what;
    std::function<void(const std::string&)> damage;  // before the store is opened
    std::function<void(Store&)> failingAdd;
  };
  // Adds of the other kind than the failing one: a planted row stands in the way of the next id
  // of the failing kind only.
  auto otherAdd = [](Store& s, const Case& c, std::uint32_t n) {
    if (std::string(c.what).starts_with("folder")) s.folderByPath("Mail").addMessage(crashtest::crashMessage(n));
    else s.ipmRoot().addChild("Other " + std::to_string(n));
  };
  auto mail = [](Store& s) { return s.folderByPath("Mail"); };
  Attachment shortData;
  shortData.props.set(kPrAttachLongFilename, std::string("short.bin"));
  shortData.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::make_shared<ShortSource>()));
  MessageModel tooManyColumns = crashtest::crashMessage(8);
  for (int r = 0; r < 2; ++r) {
    Recipient rec;
    for (std::uint16_t id = 0; id < 300; ++id) rec.props.set(makeTag(static_cast<std::uint16_t>(0x6800 + id + 300 * r), kPtInt32), std::int32_t{id});
    tooManyColumns.recipients.push_back(std::move(rec));
  }
  const std::vector<Case> cases = {
      {"folder, parent hierarchy table damaged",
       [](const std::string& p) {
         const ndb::Nid top = Store::open(p, false)->ipmRoot().nid();
         plantStaleRow(p, ndb::makeNid(ndb::kNidTypeHierarchyTable, ndb::nidIndex(top)), ndb::kNidTypeNormalFolder);
       },
       [](Store& s) { s.ipmRoot().addChild("New folder"); }},
      {"message, parent contents table damaged",
       [&](const std::string& p) {
         const ndb::Nid folder = Store::open(p, false)->folderByPath("Mail").nid();
         plantStaleRow(p, ndb::makeNid(ndb::kNidTypeContentsTable, ndb::nidIndex(folder)), ndb::kNidTypeNormalMessage);
       },
       [&](Store& s) { mail(s).addMessage(crashtest::crashMessage(9)); }},
      {"message, attachment data ends early", nullptr, [&](Store& s) { mail(s).addMessage(messageWith(shortData)); }},
      {"message, more recipient columns than a table holds", nullptr, [&](Store& s) { mail(s).addMessage(tooManyColumns); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(path, fileBytes(base));
    if (c.damage) c.damage(path);
    const Snapshot before = snapshotOf(path);
    const std::string bytesBefore = fileBytes(path);
    {
      auto store = Store::open(path, true);
      otherAdd(*store, c, 10);  // the transaction holds more than the failed add
      const std::int32_t items = mail(*store).contentCount();
      EXPECT_THROW(c.failingAdd(*store), Error);
      EXPECT_EQ(mail(*store).contentCount(), items);
      store->discard();
    }
    EXPECT_TRUE(fileBytes(path) == bytesBefore) << "discarded";
    {
      auto store = Store::open(path, true);
      EXPECT_THROW(c.failingAdd(*store), Error);
      store->commit();  // nothing of the failed add is written
      otherAdd(*store, c, 11);  // and the store goes on
      store->close();
    }
    const bool folderCase = std::string(c.what).starts_with("folder");
    Snapshot after = snapshotOf(path);
    EXPECT_EQ(after.nodes.size(), before.nodes.size() + (folderCase ? 1 : 4));  // a message, or a folder and its tables
    EXPECT_EQ(after.check, before.check);
    EXPECT_EQ(after.names, before.names);
    auto store = Store::open(path, false);
    EXPECT_EQ(store->folderByPath("Mail").contentCount(), folderCase ? 5 : 4);
    EXPECT_FALSE(store->ipmRoot().child("New folder"));
  }
}

// A write that fails inside an add (disk full for a moment) is undone with the add: the store
// stays usable, and what was added before it in the same transaction is still committed. The
// failing writes here put out the blocks an earlier message left pending: the rollback must give
// that message its blocks back.
TEST(AllOrNothing, FailedWriteInsideAnAddIsUndoneWithIt) {
  test::TempDir dir;
  const std::string base = makeBase(dir);
  const std::string path = (dir.path() / "run.pst").string();
  auto bigMessage = [](std::size_t size) {
    MessageModel m = crashtest::crashMessage(21);  // has no attachment of its own
    Attachment a;
    a.props.set(kPrAttachLongFilename, std::string("big.bin"));
    a.props.set(kPrAttachDataBin, Bytes(size, 0x5A));
    m.attachments.push_back(std::move(a));
    return m;
  };
  // The largest message that still leaves its blocks pending (nothing written before the commit;
  // a write would fail here): the next add then writes them all out.
  std::size_t pending = 4u << 20, writes = 9u << 20;
  while (writes - pending > 1024) {
    const std::size_t probe = (pending + writes) / 2;
    writeFile(path, fileBytes(base));
    ndb::FaultPlan plan;
    plan.failWriteAt = 1;
    ndb::File::armFaultPlan(path, plan);
    auto store = Store::open(path, true);
    const bool wrote = test::thrownKind([&] { store->folderByPath("Mail").addMessage(bigMessage(probe)); }) == ErrorKind::kIo;
    store->discard();
    ndb::File::disarmFaultPlans();
    (wrote ? writes : pending) = probe;
  }
  const std::size_t size = pending;
  ASSERT_GT(size, 7u << 20);
  for (int addFolder = 0; addFolder < 2; ++addFolder) {
    for (std::uint64_t failAt : {1u, 2u, 50u, 400u}) {
      SCOPED_TRACE((addFolder ? "folder, write " : "message, write ") + std::to_string(failAt));
      writeFile(path, fileBytes(base));
      ndb::FaultPlan plan;
      plan.failWriteAt = failAt;
      plan.sticky = false;
      ndb::File::armFaultPlan(path, plan);
      auto store = Store::open(path, true);
      const ndb::Nid big = store->folderByPath("Mail").addMessage(bigMessage(size));
      try {
        if (addFolder) store->ipmRoot().addChild("Made while the disk was full");
        else store->folderByPath("Mail").addMessage(crashtest::crashMessage(22));
        ADD_FAILURE() << "no write failed";
      } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::kIo) << e.what();
      }
      store->close();
      ndb::File::disarmFaultPlans();
      for (const auto& v : checkStore(path)) ADD_FAILURE() << v;
      auto reader = Store::open(path, false);
      EXPECT_EQ(reader->folderByPath("Mail").messages().back(), big);
      EXPECT_EQ(reader->folderByPath("Mail").contentCount(), 5);
      EXPECT_FALSE(reader->ipmRoot().child("Made while the disk was full"));
      const MessageModel m = reader->readMessage(big);
      ASSERT_EQ(m.attachments.size(), 1u);
      const auto* data = m.attachments[0].props.getAs<std::shared_ptr<const ByteSource>>(kPrAttachDataBin);
      ASSERT_TRUE(data && *data);
      EXPECT_EQ((*data)->size(), size);
    }
  }
}

}  // namespace
}  // namespace mailfold::pst::safety

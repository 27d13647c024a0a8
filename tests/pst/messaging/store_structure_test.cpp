// A new store next to an empty store made by Outlook: the same internal nodes, the same table
// layouts, and the default folders found through what each store records.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "pst/messaging/store_tags.h"
#include "pst/ndb/node_database.h"
#include "support/error_kind.h"
#include "support/paths.h"
#include "support/temp_dir.h"

namespace mailfold::pst {
namespace {

std::filesystem::path sample(const char* name) { return test::sharedDir() / "samples" / "pst" / name; }

// Copies a sample for appending. Stores with a password are refused for adding, so the copy's
// password is cleared first (the only Outlook 2003 samples have one).
void copyForAppending(const std::filesystem::path& from, const std::string& to) {
  std::filesystem::copy_file(from, to);
  auto db = ndb::NodeDatabase::open(to, ndb::OpenMode::kReadWrite);
  auto node = db->openNode(kNidMessageStore);
  ltp::PropertyContext pc = ltp::PropertyContext::open(*node);
  if (pc.get(kPrPstPassword)) pc.set(kPrPstPassword, std::int32_t{0});
  db->close();
}

std::set<ndb::Nid> nodeIds(const std::string& path) {
  auto db = ndb::NodeDatabase::open(path);
  std::set<ndb::Nid> out;
  for (const auto& n : db->nodes()) out.insert(n.nid);
  return out;
}

TEST(StoreStructure, NewStoreHasOutlooksInternalNodes) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  const std::string path = dir.str() + "/new.pst";
  Store::create(path, "New")->close();
  const std::set<ndb::Nid> ours = nodeIds(path);
  const std::set<ndb::Nid> outlook = nodeIds(sample("outlook2010-nearly-empty.pst").string());
  // Nodes of that Outlook store we do not write, each for a reason:
  //  0x80C2 and its tables: that store's Inbox (ours makes default folders on request);
  //  0x80023 family: Outlook's "ItemProcSearch" search folder, which its rule processing owns;
  //  0x861, 0xC01, 0xE01, 0xE41, 0xE61, 0xE81, 0xEA1, 0xEC1: internal nodes with undocumented
  //  content (they appear in stores of Outlook 2010 and later only).
  const std::set<ndb::Nid> notWritten{0x80C2, 0x80CD, 0x80CE, 0x80CF, 0x80023, 0x80026, 0x80027, 0x80030,
                                      0x861,  0xC01,  0xE01,  0xE41,  0xE61,  0xE81,  0xEA1,   0xEC1};
  for (ndb::Nid nid : outlook)
    if (!notWritten.count(nid)) {
      EXPECT_TRUE(ours.count(nid)) << "missing node 0x" << std::hex << nid;
    }
  for (ndb::Nid nid : ours) EXPECT_TRUE(outlook.count(nid)) << "extra node 0x" << std::hex << nid;
}

TEST(StoreStructure, TemplateTablesHaveOutlooksLayouts) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  const std::string path = dir.str() + "/new.pst";
  Store::create(path, "New")->close();
  auto ours = ndb::NodeDatabase::open(path);
  for (const char* name : {"outlook2010-nearly-empty.pst", "outlook365-backup.pst", "pst2john-outlook2010-openwall-password.pst"}) {
    SCOPED_TRACE(name);
    auto outlook = ndb::NodeDatabase::open(sample(name).string());
    for (ndb::Nid nid : {0x60Du, 0x60Eu, 0x60Fu, 0x610u, 0x671u, 0x692u}) {
      SCOPED_TRACE(nid);
      auto a = ours->openNode(nid);
      auto b = outlook->openNode(nid);
      const ltp::TableContext ta = ltp::TableContext::open(*a);
      const ltp::TableContext tb = ltp::TableContext::open(*b);
      EXPECT_EQ(ta.layout().columns, tb.layout().columns);
      EXPECT_EQ(ta.layout().groupEnds, tb.layout().groupEnds);
      EXPECT_EQ(ta.rowCount(), 0u);
    }
  }
}

TEST(StoreStructure, NewStoreRecordsItsSpecialFoldersUnderItsOwnUid) {
  test::TempDir dir;
  const std::string path = dir.str() + "/new.pst";
  Bytes storeId;  // holds the store's UID
  {
    auto store = Store::create(path, "Records");
    storeId = store->entryId();
    EXPECT_FALSE(store->findDefaultFolder(6).has_value());  // a new store has no Inbox yet
    EXPECT_EQ(store->defaultFolder(3).name(), "Deleted Items");
    store->validateIpmTree();
    store->validateIpmTree();  // a second run finds everything and adds nothing
    EXPECT_EQ(store->ipmRoot().children().size(), 11u);
    store->close();
  }
  auto store = Store::open(path, false);
  EXPECT_EQ(store->entryId(), storeId);
  auto db = ndb::NodeDatabase::open(path);
  auto containerClass = [&db](ndb::Nid folder) {
    auto node = db->openNode(folder);
    const auto v = ltp::PropertyContext::open(*node).get(kPrContainerClass);
    return v ? std::get<std::string>(*v) : std::string();
  };
  struct Expect {
    int kind;
    const char* name;
    const char* cls;
  };
  for (const Expect& e : {Expect{6, "Inbox", "IPF.Note"}, Expect{5, "Sent Items", "IPF.Note"}, Expect{4, "Outbox", "IPF.Note"},
                          Expect{3, "Deleted Items", ""}, Expect{9, "Calendar", "IPF.Appointment"},
                          Expect{10, "Contacts", "IPF.Contact"}, Expect{11, "Journal", "IPF.Journal"},
                          Expect{12, "Notes", "IPF.StickyNote"}, Expect{13, "Tasks", "IPF.Task"},
                          Expect{16, "Drafts", "IPF.Note"}, Expect{23, "Junk E-mail", "IPF.Note"}}) {
    SCOPED_TRACE(e.kind);
    const Folder f = store->defaultFolder(e.kind);
    EXPECT_EQ(f.name(), e.name);
    EXPECT_EQ(containerClass(f.nid()), e.cls);
  }
  EXPECT_EQ(test::thrownKind([&] { store->defaultFolder(99); }), ErrorKind::kBadInput);
  // Another store's UID is never taken for ours: entry ids carry the record key.
  EXPECT_NE(Store::create(dir.str() + "/other.pst", "Other")->entryId(), storeId);
}

TEST(StoreStructure, DefaultFoldersAreFoundByRecordedIdInLocalisedStores) {
  MAILFOLD_REQUIRE_SHARED();
  {
    auto store = Store::open(sample("japanese-outlook-simple.pst").string(), false);
    EXPECT_EQ(store->defaultFolder(3).name(), "削除済みアイテム");
    EXPECT_EQ(store->ipmRoot().name(), "Outlook データ ファイルのトップ");
    EXPECT_FALSE(store->findDefaultFolder(6).has_value());  // this store has no Inbox
  }
  {
    // An IMAP-style store: the Inbox is at a node that other stores use for other folders, and
    // only the receive folder table says which one it is.
    auto store = Store::open(sample("aranetic-flags-jane-doe.pst").string(), false);
    EXPECT_EQ(store->defaultFolder(6).nid(), 0x8082u);
    EXPECT_EQ(store->defaultFolder(6).contentCount(), 6);
    EXPECT_EQ(store->defaultFolder(5).nid(), 0x80E2u);
    EXPECT_EQ(store->defaultFolder(3).nid(), 0x80C2u);
  }
  {
    auto store = Store::open(sample("pst2john-outlook2003-welcome.pst").string(), false);
    EXPECT_EQ(store->defaultFolder(6).name(), "Inbox");
    EXPECT_EQ(store->defaultFolder(3).nid(), 0x8042u);  // Outlook 2003 puts Deleted Items here
    EXPECT_EQ(store->defaultFolder(9).name(), "Calendar");
    EXPECT_EQ(store->defaultFolder(16).name(), "Drafts");
  }
}

TEST(StoreStructure, ValidateIpmTreeCompletesALocalisedStore) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  const std::string path = dir.str() + "/jp.pst";
  std::filesystem::copy_file(sample("japanese-outlook-simple.pst"), path);
  {
    auto store = Store::open(path, true);
    const std::size_t before = store->ipmRoot().children().size();
    store->validateIpmTree();
    // Deleted Items exists under its Japanese name and is not made again.
    EXPECT_EQ(store->defaultFolder(3).name(), "削除済みアイテム");
    EXPECT_EQ(store->ipmRoot().children().size(), before + 10);
    store->close();
  }
  auto store = Store::open(path, false);
  EXPECT_EQ(store->defaultFolder(6).name(), "Inbox");
  EXPECT_EQ(store->defaultFolder(5).name(), "Sent Items");
}

TEST(StoreStructure, AppendsToOutlookStoresInTheirOwnTableLayouts) {
  MAILFOLD_REQUIRE_SHARED();
  // Outlook 2003 stores have 7 hierarchy columns, 2010+ stores 13; IMAP, Japanese, cyclic ones.
  for (const char* name : {"pst2john-2003-unicode-high-encryption-b.pst", "pst2john-outlook2003-welcome.pst",
                           "outlook2010-nearly-empty.pst", "japanese-outlook-simple.pst", "aranetic-flags-jane-doe.pst",
                           "outlook365-backup.pst"}) {
    SCOPED_TRACE(name);
    test::TempDir dir;
    const std::string path = dir.str() + "/copy.pst";
    copyForAppending(sample(name), path);
    std::int32_t before = 0;
    {
      auto store = Store::open(path, true);
      store->validateIpmTree();
      Folder inbox = store->defaultFolder(6);
      before = inbox.contentCount();
      Folder sub = inbox.addChild("Neu – 日本");
      for (int i = 0; i < 6; ++i) {
        MessageModel m;
        m.props.set(kPrSubject, "Appended " + std::to_string(i));
        m.props.set(kPrSmtpAddress, std::string("not a column of any template"));
        m.props.setNamed({kPsInternetHeaders, std::string("x-appended")}, kPtUnicode, std::string("yes"));
        Recipient r;
        r.props.set(kPrDisplayName, std::string("R"));
        r.props.set(kPrRecipientType, kRecipientTo);
        m.recipients.push_back(r);
        Attachment a;
        a.props.set(kPrAttachLongFilename, std::string("a.txt"));
        a.props.set(kPrAttachDataBin, Bytes(5000, 'a'));
        m.attachments.push_back(a);
        (i % 2 ? inbox : sub).addMessage(std::move(m), i % 3 ? kMsgFlagRead : 0);
      }
      store->close();
    }
    std::string lines;
    for (const auto& v : checkStore(path)) lines += v + "\n";
    EXPECT_EQ(lines, "");
    auto store = Store::open(path, false);
    EXPECT_EQ(store->defaultFolder(6).contentCount(), before + 3);
    const Folder sub = store->folderByPath("\\\\" + store->displayName() + "\\" + store->defaultFolder(6).name() + "\\Neu – 日本");
    ASSERT_EQ(sub.messages().size(), 3u);
    const MessageModel m = store->readMessage(sub.messages()[0]);
    EXPECT_EQ(*m.props.getAs<std::string>(kPrSubject), "Appended 0");
    ASSERT_EQ(m.props.named().size(), 1u);
    EXPECT_EQ(std::get<std::string>(m.props.named()[0].value), "yes");
  }
}

TEST(StoreStructure, SearchFoldersAreToldAboutAdditionsInTheirDomain) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  const std::string path = dir.str() + "/copy.pst";
  // This store's search domain holds its Inbox (0x8082); a folder made now is outside it.
  copyForAppending(sample("java-libpst-passworded.pst"), path);
  ndb::Nid folder = 0;
  std::vector<ndb::Nid> added;
  {
    auto store = Store::open(path, true);
    Folder inbox = store->defaultFolder(6);
    ASSERT_EQ(inbox.nid(), 0x8082u);
    Folder sub = inbox.addChild("Sub");
    folder = sub.nid();
    for (int i = 0; i < 420; ++i) {  // 20-byte records across the first block's end
      MessageModel m;
      m.props.set(kPrSubject, "n" + std::to_string(i));
      added.push_back(inbox.addMessage(std::move(m)));
    }
    sub.addMessage(MessageModel{});  // outside the domain: not queued
    store->close();
  }
  auto db = ndb::NodeDatabase::open(path);
  auto queue = db->openNode(kNidSearchManagementQueue);
  ASSERT_EQ(queue->data().size(), 421u * 20);
  ASSERT_EQ(queue->data().blockCount(), 2u);
  EXPECT_EQ(queue->data().readBlock(0).size(), ndb::kMaxBlockPayload);  // every block but the last is full
  const Bytes all = ndb::readAll(queue->data());
  EXPECT_EQ(load<std::uint16_t>(all.data() + 2), 0x05);  // folder added
  EXPECT_EQ(load<std::uint32_t>(all.data() + 4), 0x8082u);
  EXPECT_EQ(load<std::uint32_t>(all.data() + 8), folder);
  for (std::size_t i = 0; i < added.size(); ++i) {
    const std::uint8_t* sud = all.data() + 20 * (i + 1);
    ASSERT_EQ(load<std::uint16_t>(sud + 2), 0x01);  // message added
    ASSERT_EQ(load<std::uint32_t>(sud + 4), 0x8082u);
    ASSERT_EQ(load<std::uint32_t>(sud + 8), added[i]);
  }
  std::string lines;
  for (const auto& v : checkStore(path)) lines += v + "\n";
  EXPECT_EQ(lines, "");

  // A new store's search domain is empty: nothing is queued.
  const std::string fresh = dir.str() + "/new.pst";
  {
    auto store = Store::create(fresh, "New");
    store->validateIpmTree();
    store->defaultFolder(6).addMessage(MessageModel{});
    store->close();
  }
  EXPECT_EQ(ndb::NodeDatabase::open(fresh)->openNode(kNidSearchManagementQueue)->data().size(), 0u);
}

TEST(StoreApi, RefusesWhatWouldLoseOrMixData) {
  test::TempDir dir;
  const std::string path = dir.str() + "/api.pst";
  auto store = Store::create(path, "Api");
  using test::thrownKind;
  EXPECT_EQ(thrownKind([&] { Store::create(path, "Again"); }), ErrorKind::kRefused);  // never overwrite an existing file
  Folder ipm = store->ipmRoot();
  Folder a = ipm.addChild("Alpha");
  EXPECT_EQ(thrownKind([&] { ipm.addChild("alpha"); }), ErrorKind::kBadInput);
  EXPECT_EQ(thrownKind([&] { ipm.addChild(""); }), ErrorKind::kBadInput);
  EXPECT_EQ(a.children().size(), 0u);
  EXPECT_EQ(store->folderByPath("\\Alpha").nid(), a.nid());
  EXPECT_EQ(store->folderByPath("\\Alpha\\").nid(), a.nid());
  EXPECT_EQ(store->folderByPath("").nid(), ipm.nid());
  try {
    store->folderByPath("\\\\Not the store\\Alpha");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Folder \"Not the store\" does not exist");
    EXPECT_EQ(e.kind(), ErrorKind::kNotFound);
  }
  store->close();
  EXPECT_EQ(thrownKind([&] { store->ipmRoot(); }), ErrorKind::kRefused);
  auto readOnly = Store::open(path, false);
  EXPECT_EQ(thrownKind([&] { readOnly->ipmRoot().addChild("Beta"); }), ErrorKind::kRefused);
  EXPECT_EQ(thrownKind([&] { readOnly->ipmRoot().addMessage(MessageModel{}); }), ErrorKind::kRefused);
  EXPECT_EQ(thrownKind([&] { Store::open(dir.str() + "/missing.pst", false); }), ErrorKind::kNotFound);
  // openOrCreate opens what exists, with its own name.
  EXPECT_EQ(Store::openOrCreate(path, "Other name")->displayName(), "Api");
}

TEST(StoreApi, RecipientValuesGivenAsStreamsAreKept) {
  // Recipients live only in their table's rows, so a streamed value must land in a cell.
  test::TempDir dir;
  const std::string path = dir.str() + "/rcpt.pst";
  Bytes entryId(3000);
  for (std::size_t i = 0; i < entryId.size(); ++i) entryId[i] = static_cast<std::uint8_t>(i * 13);
  ndb::Nid nid = 0;
  {
    auto store = Store::create(path, "Rcpt");
    MessageModel m;
    Recipient r;
    r.props.set(kPrDisplayName, std::string("Streamed"));
    r.props.set(kPrEntryId, std::shared_ptr<const ByteSource>(std::make_shared<MemorySource>(entryId)));
    m.recipients.push_back(r);
    nid = store->ipmRoot().addMessage(std::move(m));
    store->close();
  }
  auto store = Store::open(path, false);
  const MessageModel m = store->readMessage(nid);
  ASSERT_EQ(m.recipients.size(), 1u);
  ASSERT_NE(m.recipients[0].props.getAs<Bytes>(kPrEntryId), nullptr);
  EXPECT_EQ(*m.recipients[0].props.getAs<Bytes>(kPrEntryId), entryId);
}

TEST(StoreApi, UncommittedChangesAreNotInTheFile) {
  test::TempDir dir;
  const std::string path = dir.str() + "/tx.pst";
  {
    auto store = Store::create(path, "Tx");
    store->ipmRoot().addChild("Committed");
    store->commit();
    store->ipmRoot().addChild("Dropped");
    // destroyed without commit or close
  }
  auto store = Store::open(path, false);
  EXPECT_TRUE(store->ipmRoot().child("Committed").has_value());
  EXPECT_FALSE(store->ipmRoot().child("Dropped").has_value());
}

}  // namespace
}  // namespace mailfold::pst

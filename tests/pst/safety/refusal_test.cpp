// Stores we must not add to, and files that are no stores, are turned away with a message that
// says why, and are left byte for byte as they were.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <random>

#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/ndb/block.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/header.h"
#include "pst/ndb/page.h"
#include "pst/messaging/store_check.h"
#include "safety_fixture.h"
#include "support/error_kind.h"
#include "support/temp_dir.h"

namespace mailfold::pst::safety {
namespace {

// Tries each way the program opens a store for adding; each must throw an Error containing
// `expected`, and the file must not change.
void expectRefusedForAdding(const std::string& path, const std::string& expected,
                            const std::optional<std::string>& password = std::nullopt, ErrorKind kind = ErrorKind::kRefused) {
  const std::string before = fileBytes(path);
  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way == 0 ? "open" : "openOrCreate");
    try {
      if (way == 0) Store::open(path, true, password);
      else Store::openOrCreate(path, "New", password);
      ADD_FAILURE() << path << " was opened for adding";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), kind) << e.what();
      EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << "the message names the file: " << e.what();
    }
    EXPECT_TRUE(fileBytes(path) == before) << path << " changed";
  }
}

TEST(Refusals, AnsiStoresAreReadButNotAddedTo) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  for (const char* name : {"ansi-edrm-enron-appointment.pst", "ansi-outlook2000-73-messages.pst",
                           "pstsdk-test-ansi-password.pst"}) {
    SCOPED_TRACE(name);
    const std::string path = copySample(name, dir.path() / name);
    expectRefusedForAdding(path, "32-bit (ANSI)");
    auto store = Store::open(path, false);  // reading still works, names included (8-bit strings)
    EXPECT_FALSE(store->ipmRoot().children().empty());
    EXPECT_TRUE(store->ipmRoot().child("Deleted Items").has_value());
  }
}

// A store password asks for the password before anything is added; without it, or with another
// one, the file stays as it was. The passwords known for the samples are those their original
// file names carried.
TEST(Refusals, PasswordProtectedStoresAreAddedToOnlyWithTheirPassword) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  int protectedStores = 0, opened = 0;
  for (const std::string& name : allSamples()) {
    const std::string path = copySample(name, dir.path() / name);
    if (refusalReason(path) != "password") continue;
    SCOPED_TRACE(name);
    ++protectedStores;
    expectRefusedForAdding(path, "protected by a password");
    expectRefusedForAdding(path, "the password is not the store's password", std::string("openwall2"));
    try {
      Store::open(path, true);
    } catch (const PasswordError& e) {
      EXPECT_FALSE(e.passwordWasGiven());
    }
    EXPECT_NO_THROW(Store::open(path, false)->ipmRoot());  // reading still works
    const auto password = knownPassword(name);
    if (!password) continue;
    {
      auto store = Store::open(path, true, password);
      MessageModel m;
      m.props.set(kPrSubject, std::string("added with the password"));
      store->ipmRoot().addChild("Added").addMessage(m);
      store->close();
    }
    for (const auto& v : checkStore(path)) ADD_FAILURE() << v;
    EXPECT_EQ(Store::open(path, false)->folderByPath("Added").contentCount(), 1);
    ++opened;
  }
  EXPECT_GE(protectedStores, 5);  // the Unicode ones with a password among the samples
  EXPECT_EQ(opened, 3);
  EXPECT_TRUE(Store::passwordMatches("caf\xC3\xA9", ndb::crc32(ByteView(reinterpret_cast<const std::uint8_t*>("caf\xE9"), 4))));
}

// The offset of the block with id `bid` (found by its trailer) in a Unicode store's bytes.
std::size_t blockOffset(const std::string& file, std::uint64_t bid) {
  for (std::size_t end = 0x4400 + 64; end <= file.size(); end += 64) {
    const auto* trailer = reinterpret_cast<const std::uint8_t*>(file.data()) + end - 16;
    if (load<std::uint64_t>(trailer + 8) != bid) continue;
    return end - ndb::blockAllocSize(ndb::Format{}, load<std::uint16_t>(trailer));
  }
  return 0;
}

// A store whose structures fail their checks where adding builds on them (a B-tree page, the
// allocation map, a folder's table) is turned away with what to do about it, unchanged; one whose
// damage lies in a message is still added to, the damaged message left as it is.
TEST(Refusals, DamagedStoresAreRefusedForAdding) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  int tried = 0;
  for (const std::string& name : allSamples()) {
    const std::string path = copySample(name, dir.path() / name);
    if (!refusalReason(path).empty() || tried++ == 3) continue;  // three Outlook stores we may add to
    SCOPED_TRACE(name);
    {
      auto store = Store::open(path, true);
      Folder f = store->ipmRoot().addChild("Mail");
      for (int i = 0; i < 3; ++i) f.addMessage(MessageModel{});
      store->close();
    }
    const std::string clean = fileBytes(path);
    const ndb::Header header = ndb::decodeHeader(ByteView(reinterpret_cast<const std::uint8_t*>(clean.data()), ndb::kHeaderReadSize));
    std::map<ndb::Nid, std::uint64_t> dataOf;
    for (const auto& n : ndb::NodeDatabase::open(path)->nodes()) dataOf[n.nid] = n.dataBid;
    const ndb::Nid mail = Store::open(path, false)->folderByPath("Mail").nid();
    const ndb::Nid message = Store::open(path, false)->folderByPath("Mail").messages()[1];
    auto withByteFlipped = [&](std::size_t at) {
      std::string bytes = clean;
      bytes[at] = static_cast<char>(bytes[at] ^ 0x21);
      writeFile(path, bytes);
    };
    auto refused = [&](const std::string& damage) {
      expectRefusedForAdding(path, damage, std::nullopt, ErrorKind::kCorrupt);
      try {
        Store::open(path, true);
      } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("repair the copy with Outlook's Inbox Repair Tool (scanpst.exe)"), std::string::npos) << e.what();
      }
    };
    withByteFlipped(header.root.bbt.ib + 40);
    refused("block B-tree page damaged");
    // A page below the root: only the writable open reads it before it is needed.
    const ndb::BtPage nbtRoot = ndb::decodeBtPage(
        ndb::Format{}, ByteView(reinterpret_cast<const std::uint8_t*>(clean.data()) + header.root.nbt.ib, 512), ndb::PageType::kNbt);
    ASSERT_GT(nbtRoot.level, 0);
    withByteFlipped(nbtRoot.index.back().child.ib + 40);
    refused("node B-tree page");
    withByteFlipped(blockOffset(clean, dataOf[ndb::makeNid(ndb::kNidTypeContentsTable, ndb::nidIndex(mail))]) + 3);
    refused("CRC");
    {
      // The map marks the block B-tree's root page free: a writer would build over it.
      std::string bytes = clean;
      const std::uint64_t section = (header.root.bbt.ib - 0x4400) / 253952, amap = 0x4400 + section * 253952;
      bytes[amap + (header.root.bbt.ib - amap) / 64 / 8] = 0;
      Bytes page(bytes.begin() + static_cast<std::ptrdiff_t>(amap), bytes.begin() + static_cast<std::ptrdiff_t>(amap + 512));
      ndb::sealPage(page, ndb::PageType::kAMap, amap, amap);
      std::copy(page.begin(), page.end(), bytes.begin() + static_cast<std::ptrdiff_t>(amap));
      writeFile(path, bytes);
      refused("is marked free in the allocation map");
    }
    withByteFlipped(blockOffset(clean, dataOf[message]) + 3);
    {
      auto store = Store::open(path, true);
      store->folderByPath("Mail").addMessage(MessageModel{});
      store->close();
    }
    EXPECT_THROW(Store::open(path, false)->readMessage(message), Error);
    EXPECT_EQ(Store::open(path, false)->folderByPath("Mail").contentCount(), 4);
  }
  EXPECT_GE(tried, 3);
}

// Opening a store for adding writes nothing by itself: a conversion that fails before it adds
// anything and discards the store leaves the file byte for byte as it was, also a file left by a
// writer that stopped half-way (bytes past its end, maps marked untrusted). The next commit tidies
// such a file.
TEST(Refusals, OpeningForAddingChangesNothingUntilTheFirstCommit) {
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  const std::string path = copySample("outlook2010-nearly-empty.pst", dir.path() / "left.pst");
  std::string bytes = fileBytes(path);
  ndb::Header h = ndb::decodeHeader(ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), ndb::kHeaderReadSize));
  h.root.amapValid = ndb::kAMapInvalid;
  const Bytes header = ndb::encodeHeader(h);
  std::copy(header.begin(), header.end(), bytes.begin());
  bytes += std::string(20000, 'Z');  // a transaction that never committed
  writeFile(path, bytes);
  for (int close = 0; close < 2; ++close) {
    auto store = Store::open(path, true);
    (void)store->ipmRoot().children();
    if (close) {
      store->discard();
    } else {
      Folder f = store->ipmRoot().addChild("Dropped");
      f.addMessage(MessageModel{});
      store->discard();
    }
    EXPECT_TRUE(fileBytes(path) == bytes) << (close ? "opened and discarded" : "added to and discarded");
  }
  {
    auto store = Store::open(path, true);
    store->ipmRoot().addChild("Kept");
    store->close();
  }
  for (const auto& v : checkStore(path)) ADD_FAILURE() << v;
  EXPECT_EQ(std::filesystem::file_size(path), ndb::NodeDatabase::open(path)->format().fileSize);
  EXPECT_FALSE(Store::open(path, false)->ipmRoot().child("Dropped"));
}

TEST(Refusals, FilesThatAreNoStoresAreNeverOverwritten) {
  test::TempDir dir;
  std::mt19937 rng(7);
  std::string random(300000, '\0');
  for (char& c : random) c = static_cast<char>(rng());
  // A zip archive's local header, then some data; and a plain text file.
  std::string zip = std::string("PK\x03\x04\x14\x00\x00\x00\x08\x00", 10) + std::string(2000, 'z');
  const std::string text = "Dear all,\nthis is a letter, not a mail store.\n";
  // Looks like a store for the first bytes only.
  std::string fakeHeader = "!BDN" + std::string(600, '\x01');
  struct Case {
    const char* name;
    const std::string* bytes;
  };
  for (const Case& c : {Case{"random.pst", &random}, Case{"archive.zip.pst", &zip}, Case{"letter.txt.pst", &text},
                        Case{"fake.pst", &fakeHeader}}) {
    SCOPED_TRACE(c.name);
    const auto path = dir.path() / c.name;
    writeFile(path, *c.bytes);
    const std::string before = fileBytes(path);
    for (int way = 0; way < 3; ++way) {
      try {
        if (way == 0) Store::open(path.string(), true);
        else if (way == 1) Store::openOrCreate(path.string(), "New");
        else Store::create(path.string(), "New");
        ADD_FAILURE() << "accepted";
      } catch (const Error& e) {
        // Not a store, and never replaced by a new one.
        EXPECT_EQ(e.kind(), way == 2 ? ErrorKind::kRefused : ErrorKind::kCorrupt) << e.what();
        EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
      }
      EXPECT_TRUE(fileBytes(path) == before);
    }
    EXPECT_FALSE(checkStore(path.string()).empty());
  }
}

TEST(Refusals, EmptyFileBecomesANewStore) {
  test::TempDir dir;
  const std::string path = (dir.path() / "empty.pst").string();
  writeFile(path, "");
  {
    auto store = Store::openOrCreate(path, "From Empty");
    store->ipmRoot().addChild("Imported").addMessage(MessageModel{});
    store->close();
  }
  for (const auto& v : checkStore(path)) ADD_FAILURE() << v;
  auto store = Store::open(path, false);
  EXPECT_EQ(store->displayName(), "From Empty");
  EXPECT_EQ(store->folderByPath("Imported").messages().size(), 1u);
  // A store that exists is opened, not replaced.
  EXPECT_EQ(Store::openOrCreate(path, "Other")->displayName(), "From Empty");
}

#ifndef _WIN32
// Runs `body` in a child process (another process, as a second program would be), when asked
// without root's power to write anything. Returns the child's exit status.
template <class F>
int inChild(F body, bool unprivileged) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}
#endif

TEST(Refusals, UnwritableFilesGiveTheSystemsReason) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX permissions, checked without root's power in a forked child";
#else
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);  // the child can enter
  const std::string path = copySample("outlook2010-nearly-empty.pst", dir.path() / "readonly.pst");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  const std::string before = fileBytes(path);
  // 0: refused with the system's words; 1: opened; 2: refused with some other message.
  const int status = inChild([&] {
    try {
      Store::openOrCreate(path, "New");
      return 1;
    } catch (const Error& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return e.kind() == ErrorKind::kIo && std::string(e.what()).find("Permission denied") != std::string::npos ? 0 : 2;
    }
  }, true);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(fileBytes(path) == before);
  // A store in a folder that does not exist: the system's reason as well.
  try {
    Store::openOrCreate((dir.path() / "missing" / "new.pst").string(), "New");
    ADD_FAILURE() << "created";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kNotFound) << e.what();
    EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos) << e.what();
  }
#endif
}

// A second writer, in another process, is told the store is in use and changes nothing; a
// reader may still look.
TEST(Refusals, SecondWriterIsToldTheStoreIsInUse) {
#ifdef _WIN32
  GTEST_SKIP() << "the second writer is a forked process; on Windows one writer at a time is tested in "
                  "test_pst_ndb (Win32StoreFile)";
#else
  MAILFOLD_REQUIRE_SHARED();
  test::TempDir dir;
  const std::string path = copySample("outlook365-backup.pst", dir.path() / "busy.pst");
  auto first = Store::open(path, true);
  first->ipmRoot().addChild("First writer");
  first->commit();
  const std::string committed = fileBytes(path);
  first->ipmRoot().addChild("Not yet committed");
  const int status = inChild([&] {
    int result = 0;
    for (int way = 0; way < 2; ++way) {
      try {
        if (way == 0) Store::open(path, true);
        else Store::openOrCreate(path, "Second");
        result |= 1;
      } catch (const Error& e) {
        if (e.kind() != ErrorKind::kRefused || std::string(e.what()).find("the store is in use") == std::string::npos) {
          std::fprintf(stderr, "unexpected message: %s\n", e.what());
          result |= 2;
        }
      }
    }
    try {
      if (!Store::open(path, false)->ipmRoot().child("First writer")) result |= 4;
    } catch (const Error& e) {
      std::fprintf(stderr, "reader: %s\n", e.what());
      result |= 8;
    }
    // The checker says the store is being written instead of judging pages that change.
    if (!examineStore(path).beingWritten) result |= 16;
    return result;
  }, false);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(fileBytes(path) == committed);
  first->close();
  // Once the first writer is done, the next one gets in.
  auto second = Store::open(path, true);
  EXPECT_TRUE(second->ipmRoot().child("Not yet committed").has_value());
#endif
}

}  // namespace
}  // namespace mailfold::pst::safety

// Stores we must not add to, and files that are no stores, are turned away with a message that
// says why, and are left byte for byte as they were.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/ndb/crc.h"
#include "pst/messaging/store_check.h"
#include "safety_fixture.h"
#include "support/error_kind.h"
#include "support/temp_dir.h"

namespace mailfold::pst::safety {
namespace {

// Tries each way the program opens a store for adding; each must throw an Error containing
// `expected`, and the file must not change.
void expectRefusedForAdding(const std::string& path, const std::string& expected,
                            const std::optional<std::string>& password = std::nullopt) {
  const std::string before = fileBytes(path);
  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way == 0 ? "open" : "openOrCreate");
    try {
      if (way == 0) Store::open(path, true, password);
      else Store::openOrCreate(path, "New", password);
      ADD_FAILURE() << path << " was opened for adding";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kRefused) << e.what();
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
    auto store = Store::open(path, false);  // reading still works
    EXPECT_FALSE(store->ipmRoot().children().empty());
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

TEST(Refusals, UnwritableFilesGiveTheSystemsReason) {
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
}

// A second writer, in another process, is told the store is in use and changes nothing; a
// reader may still look.
TEST(Refusals, SecondWriterIsToldTheStoreIsInUse) {
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
    return result;
  }, false);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(fileBytes(path) == committed);
  first->close();
  // Once the first writer is done, the next one gets in.
  auto second = Store::open(path, true);
  EXPECT_TRUE(second->ipmRoot().child("Not yet committed").has_value());
}

}  // namespace
}  // namespace mailfold::pst::safety

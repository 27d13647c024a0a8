// Damaged stores give errors, never crashes: random byte changes, truncation and garbage are
// fed to the store API and the checker (run under ASan and UBSan in debug builds).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "pst/fuzz/store_reader_walk.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "sample_mail.h"
#include "support/temp_dir.h"

namespace mailfold::pst {
namespace {

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Everything a caller might do with a store it opened; Error is the only acceptable failure.
void exercise(const std::string& path) {
  try {
    auto store = Store::open(path, false);
    std::vector<Folder> queue{store->ipmRoot()};
    for (std::size_t i = 0; i < queue.size() && i < 200; ++i) {
      const Folder f = queue[i];
      (void)f.name();
      (void)f.contentCount();
      for (const Folder& c : f.children()) queue.push_back(c);
      for (ndb::Nid nid : f.messages()) {
        try {
          const MessageModel m = store->readMessage(nid);
          for (const Attachment& a : m.attachments)
            if (const auto* d = a.props.getAs<std::shared_ptr<const ByteSource>>(kPrAttachDataBin); d && *d) {
              std::vector<std::uint8_t> buf(4096);
              (void)(*d)->read(0, buf);
            }
        } catch (const Error&) {
        }
      }
    }
    for (int kind : {3, 5, 6}) (void)store->findDefaultFolder(kind);
    (void)store->folderByPath("\\Box");
  } catch (const Error&) {
  }
  (void)checkStore(path);
}

TEST(DamagedInput, RandomByteChangesGiveErrorsNotCrashes) {
  test::TempDir dir;
  const std::string clean = dir.str() + "/clean.pst";
  {
    auto store = Store::create(clean, "Fuzz");
    Folder f = store->ipmRoot().addChild("Box");
    for (int i = 0; i < 12; ++i) f.addMessage(test::sampleMessage(i == 3 ? 3 : i));  // 3 has nested attached messages
    store->close();
  }
  const Bytes original = readFile(clean);
  std::mt19937 rng(20240611);
  const std::string damaged = dir.str() + "/damaged.pst";
  for (int round = 0; round < 60; ++round) {
    Bytes b = original;
    const int changes = 1 + static_cast<int>(rng() % 8);
    for (int k = 0; k < changes; ++k) b[rng() % b.size()] = static_cast<std::uint8_t>(rng());
    writeFile(damaged, b);
    exercise(damaged);
  }
  for (std::size_t cut : {std::size_t{0}, std::size_t{100}, std::size_t{600}, original.size() / 3, original.size() - 1}) {
    writeFile(damaged, Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(cut)));
    exercise(damaged);
    EXPECT_THROW(Store::open(damaged, false)->ipmRoot().children(), Error) << "cut at " << cut;
  }
  Bytes garbage(original.size());
  for (auto& x : garbage) x = static_cast<std::uint8_t>(rng());
  writeFile(damaged, garbage);
  EXPECT_THROW(Store::open(damaged, false), Error);
}

// Text that is not UTF-8 (lead bytes F5-F8, values beyond U+10FFFF, stray continuation bytes)
// is stored with each bad byte as U+FFFD, in folder names and in every part of a message; the
// folder or message is never refused for it.
TEST(DamagedInput, TextThatIsNotUtf8IsStoredWithReplacementCharacters) {
  test::TempDir dir;
  const std::string path = dir.str() + "/text.pst";
  const std::string bad = "a\xF5\x80\x80\x80" "b\xF8\x88\x80\x80\x80" "c\xF4\x90\x80\x80" "d\xBF";
  const std::string r = "\xEF\xBF\xBD";
  const std::string stored = "a" + r + r + r + r + "b" + r + r + r + r + r + "c" + r + r + r + r + "d" + r;
  ndb::Nid nid = 0;
  {
    auto store = Store::create(path, "Text");
    Folder f = store->ipmRoot().addChild(bad);
    MessageModel m;
    m.props.set(kPrSubject, bad);
    m.props.set(kPrBody, bad);
    Recipient rec;
    rec.props.set(kPrDisplayName, bad);
    m.recipients.push_back(rec);
    Attachment a;
    a.props.set(kPrAttachLongFilename, bad);
    a.props.set(kPrAttachDataBin, Bytes{1});
    m.attachments.push_back(a);
    nid = f.addMessage(m);
    store->close();
  }
  EXPECT_EQ(checkStore(path), std::vector<std::string>{});
  auto store = Store::open(path, false);
  const Folder f = store->ipmRoot().children().back();
  EXPECT_EQ(f.name(), stored);
  EXPECT_EQ(store->ipmRoot().child(stored)->nid(), f.nid());
  const MessageModel m = store->readMessage(nid);
  EXPECT_EQ(*m.props.getAs<std::string>(kPrSubject), stored);
  EXPECT_EQ(*m.props.getAs<std::string>(kPrBody), stored);
  EXPECT_EQ(*m.recipients.at(0).props.getAs<std::string>(kPrDisplayName), stored);
  EXPECT_EQ(*m.attachments.at(0).props.getAs<std::string>(kPrAttachLongFilename), stored);
}

// What the store fuzzer found, replayed through every reader path (scripts/fuzz-store.sh).
TEST(DamagedInput, StoreFuzzerFindingsStayFixed) {
  const auto folder = std::filesystem::path(MAILFOLD_SOURCE_DIR) / "tests" / "pst" / "fuzz_regressions";
  test::TempDir dir;
  const std::string path = dir.str() + "/input.pst";
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    SCOPED_TRACE(entry.path().filename().string());
    const Bytes input = readFile(entry.path().string());
    fuzz::writeStoreInput(input, path);
    fuzz::walkStore(path);
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace mailfold::pst

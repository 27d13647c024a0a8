// Damaged stores give errors, never crashes: random byte changes, truncation and garbage are
// fed to the store API and the checker (run under ASan and UBSan in debug builds).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

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

}  // namespace
}  // namespace mailfold::pst

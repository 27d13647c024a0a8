// Writes small stores of our own into a folder, as seeds for the store fuzzer: a new store with
// its default folders, and stores with folders, messages, recipients, named properties,
// attachments stored in the heap and in sub-nodes, and attached messages, in each block
// encoding. Each is written without its trailing zeros (the fuzz target adds them back).
//   make_seed_stores DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/ndb/node_database.h"

using namespace mailfold::pst;

namespace {

MessageModel message(int n, bool withAttachments) {
  MessageModel m;
  m.props.set(kPrSubject, "Seed message " + std::to_string(n) + " – äöü 日本");
  m.props.set(kPrBody, std::string("Body ") + std::to_string(n) + "\r\nline two");
  m.props.set(kPrSenderName, std::string("Sender ") + std::to_string(n));
  m.props.set(kPrSenderEmailAddress, "sender" + std::to_string(n) + "@example.com");
  m.props.setNamed({Guid{{0x08, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, std::string("Keywords")}, kPtUnicode,
                   std::string("seed"));
  for (int r = 0; r < 3; ++r) {
    Recipient rec;
    rec.props.set(kPrRecipientType, std::int32_t{r + 1});
    rec.props.set(kPrDisplayName, "Recipient " + std::to_string(r));
    rec.props.set(kPrEmailAddress, "r" + std::to_string(r) + "@example.com");
    rec.props.set(kPrAddrType, std::string("SMTP"));
    m.recipients.push_back(std::move(rec));
  }
  if (withAttachments) {
    for (std::size_t size : {std::size_t{40}, std::size_t{9000}}) {
      Attachment a;
      a.props.set(kPrAttachLongFilename, "file-" + std::to_string(size) + ".bin");
      a.props.set(kPrAttachDataBin, Bytes(size, static_cast<std::uint8_t>(n + size)));
      m.attachments.push_back(std::move(a));
    }
    Attachment inner;
    inner.props.set(kPrAttachLongFilename, std::string("Attached message"));
    inner.embedded = std::make_shared<MessageModel>(message(n + 100, false));
    m.attachments.push_back(std::move(inner));
  }
  return m;
}

void stripTrailingZeros(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seed_stores DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  try {
    {
      const std::string path = (dir / "seed-new.pst").string();
      std::filesystem::remove(path);
      auto store = Store::create(path, "Seed");
      store->validateIpmTree();
      store->close();
      stripTrailingZeros(path);
    }
    {
      const std::string path = (dir / "seed-mail.pst").string();
      std::filesystem::remove(path);
      auto store = Store::create(path, "Seed");
      Folder inbox = store->ipmRoot().addChild("Inbox");
      Folder sub = inbox.addChild("Sub folder");
      for (int n = 0; n < 3; ++n) inbox.addMessage(message(n, n == 1));
      sub.addMessage(message(7, true));
      store->close();
      stripTrailingZeros(path);
    }
    // The other block encodings, at the node database's level: nodes with data trees and
    // sub-nodes.
    for (const auto crypt : {ndb::CryptMethod::kNone, ndb::CryptMethod::kCyclic}) {
      const std::string path = (dir / ("seed-nodes-" + std::to_string(static_cast<int>(crypt)) + ".pst")).string();
      std::filesystem::remove(path);
      auto db = ndb::NodeDatabase::create(path, {crypt});
      for (std::uint32_t i = 1; i <= 3; ++i) {
        auto node = db->createNode(ndb::makeNid(ndb::kNidTypeNormalMessage, 0x100 + i), 0x122);
        for (std::uint32_t b = 0; b < i; ++b) node->data().writeBlock(b, Bytes(b + 1 < i ? ndb::kMaxBlockPayload : 100, static_cast<std::uint8_t>(i)));
        node->createSubnode(ndb::makeNid(ndb::kNidTypeLtp, i))->data().writeBlock(0, Bytes(30, 7));
      }
      db->close();
      stripTrailingZeros(path);
    }
  } catch (const Error& e) {
    std::fprintf(stderr, "make_seed_stores: %s\n", e.what());
    return 1;
  }
  return 0;
}

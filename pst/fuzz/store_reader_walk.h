// Everything a reader does with a store file, for the store fuzzer and the test that replays its
// findings: the node database's nodes with their data and sub-nodes, the checker, and the store's
// folders, messages, recipients, attachments (their data read to the end) and embedded messages;
// then what a conversion does: a writable open (with its look for damage), a folder and a
// message added, and the store discarded. A damaged file may make any step throw Error; anything
// else (a crash, a hang, another exception, a sanitizer report) is a fault of the reader.
//
// Fuzz inputs are store files without their trailing zeros (a store is mostly empty space at
// its end, and small inputs fuzz faster): writeStoreInput() puts the zeros back, up to the end
// the header records (at most 8 MB).
//
// Header only: the fuzz target is built outside the CMake build (scripts/fuzz-store.sh).
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "pst/messaging/store.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store_check.h"
#include "pst/ndb/header.h"
#include "pst/ndb/node_database.h"

namespace mailfold::pst::fuzz {

inline void writeStoreInput(ByteView input, const std::string& path) {
  constexpr std::uint64_t kMaxPadding = 8u << 20;  // a damaged header may record any size
  std::uint64_t end = input.size();
  try {
    const auto header = ndb::decodeHeader(input.first(std::min<std::size_t>(input.size(), ndb::kHeaderReadSize)));
    end = std::max<std::uint64_t>(end, std::min(header.root.fileEof, kMaxPadding));
  } catch (const Error&) {
  }
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
  }
  if (end > input.size()) std::filesystem::resize_file(path, end);
}

inline void readNodeTree(ndb::Node& node, int depth) {
  (void)ndb::readAll(node.data());
  if (depth >= 8) return;  // deeper trees are read by the message walk below
  for (ndb::Nid sub : node.subnodeIds()) {
    try {
      readNodeTree(*node.openSubnode(sub), depth + 1);
    } catch (const Error&) {
    }
  }
}

inline void readMessageModel(const MessageModel& m) {
  for (const Attachment& a : m.attachments) {
    if (const auto* source = a.props.getAs<std::shared_ptr<const ByteSource>>(kPrAttachDataBin); source && *source) {
      std::uint8_t buffer[4096];
      for (std::uint64_t at = 0; at < (*source)->size();) {
        const std::size_t n = (*source)->read(at, buffer);
        if (n == 0) break;
        at += n;
      }
    }
    if (a.embedded) readMessageModel(*a.embedded);
  }
}

inline void walkStore(const std::string& path) {
  try {
    auto db = ndb::NodeDatabase::open(path);
    (void)db->format();
    for (const ndb::NodeInfo& info : db->nodes()) {
      try {
        readNodeTree(*db->openNode(info.nid), 0);
      } catch (const Error&) {
      }
    }
  } catch (const Error&) {
  }
  try {
    (void)examineStore(path);
  } catch (const Error&) {
  }
  try {
    auto store = Store::open(path, false);
    (void)store->displayName();
    std::set<ndb::Nid> seen;  // hierarchy rows of a damaged store can lead back up the tree
    std::function<void(const Folder&)> visit = [&](const Folder& f) {
      if (!seen.insert(f.nid()).second) return;
      (void)f.name();
      (void)f.contentCount();
      (void)f.unreadCount();
      for (ndb::Nid nid : f.messages()) {
        try {
          readMessageModel(store->readMessage(nid));
        } catch (const Error&) {
        }
      }
      for (const Folder& child : f.children()) {
        try {
          visit(child);
        } catch (const Error&) {
        }
      }
    };
    visit(store->ipmRoot());
  } catch (const Error&) {
  }
  try {
    auto store = Store::open(path, true);
    try {
      MessageModel m;
      m.props.set(kPrSubject, std::string("added by the fuzzer"));
      store->ipmRoot().addChild("Fuzz").addMessage(m);
    } catch (const Error&) {
    }
    store->discard();
  } catch (const Error&) {
  }
}

}  // namespace mailfold::pst::fuzz

#include "pst/ndb/block.h"

#include "pst/ndb/crc.h"
#include "pst/ndb/file.h"

namespace mailfold::pst::ndb {
namespace {

std::uint64_t loadId(const Format& f, const std::uint8_t* p) {
  return f.unicode ? load<std::uint64_t>(p) : load<std::uint32_t>(p);
}

BlockTrailer decodeTrailer(const Format& f, ByteView raw) {
  const std::uint8_t* p = raw.data() + raw.size() - f.blockTrailerSize();
  BlockTrailer t;
  t.cb = load<std::uint16_t>(p);
  t.sig = load<std::uint16_t>(p + 2);
  if (f.unicode) {
    t.crc = load<std::uint32_t>(p + 4);
    t.bid = load<std::uint64_t>(p + 8);
  } else {
    t.bid = load<std::uint32_t>(p + 4);
    t.crc = load<std::uint32_t>(p + 8);
  }
  return t;
}

}  // namespace

std::string checkBlockBytes(const Format& f, ByteView raw, std::uint64_t bid, std::uint64_t ib, std::uint16_t cb) {
  const std::string where = "block " + hex(bid) + " at " + hex(ib);
  if (raw.size() != blockAllocSize(f, cb) || raw.size() > kMaxBlockSize) return where + ": wrong size";
  const BlockTrailer t = decodeTrailer(f, raw);
  if (t.cb != cb) return where + ": trailer says " + std::to_string(t.cb) + " bytes, BBT says " + std::to_string(cb);
  if (bidKey(t.bid) != bidKey(bid)) return where + ": trailer names block " + hex(t.bid);
  const std::uint16_t sig = blockSignature(ib, t.bid);
  if (t.sig != sig) return where + ": signature " + hex(t.sig) + ", expected " + hex(sig);
  const std::uint32_t crc = crc32(raw.first(cb));
  if (t.crc != crc) return where + ": CRC " + hex(t.crc) + ", computed " + hex(crc);
  return {};
}

Bytes readBlockPayload(const File& file, const Format& f, std::uint64_t bid, std::uint64_t ib, std::uint16_t cb) {
  const std::uint32_t size = blockAllocSize(f, cb);
  if (size > kMaxBlockSize)
    throw Error(ErrorKind::kCorrupt, "block " + hex(bid) + " at " + hex(ib) + " claims " + std::to_string(cb) + " bytes, more than a block holds");
  Bytes raw = file.read(ib, size, "block");
  if (std::string p = checkBlockBytes(f, raw, bid, ib, cb); !p.empty()) throw Error(ErrorKind::kCorrupt, p);
  raw.resize(cb);
  return raw;
}

Bytes buildBlock(ByteView payload, std::uint64_t bid, std::uint64_t ib) {
  const Format f{true};
  if (payload.size() > f.maxBlockPayload()) throw Error(ErrorKind::kInternal, "internal: block payload of " + std::to_string(payload.size()) + " bytes");
  Bytes out(blockAllocSize(f, payload.size()), 0);
  std::copy(payload.begin(), payload.end(), out.begin());
  std::uint8_t* t = out.data() + out.size() - 16;
  store<std::uint16_t>(t, static_cast<std::uint16_t>(payload.size()));
  store<std::uint16_t>(t + 2, blockSignature(ib, bid));
  store<std::uint32_t>(t + 4, crc32(payload));
  store<std::uint64_t>(t + 8, bid);
  return out;
}

DataTreeBlock decodeDataTree(const Format& f, ByteView p, std::uint64_t bid) {
  const std::string where = "data tree block " + hex(bid);
  if (p.size() < 8) throw Error(ErrorKind::kCorrupt, where + " is too short");
  if (p[0] != kBlockTypeDataTree) throw Error(ErrorKind::kCorrupt, where + " has block type " + hex(p[0]));
  DataTreeBlock out;
  out.level = p[1];
  if (out.level != 1 && out.level != 2) throw Error(ErrorKind::kCorrupt, where + " has level " + std::to_string(out.level));
  const std::uint16_t count = load<std::uint16_t>(&p[2]);
  out.totalSize = load<std::uint32_t>(&p[4]);
  const std::size_t w = f.idSize();
  if (8 + count * w > p.size()) throw Error(ErrorKind::kCorrupt, where + " lists " + std::to_string(count) + " entries that do not fit");
  for (std::size_t i = 0; i < count; ++i) out.bids.push_back(loadId(f, &p[8 + i * w]));
  return out;
}

Bytes encodeDataTree(const DataTreeBlock& b) {
  Bytes out(8 + 8 * b.bids.size(), 0);
  out[0] = kBlockTypeDataTree;
  out[1] = b.level;
  store<std::uint16_t>(&out[2], static_cast<std::uint16_t>(b.bids.size()));
  store<std::uint32_t>(&out[4], b.totalSize);
  for (std::size_t i = 0; i < b.bids.size(); ++i) store<std::uint64_t>(&out[8 + 8 * i], b.bids[i]);
  return out;
}

SubnodeBlock decodeSubnodeBlock(const Format& f, ByteView p, std::uint64_t bid) {
  const std::string where = "sub-node block " + hex(bid);
  if (p.size() < 4) throw Error(ErrorKind::kCorrupt, where + " is too short");
  if (p[0] != kBlockTypeSubnode) throw Error(ErrorKind::kCorrupt, where + " has block type " + hex(p[0]));
  SubnodeBlock out;
  out.level = p[1];
  if (out.level > 1) throw Error(ErrorKind::kCorrupt, where + " has level " + std::to_string(out.level));
  const std::uint16_t count = load<std::uint16_t>(&p[2]);
  const std::size_t w = f.idSize();
  // Unicode blocks pad the header to 8 bytes; 32-bit leaf blocks do not, and 32-bit index
  // blocks are documented both ways, so their start follows from the size they occupy.
  std::size_t start = f.unicode ? 8 : 4;
  const std::size_t entry = out.level == 0 ? 3 * w : 2 * w;
  if (!f.unicode && out.level == 1 && 8 + count * entry == p.size()) start = 8;
  if (start + count * entry > p.size())
    throw Error(ErrorKind::kCorrupt, where + " lists " + std::to_string(count) + " entries that do not fit");
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* e = &p[start + i * entry];
    if (out.level == 0) {
      out.leaves.push_back({static_cast<std::uint32_t>(loadId(f, e)), loadId(f, e + w), loadId(f, e + 2 * w)});
    } else {
      out.index.push_back({static_cast<std::uint32_t>(loadId(f, e)), loadId(f, e + w)});
    }
  }
  return out;
}

Bytes encodeSubnodeBlock(const SubnodeBlock& b) {
  const std::size_t count = b.level == 0 ? b.leaves.size() : b.index.size();
  const std::size_t entry = b.level == 0 ? 24 : 16;
  Bytes out(8 + entry * count, 0);
  out[0] = kBlockTypeSubnode;
  out[1] = b.level;
  store<std::uint16_t>(&out[2], static_cast<std::uint16_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* e = &out[8 + i * entry];
    if (b.level == 0) {
      store<std::uint64_t>(e, b.leaves[i].nid);
      store<std::uint64_t>(e + 8, b.leaves[i].bidData);
      store<std::uint64_t>(e + 16, b.leaves[i].bidSub);
    } else {
      store<std::uint64_t>(e, b.index[i].nid);
      store<std::uint64_t>(e + 8, b.index[i].bid);
    }
  }
  return out;
}

}  // namespace mailfold::pst::ndb

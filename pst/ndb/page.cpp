#include "pst/ndb/page.h"

#include "pst/ndb/crc.h"

namespace mailfold::pst::ndb {
namespace {

std::size_t trailerOffset(const Format& f) { return kPageSize - f.pageTrailerSize(); }

bool hasSignature(PageType t) { return t == PageType::kBbt || t == PageType::kNbt || t == PageType::kDList; }

std::uint64_t loadId(const Format& f, const std::uint8_t* p) {
  return f.unicode ? load<std::uint64_t>(p) : load<std::uint32_t>(p);
}

}  // namespace

PageTrailer decodePageTrailer(const Format& f, ByteView page) {
  PageTrailer t;
  const std::uint8_t* p = page.data() + trailerOffset(f);
  t.ptype = p[0];
  t.ptypeRepeat = p[1];
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

std::string checkPage(const Format& f, ByteView page, PageType type, std::uint64_t bid, std::uint64_t ib) {
  if (page.size() != kPageSize) return "page at " + hex(ib) + " is incomplete";
  const PageTrailer t = decodePageTrailer(f, page);
  const std::string where = "page " + hex(bid) + " at " + hex(ib);
  if (t.ptype != static_cast<std::uint8_t>(type))
    return where + ": type " + hex(t.ptype) + ", expected " + hex(static_cast<std::uint8_t>(type));
  if (t.ptypeRepeat != t.ptype) return where + ": repeated type byte differs";
  if (t.bid != bid) return where + ": trailer names page " + hex(t.bid);
  const std::uint16_t sig = hasSignature(type) ? blockSignature(ib, bid) : 0;
  if (t.sig != sig) return where + ": signature " + hex(t.sig) + ", expected " + hex(sig);
  const std::uint32_t crc = crc32(page.first(trailerOffset(f)));
  if (t.crc != crc) return where + ": CRC " + hex(t.crc) + ", computed " + hex(crc);
  return {};
}

void sealPage(Bytes& page, PageType type, std::uint64_t bid, std::uint64_t ib) {
  page.resize(kPageSize);
  std::uint8_t* p = page.data() + 496;
  p[0] = p[1] = static_cast<std::uint8_t>(type);
  store<std::uint16_t>(p + 2, hasSignature(type) ? blockSignature(ib, bid) : 0);
  store<std::uint32_t>(p + 4, crc32(ByteView(page).first(496)));
  store<std::uint64_t>(p + 8, bid);
}

BtPage decodeBtPage(const Format& f, ByteView page, PageType type) {
  const std::size_t n = f.btEntriesSize();
  BtPage out;
  out.type = type;
  const std::uint8_t cEnt = page[n], cbEnt = page[n + 2];
  out.level = page[n + 3];
  const std::size_t need = out.level > 0 ? f.btIndexEntrySize()
                                         : (type == PageType::kNbt ? f.nbtEntrySize() : f.bbtEntrySize());
  // Entries may be padded (cbEnt larger than the record), never smaller.
  if (cbEnt < need || static_cast<std::size_t>(cEnt) * cbEnt > n)
    throw Error(ErrorKind::kCorrupt, "B-tree page has " + std::to_string(cEnt) + " entries of " + std::to_string(cbEnt) +
                " bytes (level " + std::to_string(out.level) + "), which do not fit");
  if (out.level > 8) throw Error(ErrorKind::kCorrupt, "B-tree page has level " + std::to_string(out.level) + " (at most 8 allowed)");
  const std::size_t w = f.idSize();
  for (std::size_t i = 0; i < cEnt; ++i) {
    const std::uint8_t* e = page.data() + i * cbEnt;
    if (out.level > 0) {
      out.index.push_back({loadId(f, e), {loadId(f, e + w), loadId(f, e + 2 * w)}});
    } else if (type == PageType::kNbt) {
      NbtEntry x;
      x.nid = loadId(f, e);
      x.bidData = loadId(f, e + w);
      x.bidSub = loadId(f, e + 2 * w);
      x.nidParent = load<std::uint32_t>(e + 3 * w);
      out.nodes.push_back(x);
    } else {
      BbtEntry x;
      x.ref = {loadId(f, e), loadId(f, e + w)};
      x.cb = load<std::uint16_t>(e + 2 * w);
      x.cRef = load<std::uint16_t>(e + 2 * w + 2);
      out.blocks.push_back(x);
    }
  }
  return out;
}

std::size_t btCapacity(PageType type, std::uint8_t level) {
  const Format f{true};
  const std::size_t size = level > 0 ? f.btIndexEntrySize()
                                     : (type == PageType::kNbt ? f.nbtEntrySize() : f.bbtEntrySize());
  return f.btEntriesSize() / size;
}

Bytes encodeBtPage(const BtPage& pg, std::uint64_t bid, std::uint64_t ib) {
  const Format f{true};
  const std::size_t cbEnt = pg.level > 0 ? f.btIndexEntrySize()
                                         : (pg.type == PageType::kNbt ? f.nbtEntrySize() : f.bbtEntrySize());
  const std::size_t count = pg.size();
  const std::size_t max = btCapacity(pg.type, pg.level);
  if (count > max) throw Error(ErrorKind::kInternal, "internal: B-tree page overfull (" + std::to_string(count) + " entries)");
  Bytes page(kPageSize, 0);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* e = page.data() + i * cbEnt;
    if (pg.level > 0) {
      store<std::uint64_t>(e, pg.index[i].key);
      store<std::uint64_t>(e + 8, pg.index[i].child.bid);
      store<std::uint64_t>(e + 16, pg.index[i].child.ib);
    } else if (pg.type == PageType::kNbt) {
      store<std::uint64_t>(e, pg.nodes[i].nid);
      store<std::uint64_t>(e + 8, pg.nodes[i].bidData);
      store<std::uint64_t>(e + 16, pg.nodes[i].bidSub);
      store<std::uint32_t>(e + 24, pg.nodes[i].nidParent);
    } else {
      store<std::uint64_t>(e, pg.blocks[i].ref.bid);
      store<std::uint64_t>(e + 8, pg.blocks[i].ref.ib);
      store<std::uint16_t>(e + 16, pg.blocks[i].cb);
      store<std::uint16_t>(e + 18, pg.blocks[i].cRef);
    }
  }
  page[488] = static_cast<std::uint8_t>(count);
  page[489] = static_cast<std::uint8_t>(max);
  page[490] = static_cast<std::uint8_t>(cbEnt);
  page[491] = pg.level;
  sealPage(page, pg.type, bid, ib);
  return page;
}

namespace {
constexpr std::size_t kDListEntriesAt = 8;
}  // namespace

std::size_t dlistCapacity(const Format& f) { return (f.unicode ? 476 : 480) / 4; }

DListPage decodeDListPage(const Format& f, ByteView page) {
  if (page.size() != kPageSize) throw Error(ErrorKind::kCorrupt, "density list page is incomplete");
  DListPage out;
  out.flags = page[0];
  const std::size_t count = page[1];
  out.currentPage = load<std::uint32_t>(page.data() + 4);
  if (count > dlistCapacity(f))
    throw Error(ErrorKind::kCorrupt, "density list claims " + std::to_string(count) + " entries, the page holds at most " +
                std::to_string(dlistCapacity(f)));
  for (std::size_t i = 0; i < count; ++i) {
    const auto v = load<std::uint32_t>(page.data() + kDListEntriesAt + 4 * i);
    out.entries.push_back({v & kDListMaxAMapIndex, static_cast<std::uint16_t>(v >> 20)});
  }
  return out;
}

Bytes encodeDListPage(const DListPage& d, std::uint64_t bid) {
  if (d.entries.size() > dlistCapacity(Format{true})) throw Error(ErrorKind::kInternal, "internal: density list overfull");
  Bytes page(kPageSize, 0);
  page[0] = d.flags;
  page[1] = static_cast<std::uint8_t>(d.entries.size());
  store<std::uint32_t>(page.data() + 4, d.currentPage);
  for (std::size_t i = 0; i < d.entries.size(); ++i) {
    const DListEntry& e = d.entries[i];
    if (e.amapIndex > kDListMaxAMapIndex || e.freeSlots > 0xFFF)
      throw Error(ErrorKind::kInternal, "internal: density list entry out of range (AMap " + std::to_string(e.amapIndex) + ")");
    store<std::uint32_t>(page.data() + kDListEntriesAt + 4 * i, e.amapIndex | std::uint32_t{e.freeSlots} << 20);
  }
  sealPage(page, PageType::kDList, bid, kDListOffset);
  return page;
}

SectionMaps sectionMaps(std::uint64_t i) {
  SectionMaps m;
  m.pmap = i % kPMapEvery == 0;
  m.fmap = i >= kFMapFirstAMap && (i - kFMapFirstAMap) % kFMapEvery == 0;
  m.fpmap = i >= kFPMapFirstAMap && (i - kFPMapFirstAMap) % kFPMapEvery == 0;
  return m;
}

}  // namespace mailfold::pst::ndb

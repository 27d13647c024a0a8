#include "pst/ndb/allocator.h"

#include <algorithm>
#include <bit>

#include "pst/ndb/file.h"
#include "pst/ndb/page.h"

namespace mailfold::pst::ndb {
namespace {

constexpr std::uint32_t kUnit = 64;
constexpr std::uint32_t kUnitsPerPage = kPageSize / kUnit;

// Bit n of a map is bit (7 - n % 8) of byte n / 8: the first 64 bytes are the top bit.
bool bitAt(const std::array<std::uint8_t, 496>& b, std::uint32_t n) { return (b[n / 8] >> (7 - n % 8)) & 1; }

constexpr std::uint8_t kWritePMap = 1, kWriteFMap = 2, kWriteFPMap = 4, kWriteAll = 7;

}  // namespace

void Allocator::addSection(bool fresh) {
  const std::uint64_t index = bits_.size();
  bits_.push_back({});
  freeUnits_.push_back(kAMapBits);
  dirty_.push_back(true);
  fixedToWrite_.push_back(fresh ? kWriteAll : 0);
  noBlockRun_.push_back(kAMapBits + 1);
  noPageRun_.push_back(kAMapBits + 1);
  setRun(index, 0, sectionMaps(index).pageCount() * kUnitsPerPage, true);
}

void Allocator::init(std::uint64_t sections, bool newFile) {
  bits_.clear();
  freeUnits_.clear();
  dirty_.clear();
  fixedToWrite_.clear();
  noBlockRun_.clear();
  noPageRun_.clear();
  firstWithRoom_ = 0;
  for (std::uint64_t i = 0; i < sections; ++i) addSection(newFile);
}

void Allocator::reviewFixedMapPages(const File& file, const Format& format) {
  for (std::uint64_t s = 0; s < bits_.size(); ++s) {
    const SectionMaps m = sectionMaps(s);
    std::uint64_t at = amapOffset(s) + kPageSize;
    const std::pair<bool, std::pair<PageType, std::uint8_t>> pages[] = {
        {m.pmap, {PageType::kPMap, kWritePMap}}, {m.fmap, {PageType::kFMap, kWriteFMap}}, {m.fpmap, {PageType::kFPMap, kWriteFPMap}}};
    for (const auto& [present, what] : pages) {
      if (!present) continue;
      Bytes page;
      try {
        page = file.read(at, kPageSize, "map page");
      } catch (const Error&) {
        // past the end of the file: written with the rest
      }
      if (page.size() != kPageSize || !checkPage(format, page, what.first, at, at).empty()) fixedToWrite_[s] |= what.second;
      at += kPageSize;
    }
  }
}

void Allocator::load(const File& file, const Format& format, std::uint64_t sections) {
  init(0);
  for (std::uint64_t i = 0; i < sections; ++i) {
    const std::uint64_t ib = amapOffset(i);
    Bytes page = file.read(ib, kPageSize, "allocation map page");
    if (std::string p = checkPage(format, page, PageType::kAMap, ib, ib); !p.empty())
      throw Error(ErrorKind::kCorrupt, "allocation map damaged: " + p);
    std::array<std::uint8_t, 496> b{};
    std::copy_n(page.begin() + static_cast<std::ptrdiff_t>(mapDataOffset(format)), 496, b.begin());
    std::uint32_t used = 0;
    for (std::uint8_t x : b) used += static_cast<std::uint32_t>(std::popcount(x));
    bits_.push_back(b);
    freeUnits_.push_back(kAMapBits - used);
    dirty_.push_back(false);
    fixedToWrite_.push_back(0);
    noBlockRun_.push_back(kAMapBits + 1);
    noPageRun_.push_back(kAMapBits + 1);
  }
}

void Allocator::setRun(std::uint64_t s, std::uint32_t first, std::uint32_t count, bool used) {
  if (mark_ && s < mark_->sections) mark_->runs.push_back({s, first, count, used});
  auto& b = bits_[s];
  for (std::uint32_t n = first; n < first + count; ++n) {
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << (7 - n % 8));
    if (used) b[n / 8] |= mask; else b[n / 8] &= static_cast<std::uint8_t>(~mask);
  }
  if (used) {
    freeUnits_[s] -= count;
  } else {
    freeUnits_[s] += count;
    noBlockRun_[s] = noPageRun_[s] = kAMapBits + 1;
  }
  dirty_[s] = true;
}

bool Allocator::runFree(const std::array<std::uint8_t, 496>& b, std::uint32_t first, std::uint32_t count) const {
  for (std::uint32_t n = first; n < first + count; ++n)
    if (bitAt(b, n)) return false;
  return true;
}

bool Allocator::isFree(std::uint64_t ib, std::uint64_t size) const {
  if (ib < kAMapFirst || size == 0 || size % kUnit || (ib - kAMapFirst) % kUnit) return false;
  const std::uint64_t s = (ib - kAMapFirst) / kAMapCoverage;
  const std::uint64_t first = (ib - amapOffset(s)) / kUnit;
  if (s >= bits_.size() || first + size / kUnit > kAMapBits) return false;
  return runFree(bits_[s], static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(size / kUnit));
}

void Allocator::markUsed(std::uint64_t ib, std::uint64_t size) {
  if (ib < kAMapFirst || size == 0 || size % kUnit || (ib - kAMapFirst) % kUnit)
    throw Error(ErrorKind::kCorrupt, "space at " + hex(ib) + " (" + std::to_string(size) + " bytes) is not 64-byte aligned data space");
  const std::uint64_t s = (ib - kAMapFirst) / kAMapCoverage;
  const std::uint64_t first = (ib - amapOffset(s)) / kUnit;
  if (s >= bits_.size() || first + size / kUnit > kAMapBits)
    throw Error(ErrorKind::kCorrupt, "space at " + hex(ib) + " (" + std::to_string(size) + " bytes) lies outside the mapped file");
  if (!runFree(bits_[s], static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(size / kUnit)))
    throw Error(ErrorKind::kCorrupt, "space at " + hex(ib) + " (" + std::to_string(size) + " bytes) is used twice");
  setRun(s, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(size / kUnit), true);
}

void Allocator::free(std::uint64_t ib, std::uint64_t size) {
  const std::uint64_t s = (ib - kAMapFirst) / kAMapCoverage;
  const std::uint64_t first = (ib - amapOffset(s)) / kUnit;
  if (ib < kAMapFirst || s >= bits_.size() || first + size / kUnit > kAMapBits)
    throw Error(ErrorKind::kInternal, "internal: freeing space at " + hex(ib) + " outside the mapped file");
  setRun(s, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(size / kUnit), false);
  firstWithRoom_ = std::min(firstWithRoom_, s);
}

std::uint64_t Allocator::allocate(std::uint64_t size, bool page) {
  if (size == 0 || size % kUnit || size > kMaxBlockSize) throw Error(ErrorKind::kInternal, "internal: allocation of " + std::to_string(size) + " bytes");
  const auto units = static_cast<std::uint32_t>(size / kUnit);
  const std::uint32_t step = page ? kUnitsPerPage : 1;
  for (std::uint64_t s = firstWithRoom_;; ++s) {
    if (s == bits_.size()) addSection();
    if (freeUnits_[s] < units) {
      if (s == firstWithRoom_ && freeUnits_[s] == 0) ++firstWithRoom_;
      continue;
    }
    std::uint32_t& noRun = page ? noPageRun_[s] : noBlockRun_[s];
    if (units >= noRun) continue;
    const auto& b = bits_[s];
    for (std::uint32_t n = 0; n + units <= kAMapBits;) {
      if (b[n / 8] == 0xFF && n % 8 == 0) {
        n += 8;
        continue;
      }
      std::uint32_t used = 0;
      for (std::uint32_t k = 0; k < units; ++k)
        if (bitAt(b, n + k)) used = k + 1;
      if (used == 0) {
        setRun(s, n, units, true);
        return amapOffset(s) + std::uint64_t{n} * kUnit;
      }
      n += used;
      n = (n + step - 1) / step * step;
    }
    noRun = units;
  }
}

std::uint64_t Allocator::fileEof() const { return amapOffset(bits_.size()); }
std::uint64_t Allocator::amapLast() const { return amapOffset(bits_.size() - 1); }

std::uint64_t Allocator::freeBytes() const {
  std::uint64_t units = 0;
  for (auto f : freeUnits_) units += f;
  return units * kUnit;
}

bool Allocator::dirty() const { return std::find(dirty_.begin(), dirty_.end(), true) != dirty_.end(); }

void Allocator::writeMaps(File& file) {
  for (std::uint64_t s = 0; s < bits_.size(); ++s) {
    const std::uint64_t ib = amapOffset(s);
    if (fixedToWrite_[s]) {
      // Pages that older clients read and newer ones ignore: no free pages or runs claimed.
      const SectionMaps m = sectionMaps(s);
      const std::uint8_t write = fixedToWrite_[s];
      std::uint64_t at = ib + kPageSize;
      if (m.pmap) {
        if (write & kWritePMap) {
          Bytes pm(kPageSize, 0xFF);
          sealPage(pm, PageType::kPMap, at, at);
          file.write(at, pm);
        }
        at += kPageSize;
      }
      if (m.fmap) {
        if (write & kWriteFMap) {
          Bytes fm(kPageSize, 0x00);
          sealPage(fm, PageType::kFMap, at, at);
          file.write(at, fm);
        }
        at += kPageSize;
      }
      if (m.fpmap && (write & kWriteFPMap)) {
        Bytes fp(kPageSize, 0xFF);
        sealPage(fp, PageType::kFPMap, at, at);
        file.write(at, fp);
      }
      fixedToWrite_[s] = 0;
    }
    if (dirty_[s]) {
      Bytes page(bits_[s].begin(), bits_[s].end());
      sealPage(page, PageType::kAMap, ib, ib);
      file.write(ib, page);
      std::uint32_t used = 0;
      for (std::uint8_t x : bits_[s]) used += static_cast<std::uint32_t>(std::popcount(x));
      freeUnits_[s] = kAMapBits - used;
      dirty_[s] = false;
    }
  }
}

bool Allocator::allInUse(std::uint64_t ib, std::uint64_t size) const {
  if (ib < kAMapFirst || size == 0) return false;
  for (std::uint64_t at = ib - (ib - kAMapFirst) % kUnit; at < ib + size; at += kUnit) {
    const std::uint64_t s = (at - kAMapFirst) / kAMapCoverage;
    if (s >= bits_.size() || !bitAt(bits_[s], static_cast<std::uint32_t>((at - amapOffset(s)) / kUnit))) return false;
  }
  return true;
}

void Allocator::mark() { mark_ = Mark{bits_.size(), firstWithRoom_, {}}; }

void Allocator::release() { mark_.reset(); }

void Allocator::rollback() {
  if (!mark_) return;
  Mark m = std::move(*mark_);
  mark_.reset();
  // Each run back to what it was, newest first; then the sections added since go (their bytes
  // past the file end are cut off by the next commit).
  for (auto it = m.runs.rbegin(); it != m.runs.rend(); ++it) setRun(it->section, it->first, it->count, !it->used);
  bits_.resize(m.sections);
  freeUnits_.resize(m.sections);
  dirty_.resize(m.sections);
  fixedToWrite_.resize(m.sections);
  noBlockRun_.resize(m.sections);
  noPageRun_.resize(m.sections);
  firstWithRoom_ = m.firstWithRoom;
}

DListPage Allocator::densityList() const {
  DListPage list;
  // One section: Outlook leaves the list empty, no flag set (every Outlook store of one
  // section has it so).
  if (bits_.size() < 2) return list;
  // More: Outlook 2007 and later list every AMap but the last, backfill complete. The last AMap
  // is the one the next allocation goes to (the current page); the others follow most free
  // first, as the format orders them ("ascending density"), ties in file order. A page holds
  // 119 entries: in a larger store the 119 with the most room are the ones worth listing.
  list.flags = kDListBackfillComplete;
  list.currentPage = static_cast<std::uint32_t>(bits_.size() - 1);
  std::vector<std::uint32_t> order;
  for (std::uint32_t s = 0; s + 1 < bits_.size() && s <= kDListMaxAMapIndex; ++s) order.push_back(s);
  const std::size_t keep = std::min(order.size(), dlistCapacity(Format{true}));
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(keep), order.end(),
                    [&](std::uint32_t a, std::uint32_t b) { return freeUnits_[a] != freeUnits_[b] ? freeUnits_[a] > freeUnits_[b] : a < b; });
  for (std::size_t i = 0; i < keep; ++i) list.entries.push_back({order[i], static_cast<std::uint16_t>(freeUnits_[order[i]])});
  return list;
}

}  // namespace mailfold::pst::ndb

#include "pst/ltp/bth.h"

#include <cstdio>
#include <unordered_set>

namespace mailfold::pst::ltp {
namespace {

constexpr std::uint8_t kBthType = 0xB5;
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kHidSize = 4;
constexpr std::uint8_t kMaxLevels = 16;

}  // namespace

Bytes Bth::encodeInt(std::uint64_t value, std::size_t size) {
  Bytes out(size, 0);
  for (std::size_t i = 0; i < size && i < 8; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return out;
}

std::uint64_t Bth::decodeInt(ByteView bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes.size() && i < 8; ++i) v |= std::uint64_t{bytes[i]} << (8 * i);
  return v;
}

Hid Bth::create(Heap& heap, std::uint8_t keySize, std::uint8_t dataSize) {
  if (keySize != 2 && keySize != 4 && keySize != 8 && keySize != 16)
    throw Error(ErrorKind::kInternal, "BTH keys have 2, 4, 8 or 16 bytes, not " + std::to_string(keySize));
  if (dataSize == 0 || dataSize > 32) throw Error(ErrorKind::kInternal, "BTH data has 1 to 32 bytes, not " + std::to_string(dataSize));
  const std::uint8_t header[kHeaderSize] = {kBthType, keySize, dataSize, 0, 0, 0, 0, 0};
  return heap.allocate(header);
}

Bth::Bth(Heap& heap, Hid header) : heap_(&heap), header_(header) {
  const Bytes h = heap.read(header);
  if (h.size() != kHeaderSize) throw Error(ErrorKind::kCorrupt, "BTH header " + hex(header) + " has " + std::to_string(h.size()) + " bytes, not 8");
  if (h[0] != kBthType) throw Error(ErrorKind::kCorrupt, "BTH header " + hex(header) + " has type " + hex(h[0]) + " instead of 0xB5");
  keySize_ = h[1];
  dataSize_ = h[2];
  levels_ = h[3];
  root_ = load<std::uint32_t>(h.data() + 4);
  if (keySize_ != 2 && keySize_ != 4 && keySize_ != 8 && keySize_ != 16)
    throw Error(ErrorKind::kCorrupt, "BTH header " + hex(header) + ": key size " + std::to_string(keySize_) + " is not 2, 4, 8 or 16");
  if (dataSize_ == 0 || dataSize_ > 32)
    throw Error(ErrorKind::kCorrupt, "BTH header " + hex(header) + ": data size " + std::to_string(dataSize_) + " is not 1..32");
  if (root_ != 0 && !isHid(root_)) throw Error(ErrorKind::kCorrupt, "BTH header " + hex(header) + ": root " + hex(root_) + " is not a heap item");
  // A heap holds at most 65536 blocks of 3580-byte items: no real tree comes near this depth.
  if (levels_ > kMaxLevels) throw Error(ErrorKind::kCorrupt, "BTH header " + hex(header) + " claims " + std::to_string(levels_) + " index levels");
}

void Bth::writeHeader() {
  Bytes h(kHeaderSize);
  h[0] = kBthType;
  h[1] = keySize_;
  h[2] = dataSize_;
  h[3] = levels_;
  pst::store<std::uint32_t>(h.data() + 4, root_);
  header_ = heap_->reallocate(header_, h);  // same size: stays in place
}

void Bth::checkKey(ByteView key) const {
  if (key.size() != keySize_)
    throw Error(ErrorKind::kInternal, "BTH key of " + std::to_string(key.size()) + " bytes where the tree uses " + std::to_string(keySize_));
}

int Bth::compare(const std::uint8_t* a, const std::uint8_t* b) const {
  for (std::size_t i = keySize_; i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

Bytes Bth::readItem(Hid hid, std::size_t recordSize) {
  if (!isHid(hid) || hid == 0) throw Error(ErrorKind::kCorrupt, "BTH item reference " + hex(hid) + " is not a heap item");
  Bytes item = heap_->read(hid);
  if (item.empty() || item.size() % recordSize != 0)
    throw Error(ErrorKind::kCorrupt, "BTH item " + hex(hid) + " has " + std::to_string(item.size()) + " bytes, not a multiple of its " +
                std::to_string(recordSize) + "-byte records");
  return item;
}

// Index of the last entry whose key is <= key (0 when key precedes every entry).
std::size_t Bth::childFor(const Bytes& entries, ByteView key) const {
  const std::size_t size = keySize_ + kHidSize;
  const std::size_t count = entries.size() / size;
  std::size_t lo = 0, hi = count;  // first entry with key > target
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (compare(entries.data() + mid * size, key.data()) <= 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo == 0 ? 0 : lo - 1;
}

std::optional<Bytes> Bth::find(ByteView key) {
  checkKey(key);
  if (root_ == 0) return std::nullopt;
  Hid hid = root_;
  for (unsigned level = levels_; level > 0; --level) {
    const Bytes entries = readItem(hid, keySize_ + kHidSize);
    const std::size_t i = childFor(entries, key);
    const std::uint8_t* entry = entries.data() + i * (keySize_ + kHidSize);
    if (compare(entry, key.data()) > 0) return std::nullopt;
    hid = load<std::uint32_t>(entry + keySize_);
  }
  const std::size_t size = keySize_ + dataSize_;
  const Bytes records = readItem(hid, size);
  std::size_t lo = 0, hi = records.size() / size;
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    const int c = compare(records.data() + mid * size, key.data());
    if (c == 0) return Bytes(records.begin() + mid * size + keySize_, records.begin() + (mid + 1) * size);
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return std::nullopt;
}

void Bth::forEach(const std::function<bool(ByteView key, ByteView data)>& visit) {
  std::unordered_set<Hid> seen;
  if (root_ != 0) walk(root_, levels_, visit, seen);
}

bool Bth::walk(Hid hid, unsigned level, const std::function<bool(ByteView, ByteView)>& visit,
               std::unordered_set<Hid>& seen) {
  // A damaged tree may point back at an item already visited; walking on would never end.
  if (!seen.insert(hid).second) throw Error(ErrorKind::kCorrupt, "BTH item " + hex(hid) + " is reached twice: the tree is damaged");
  if (level == 0) {
    const std::size_t size = keySize_ + dataSize_;
    const Bytes records = readItem(hid, size);
    for (std::size_t at = 0; at < records.size(); at += size) {
      if (!visit(ByteView(records.data() + at, keySize_), ByteView(records.data() + at + keySize_, dataSize_))) return false;
    }
    return true;
  }
  const std::size_t size = keySize_ + kHidSize;
  const Bytes entries = readItem(hid, size);
  for (std::size_t at = 0; at < entries.size(); at += size) {
    if (!walk(load<std::uint32_t>(entries.data() + at + keySize_), level - 1, visit, seen)) return false;
  }
  return true;
}

Bth::Insert Bth::store(Hid hid, Bytes records, std::size_t recordSize, std::size_t maxRecords, std::size_t insertedAt) {
  const std::size_t count = records.size() / recordSize;
  Insert result;
  if (count <= maxRecords) {
    result.hid = heap_->reallocate(hid, records);
    result.firstKey.assign(records.begin(), records.begin() + keySize_);
    return result;
  }
  // Appending at the end (ascending ids, the common case) leaves the left item full; any other
  // insertion splits in the middle.
  const std::size_t splitAt = insertedAt + 1 == count ? count - 1 : count / 2;
  const ByteView left(records.data(), splitAt * recordSize);
  const ByteView right(records.data() + splitAt * recordSize, records.size() - splitAt * recordSize);
  result.hid = heap_->reallocate(hid, left);
  result.firstKey.assign(left.begin(), left.begin() + keySize_);
  const Hid rightHid = heap_->allocate(right);
  result.split = std::make_pair(Bytes(right.begin(), right.begin() + keySize_), rightHid);
  return result;
}

Bth::Insert Bth::insertInto(Hid hid, unsigned level, ByteView key, ByteView data) {
  if (level == 0) {
    const std::size_t size = keySize_ + dataSize_;
    Bytes records = readItem(hid, size);
    const std::size_t count = records.size() / size;
    std::size_t lo = 0, hi = count;
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (compare(records.data() + mid * size, key.data()) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    if (lo < count && compare(records.data() + lo * size, key.data()) == 0) {
      std::copy(data.begin(), data.end(), records.begin() + lo * size + keySize_);
    } else {
      records.insert(records.begin() + lo * size, key.begin(), key.end());
      records.insert(records.begin() + lo * size + keySize_, data.begin(), data.end());
    }
    return store(hid, std::move(records), size, kMaxHeapItem / size, lo);
  }
  const std::size_t size = keySize_ + kHidSize;
  Bytes entries = readItem(hid, size);
  const std::size_t i = childFor(entries, key);
  const Insert child = insertInto(load<std::uint32_t>(entries.data() + i * size + keySize_), level - 1, key, data);
  std::copy(child.firstKey.begin(), child.firstKey.end(), entries.begin() + i * size);
  pst::store<std::uint32_t>(entries.data() + i * size + keySize_, child.hid);
  std::size_t changed = i;
  if (child.split) {
    Bytes entry = child.split->first;
    entry.resize(size);
    pst::store<std::uint32_t>(entry.data() + keySize_, child.split->second);
    entries.insert(entries.begin() + (i + 1) * size, entry.begin(), entry.end());
    changed = i + 1;
  }
  return store(hid, std::move(entries), size, kMaxHeapItem / size, changed);
}

void Bth::put(ByteView key, ByteView data) {
  checkKey(key);
  if (data.size() != dataSize_)
    throw Error(ErrorKind::kInternal, "BTH data of " + std::to_string(data.size()) + " bytes where the tree uses " + std::to_string(dataSize_));
  if (root_ == 0) {
    Bytes record(key.begin(), key.end());
    record.insert(record.end(), data.begin(), data.end());
    root_ = heap_->allocate(record);
    levels_ = 0;
    writeHeader();
    return;
  }
  const Insert top = insertInto(root_, levels_, key, data);
  const Hid oldRoot = root_;
  const std::uint8_t oldLevels = levels_;
  root_ = top.hid;
  if (top.split) {
    if (levels_ == kMaxLevels) throw Error(ErrorKind::kRefused, "BTH cannot grow beyond " + std::to_string(kMaxLevels) + " index levels");
    Bytes entries = top.firstKey;
    entries.resize(keySize_ + kHidSize);
    pst::store<std::uint32_t>(entries.data() + keySize_, top.hid);
    Bytes second = top.split->first;
    second.resize(keySize_ + kHidSize);
    pst::store<std::uint32_t>(second.data() + keySize_, top.split->second);
    entries.insert(entries.end(), second.begin(), second.end());
    root_ = heap_->allocate(entries);
    ++levels_;
  }
  if (root_ != oldRoot || levels_ != oldLevels) writeHeader();
}

Bth::Erase Bth::eraseFrom(Hid hid, unsigned level, ByteView key) {
  Erase result;
  if (level == 0) {
    const std::size_t size = keySize_ + dataSize_;
    Bytes records = readItem(hid, size);
    std::size_t at = records.size();
    for (std::size_t lo = 0, hi = records.size() / size; lo < hi;) {
      const std::size_t mid = (lo + hi) / 2;
      const int c = compare(records.data() + mid * size, key.data());
      if (c == 0) {
        at = mid * size;
        break;
      }
      if (c < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    if (at == records.size()) return result;
    result.found = true;
    records.erase(records.begin() + at, records.begin() + at + size);
    if (records.empty()) {
      heap_->free(hid);
      return result;
    }
    result.hid = heap_->reallocate(hid, records);
    result.firstKey.assign(records.begin(), records.begin() + keySize_);
    return result;
  }
  const std::size_t size = keySize_ + kHidSize;
  Bytes entries = readItem(hid, size);
  const std::size_t i = childFor(entries, key);
  if (compare(entries.data() + i * size, key.data()) > 0) return result;
  const Erase child = eraseFrom(load<std::uint32_t>(entries.data() + i * size + keySize_), level - 1, key);
  if (!child.found) return result;
  result.found = true;
  if (child.hid == 0) {
    entries.erase(entries.begin() + i * size, entries.begin() + (i + 1) * size);
    if (entries.empty()) {
      heap_->free(hid);
      return result;
    }
  } else {
    std::copy(child.firstKey.begin(), child.firstKey.end(), entries.begin() + i * size);
    pst::store<std::uint32_t>(entries.data() + i * size + keySize_, child.hid);
  }
  result.hid = heap_->reallocate(hid, entries);
  result.firstKey.assign(entries.begin(), entries.begin() + keySize_);
  return result;
}

bool Bth::erase(ByteView key) {
  checkKey(key);
  if (root_ == 0) return false;
  const Erase top = eraseFrom(root_, levels_, key);
  if (!top.found) return false;
  root_ = top.hid;
  if (root_ == 0) levels_ = 0;
  // A root index with a single child is replaced by that child.
  while (levels_ > 0) {
    const Bytes entries = readItem(root_, keySize_ + kHidSize);
    if (entries.size() != keySize_ + kHidSize) break;
    heap_->free(root_);
    root_ = load<std::uint32_t>(entries.data() + keySize_);
    --levels_;
  }
  writeHeader();
  return true;
}

}  // namespace mailfold::pst::ltp

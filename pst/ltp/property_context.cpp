#include "pst/ltp/property_context.h"

#include <algorithm>
#include <cstdio>

namespace mailfold::pst::ltp {
namespace {

constexpr std::uint32_t kBlockSize = ndb::kMaxBlockPayload;

// Values of fixed types up to 4 bytes sit in the record itself.
bool isInline(std::uint16_t type) {
  const std::uint32_t w = fixedWidth(type);
  return w != 0 && w <= 4;
}

class NodeDataSource final : public ByteSource {
 public:
  explicit NodeDataSource(std::unique_ptr<ndb::Node> node)
      : node_(std::move(node)), size_(node_->data().size()), blocks_(node_->data().blockCount()) {}
  std::uint64_t size() const override { return size_; }
  std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    std::size_t copied = 0;
    while (copied < out.size() && offset + copied < size_) {
      const std::uint64_t at = offset + copied;
      const auto block = static_cast<std::uint32_t>(at / kBlockSize);
      if (block >= blocks_) throw Error(ErrorKind::kCorrupt, "sub-node " + hex(node_->nid()) + " ends before its announced size");
      if (block != cachedIndex_) {
        cached_ = node_->data().readBlock(block);
        cachedIndex_ = block;
        if (block + 1 < blocks_ && cached_.size() != kBlockSize)
          throw Error(ErrorKind::kCorrupt, "block " + std::to_string(block) + " of sub-node " + hex(node_->nid()) + " has " +
                      std::to_string(cached_.size()) + " bytes; every block but the last must be full");
      }
      const std::uint64_t within = at % kBlockSize;
      if (within >= cached_.size()) throw Error(ErrorKind::kCorrupt, "sub-node " + hex(node_->nid()) + " is shorter than its size");
      const std::size_t n = std::min<std::uint64_t>(out.size() - copied, cached_.size() - within);
      std::memcpy(out.data() + copied, cached_.data() + within, n);
      copied += n;
    }
    return copied;
  }

 private:
  std::unique_ptr<ndb::Node> node_;
  std::uint64_t size_;
  std::uint32_t blocks_;
  mutable Bytes cached_;
  mutable std::uint32_t cachedIndex_ = UINT32_MAX;
};

// Bytes already in memory, seen as a source without copying them.
class ViewSource final : public ByteSource {
 public:
  explicit ViewSource(ByteView bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(out.size(), bytes_.size() - offset);
    std::memcpy(out.data(), bytes_.data() + offset, n);
    return n;
  }

 private:
  ByteView bytes_;
};

}  // namespace

ndb::Nid nextLtpSubnodeId(ndb::Node& node) {
  std::uint32_t highest = 0;
  for (ndb::Nid nid : node.subnodeIds())
    if (ndb::nidType(nid) == ndb::kNidTypeLtp) highest = std::max(highest, ndb::nidIndex(nid));
  if (highest >= (1u << 27) - 1) throw Error(ErrorKind::kRefused, "node " + hex(node.nid()) + " has no free sub-node id left");
  return ndb::makeNid(ndb::kNidTypeLtp, highest + 1);
}

void writeStream(ndb::NodeData& data, const ByteSource& source) {
  if (data.blockCount() != 0) throw Error(ErrorKind::kInternal, "a stream is written only into empty node data");
  const std::uint64_t total = source.size();
  Bytes buffer(kBlockSize);
  std::uint64_t offset = 0;
  std::uint32_t block = 0;
  while (offset < total) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, total - offset));
    std::size_t got = 0;
    while (got < want) {
      const std::size_t n = source.read(offset + got, std::span<std::uint8_t>(buffer.data() + got, want - got));
      if (n == 0)
        throw Error(ErrorKind::kBadInput, "source ended at byte " + std::to_string(offset + got) + " of the " + std::to_string(total) +
                    " it announced");
      got += n;
    }
    data.writeBlock(block++, ByteView(buffer.data(), want));
    offset += want;
  }
}

std::unique_ptr<ByteSource> nodeDataSource(std::unique_ptr<ndb::Node> node) {
  return std::make_unique<NodeDataSource>(std::move(node));
}

PropertyContext::PropertyContext(ndb::Node& node, Heap heap)
    : node_(&node), heap_(std::make_unique<Heap>(std::move(heap))) {}

PropertyContext PropertyContext::create(ndb::Node& node) {
  PropertyContext pc(node, Heap::create(node.data(), kClientProperties));
  const Hid header = Bth::create(*pc.heap_, 2, 6);
  pc.heap_->setUserRoot(header);
  pc.bth_ = std::make_unique<Bth>(*pc.heap_, header);
  pc.heap_->flush();
  return pc;
}

PropertyContext PropertyContext::open(ndb::Node& node) {
  try {
    PropertyContext pc(node, Heap::open(node.data()));
    if (pc.heap_->clientSignature() != kClientProperties)
      throw Error(ErrorKind::kCorrupt, "heap client signature is " + hex(pc.heap_->clientSignature()) + ", not a property context (0xBC)");
    pc.bth_ = std::make_unique<Bth>(*pc.heap_, pc.heap_->userRoot());
    if (pc.bth_->keySize() != 2 || pc.bth_->dataSize() != 6)
      throw Error(ErrorKind::kCorrupt, "property tree has " + std::to_string(pc.bth_->keySize()) + "-byte keys and " +
                  std::to_string(pc.bth_->dataSize()) + "-byte records instead of 2 and 6");
    return pc;
  } catch (const Error& e) {
    throw Error("node " + hex(node.nid()) + ": ", e);
  }
}

std::optional<PropertyContext::Record> PropertyContext::record(std::uint16_t id) {
  const auto data = bth_->find(Bth::encodeInt(id, 2));
  if (!data) return std::nullopt;
  return Record{load<std::uint16_t>(data->data()), load<std::uint32_t>(data->data() + 2)};
}

void PropertyContext::put(std::uint16_t id, Record rec) {
  std::uint8_t data[6];
  store<std::uint16_t>(data, rec.type);
  store<std::uint32_t>(data + 2, rec.hnid);
  bth_->put(Bth::encodeInt(id, 2), data);
}

std::vector<PropTag> PropertyContext::tags() {
  std::vector<PropTag> out;
  bth_->forEach([&out](ByteView key, ByteView data) {
    out.push_back(makeTag(load<std::uint16_t>(key.data()), load<std::uint16_t>(data.data())));
    return true;
  });
  return out;
}

std::optional<PropTag> PropertyContext::tagOf(std::uint16_t id) {
  const auto rec = record(id);
  if (!rec) return std::nullopt;
  return makeTag(id, rec->type);
}

Bytes PropertyContext::readStored(PropTag tag, Record rec) {
  try {
    const std::uint32_t width = fixedWidth(rec.type);
    if (isInline(rec.type)) {
      Bytes out(width);
      for (std::uint32_t i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(rec.hnid >> (8 * i));
      return out;
    }
    if (rec.hnid == 0) return {};
    if (isHid(rec.hnid)) return heap_->read(rec.hnid);
    auto sub = node_->openSubnode(rec.hnid);
    return ndb::readAll(sub->data());
  } catch (const Error& e) {
    throw Error("property " + tagName(tag) + " of node " + hex(node_->nid()) + ": ", e);
  }
}

std::optional<PropertyValue> PropertyContext::get(PropTag tag) {
  const auto rec = record(tagId(tag));
  if (!rec || rec->type != tagType(tag)) return std::nullopt;
  if (!isInline(rec->type) && rec->hnid == 0) return emptyValue(rec->type);
  const Bytes stored = readStored(tag, *rec);
  try {
    return decodeValue(rec->type, stored);
  } catch (const Error& e) {
    throw Error("property " + tagName(tag) + " of node " + hex(node_->nid()) + ": ", e);
  }
}

std::map<PropTag, PropertyValue> PropertyContext::readAll() {
  std::map<PropTag, PropertyValue> out;
  for (PropTag tag : tags()) {
    if (auto v = get(tag)) out.emplace(tag, std::move(*v));
  }
  return out;
}

std::uint64_t PropertyContext::storedSize(PropTag tag) {
  const auto rec = record(tagId(tag));
  if (!rec || rec->type != tagType(tag)) throw Error(ErrorKind::kNotFound, "node " + hex(node_->nid()) + " has no property " + tagName(tag));
  if (isInline(rec->type)) return fixedWidth(rec->type);
  if (rec->hnid == 0) return 0;
  if (isHid(rec->hnid)) return heap_->itemSize(rec->hnid);
  return node_->openSubnode(rec->hnid)->data().size();
}

std::unique_ptr<ByteSource> PropertyContext::openStream(PropTag tag) {
  const auto rec = record(tagId(tag));
  if (!rec || rec->type != tagType(tag)) throw Error(ErrorKind::kNotFound, "node " + hex(node_->nid()) + " has no property " + tagName(tag));
  if (!isInline(rec->type) && rec->hnid != 0 && !isHid(rec->hnid)) return nodeDataSource(node_->openSubnode(rec->hnid));
  return std::make_unique<MemorySource>(readStored(tag, *rec));
}

void PropertyContext::release(Record rec) {
  if (isInline(rec.type) || rec.hnid == 0) return;
  if (isHid(rec.hnid))
    heap_->free(rec.hnid);
  else if (node_->hasSubnode(rec.hnid))
    node_->deleteSubnode(rec.hnid);
}

// Puts a variable-size or wide fixed value where its size says, reusing the old storage when
// it is of the same kind, and returns the HNID.
std::uint32_t PropertyContext::storeBytes(PropTag tag, std::optional<Record> old, ByteView bytes) {
  const bool oldInHeap = old && !isInline(old->type) && old->hnid != 0 && isHid(old->hnid);
  if (bytes.empty()) {
    if (fixedWidth(tagType(tag)) != 0) throw Error(ErrorKind::kBadInput, "property " + tagName(tag) + " has an empty fixed-size value");
    if (old) release(*old);
    return 0;
  }
  if (bytes.size() <= kMaxHeapItem) {
    if (oldInHeap) return heap_->reallocate(old->hnid, bytes);
    if (old) release(*old);
    return heap_->allocate(bytes);
  }
  return storeStream(tag, old, ViewSource(bytes));
}

std::uint32_t PropertyContext::storeStream(PropTag tag, std::optional<Record> old, const ByteSource& source) {
  if (source.size() <= kMaxHeapItem) {
    Bytes bytes(static_cast<std::size_t>(source.size()));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const std::size_t n = source.read(got, std::span<std::uint8_t>(bytes.data() + got, bytes.size() - got));
      if (n == 0) throw Error(ErrorKind::kBadInput, "value of " + tagName(tag) + " ended before its announced size");
      got += n;
    }
    return storeBytes(tag, old, bytes);
  }
  // The new value goes to a fresh sub-node and the old storage is released only once it is
  // complete: a source that fails half-way leaves the property as it was.
  const ndb::Nid nid = nextLtpSubnodeId(*node_);
  {
    std::unique_ptr<ndb::Node> sub = node_->createSubnode(nid);
    try {
      writeStream(sub->data(), source);
    } catch (...) {
      sub.reset();
      node_->deleteSubnode(nid);
      throw;
    }
  }
  if (old) release(*old);
  return nid;
}

void PropertyContext::set(PropTag tag, const PropertyValue& value) {
  storeValue(tag, value);
  heap_->flush();
}

void PropertyContext::setAll(const std::vector<std::pair<PropTag, const PropertyValue*>>& values) {
  for (const auto& [tag, value] : values) storeValue(tag, *value);
  heap_->flush();
}

void PropertyContext::storeValue(PropTag tag, const PropertyValue& value) {
  const std::uint16_t type = tagType(tag);
  try {
    const std::optional<Record> old = record(tagId(tag));
    std::uint32_t hnid = 0;
    if (const auto* src = std::get_if<std::shared_ptr<const ByteSource>>(&value)) {
      if (type != kPtBinary) throw Error(ErrorKind::kBadInput, "a streamed value needs a binary property");
      if (!*src) throw Error(ErrorKind::kBadInput, "streamed value is missing");
      hnid = storeStream(tag, old, **src);
    } else {
      const Bytes bytes = encodeValue(type, value);
      if (isInline(type)) {
        for (std::size_t i = 0; i < bytes.size(); ++i) hnid |= std::uint32_t{bytes[i]} << (8 * i);
        if (old) release(*old);
      } else {
        hnid = storeBytes(tag, old, bytes);
      }
    }
    put(tagId(tag), Record{type, hnid});
  } catch (const Error& e) {
    throw Error("setting " + tagName(tag) + " on node " + hex(node_->nid()) + ": ", e);
  }
}

bool PropertyContext::erase(PropTag tag) {
  const auto rec = record(tagId(tag));
  if (!rec) return false;
  release(*rec);
  bth_->erase(Bth::encodeInt(tagId(tag), 2));
  heap_->flush();
  return true;
}

}  // namespace mailfold::pst::ltp

// The property context: an object's properties (a message, folder, attachment, the store) as a
// BTH keyed by property id, each record holding the type and either the value itself (fixed
// values up to 4 bytes), a heap item (up to 3580 bytes) or a sub-node of the object's node
// (anything larger, written block by block from a stream).
//
// Every change is written to the node before the call returns (only the blocks it touches).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "pst/ltp/bth.h"
#include "pst/ltp/heap.h"
#include "pst/ltp/property.h"
#include "pst/ltp/property_value.h"
#include "pst/ndb/node.h"

namespace mailfold::pst::ltp {

// Copies all of `source` into `data` (which must be empty) in full blocks, the last one
// possibly shorter, never holding more than one block in memory. Throws Error when the source
// delivers fewer bytes than it announced.
void writeStream(ndb::NodeData& data, const ByteSource& source);

// A free id for a new LTP sub-node of `node` (one past the highest in use). Throws Error when
// none is left.
ndb::Nid nextLtpSubnodeId(ndb::Node& node);

// A node's data read in pieces; every block but the last must be full. Keeps its own handle on
// the node, so it stays usable while the store it came from is open.
std::unique_ptr<ByteSource> nodeDataSource(std::unique_ptr<ndb::Node> node);

class PropertyContext {
 public:
  // Writes an empty property context into `node`, whose data must be empty.
  static PropertyContext create(ndb::Node& node);
  // Opens the property context held by `node`; throws Error when it is none.
  static PropertyContext open(ndb::Node& node);

  PropertyContext(PropertyContext&&) = default;

  // Every stored tag, in ascending property id.
  std::vector<PropTag> tags();
  // The stored tag of property `id`, when present.
  std::optional<PropTag> tagOf(std::uint16_t id);
  // The value of `tag`; nothing when the property is absent or stored with another type.
  std::optional<PropertyValue> get(PropTag tag);
  // Every property with its value (large values read in full: use openStream for those).
  std::map<PropTag, PropertyValue> readAll();
  // Size in bytes of the stored form of `tag`'s value (UTF-16 for strings).
  std::uint64_t storedSize(PropTag tag);
  // The stored form of `tag`'s value, read in pieces (a 50 MB attachment is never held whole).
  std::unique_ptr<ByteSource> openStream(PropTag tag);

  // Sets or replaces a property; the storage (inline, heap, sub-node) follows from the size.
  // A ByteSource value (binary properties only) is streamed into a sub-node when large.
  void set(PropTag tag, const PropertyValue& value);
  // Sets several properties and writes the changed heap blocks once at the end (property by
  // property, a message's few dozen values would encode and write the same block each time).
  void setAll(const std::vector<std::pair<PropTag, const PropertyValue*>>& values);
  // Removes the property with `tag`'s id and frees its storage; false when absent.
  bool erase(PropTag tag);

 private:
  struct Record {
    std::uint16_t type;
    std::uint32_t hnid;
  };

  PropertyContext(ndb::Node& node, Heap heap);
  std::optional<Record> record(std::uint16_t id);
  void put(std::uint16_t id, Record rec);
  void storeValue(PropTag tag, const PropertyValue& value);  // set() without writing the heap
  Bytes readStored(PropTag tag, Record rec);
  void release(Record rec);
  std::uint32_t storeBytes(PropTag tag, std::optional<Record> old, ByteView bytes);
  std::uint32_t storeStream(PropTag tag, std::optional<Record> old, const ByteSource& source);

  ndb::Node* node_;
  std::unique_ptr<Heap> heap_;
  std::unique_ptr<Bth> bth_;
};

}  // namespace mailfold::pst::ltp

// The BTree-on-heap: sorted (key, data) records kept in heap items. A header item names the
// key and data sizes, the number of index levels and the root item. Leaf items hold packed
// records; index items hold (first key of child, child HID) pairs. Records of one item never
// exceed one heap item, so a growing tree splits items and gains index levels.
//
// Keys compare as little-endian unsigned integers of cbKey bytes. Changes go to the heap's
// cache; the owner of the heap calls Heap::flush() to write them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_set>

#include "pst/bytes.h"
#include "pst/ltp/heap.h"

namespace mailfold::pst::ltp {

class Bth {
 public:
  // Allocates the header of an empty tree and returns its HID.
  static Hid create(Heap& heap, std::uint8_t keySize, std::uint8_t dataSize);
  // Opens the tree whose header is `header`; throws Error when the header is malformed.
  Bth(Heap& heap, Hid header);

  std::uint8_t keySize() const { return keySize_; }
  std::uint8_t dataSize() const { return dataSize_; }
  Hid headerHid() const { return header_; }

  std::optional<Bytes> find(ByteView key);
  // Visits every record in key order until `visit` returns false.
  void forEach(const std::function<bool(ByteView key, ByteView data)>& visit);
  // Inserts the record, or replaces the data of an existing key.
  void put(ByteView key, ByteView data);
  // Removes the record; false when the key is absent.
  bool erase(ByteView key);

  // Helpers for integer keys and data (sizes up to 8 bytes).
  static Bytes encodeInt(std::uint64_t value, std::size_t size);
  static std::uint64_t decodeInt(ByteView bytes);

 private:
  struct Insert {
    Hid hid = 0;
    Bytes firstKey;
    std::optional<std::pair<Bytes, Hid>> split;  // first key and HID of a new right sibling
  };
  struct Erase {
    bool found = false;
    Hid hid = 0;  // 0 when the item became empty and was freed
    Bytes firstKey;
  };

  int compare(const std::uint8_t* a, const std::uint8_t* b) const;
  Bytes readItem(Hid hid, std::size_t recordSize);
  std::size_t childFor(const Bytes& entries, ByteView key) const;
  Insert insertInto(Hid hid, unsigned level, ByteView key, ByteView data);
  Erase eraseFrom(Hid hid, unsigned level, ByteView key);
  bool walk(Hid hid, unsigned level, const std::function<bool(ByteView, ByteView)>& visit, std::unordered_set<Hid>& seen);
  Insert store(Hid hid, Bytes records, std::size_t recordSize, std::size_t maxRecords, std::size_t insertedAt);
  void writeHeader();
  void checkKey(ByteView key) const;

  Heap* heap_;
  Hid header_;
  std::uint8_t keySize_ = 0;
  std::uint8_t dataSize_ = 0;
  std::uint8_t levels_ = 0;
  Hid root_ = 0;
};

}  // namespace mailfold::pst::ltp

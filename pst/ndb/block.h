// Blocks: the trailer, data blocks, data trees (XBLOCK, XXBLOCK) and sub-node trees (SLBLOCK,
// SIBLOCK), encoders and decoders side by side. Blocks are immutable once written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pst/bytes.h"
#include "pst/ndb/format.h"

namespace mailfold::pst::ndb {

class File;

struct BlockTrailer {
  std::uint16_t cb = 0;
  std::uint16_t sig = 0;
  std::uint32_t crc = 0;
  std::uint64_t bid = 0;
};

// Bytes a block of `cb` payload bytes takes in the file (trailer and 64-byte padding included).
inline std::uint32_t blockAllocSize(const Format& f, std::size_t cb) {
  return static_cast<std::uint32_t>((cb + f.blockTrailerSize() + kBlockAlign - 1) / kBlockAlign * kBlockAlign);
}

// What is wrong with the stored bytes of a block (trailer cb, id, signature, CRC), or "".
std::string checkBlockBytes(const Format& f, ByteView raw, std::uint64_t bid, std::uint64_t ib, std::uint16_t cb);

// Reads a block whose BBT entry says it holds `cb` bytes at `ib`, checks its trailer and
// returns its payload as stored (still encoded for data blocks).
Bytes readBlockPayload(const File& file, const Format& f, std::uint64_t bid, std::uint64_t ib, std::uint16_t cb);

// A whole Unicode block for `payload` (already encoded where needed), trailer included.
Bytes buildBlock(ByteView payload, std::uint64_t bid, std::uint64_t ib);

// ---- data trees ----------------------------------------------------------------------------

inline constexpr std::uint8_t kBlockTypeDataTree = 0x01;
inline constexpr std::uint8_t kBlockTypeSubnode = 0x02;

struct DataTreeBlock {
  std::uint8_t level = 1;            // 1 = XBLOCK (lists data blocks), 2 = XXBLOCK (lists XBLOCKs)
  std::uint32_t totalSize = 0;       // bytes of data below this block
  std::vector<std::uint64_t> bids;
};
DataTreeBlock decodeDataTree(const Format& f, ByteView payload, std::uint64_t bid);
Bytes encodeDataTree(const DataTreeBlock& block);  // Unicode payload
inline constexpr std::size_t kDataTreeCapacity = (8176 - 8) / 8;

// ---- sub-node trees ------------------------------------------------------------------------

struct SlEntry {
  std::uint32_t nid = 0;
  std::uint64_t bidData = 0;
  std::uint64_t bidSub = 0;
};
struct SiEntry {
  std::uint32_t nid = 0;  // lowest NID of the SLBLOCK
  std::uint64_t bid = 0;
};
struct SubnodeBlock {
  std::uint8_t level = 0;  // 0 = SLBLOCK, 1 = SIBLOCK
  std::vector<SlEntry> leaves;
  std::vector<SiEntry> index;
};
SubnodeBlock decodeSubnodeBlock(const Format& f, ByteView payload, std::uint64_t bid);
Bytes encodeSubnodeBlock(const SubnodeBlock& block);  // Unicode payload
inline constexpr std::size_t kSlCapacity = (8176 - 8) / 24;
inline constexpr std::size_t kSiCapacity = (8176 - 8) / 16;

}  // namespace mailfold::pst::ndb

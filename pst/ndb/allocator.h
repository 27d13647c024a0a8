// Free space of the file, as the allocation maps record it: one bit per 64 bytes, one AMap page
// per 253,952-byte section. The file grows a whole section at a time, with the map pages that
// fall due (AMap, and PMap/FMap/FPMap at their intervals) placed at the start of the section.
//
// The maps live in memory while the store is open (496 bytes per section) and are written in
// place by writeMaps(); the transaction decides when that is safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "pst/bytes.h"
#include "pst/ndb/format.h"
#include "pst/ndb/page.h"

namespace mailfold::pst::ndb {

class File;

class Allocator {
 public:
  // Fresh maps for `sections` sections: only the map pages themselves are in use. `newFile`:
  // the sections are new, so their PMap/FMap/FPMap pages are written too; otherwise (maps
  // being rebuilt for an existing file) only the AMap pages are rewritten.
  void init(std::uint64_t sections, bool newFile = true);
  // After init(sections, false) for a rebuild: the PMap/FMap/FPMap pages that do not read back
  // as what they should be are written again by the next writeMaps(). A writer stopped between
  // recording a grown file in the header and writing the new section's map pages leaves them
  // missing (zeros); pages that read back well are kept as they are.
  void reviewFixedMapPages(const File& file, const Format& format);
  // The maps as stored in the file (`sections` AMap pages). Throws when a page is damaged.
  void load(const File& file, const Format& format, std::uint64_t sections);

  // Marks [ib, ib+size) in use; used when rebuilding the maps from the B-trees. Throws when
  // the range is outside the sections or already in use (two owners of the same bytes).
  void markUsed(std::uint64_t ib, std::uint64_t size);
  bool isFree(std::uint64_t ib, std::uint64_t size) const;

  // Allocates `size` bytes (a multiple of 64; pages: 512 bytes aligned to 512). Takes the first
  // free run from the lowest section that has room, or grows the file.
  std::uint64_t allocate(std::uint64_t size, bool page);
  void free(std::uint64_t ib, std::uint64_t size);

  std::uint64_t sections() const { return bits_.size(); }
  std::uint64_t fileEof() const;
  std::uint64_t amapLast() const;
  std::uint64_t freeBytes() const;  // from the bits: what the header's cbAMapFree must say
  bool dirty() const;

  // Writes every changed AMap page and the PMap/FMap/FPMap pages of new sections. The free
  // count of each AMap written is taken again from its bits, so freeBytes() and densityList()
  // say what the pages on disk say. Call only when the header already tells readers not to
  // trust the maps.
  void writeMaps(File& file);
  // The density list as Outlook writes it for these maps (see allocator.cpp).
  DListPage densityList() const;
  // True when every 64-byte unit of [ib, ib+size) is marked in use.
  bool allInUse(std::uint64_t ib, std::uint64_t size) const;

  // Savepoints: mark() remembers the maps as they are; rollback() undoes every allocation,
  // free and new section since; release() keeps them. Costs one record per allocation or free.
  void mark();
  void rollback();
  void release();

 private:
  void addSection(bool fresh = true);
  bool runFree(const std::array<std::uint8_t, 496>& bits, std::uint32_t first, std::uint32_t count) const;
  void setRun(std::uint64_t section, std::uint32_t first, std::uint32_t count, bool used);

  std::vector<std::array<std::uint8_t, 496>> bits_;
  std::vector<std::uint32_t> freeUnits_;
  std::vector<bool> dirty_;
  // Per section, the PMap/FMap/FPMap pages still to write (kWrite* bits).
  std::vector<std::uint8_t> fixedToWrite_;
  // Per section, the smallest run (in 64-byte units) a search found no room for, for blocks and
  // for aligned pages; reset when space in the section is freed. Spares rescanning sections
  // whose free space is too fragmented for the request.
  std::vector<std::uint32_t> noBlockRun_, noPageRun_;  // created since the last writeMaps: PMap/FMap/FPMap still to write
  std::uint64_t firstWithRoom_ = 0;
  struct Run {
    std::uint64_t section;
    std::uint32_t first, count;
    bool used;
  };
  struct Mark {
    std::uint64_t sections = 0;
    std::uint64_t firstWithRoom = 0;
    std::vector<Run> runs;  // set since the mark in sections that existed at it
  };
  std::optional<Mark> mark_;
};

}  // namespace mailfold::pst::ndb

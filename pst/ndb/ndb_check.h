// A strict checker of the node database layer of a PST file. It reads the file on its own
// (no caches shared with a NodeDatabase) and reports one line per violation:
//   header CRCs and fields; every B-tree page (trailer, level, key order, the parent's key equal
//   to the child's lowest key, keys within the parent's range); every block (trailer cb, id,
//   signature, CRC); data trees (levels, totals) and sub-node trees; BBT reference counts
//   against the references that NBT entries and internal blocks hold; every allocation map
//   page and bit against what is really allocated, the header's free-space total, the density
//   list (when the store has one) against the AMaps, and the id counters against the ids in use.
// An empty result means the file passed. Outlook-made stores pass; the checks that Outlook's
// own files do not meet are left out (see ndb_check.cpp).
//
// What the format allows or readers accept is a note, not a violation: a header free-space
// total that differs from the maps, space marked in use that nothing uses, a block counted
// with more references than it has, a density list that is out of date (the format says it
// may be overwritten at any time), allocation maps marked untrusted (the next writer rebuilds
// them). None of them loses data or misleads a reader.
#pragma once

#include <string>
#include <vector>

namespace mailfold::pst::ndb {

class NodeDatabase;

struct CheckOptions {
  std::size_t maxViolations = 200;  // stop reporting after this many (the count is still given)
  // Every data block of an XBLOCK but the last holds a full 8,176 bytes. Outlook keeps that
  // for plain byte streams but not for heaps spread over several blocks (its own stores hold
  // many such heaps), so at this layer it is only checked on request.
  bool requireFullDataBlocks = false;
};

struct CheckReport {
  std::vector<std::string> violations;
  std::vector<std::string> notes;  // no fault: see above
};

CheckReport examineNdb(const std::string& path, const CheckOptions& options = {});
// Every finding of examineNdb(), the notes too (as "note: ..."): the strict verdict that a
// store written here is held to.
std::vector<std::string> checkNdb(const std::string& path, const CheckOptions& options = {});
// Checks the committed state of an open database (its uncommitted changes are not looked at).
std::vector<std::string> checkNdb(NodeDatabase& db, const CheckOptions& options = {});

}  // namespace mailfold::pst::ndb

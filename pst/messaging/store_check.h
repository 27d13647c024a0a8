// A strict checker of a store above the node database: every property and table context must
// decode, the mandatory nodes and properties must be there, and the values that folders and
// tables repeat must agree with the objects they describe (folder counts against contents
// rows and message nodes, hierarchy rows against sub-folders, contents rows against messages,
// attachment tables against attachment objects, message and attachment sizes against the bytes
// they occupy where the store's generation records them so).
//
// One line per violation; an empty result means the store passed. Outlook-made stores pass: a
// rule that Outlook's own files break is no rule here, and what the format allows or readers
// accept is a note, not a violation (besides the node database's notes, see ndb_check.h: a
// folder without its item or unread count or its sub-folder flag, which readers count
// themselves).
//
// A store that another program is writing (it holds the writer's lock) is not checked: its
// pages change under the reader, so any verdict would be a guess. While the check runs it holds
// a shared lock, so that no writer starts in the middle of it.
#pragma once

#include <string>
#include <vector>

namespace mailfold::pst {

struct StoreCheckOptions {
  std::size_t maxViolations = 200;
  bool checkNodeDatabase = true;  // run the node database checker first
  // Every data block of a data tree but the last is full. Outlook's own stores break this for
  // heaps spread over blocks, so only stores of ours are held to it.
  bool requireFullDataBlocks = false;
};

struct StoreCheckReport {
  bool beingWritten = false;  // another program holds the writer's lock: nothing was checked
  std::vector<std::string> violations;
  std::vector<std::string> notes;
};

StoreCheckReport examineStore(const std::string& path, const StoreCheckOptions& options = {});
// Every finding of examineStore(), notes too (as "note: ..."), and one line for a store being
// written: the strict verdict that a store written here is held to.
std::vector<std::string> checkStore(const std::string& path, const StoreCheckOptions& options = {});

}  // namespace mailfold::pst

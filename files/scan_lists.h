// The two process-wide lists the folder-tree scan fills and the conversion engine walks:
//   colFiles()   - full paths of the queued files, keys "K" + file number;
//   colFolders() - full paths of the sub-folders (no trailing "/"), keys "Z" + folder number.
//
// A list is absent until its first addition after a discard; discarding drops the list without
// touching anyone who still holds it, so a handler that discards during a scan or an import
// never pulls the entries from under the loop walking them (the next addition simply starts a
// new, empty list).
//
//   colFiles().add("K" + std::to_string(n), path);   // throws DuplicateKeyError on a used key
//   if (auto files = colFiles().current()) for (const auto& path : files->values()) ...
//   colFiles().discard();
//
// Single-threaded by design: no locking.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

namespace mailfold::files {

class DuplicateKeyError : public std::runtime_error {
 public:
  explicit DuplicateKeyError(const std::string& key);
};

// Ordered strings, each added under a key that must be unique within the list.
class KeyedList {
 public:
  void add(const std::string& key, std::string value);
  bool containsKey(const std::string& key) const { return keys_.count(key) != 0; }
  std::size_t size() const { return values_.size(); }
  const std::vector<std::string>& values() const { return values_; }
  const std::vector<std::string>& keys() const { return keyOrder_; }

 private:
  std::vector<std::string> values_;
  std::vector<std::string> keyOrder_;
  std::unordered_set<std::string> keys_;
};

// A process-wide list that comes into existence on its first addition.
class ProcessList {
 public:
  // Creates the list when it is absent, then appends.
  void add(const std::string& key, std::string value);
  void discard() { list_.reset(); }
  // The list, or null while it is absent.
  std::shared_ptr<const KeyedList> current() const { return list_; }

 private:
  std::shared_ptr<KeyedList> list_;
};

ProcessList& colFiles();
ProcessList& colFolders();

}  // namespace mailfold::files

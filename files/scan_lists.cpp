#include "files/scan_lists.h"

#include <utility>

namespace mailfold::files {

DuplicateKeyError::DuplicateKeyError(const std::string& key)
    : std::runtime_error("key \"" + key + "\" is already in the list") {}

void KeyedList::add(const std::string& key, std::string value) {
  if (!keys_.insert(key).second) throw DuplicateKeyError(key);
  keyOrder_.push_back(key);
  values_.push_back(std::move(value));
}

void ProcessList::add(const std::string& key, std::string value) {
  if (!list_) list_ = std::make_shared<KeyedList>();
  list_->add(key, std::move(value));
}

ProcessList& colFiles() {
  static ProcessList list;
  return list;
}

ProcessList& colFolders() {
  static ProcessList list;
  return list;
}

}  // namespace mailfold::files

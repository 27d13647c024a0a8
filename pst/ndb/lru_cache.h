// A map of bounded size that forgets the entry used least recently when it is full.
//
// The engine's caches of decoded pages and blocks see a few hot entries (B-tree roots and right
// edges, the heap blocks of a growing table) among a stream of entries used once (the blocks
// of each new message). Forgetting the coldest entry keeps the hot ones; emptying the whole
// cache when it fills would read them all back from the file again and again.
#pragma once

#include <cstddef>
#include <list>
#include <unordered_map>
#include <utility>

namespace mailfold::pst::ndb {

template <class Key, class Value>
class LruCache {
 public:
  explicit LruCache(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

  // The cached value, now the most recently used; nullptr when absent.
  const Value* find(const Key& key) {
    auto it = index_.find(key);
    if (it == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    return &it->second->second;
  }

  void put(const Key& key, Value value) {
    if (auto it = index_.find(key); it != index_.end()) {
      it->second->second = std::move(value);
      order_.splice(order_.begin(), order_, it->second);
      return;
    }
    if (index_.size() >= capacity_) {
      index_.erase(order_.back().first);
      order_.pop_back();
    }
    order_.emplace_front(key, std::move(value));
    index_.emplace(key, order_.begin());
  }

  void erase(const Key& key) {
    auto it = index_.find(key);
    if (it == index_.end()) return;
    order_.erase(it->second);
    index_.erase(it);
  }

  void clear() {
    index_.clear();
    order_.clear();
  }

  std::size_t size() const { return index_.size(); }

 private:
  using Entries = std::list<std::pair<Key, Value>>;
  std::size_t capacity_;
  Entries order_;  // most recently used first
  std::unordered_map<Key, typename Entries::iterator> index_;
};

}  // namespace mailfold::pst::ndb

// An in-memory node for the tests of the heap, BTH, property and table contexts: blocks in
// vectors, sub-nodes in a map, and counters of every block read and write so that tests can
// check what an operation costs.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>

#include "pst/ndb/node.h"

namespace mailfold::test {

class MemoryNodeData final : public pst::ndb::NodeData {
 public:
  std::uint32_t blockCount() override { return static_cast<std::uint32_t>(blocks.size()); }
  std::uint64_t size() override {
    std::uint64_t total = 0;
    for (const auto& b : blocks) total += b.size();
    return total;
  }
  pst::Bytes readBlock(std::uint32_t index) override {
    if (index >= blocks.size()) throw pst::Error(pst::ErrorKind::kCorrupt, "memory node: no block " + std::to_string(index));
    ++reads;
    return blocks[index];
  }
  void writeBlock(std::uint32_t index, pst::ByteView payload) override {
    if (index > blocks.size()) throw pst::Error(pst::ErrorKind::kInternal, "memory node: write past the end");
    if (payload.size() > pst::ndb::kMaxBlockPayload) throw pst::Error(pst::ErrorKind::kInternal, "memory node: block too large");
    ++writes;
    if (index == blocks.size())
      blocks.emplace_back(payload.begin(), payload.end());
    else
      blocks[index].assign(payload.begin(), payload.end());
  }
  void truncate(std::uint32_t count) override {
    if (count < blocks.size()) blocks.resize(count);
  }
  // True when every block but the last holds a full payload, as data trees require.
  bool blocksFull() const {
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i)
      if (blocks[i].size() != pst::ndb::kMaxBlockPayload) return false;
    return true;
  }

  std::vector<pst::Bytes> blocks;
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
};

struct MemoryNodeState {
  MemoryNodeData data;
  std::map<pst::ndb::Nid, std::shared_ptr<MemoryNodeState>> children;
};

class MemoryNode final : public pst::ndb::Node {
 public:
  explicit MemoryNode(pst::ndb::Nid nid = 0x21, std::shared_ptr<MemoryNodeState> state = std::make_shared<MemoryNodeState>())
      : nid_(nid), state_(std::move(state)) {}
  pst::ndb::Nid nid() const override { return nid_; }
  MemoryNodeData& data() override { return state_->data; }
  std::vector<pst::ndb::Nid> subnodeIds() override {
    std::vector<pst::ndb::Nid> ids;
    for (const auto& [id, child] : state_->children) ids.push_back(id);
    return ids;
  }
  bool hasSubnode(pst::ndb::Nid nid) override { return state_->children.count(nid) != 0; }
  std::unique_ptr<pst::ndb::Node> openSubnode(pst::ndb::Nid nid) override {
    auto it = state_->children.find(nid);
    if (it == state_->children.end()) throw pst::Error(pst::ErrorKind::kNotFound, "memory node: no sub-node " + std::to_string(nid));
    return std::make_unique<MemoryNode>(nid, it->second);
  }
  std::unique_ptr<pst::ndb::Node> createSubnode(pst::ndb::Nid nid) override {
    if (hasSubnode(nid)) throw pst::Error(pst::ErrorKind::kInternal, "memory node: sub-node exists");
    auto state = std::make_shared<MemoryNodeState>();
    state_->children.emplace(nid, state);
    return std::make_unique<MemoryNode>(nid, state);
  }
  void deleteSubnode(pst::ndb::Nid nid) override {
    if (state_->children.erase(nid) == 0) throw pst::Error(pst::ErrorKind::kNotFound, "memory node: no sub-node to delete");
  }

  MemoryNodeState& state() { return *state_; }
  // Sum of block writes in this node and every sub-node below it.
  std::uint64_t totalWrites() const { return countWrites(*state_); }

 private:
  static std::uint64_t countWrites(const MemoryNodeState& s) {
    std::uint64_t n = s.data.writes;
    for (const auto& [id, child] : s.children) n += countWrites(*child);
    return n;
  }
  pst::ndb::Nid nid_;
  std::shared_ptr<MemoryNodeState> state_;
};

}  // namespace mailfold::test

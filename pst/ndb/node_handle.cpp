// The Node and NodeData views handed to the layers above. A view holds only the path of NIDs
// to its node; every call finds the node's current state in the database, so two views of the
// same node always agree, and a commit (which forgets loaded state) never leaves one dangling.
#include "pst/ndb/database_impl.h"

namespace mailfold::pst::ndb::detail {
namespace {

class DataView final : public NodeData {
 public:
  DataView(Database& db, std::vector<Nid> path) : db_(db), path_(std::move(path)) {}

  std::uint32_t blockCount() override { return static_cast<std::uint32_t>(stream().leaves.size()); }

  std::uint64_t size() override { return stream().total; }

  Bytes readBlock(std::uint32_t index) override {
    Stream& s = stream();
    if (index >= s.leaves.size())
      throw Error(ErrorKind::kCorrupt, where() + ": block " + std::to_string(index) + " requested, the data has " +
                  std::to_string(s.leaves.size()));
    if (s.leaves[index].pending) return *s.leaves[index].pending;
    return db_.readDataBlock(s.leaves[index].bid, path_[0]);
  }

  void writeBlock(std::uint32_t index, ByteView payload) override {
    Stream& s = changingStream();
    if (index > s.leaves.size())
      throw Error(ErrorKind::kInternal, where() + ": cannot write block " + std::to_string(index) + " of data with " +
                  std::to_string(s.leaves.size()) + " blocks");
    if (payload.size() > kMaxBlockPayload)
      throw Error(ErrorKind::kInternal, where() + ": block of " + std::to_string(payload.size()) + " bytes exceeds " +
                  std::to_string(kMaxBlockPayload));
    if (payload.empty()) throw Error(ErrorKind::kInternal, where() + ": data blocks cannot be empty");
    const auto size = static_cast<std::uint32_t>(payload.size());
    Stream::Leaf leaf{0, size, std::make_shared<const Bytes>(payload.begin(), payload.end())};
    if (index == s.leaves.size()) {
      s.leaves.push_back(std::move(leaf));
    } else {
      const std::uint32_t old = db_.leafSize(s.leaves[index]);
      if (s.leaves[index].pending) db_.addPending(-static_cast<std::int64_t>(old));
      s.total -= old;
      s.leaves[index] = std::move(leaf);
    }
    s.total += size;
    s.dirty = true;
    s.firstChanged = std::min<std::size_t>(s.firstChanged, index);
    db_.addPending(size);  // may write every pending block out, this one included
  }

  void truncate(std::uint32_t count) override {
    Stream& s = changingStream();
    if (count >= s.leaves.size()) return;
    for (std::size_t i = count; i < s.leaves.size(); ++i) {
      const std::uint32_t old = db_.leafSize(s.leaves[i]);
      if (s.leaves[i].pending) db_.addPending(-static_cast<std::int64_t>(old));
      s.total -= old;
    }
    s.leaves.resize(count);
    s.dirty = true;
    s.firstChanged = std::min<std::size_t>(s.firstChanged, count);
  }

 private:
  Stream& stream() {
    NodeState& n = db_.resolve(path_);
    db_.loadStream(n, path_[0]);
    return n.data;
  }
  Stream& changingStream() {
    NodeState& n = db_.resolveForChange(path_);
    db_.loadStream(n, path_[0]);
    return n.data;
  }
  std::string where() const {
    std::string w = "node " + hex(path_[0]);
    for (std::size_t i = 1; i < path_.size(); ++i) w += " sub-node " + hex(path_[i]);
    return w;
  }

  Database& db_;
  std::vector<Nid> path_;
};

class NodeView final : public Node {
 public:
  NodeView(Database& db, std::vector<Nid> path) : db_(db), path_(std::move(path)), data_(db, path_) {}

  Nid nid() const override { return path_.back(); }
  NodeData& data() override { return data_; }

  std::vector<Nid> subnodeIds() override {
    NodeState& s = subs();
    std::vector<Nid> out;
    out.reserve(s.subs.size());
    for (const auto& [nid, child] : s.subs) out.push_back(nid);
    return out;
  }

  bool hasSubnode(Nid nid) override { return subs().subs.count(nid) != 0; }

  std::unique_ptr<Node> openSubnode(Nid nid) override {
    if (!hasSubnode(nid)) throw Error(ErrorKind::kNotFound, "node " + hex(path_[0]) + " has no sub-node " + hex(nid));
    return child(nid);
  }

  std::unique_ptr<Node> createSubnode(Nid nid) override {
    NodeState& s = changingSubs();
    if (s.subs.count(nid)) throw Error(ErrorKind::kInternal, "node " + hex(path_[0]) + " already has a sub-node " + hex(nid));
    auto c = std::make_unique<NodeState>();
    c->nid = nid;
    c->data.loaded = true;
    c->subsLoaded = true;
    s.subs.emplace(nid, std::move(c));
    s.subsDirty = true;
    return child(nid);
  }

  void deleteSubnode(Nid nid) override {
    NodeState& s = changingSubs();
    if (!s.subs.erase(nid)) throw Error(ErrorKind::kNotFound, "node " + hex(path_[0]) + " has no sub-node " + hex(nid) + " to delete");
    s.subsDirty = true;
  }

 private:
  NodeState& subs() {
    NodeState& n = db_.resolve(path_);
    db_.loadSubs(n, path_[0]);
    return n;
  }
  NodeState& changingSubs() {
    NodeState& n = db_.resolveForChange(path_);
    db_.loadSubs(n, path_[0]);
    return n;
  }
  std::unique_ptr<Node> child(Nid nid) {
    std::vector<Nid> p = path_;
    p.push_back(nid);
    return makeNodeHandle(db_, std::move(p));
  }

  Database& db_;
  std::vector<Nid> path_;
  DataView data_;
};

}  // namespace

std::unique_ptr<Node> makeNodeHandle(Database& db, std::vector<Nid> path) {
  return std::make_unique<NodeView>(db, std::move(path));
}

}  // namespace mailfold::pst::ndb::detail

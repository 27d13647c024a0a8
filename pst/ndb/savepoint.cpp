// Savepoints: a group of changes that happens whole or not at all inside the open transaction.
//
// Nothing is copied when a savepoint is taken. Each part of the transaction records what it
// needs to undo a change just before the change: the B-trees the pages they edit (btree.cpp), the
// allocator the runs it marks (allocator.cpp), and the database here each top-level node before
// its first change, every reference-count delta and every change of the set of new space. The
// id counters and a few totals are kept whole. Blocks written since the savepoint stay in the
// file where the rollback frees their space; block ids are never handed out twice, so no cache
// can mistake an old block for a new one.
#include "pst/ndb/database_impl.h"

namespace mailfold::pst::ndb::detail {
namespace {

std::unique_ptr<NodeState> copyNode(const NodeState& s) {
  auto out = std::make_unique<NodeState>();
  out->nid = s.nid;
  out->dataRoot = s.dataRoot;
  out->subRoot = s.subRoot;
  out->data = s.data;  // pending blocks are shared: they are never changed in place
  out->subsLoaded = s.subsLoaded;
  out->subsDirty = s.subsDirty;
  for (const auto& [nid, child] : s.subs) out->subs.emplace(nid, copyNode(*child));
  return out;
}

}  // namespace

void Database::beginSavepoint() {
  guardUsable();
  if (!file_->writable()) throw Error(ErrorKind::kRefused, "\"" + file_->path() + "\" is open read-only");
  if (savepoint_) throw Error(ErrorKind::kInternal, "internal: a savepoint is open already");
  auto sp = std::make_unique<Savepoint>();
  sp->rgnid = header_.rgnid;
  sp->changed = changed_;
  sp->failed = failed_;
  sp->pendingBytes = pendingBytes_;
  sp->pendingFree = pendingFree_.size();
  nbt_->mark();
  bbt_->mark();
  allocator_.mark();
  savepoint_ = std::move(sp);
}

void Database::releaseSavepoint() {
  if (!savepoint_) throw Error(ErrorKind::kInternal, "internal: no savepoint to release");
  nbt_->release();
  bbt_->release();
  allocator_.release();
  savepoint_.reset();
}

void Database::rollbackToSavepoint() {
  if (!savepoint_) throw Error(ErrorKind::kInternal, "internal: no savepoint to roll back to");
  std::unique_ptr<Savepoint> sp = std::move(savepoint_);
  nbt_->rollback();
  bbt_->rollback();
  allocator_.rollback();
  for (auto it = sp->refChanges.rbegin(); it != sp->refChanges.rend(); ++it) {
    if (!it->existed) {
      refDelta_.erase(it->key);
    } else {
      refDelta_[it->key] -= it->delta;
    }
  }
  for (auto it = sp->spaceChanges.rbegin(); it != sp->spaceChanges.rend(); ++it) {
    if (it->second) {
      newSpace_.erase(it->first);
    } else {
      newSpace_.insert(it->first);
    }
  }
  pendingFree_.resize(sp->pendingFree);
  for (auto& [nid, before] : sp->nodesBefore) {
    if (before) {
      open_[nid] = std::move(before);
    } else {
      open_.erase(nid);
    }
  }
  header_.rgnid = sp->rgnid;
  changed_ = sp->changed;
  // A write that failed since the savepoint wrote only into space the rollback just freed.
  failed_ = sp->failed;
  pendingBytes_ = sp->pendingBytes;
}

void Database::noteNodeChange(Nid nid) {
  if (!savepoint_ || savepoint_->nodesBefore.count(nid)) return;
  auto it = open_.find(nid);
  savepoint_->nodesBefore.emplace(nid, it == open_.end() ? nullptr : copyNode(*it->second));
}

void Database::noteRefChange(std::uint64_t key, int delta) {
  if (!savepoint_) return;
  savepoint_->refChanges.push_back({key, delta, refDelta_.count(key) != 0});
}

void Database::noteSpaceChange(std::uint64_t ib, bool added) {
  if (savepoint_) savepoint_->spaceChanges.emplace_back(ib, added);
}

}  // namespace mailfold::pst::ndb::detail

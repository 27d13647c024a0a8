// A failed write or flush at any point, or a process that never commits, leaves the store at
// one of its commits: readable, and clean for the checker once a writer has opened it again.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "pst/ndb/file.h"
#include "pst/ndb/ndb_check.h"
#include "pst/ndb/node_database.h"
#include "support/error_kind.h"
#include "support/temp_dir.h"

namespace mailfold::pst::ndb {
namespace {

using State = std::map<Nid, Bytes>;

Bytes bytesOf(std::uint32_t seed, std::size_t size) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>((seed * 31 + i * 7) >> 1);
  return b;
}

State readState(const std::string& path) {
  State s;
  auto db = NodeDatabase::open(path);
  for (const auto& n : db->nodes()) s[n.nid] = readAll(db->openNode(n.nid)->data());
  return s;
}

// The first commit: 40 nodes. The second changes, deletes and adds nodes, with big data.
State firstCommit(const std::string& path) {
  State s;
  auto db = NodeDatabase::create(path);
  for (std::uint32_t i = 1; i <= 40; ++i) {
    const Nid nid = makeNid(kNidTypeNormalMessage, 0x10000 + i);
    s[nid] = bytesOf(i, 100 + i * 50);
    db->createNode(nid, 0x122)->data().writeBlock(0, s[nid]);
  }
  db->close();
  return s;
}

State secondCommit(NodeDatabase& db, State s) {
  for (std::uint32_t i = 1; i <= 40; i += 4) {
    const Nid nid = makeNid(kNidTypeNormalMessage, 0x10000 + i);
    db.deleteNode(nid);
    s.erase(nid);
  }
  for (std::uint32_t i = 2; i <= 40; i += 4) {
    const Nid nid = makeNid(kNidTypeNormalMessage, 0x10000 + i);
    s[nid] = bytesOf(i + 1000, 20000);
    auto node = db.openNode(nid);
    node->data().truncate(0);
    for (std::uint32_t k = 0; k * kMaxBlockPayload < s[nid].size(); ++k) {
      const std::size_t n = std::min<std::size_t>(kMaxBlockPayload, s[nid].size() - k * kMaxBlockPayload);
      node->data().writeBlock(k, ByteView(s[nid]).subspan(k * kMaxBlockPayload, n));
    }
  }
  for (std::uint32_t i = 41; i <= 400; ++i) {
    const Nid nid = makeNid(kNidTypeNormalMessage, 0x10000 + i);
    s[nid] = bytesOf(i, 3000);
    db.createNode(nid, 0x122)->data().writeBlock(0, s[nid]);
  }
  db.commit();
  return s;
}

void expectCleanAfterWriterOpens(const std::string& path) {
  NodeDatabase::open(path, OpenMode::kReadWrite)->close();  // rebuilds maps left untrusted
  for (const auto& v : checkNdb(path)) ADD_FAILURE() << v;
}

TEST(Faults, UncommittedChangesAreDiscarded) {
  test::TempDir dir;
  const std::string path = dir.str() + "/s.pst";
  const State before = firstCommit(path);
  {
    auto db = NodeDatabase::open(path, OpenMode::kReadWrite);
    for (std::uint32_t i = 41; i <= 400; ++i)
      db->createNode(makeNid(kNidTypeNormalMessage, 0x10000 + i), 0x122)->data().writeBlock(0, bytesOf(i, 8000));
    db->deleteNode(makeNid(kNidTypeNormalMessage, 0x10001));
    // destroyed without commit, as if the process had been killed
  }
  EXPECT_EQ(readState(path), before);
  for (const auto& v : checkNdb(path)) ADD_FAILURE() << v;
}

// Fails the n-th write (or flush) of the second transaction, for every n until the
// transaction gets through. Each time the file must hold the first or the second state.
void sweep(bool flushes) {
  test::TempDir dir;
  const std::string base = dir.str() + "/base.pst";
  const State first = firstCommit(base);
  State second;
  std::uint64_t total = 0;
  {
    const std::string probe = dir.str() + "/probe.pst";
    std::filesystem::copy_file(base, probe);
    auto db = NodeDatabase::open(probe, OpenMode::kReadWrite);
    second = secondCommit(*db, first);
    total = flushes ? db->file().flushCount() : db->file().writeCount();
  }
  // Every point of the commit itself (the last writes), and a sample of the block writes
  // that come before it.
  std::vector<std::uint64_t> points;
  for (std::uint64_t n = 1; n + 60 < total; n += 13) points.push_back(n);
  for (std::uint64_t n = total > 60 ? total - 60 : 1; n <= total + 1; ++n) points.push_back(n);
  int sawFirst = 0, sawSecond = 0;
  for (std::uint64_t n : points) {
    const std::string path = dir.str() + "/run.pst";
    std::filesystem::remove(path);
    std::filesystem::copy_file(base, path);
    bool failed = false;
    {
      auto db = NodeDatabase::open(path, OpenMode::kReadWrite);
      FaultPlan plan;
      (flushes ? plan.failFlushAt : plan.failWriteAt) = n;
      plan.error = n % 2 ? 28 : 5;  // ENOSPC, EIO
      db->file().setFaultPlan(plan);
      try {
        secondCommit(*db, first);
      } catch (const Error& e) {
        failed = true;
        EXPECT_EQ(e.kind(), ErrorKind::kIo) << e.what();
        EXPECT_NE(std::string(e.what()).find("failed"), std::string::npos) << e.what();
        // Refuses further use: the file's state is the last commit's, not this object's.
        EXPECT_EQ(test::thrownKind([&] { db->openNode(makeNid(kNidTypeNormalMessage, 0x10002)); }), ErrorKind::kIo);
      }
    }
    SCOPED_TRACE((flushes ? "flush " : "write ") + std::to_string(n));
    const State now = readState(path);
    if (now == first) ++sawFirst;
    else if (now == second) ++sawSecond;
    else ADD_FAILURE() << "store holds neither commit";
    expectCleanAfterWriterOpens(path);
    EXPECT_EQ(readState(path), now);
    if (!failed) break;
  }
  EXPECT_GT(sawFirst, 0);
  EXPECT_GT(sawSecond, 0);  // the final, unfailed run at least
}

// Changes under a savepoint, rolled back, leave the transaction as it was at the savepoint: nodes
// created, rewritten (also ones changed earlier in the transaction) and deleted, B-tree pages
// split, node ids handed out, pending blocks written out to make room (over 8 MB), and a write
// that failed. The commit afterwards holds the changes from before the savepoint and after it.
TEST(Faults, SavepointRollbackLeavesTheTransactionAsItWas) {
  test::TempDir dir;
  const std::string path = dir.str() + "/s.pst";
  State expected = firstCommit(path);
  const Nid changedEarlier = makeNid(kNidTypeNormalMessage, 0x10002), madeEarlier = makeNid(kNidTypeNormalMessage, 0x10401);
  const Bytes big = bytesOf(77, 9u << 20);
  auto writeBig = [&](NodeData& d) {
    for (std::uint32_t k = 0; k * kMaxBlockPayload < big.size(); ++k)
      d.writeBlock(k, ByteView(big).subspan(k * kMaxBlockPayload, std::min<std::size_t>(kMaxBlockPayload, big.size() - k * kMaxBlockPayload)));
  };
  auto db = NodeDatabase::open(path, OpenMode::kReadWrite);
  expected[changedEarlier] = bytesOf(5, 300);
  db->openNode(changedEarlier)->data().writeBlock(0, expected[changedEarlier]);
  expected[madeEarlier] = bytesOf(6, 400);
  db->createNode(madeEarlier, 0x122)->data().writeBlock(0, expected[madeEarlier]);
  const Nid untouched = makeNid(kNidTypeNormalMessage, 0x10403);  // its pending block is written out under the savepoint
  expected[untouched] = bytesOf(11, 3000);
  db->createNode(untouched, 0x122)->data().writeBlock(0, expected[untouched]);
  const Nid nextNid = makeNid(kNidTypeNormalMessage, 0x20000);
  db->createNode(nextNid, 0x122)->data().writeBlock(0, bytesOf(7, 10));
  expected[nextNid] = bytesOf(7, 10);

  for (int withFault = 0; withFault < 2; ++withFault) {
    SCOPED_TRACE(withFault ? "a failed write" : "no fault");
    const Nid counter = db->allocateNid(kNidTypeNormalMessage);
    db->beginSavepoint();
    EXPECT_EQ(test::thrownKind([&] { db->commit(); }), ErrorKind::kInternal);
    for (std::uint32_t i = 1; i <= 40; i += 4) db->deleteNode(makeNid(kNidTypeNormalMessage, 0x10000 + i));
    db->openNode(changedEarlier)->data().writeBlock(0, bytesOf(8, 5000));
    db->openNode(madeEarlier)->createSubnode(0x1F)->data().writeBlock(0, bytesOf(9, 50));
    db->deleteNode(nextNid);
    for (std::uint32_t i = 0; i < 400; ++i) db->createNode(db->allocateNid(kNidTypeNormalMessage), 0x122)->data().writeBlock(0, bytesOf(i, 2000));
    if (withFault) {
      FaultPlan plan;
      plan.failWriteAt = 3;
      plan.sticky = false;
      db->file().setFaultPlan(plan);
    }
    try {
      writeBig(db->createNode(makeNid(kNidTypeNormalMessage, 0x30000), 0x122)->data());  // writes the pending blocks out
      EXPECT_FALSE(withFault);
    } catch (const Error& e) {
      EXPECT_TRUE(withFault) << e.what();
      EXPECT_EQ(e.kind(), ErrorKind::kIo);
    }
    db->rollbackToSavepoint();
    EXPECT_EQ(db->allocateNid(kNidTypeNormalMessage), counter + (1u << 5));
  }
  const Nid madeLater = makeNid(kNidTypeNormalMessage, 0x10402);
  expected[madeLater] = bytesOf(10, 100);
  db->createNode(madeLater, 0x122)->data().writeBlock(0, expected[madeLater]);
  db->close();
  EXPECT_EQ(readState(path), expected);
  for (const auto& v : checkNdb(path)) ADD_FAILURE() << v;
}

TEST(Faults, FailedWriteAtAnyPointLeavesACommittedState) { sweep(false); }
TEST(Faults, FailedFlushAtAnyPointLeavesACommittedState) { sweep(true); }

TEST(Faults, TornHeaderIsDetected) {
  test::TempDir dir;
  const std::string path = dir.str() + "/s.pst";
  firstCommit(path);
  {
    auto f = File::open(path, File::Mode::kReadWrite);
    Bytes head = f->read(0, 564, "header");
    for (std::size_t i = 300; i < 564; ++i) head[i] = 0;  // second half of the sector never landed
    f->write(0, head);
  }
  try {
    NodeDatabase::open(path);
    ADD_FAILURE() << "a torn header opened";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kCorrupt) << e.what();
    EXPECT_NE(std::string(e.what()).find("CRC"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(checkNdb(path).empty());
}

// A writer killed (SIGKILL) at a random moment: the store holds exactly the batches it had
// committed, every one of them whole.
TEST(Faults, KilledWriterLeavesItsLastCommit) {
  test::TempDir dir;
  std::mt19937 rng(3);
  std::uint32_t committedBatches = 0;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    const std::string path = dir.str() + "/killed.pst";
    std::filesystem::remove(path);
    NodeDatabase::create(path)->close();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        auto db = NodeDatabase::open(path, OpenMode::kReadWrite);
        for (std::uint32_t batch = 0;; ++batch) {
          for (std::uint32_t i = 0; i < 10; ++i) {
            const std::uint32_t k = batch * 10 + i;
            auto node = db->createNode(makeNid(kNidTypeNormalMessage, 0x10000 + k), 0x122);
            const Bytes b = bytesOf(k, k % 7 == 0 ? 30000 : 500);
            for (std::uint32_t off = 0, blk = 0; off < b.size(); off += kMaxBlockPayload, ++blk)
              node->data().writeBlock(blk, ByteView(b).subspan(off, std::min<std::size_t>(kMaxBlockPayload, b.size() - off)));
          }
          if (batch > 0) db->deleteNode(makeNid(kNidTypeNormalMessage, 0x10000 + (batch - 1) * 10));  // and frees
          db->commit();
        }
      } catch (...) {
      }
      _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + rng() % 700));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself";
    const State s = readState(path);
    // Batch b adds nodes 10b..10b+9 and deletes node 10(b-1): a whole number of batches.
    std::uint32_t batches = 0;
    while (s.count(makeNid(kNidTypeNormalMessage, 0x10000 + batches * 10 + 1))) ++batches;
    committedBatches += batches;
    std::size_t expected = batches == 0 ? 0 : batches * 10 - (batches - 1);
    EXPECT_EQ(s.size(), expected);
    for (const auto& [nid, bytes] : s) {
      const std::uint32_t k = nidIndex(nid) - 0x10000;
      EXPECT_EQ(bytes, bytesOf(k, k % 7 == 0 ? 30000 : 500)) << "node " << nid;
    }
    expectCleanAfterWriterOpens(path);
  }
  EXPECT_GT(committedBatches, 8u);  // the writer got somewhere before the kills
  std::cout << committedBatches << " batches committed over 8 kills\n";
}

}  // namespace
}  // namespace mailfold::pst::ndb

// Every Unicode store Outlook made: every property context and table context reads without
// error, folder counts agree with their contents tables, and the subjects, sizes and folder
// names we read are the ones an independent reader (pffexport) extracts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/node_database.h"
#include "support/paths.h"
#include "support/temp_dir.h"

namespace mailfold::pst::ltp {
namespace {

using ndb::Nid;

constexpr PropTag kSubject = makeTag(0x0037, kPtUnicode);
constexpr PropTag kMessageSize = makeTag(0x0E08, kPtInt32);
constexpr PropTag kDisplayName = makeTag(0x3001, kPtUnicode);
constexpr PropTag kContentCount = makeTag(0x3602, kPtInt32);

std::vector<std::filesystem::path> unicodeSamples() {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(test::sharedDir() / "samples" / "pst")) {
    if (e.path().extension() != ".pst") continue;
    if (ndb::NodeDatabase::open(e.path().string())->format().unicode) out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The heap client signature of a node's first block, or 0 when the node holds no heap.
std::uint8_t heapClient(ndb::Node& node) {
  if (node.data().blockCount() == 0) return 0;
  const Bytes first = node.data().readBlock(0);
  return first.size() >= 12 && first[2] == 0xEC ? first[3] : 0;
}

// Subjects with a prefix carry a marker (U+0001 and the prefix length) that readers drop.
std::string displaySubject(std::string s) {
  if (s.size() >= 2 && s[0] == '\x01') s.erase(0, 2);
  return s;
}

struct StoreContents {
  std::size_t propertyContexts = 0, tables = 0, rows = 0, values = 0;
  std::multiset<std::pair<std::string, std::int32_t>> messages;  // subject, size
  std::set<std::string> folderNames;
};

void readEverything(ndb::Node& node, StoreContents& out, int depth) {
  ASSERT_LT(depth, 12);
  const std::uint8_t client = heapClient(node);
  const ndb::NidType type = ndb::nidType(node.nid());
  if (type == ndb::kNidTypeLtp) return;  // raw value data, not a structure
  if (client == kClientProperties) {
    PropertyContext pc = PropertyContext::open(node);
    const auto all = pc.readAll();
    ++out.propertyContexts;
    out.values += all.size();
    for (PropTag tag : pc.tags()) {  // large values also read back in pieces
      if (pc.storedSize(tag) > kMaxHeapItem) {
        auto stream = pc.openStream(tag);
        Bytes chunk(3000);
        std::uint64_t at = 0;
        while (std::size_t n = stream->read(at, chunk)) at += n;
        EXPECT_EQ(at, pc.storedSize(tag));
      }
    }
    if (depth == 0 && type == ndb::kNidTypeNormalMessage) {
      auto subject = all.find(kSubject);
      auto size = all.find(kMessageSize);
      out.messages.emplace(subject == all.end() ? "" : displaySubject(std::get<std::string>(subject->second)),
                           size == all.end() ? -1 : std::get<std::int32_t>(size->second));
    }
    if (depth == 0 && (type == ndb::kNidTypeNormalFolder || type == ndb::kNidTypeSearchFolder) && all.count(kDisplayName))
      out.folderNames.insert(std::get<std::string>(all.at(kDisplayName)));
  } else if (client == kClientTable) {
    TableContext tc = TableContext::open(node);
    ++out.tables;
    for (std::uint32_t i = 0; i < tc.rowCount(); ++i) (void)tc.readRow(i);
    for (const auto& [id, index] : tc.rowIds()) {
      EXPECT_LT(index, tc.rowCount()) << "table " << node.nid();
      if (index < tc.rowCount()) {
        EXPECT_EQ(tc.rowIdAt(index), id);
      }
    }
    out.rows += tc.rowCount();
  } else {
    // Property contexts and tables are recognised by their heap, whatever their node type.
    EXPECT_NE(type, ndb::kNidTypeNormalFolder);
    EXPECT_NE(type, ndb::kNidTypeNormalMessage);
    EXPECT_NE(type, ndb::kNidTypeContentsTable);
    EXPECT_NE(type, ndb::kNidTypeHierarchyTable);
  }
  for (Nid sub : node.subnodeIds()) {
    auto child = node.openSubnode(sub);
    readEverything(*child, out, depth + 1);
  }
}

TEST(OutlookStores, EveryPropertyAndTableContextReads) {
  MAILFOLD_REQUIRE_SHARED();
  for (const auto& path : unicodeSamples()) {
    SCOPED_TRACE(path.filename().string());
    auto db = ndb::NodeDatabase::open(path.string());
    StoreContents contents;
    for (const ndb::NodeInfo& info : db->nodes()) {
      auto node = db->openNode(info.nid);
      try {
        readEverything(*node, contents, 0);
      } catch (const Error& e) {
        ADD_FAILURE() << e.what();
      }
    }
    EXPECT_GE(contents.propertyContexts, 10u);
    EXPECT_GT(contents.tables, 10u);
    std::cout << path.filename().string() << ": " << contents.propertyContexts << " property contexts ("
              << contents.values << " values), " << contents.tables << " tables (" << contents.rows << " rows)\n";
  }
}

TEST(OutlookStores, FolderCountsMatchTheirContentsTables) {
  MAILFOLD_REQUIRE_SHARED();
  for (const auto& path : unicodeSamples()) {
    SCOPED_TRACE(path.filename().string());
    auto db = ndb::NodeDatabase::open(path.string());
    std::size_t folders = 0;
    for (const ndb::NodeInfo& info : db->nodes()) {
      if (ndb::nidType(info.nid) != ndb::kNidTypeNormalFolder) continue;
      const Nid contentsNid = ndb::makeNid(ndb::kNidTypeContentsTable, ndb::nidIndex(info.nid));
      if (!db->hasNode(contentsNid)) continue;
      auto folder = db->openNode(info.nid);
      auto count = PropertyContext::open(*folder).get(kContentCount);
      if (!count) continue;
      auto contentsNode = db->openNode(contentsNid);
      TableContext contents = TableContext::open(*contentsNode);
      EXPECT_EQ(static_cast<std::uint32_t>(std::get<std::int32_t>(*count)), contents.rowCount()) << "folder " << info.nid;
      // Every row names a message whose own subject the row repeats.
      for (const auto& [id, index] : contents.rowIds()) {
        if (!db->hasNode(id)) continue;
        auto message = db->openNode(id);
        const auto own = PropertyContext::open(*message).get(kSubject);
        const RowValues row = contents.readRow(index);
        if (own && row.count(kSubject)) {
          EXPECT_EQ(std::get<std::string>(row.at(kSubject)), std::get<std::string>(*own));
        }
      }
      ++folders;
    }
    EXPECT_GT(folders, 0u);
  }
}

// Reads pffexport's text export: subject and size of every message, and folder names.
void readExport(const std::filesystem::path& dir, StoreContents& out) {
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    // Items are exported as "<Kind><5 digits>" (Message00001, Contact00002, Attachment00001).
    static const std::regex kItem("[A-Za-z]+[0-9]{5}");
    const std::string name = e.path().filename().string();
    if (e.is_directory() && !std::regex_match(name, kItem) && name != "Attachments" && name != "Recipients")
      out.folderNames.insert(name);
    if (e.path().filename() != "OutlookHeaders.txt") continue;
    if (e.path().parent_path().parent_path().filename() == "Attachments" ||
        e.path().string().find("/Attachment") != std::string::npos)
      continue;  // an embedded message, not one stored in a folder
    std::ifstream in(e.path());
    std::string line, subject;
    std::int32_t size = -1;
    while (std::getline(in, line)) {
      auto value = [&line]() {
        const auto tab = line.find_first_of('\t');
        const auto start = line.find_first_not_of('\t', tab);
        return start == std::string::npos ? std::string() : line.substr(start);
      };
      if (line.rfind("Subject:", 0) == 0) subject = value();
      if (line.rfind("Size:", 0) == 0) size = std::stoi(value());
    }
    out.messages.emplace(subject, size);
  }
}

TEST(OutlookStores, ValuesAgreeWithPffexport) {
  MAILFOLD_REQUIRE_SHARED();
  if (std::system("command -v pffexport >/dev/null 2>&1") != 0) GTEST_SKIP() << "pffexport is not installed";
  std::size_t compared = 0;
  for (const auto& path : unicodeSamples()) {
    SCOPED_TRACE(path.filename().string());
    test::TempDir tmp;
    const std::string target = (tmp.path() / "out").string();
    const std::string command = "pffexport -q -m items -f text -t '" + target + "' '" + path.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(target + ".export")) continue;
    StoreContents theirs;
    readExport(target + ".export", theirs);

    auto db = ndb::NodeDatabase::open(path.string());
    StoreContents ours;
    for (const ndb::NodeInfo& info : db->nodes()) {
      auto node = db->openNode(info.nid);
      readEverything(*node, ours, 0);
    }
    // pffexport writes the messages it reaches through folders; every one must be among ours.
    for (const auto& message : theirs.messages) {
      EXPECT_TRUE(ours.messages.count(message)) << "pffexport has \"" << message.first << "\" of " << message.second
                                                << " bytes, which we did not read";
      ++compared;
    }
    for (const auto& name : theirs.folderNames) {
      if (name == "out.export") continue;
      EXPECT_TRUE(ours.folderNames.count(name)) << "folder \"" << name << "\"";
    }
  }
  EXPECT_GT(compared, 50u) << "messages compared with pffexport";
  RecordProperty("messages_compared", static_cast<int>(compared));
}

}  // namespace
}  // namespace mailfold::pst::ltp

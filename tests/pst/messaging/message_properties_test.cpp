// What the store decides for every message before writing it.
#include <gtest/gtest.h>

#include <functional>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/message_properties.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "pst/ndb/node_database.h"
#include "support/paths.h"
#include "support/temp_dir.h"

namespace mailfold::pst {
namespace {

MessageModel withAttachment(Bytes data) {
  MessageModel m;
  m.props.set(kPrSubject, std::string("Hello"));
  Attachment a;
  a.props.set(kPrAttachLongFilename, std::string("a.bin"));
  a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::make_shared<MemorySource>(std::move(data))));
  m.attachments.push_back(std::move(a));
  return m;
}

TEST(CompleteMessage, AddsWhatTheRepairToolRequires) {
  MessageModel m;
  // A body prefix of 255 UTF-16 units never splits the pair of U+1F600 at units 254 and 255.
  m.props.set(kPrBody, std::string(253, 'a') + "é\xF0\x9F\x98\x80" + std::string(50, 'b'));
  auto attached = std::make_shared<MessageModel>();
  attached->props.set(kPrMessageFlags, kMsgFlagUnmodified);
  m.attachments.push_back(Attachment{{}, attached});
  completeMessage(m, FileTime{1234});
  EXPECT_EQ(*m.props.getAs<std::string>(kPrPstBodyPrefix), std::string(253, 'a') + "é");
  // Attached messages are read, whatever the source said.
  EXPECT_EQ(*m.attachments[0].embedded->props.getAs<std::int32_t>(kPrMessageFlags), kMsgFlagUnmodified | kMsgFlagRead);
  m.attachments.clear();
  m.props.erase(kPrBody);
  m.props.erase(kPrPstBodyPrefix);
  completeMessage(m, FileTime{1234});
  EXPECT_FALSE(m.props.has(kPrPstBodyPrefix));
  const PropertyBag& p = m.props;
  EXPECT_EQ(*p.getAs<std::string>(kPrMessageClass), "IPM.Note");
  EXPECT_EQ(*p.getAs<std::int32_t>(kPrMessageStatus), 0);
  EXPECT_EQ(p.getAs<FileTime>(kPrCreationTime)->ticks, 1234u);
  EXPECT_EQ(p.getAs<FileTime>(kPrLastModificationTime)->ticks, 1234u);
  ASSERT_NE(p.getAs<Bytes>(kPrSearchKey), nullptr);
  EXPECT_EQ(p.getAs<Bytes>(kPrSearchKey)->size(), 16u);
  EXPECT_EQ(*p.getAs<std::int32_t>(kPrMessageFlags), 0);
  EXPECT_FALSE(*p.getAs<bool>(kPrHasAttach));
}

TEST(CompleteMessage, KeepsWhatTheCallerSet) {
  MessageModel m;
  m.props.set(kPrMessageClass, std::string("IPM.Note.SMIME"));
  m.props.set(kPrCreationTime, FileTime{77});
  m.props.set(kPrSearchKey, Bytes{1, 2, 3});
  m.props.set(kPrMessageFlags, kMsgFlagRead | kMsgFlagUnsent);
  completeMessage(m, FileTime{1234});
  EXPECT_EQ(*m.props.getAs<std::string>(kPrMessageClass), "IPM.Note.SMIME");
  EXPECT_EQ(m.props.getAs<FileTime>(kPrCreationTime)->ticks, 77u);
  EXPECT_EQ(*m.props.getAs<Bytes>(kPrSearchKey), (Bytes{1, 2, 3}));
  EXPECT_EQ(*m.props.getAs<std::int32_t>(kPrMessageFlags), kMsgFlagRead | kMsgFlagUnsent);
}

TEST(CompleteMessage, HasAttachFollowsTheAttachmentsNotTheCaller) {
  // Callers set "read + has attachment" (0x11) on every message; a message without attachments
  // must not show a paperclip, one with attachments must.
  MessageModel plain;
  completeMessage(plain, FileTime{1}, kMsgFlagRead | kMsgFlagHasAttach);
  EXPECT_EQ(*plain.props.getAs<std::int32_t>(kPrMessageFlags), kMsgFlagRead);
  EXPECT_FALSE(*plain.props.getAs<bool>(kPrHasAttach));

  MessageModel attached = withAttachment(Bytes(10, 0xAB));
  completeMessage(attached, FileTime{1}, kMsgFlagRead);
  EXPECT_EQ(*attached.props.getAs<std::int32_t>(kPrMessageFlags), kMsgFlagRead | kMsgFlagHasAttach);
  EXPECT_TRUE(*attached.props.getAs<bool>(kPrHasAttach));
  const PropertyBag& a = attached.attachments[0].props;
  EXPECT_EQ(*a.getAs<std::int32_t>(kPrAttachMethod), kAttachByValue);
  EXPECT_EQ(*a.getAs<std::int32_t>(kPrRenderingPosition), -1);
}

TEST(CompleteMessage, EightBitStringsBecomeUnicode) {
  MessageModel m;
  m.props.set(makeTag(0x0037, kPtString8), std::string("Subject"));
  m.props.set(makeTag(0x0E04, kPtString8), std::string("old"));
  m.props.set(kPrDisplayTo, std::string("kept"));
  completeMessage(m, FileTime{1});
  EXPECT_EQ(*m.props.getAs<std::string>(kPrSubject), "Subject");
  EXPECT_EQ(*m.props.getAs<std::string>(kPrDisplayTo), "kept");
  EXPECT_FALSE(m.props.has(makeTag(0x0037, kPtString8)));
  EXPECT_FALSE(m.props.has(makeTag(0x0E04, kPtString8)));
}

TEST(CompleteMessage, DisplayLinesSummariseTheRecipientsWhenMissing) {
  MessageModel m;
  auto add = [&](std::int32_t type, const char* name, const char* mail) {
    Recipient r;
    r.props.set(kPrRecipientType, type);
    if (*name) r.props.set(kPrDisplayName, std::string(name));
    r.props.set(kPrEmailAddress, std::string(mail));
    m.recipients.push_back(std::move(r));
  };
  add(kRecipientTo, "Anna", "a@x");
  add(kRecipientCc, "", "c@x");
  add(kRecipientTo, "Bob", "b@x");
  m.props.set(kPrDisplayCc, std::string("kept as given"));
  completeMessage(m, FileTime{1});
  EXPECT_EQ(*m.props.getAs<std::string>(kPrDisplayTo), "Anna; Bob");
  EXPECT_EQ(*m.props.getAs<std::string>(kPrDisplayCc), "kept as given");
  EXPECT_EQ(*m.props.getAs<std::string>(kPrDisplayBcc), "");
}

// The size of a message is the bytes it occupies, as Outlook 2010 to 365 record it: first the
// formula against Outlook's own files, then every kind of message we write against the formula.
TEST(MessageSize, IsTheBytesTheMessageOccupiesAsOutlookRecordsIt) {
  MAILFOLD_REQUIRE_SHARED();
  int outlookMessages = 0;
  for (const char* name : {"aranetic-flags-jane-doe.pst", "aranetic-multiple-to-cc.pst", "outlook365-backup.pst",
                           "japanese-outlook-alpha-beta-gamma-delta.pst", "ruby-msg-msg-in-msg.pst", "pstsdk-sample1.pst"}) {
    auto db = ndb::NodeDatabase::open((test::sharedDir() / "samples" / "pst" / name).string());
    for (const auto& info : db->nodes()) {
      if (ndb::nidType(info.nid) != ndb::kNidTypeNormalMessage) continue;
      auto node = db->openNode(info.nid);
      EXPECT_EQ(std::get<std::int32_t>(*ltp::PropertyContext::open(*node).get(kPrMessageSize)),
                static_cast<std::int32_t>(occupiedBytes(*node)))
          << name << " message " << hex(info.nid);
      ++outlookMessages;
    }
  }
  EXPECT_GE(outlookMessages, 12);

  test::TempDir dir;
  const std::string path = dir.str() + "/sizes.pst";
  std::vector<ndb::Nid> written;
  {
    auto store = Store::create(path, "Sizes");
    Folder box = store->ipmRoot().addChild("Box");
    MessageModel plain;
    plain.props.set(kPrSubject, std::string("plain"));
    plain.props.set(kPrBody, std::string(3000, 'p'));
    written.push_back(box.addMessage(plain));
    // HTML with an inline image and a by-value attachment large enough for a data tree.
    MessageModel html = withAttachment(Bytes(30000, 7));
    html.props.set(kPrHtml, Bytes(500, 'h'));
    Attachment image;
    image.props.set(kPrAttachLongFilename, std::string("i.png"));
    image.props.set(kPrAttachmentHidden, true);
    image.props.set(kPrAttachDataBin, Bytes(900, 3));
    html.attachments.push_back(std::move(image));
    written.push_back(box.addMessage(html));
    // A message in a message in a message.
    auto inner = std::make_shared<MessageModel>(withAttachment(Bytes(9000, 2)));
    auto middle = std::make_shared<MessageModel>();
    middle->props.set(kPrSubject, std::string("middle"));
    middle->attachments.push_back(Attachment{{}, inner});
    MessageModel outer;
    outer.attachments.push_back(Attachment{{}, middle});
    written.push_back(box.addMessage(outer));
    store->close();
  }
  auto db = ndb::NodeDatabase::open(path);
  // Every level: the message's size, its attachments' sizes and the object references.
  std::function<std::int32_t(ndb::Node&)> checkLevel = [&](ndb::Node& node) {
    const auto size = std::get<std::int32_t>(*ltp::PropertyContext::open(node).get(kPrMessageSize));
    EXPECT_EQ(size, static_cast<std::int32_t>(occupiedBytes(node))) << hex(node.nid());
    for (ndb::Nid sub : node.subnodeIds()) {
      if (ndb::nidType(sub) != ndb::kNidTypeAttachment) continue;
      auto att = node.openSubnode(sub);
      auto pc = ltp::PropertyContext::open(*att);
      std::uint64_t expected = 0;
      for (PropTag tag : pc.tags())
        if (tag != kPtagAttachDataObject) expected += ltp::fixedWidth(tagType(tag)) ? ltp::fixedWidth(tagType(tag)) : pc.storedSize(tag);
      if (auto ref = pc.get(kPtagAttachDataObject)) {
        const Bytes& b = std::get<Bytes>(*ref);
        auto embedded = att->openSubnode(load<std::uint32_t>(b.data()));
        const std::int32_t embeddedSize = checkLevel(*embedded);
        EXPECT_EQ(load<std::uint32_t>(b.data() + 4), static_cast<std::uint32_t>(embeddedSize));
        expected += static_cast<std::uint64_t>(embeddedSize);
      }
      EXPECT_EQ(std::get<std::int32_t>(*pc.get(kPrAttachSize)), static_cast<std::int32_t>(expected)) << hex(sub);
    }
    return size;
  };
  auto contents = db->openNode(ndb::makeNid(ndb::kNidTypeContentsTable, ndb::nidIndex(db->parentOf(written[0]))));
  ltp::TableContext table = ltp::TableContext::open(*contents);
  for (std::uint32_t i = 0; i < written.size(); ++i) {
    auto node = db->openNode(written[i]);
    const std::int32_t size = checkLevel(*node);
    EXPECT_GT(size, i == 1 ? 30000 : 0);
    EXPECT_EQ(std::get<std::int32_t>(table.readRow(*table.rowIndex(written[i])).at(kPrMessageSize)), size);
  }
  EXPECT_EQ(checkStore(path), std::vector<std::string>{});
}

TEST(RowFor, CopiesExactlyTheTemplateColumnsTheObjectHas) {
  MessageModel m;
  m.props.set(kPrSubject, std::string("Row"));
  m.props.set(kPrBody, std::string("not a column"));
  completeMessage(m, FileTime{5});
  const ltp::RowValues row = rowFor(*fixedTableLayout(kNidContentsTemplate), m.props);
  EXPECT_EQ(std::get<std::string>(row.at(kPrSubject)), "Row");
  EXPECT_FALSE(row.count(kPrBody));
  EXPECT_EQ(std::get<std::int32_t>(row.at(kPrMessageSize)), *m.props.getAs<std::int32_t>(kPrMessageSize));
  EXPECT_EQ(std::get<FileTime>(row.at(kPrLastModificationTime)).ticks, 5u);
  EXPECT_FALSE(row.count(0x67F20003));  // row ids are the table's own
}

}  // namespace
}  // namespace mailfold::pst

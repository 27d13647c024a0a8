// What the store decides for every message before writing it.
#include <gtest/gtest.h>

#include "pst/messaging/message_properties.h"
#include "pst/messaging/property_tags.h"

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
  completeMessage(m, FileTime{1234});
  const PropertyBag& p = m.props;
  EXPECT_EQ(*p.getAs<std::string>(kPrMessageClass), "IPM.Note");
  EXPECT_EQ(*p.getAs<std::int32_t>(kPrMessageStatus), 0);
  EXPECT_EQ(p.getAs<FileTime>(kPrCreationTime)->ticks, 1234u);
  EXPECT_EQ(p.getAs<FileTime>(kPrLastModificationTime)->ticks, 1234u);
  ASSERT_NE(p.getAs<Bytes>(kPrSearchKey), nullptr);
  EXPECT_EQ(p.getAs<Bytes>(kPrSearchKey)->size(), 16u);
  EXPECT_EQ(*p.getAs<std::int32_t>(kPrMessageFlags), 0);
  EXPECT_FALSE(*p.getAs<bool>(kPrHasAttach));
  EXPECT_GT(*p.getAs<std::int32_t>(kPrMessageSize), 0);
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

TEST(MessageSize, CountsStoredBytesOfEveryPartToAnyDepth) {
  MessageModel small = withAttachment(Bytes(100, 1));
  MessageModel big = withAttachment(Bytes(100100, 1));
  completeMessage(small, FileTime{1});
  completeMessage(big, FileTime{1});
  EXPECT_EQ(*big.props.getAs<std::int32_t>(kPrMessageSize) - *small.props.getAs<std::int32_t>(kPrMessageSize), 100000);
  EXPECT_EQ(*big.attachments[0].props.getAs<std::int32_t>(kPrAttachSize) -
                *small.attachments[0].props.getAs<std::int32_t>(kPrAttachSize),
            100000);

  // An attached message inside an attached message counts towards the outer size.
  auto inner = std::make_shared<MessageModel>(withAttachment(Bytes(5000, 2)));
  auto middle = std::make_shared<MessageModel>();
  middle->attachments.push_back(Attachment{{}, inner});
  MessageModel outer;
  outer.attachments.push_back(Attachment{{}, middle});
  completeMessage(outer, FileTime{1});
  EXPECT_GT(*outer.props.getAs<std::int32_t>(kPrMessageSize), 5000);
  EXPECT_EQ(*outer.attachments[0].props.getAs<std::int32_t>(kPrAttachMethod), kAttachEmbeddedMessage);
  EXPECT_FALSE(inner->props.has(kPrSearchKey));  // the caller's embedded model is left alone...
  const MessageModel& completedInner = *outer.attachments[0].embedded->attachments[0].embedded;
  EXPECT_TRUE(completedInner.props.has(kPrSearchKey));  // ...the stored copy is completed
  // The size recorded equals the size recomputed from the completed message.
  EXPECT_EQ(*outer.props.getAs<std::int32_t>(kPrMessageSize), messageSize(outer));
}

TEST(RowFor, CopiesExactlyTheTemplateColumnsTheObjectHas) {
  MessageModel m;
  m.props.set(kPrSubject, std::string("Row"));
  m.props.set(kPrBody, std::string("not a column"));
  completeMessage(m, FileTime{5});
  const PropertyBag row = rowFor(contentsTemplate(), m.props);
  EXPECT_EQ(*row.getAs<std::string>(kPrSubject), "Row");
  EXPECT_FALSE(row.has(kPrBody));
  EXPECT_EQ(*row.getAs<std::int32_t>(kPrMessageSize), *m.props.getAs<std::int32_t>(kPrMessageSize));
  EXPECT_EQ(row.getAs<FileTime>(kPrLastModificationTime)->ticks, 5u);
  EXPECT_FALSE(row.has(0x67F20003));  // row ids are the table's own
}

}  // namespace
}  // namespace mailfold::pst

// What a message becomes: envelope, recipients, bodies, attachments, flags, bad input.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/stat.h>

#include "mime/importer.h"
#include "paperclip.h"
#include "mime/fuzz/model_checks.h"
#include "mime/mime_parts.h"
#include "mime/outlook_text_limits.h"
#include "mime/tnef_reader.h"
#include "pst/messaging/store.h"
#include "support/error_kind.h"
#include "support/paths.h"
#include "support/temp_dir.h"
#include "model_json.h"
#include "pst/messaging/property_tags.h"
#include "tnef_builder.h"

#include <glib.h>

using namespace mailfold;
using namespace mailfold::pst;

namespace {

MessageModel import(const std::string& text) {
  mime::ImportOptions options;
  options.importTime = FileTime{133000000000000000ull};
  return mime::importMessage(std::string_view(text), options, "test message");
}

std::string str(const PropertyBag& bag, PropTag tag) {
  const std::string* s = bag.getAs<std::string>(tag);
  return s ? *s : std::string("<unset>");
}

std::int32_t i32(const PropertyBag& bag, PropTag tag) {
  const std::int32_t* v = bag.getAs<std::int32_t>(tag);
  return v ? *v : -12345;
}

std::vector<std::string> recipients(const MessageModel& m, std::int32_t type) {
  std::vector<std::string> out;
  for (const Recipient& r : m.recipients) {
    if (i32(r.props, kPrRecipientType) == type) out.push_back(str(r.props, kPrDisplayName) + " <" + str(r.props, kPrEmailAddress) + ">");
  }
  return out;
}

std::string dataOf(const Attachment& a) {
  const auto* src = a.props.getAs<std::shared_ptr<const ByteSource>>(kPrAttachDataBin);
  if (!src || !*src) return "<no data>";
  std::string out((*src)->size(), '\0');
  (*src)->read(0, std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(out.data()), out.size()));
  return out;
}

std::int32_t flags(const MessageModel& m) { return i32(m.props, kPrMessageFlags); }

bool hidesPaperclip(const MessageModel& m) {
  for (const NamedProperty& n : m.props.named()) {
    if (n.key == kSmartNoAttach) return n.type == kPtBoolean && std::get<bool>(n.value);
  }
  return false;
}

// A message of a plain body and a winmail.dat holding `tnef`.
std::string withWinmailDat(const std::string& tnef) {
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(tnef.data()), tnef.size());
  const std::string b64(encoded);
  g_free(encoded);
  return "Subject: mime subject\r\nImportance: low\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n"
         "--m\r\nContent-Type: text/plain\r\n\r\nplain from mime\r\n"
         "--m\r\nContent-Type: application/ms-tnef; name=winmail.dat\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
         b64 + "\r\n--m--\r\n";
}

// A stream with what a TNEF from Outlook carries: a class, importance and sensitivity, an RTF
// body and its sync flag, named properties, a file and an attached message with its own
// recipient and file; and properties of the sender's store that are not carried over.
// An RTF body stored uncompressed, with the header of a compressed one.
std::string storedRtf(const std::string& rtf) {
  using mailfold::test::TnefProps;
  return TnefProps::le32(static_cast<std::uint32_t>(rtf.size() + 12)) + TnefProps::le32(static_cast<std::uint32_t>(rtf.size())) +
         "MELA" + TnefProps::le32(0) + rtf;
}

std::string sampleTnef(const std::string& innerOverride = {}, const std::string& rtf = storedRtf("{\\rtf1 rich}")) {
  using mailfold::test::TnefProps;
  using mailfold::test::TnefStream;
  TnefStream inner;
  inner.messageClass("IPM.Task")
      .messageProps(TnefProps().str8(0x0037, "Inner task").str8(0x1000, "inner body"))
      .recipients(TnefProps::le32(1) + TnefProps().i32(0x0C15, 1).str8(0x3001, "Bob").str8(0x3003, "bob@example.com").bytes())
      .attachment("inner.txt", "inner file", TnefProps());
  TnefStream outer;
  outer.messageClass("IPM.Microsoft Mail.Note")
      .messageProps(TnefProps()
                        .str8(0x001A, "IPM.Schedule.Meeting.Request")
                        .i32(0x0017, 2)
                        .i32(0x0036, 3)
                        .str8(0x0037, "subject from tnef")
                        .binary(0x0FFF, "sender's entry id")
                        .i32(0x0E07, 0x11)
                        .binary(0x1009, rtf)
                        .boolean(0x0E1F, true)
                        .namedI32(0x8001, kPsetidAppointment, 0x8205, 2)
                        .namedStr8(0x8002, kPsPublicStrings, "x-custom", "custom value"))
      .attachment("REPORT~1.PDF", "%PDF data", TnefProps().str8(0x3707, "report 2024.pdf").str8(0x3712, "part1@example.com"))
      .attachment("", "", TnefProps().object(0x3701, mime::tnef::kIidMessage, innerOverride.empty() ? inner.bytes() : innerOverride));
  return outer.bytes();
}

Bytes conversationIndexOf(const MessageModel& m) {
  const Bytes* index = m.props.getAs<Bytes>(kPrConversationIndex);
  return index ? *index : Bytes{};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Envelope

TEST(ImportEnvelope, EncodedWordsAcrossFoldsAndCharsetsDecode) {
  const auto m = import(
      "From: =?ISO-8859-1?Q?Andr=E9?= =?UTF-8?B?IEfDvG50ZXI=?= <andre@example.org>\r\n"
      "Subject: =?UTF-8?B?w6TDtsO8?=\r\n =?ISO-8859-15?Q?_=A4uro?=\r\n and =?KOI8-R?B?8NLJ18XU?=\r\n"
      "\r\nbody\r\n");
  EXPECT_EQ(str(m.props, kPrSubject), "äöü €uro and Привет");
  EXPECT_EQ(str(m.props, kPrSentRepresentingName), "André Günter");
}

TEST(ImportEnvelope, Base64PaddingInsideARunOfEncodedWordsLosesNothing) {
  // Each word is padded on its own; joining the payloads before decoding would cut the text.
  const auto m = import(
      "From: =?UTF-8?B?TXlTdXJ2ZXk=?= =?UTF-8?B?LmNvbQ==?= <survey@example.com>\r\n"
      "Subject: =?UTF-8?B?TXlTdXJ2ZXk=?=\r\n =?UTF-8?B?LmNvbTogIFk=?=\r\n =?UTF-8?B?b3UgaGF2ZSA=?=\r\n\r\nx\r\n");
  EXPECT_EQ(str(m.props, kPrSubject), "MySurvey.com:  You have");  // trailing blanks trimmed
  EXPECT_EQ(str(m.props, kPrSentRepresentingName), "MySurvey.com");
}

TEST(ImportEnvelope, MultiByteCharacterSplitAcrossTwoWordsSurvives) {
  // "é" (C3 A9) with its two bytes in two Q words.
  const auto m = import("Subject: =?UTF-8?Q?caf=C3?= =?UTF-8?Q?=A9?=\r\n\r\nx\r\n");
  EXPECT_EQ(str(m.props, kPrSubject), "café");
}

TEST(ImportEnvelope, UndeclaredEightBitHeadersReadAsUtf8ElseWindows1252) {
  const auto utf8 = import("Subject: Gr\xC3\xBC\xC3\x9F" "e\r\nFrom: J\xC3\xB6rg <j@example.de>\r\n\r\nx\r\n");
  EXPECT_EQ(str(utf8.props, kPrSubject), "Grüße");
  EXPECT_EQ(str(utf8.props, kPrSentRepresentingName), "Jörg");
  const auto latin = import("Subject: Forma\xE7\xE3o \x80 5\r\n\r\nx\r\n");
  EXPECT_EQ(str(latin.props, kPrSubject), "Formação € 5");
}

TEST(ImportEnvelope, SubjectPrefixAndNormalizedSubject) {
  struct Case {
    const char* subject;
    const char* prefix;
    const char* normalized;
  };
  for (const Case& c : {Case{"RE: Lunch", "RE: ", "Lunch"}, Case{"Fwd:Lunch", "Fwd:", "Lunch"},
                        Case{"AW:   Termin", "AW:   ", "Termin"}, Case{"Meeting: 10:00", "", "Meeting: 10:00"},
                        Case{"Re 5: x", "", "Re 5: x"}, Case{"Lunch", "", "Lunch"}, Case{"", "", ""}}) {
    const auto m = import(std::string("Subject: ") + c.subject + "\r\n\r\nx\r\n");
    EXPECT_EQ(str(m.props, kPrSubject), c.subject);
    EXPECT_EQ(str(m.props, kPrSubjectPrefix), c.prefix) << c.subject;
    EXPECT_EQ(str(m.props, kPrNormalizedSubject), c.normalized) << c.subject;
    EXPECT_EQ(str(m.props, kPrSubjectPrefix) + str(m.props, kPrNormalizedSubject), c.subject);
  }

  // Outlook keeps 255 UTF-16 units of a subject and never half a surrogate pair; the prefix and
  // the normalized subject split what is kept, the transport headers keep the whole line.
  const std::string smiley = "\xF0\x9F\x98\x80";  // U+1F600: two UTF-16 units
  const std::string fits = "RE: " + std::string(249, 'a') + smiley;  // 255 units
  EXPECT_EQ(str(import("Subject: " + fits + "\r\n\r\nx\r\n").props, kPrSubject), fits);
  const std::string longSubject = "RE: " + std::string(250, 'a') + smiley + "tail";
  const auto capped = import("Subject: " + longSubject + "\r\nThread-Topic: " + std::string(300, 't') + "\r\n\r\nx\r\n");
  EXPECT_EQ(str(capped.props, kPrSubject), "RE: " + std::string(250, 'a'));
  EXPECT_EQ(str(capped.props, kPrSubjectPrefix), "RE: ");
  EXPECT_EQ(str(capped.props, kPrNormalizedSubject), std::string(250, 'a'));
  EXPECT_EQ(str(capped.props, kPrConversationTopic), std::string(255, 't'));
  EXPECT_NE(str(capped.props, kPrTransportMessageHeaders).find(longSubject + "\r\n"), std::string::npos);
}

TEST(ImportEnvelope, FromSenderAndRecipientRows) {
  const auto m = import(
      "From: \"Doe, Jane\" <jane@example.com>\r\n"
      "Sender: Assistant <assist@example.com>\r\n"
      "To: Bob <bob@example.com>, carol@example.com\r\n"
      "Cc: Dave <DAVE@Example.com>\r\nBcc: eve@example.com\r\n"
      "Reply-To: Lists <list@example.com>\r\n\r\nx\r\n");
  EXPECT_EQ(str(m.props, kPrSentRepresentingName), "Doe, Jane");
  EXPECT_EQ(str(m.props, kPrSentRepresentingEmailAddress), "jane@example.com");
  EXPECT_EQ(str(m.props, kPrSenderName), "Assistant");
  EXPECT_EQ(str(m.props, kPrSenderSmtpAddress), "assist@example.com");
  EXPECT_EQ(recipients(m, kRecipientTo), (std::vector<std::string>{"Bob <bob@example.com>", "carol@example.com <carol@example.com>"}));
  EXPECT_EQ(recipients(m, kRecipientCc), std::vector<std::string>{"Dave <DAVE@Example.com>"});
  EXPECT_EQ(recipients(m, kRecipientBcc), std::vector<std::string>{"eve@example.com <eve@example.com>"});
  EXPECT_EQ(str(m.props, kPrDisplayTo), "Bob; carol@example.com");
  EXPECT_EQ(str(m.props, kPrDisplayBcc), "eve@example.com");
  EXPECT_EQ(str(m.props, kPrReplyRecipientNames), "Lists");
  // Search key: "SMTP:" + address upper-cased, zero-terminated.
  const Bytes* key = m.recipients[2].props.getAs<Bytes>(kPrSearchKey);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(std::string(key->begin(), key->end()), std::string("SMTP:DAVE@EXAMPLE.COM") + '\0');
  // One-off entry id: provider UID, Unicode flag, then UTF-16 name, type and address.
  const Bytes* id = m.recipients[0].props.getAs<Bytes>(kPrEntryId);
  ASSERT_NE(id, nullptr);
  ASSERT_GT(id->size(), 24u);
  EXPECT_TRUE(std::equal(std::begin(kOneOffProviderUid), std::end(kOneOffProviderUid), id->begin() + 4));
  EXPECT_EQ((*id)[23] & 0x80, 0x80);
  EXPECT_EQ((*id)[24], 'B');
  EXPECT_EQ((*id)[25], 0);
  // Reply-To as a FlatEntryList of one entry.
  const Bytes* reply = m.props.getAs<Bytes>(kPrReplyRecipientEntries);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(load<std::uint32_t>(reply->data()), 1u);
  EXPECT_EQ(load<std::uint32_t>(reply->data() + 4) + 8, reply->size());
}

TEST(ImportEnvelope, NoSenderHeaderMeansTheAuthorIsTheSender) {
  const auto m = import("From: Ann <ann@example.com>\r\n\r\nx\r\n");
  EXPECT_EQ(str(m.props, kPrSenderName), "Ann");
  EXPECT_EQ(str(m.props, kPrSenderEmailAddress), "ann@example.com");
}

TEST(ImportEnvelope, GroupsAndEmptyAddressLists) {
  const auto m = import(
      "From: a@example.com\r\n"
      "To: Team: x@example.com, \"Y\" <y@example.com>;, z@example.com\r\n"
      "Cc: undisclosed-recipients:;\r\nBcc:\r\n\r\nx\r\n");
  EXPECT_EQ(recipients(m, kRecipientTo),
            (std::vector<std::string>{"x@example.com <x@example.com>", "Y <y@example.com>", "z@example.com <z@example.com>"}));
  EXPECT_TRUE(recipients(m, kRecipientCc).empty());
  EXPECT_TRUE(recipients(m, kRecipientBcc).empty());
  EXPECT_EQ(str(m.props, kPrDisplayCc), "");
}

TEST(ImportEnvelope, UnparsableAuthorKeepsWhatIsThere) {
  const auto noBrackets = import("From: Big Bug bb@bug.com\r\n\r\nx\r\n");
  EXPECT_EQ(str(noBrackets.props, kPrSentRepresentingEmailAddress), "bb@bug.com");
  EXPECT_EQ(str(noBrackets.props, kPrSentRepresentingName), "Big Bug");
  const auto nullPath = import("From: MAILER DAEMON <>\r\n\r\nx\r\n");
  EXPECT_EQ(str(nullPath.props, kPrSentRepresentingName), "MAILER DAEMON");
}

TEST(ImportEnvelope, DatesSubmitDeliveryAndFallbacks) {
  const auto both = import(
      "Received: from b by c; Tue, 02 Jan 2024 10:00:05 +0000\r\n"
      "Received: from a by b; Tue, 02 Jan 2024 09:59:00 +0000\r\n"
      "Date: Tue, 2 Jan 2024 11:58:00 +0200\r\n\r\nx\r\n");
  EXPECT_EQ(test::isoTime(*both.props.getAs<FileTime>(kPrClientSubmitTime)), "2024-01-02T09:58:00");
  EXPECT_EQ(test::isoTime(*both.props.getAs<FileTime>(kPrMessageDeliveryTime)), "2024-01-02T10:00:05");
  // The item was created (and last changed) when the mail arrived, not when it was converted.
  EXPECT_EQ(test::isoTime(*both.props.getAs<FileTime>(kPrCreationTime)), "2024-01-02T10:00:05");
  EXPECT_EQ(test::isoTime(*both.props.getAs<FileTime>(kPrLastModificationTime)), "2024-01-02T10:00:05");

  // Missing Date: the newest Received hop stands in; with neither, the import time.
  const auto noDate = import("Received: from a by b; Wed, 03 Jan 2024 08:00:00 -0500\r\nSubject: x\r\n\r\nx\r\n");
  EXPECT_EQ(test::isoTime(*noDate.props.getAs<FileTime>(kPrClientSubmitTime)), "2024-01-03T13:00:00");
  const auto onlyDate = import("Date: Thu, 4 Jan 2024 12:00:00 +0000\r\n\r\nx\r\n");
  EXPECT_EQ(test::isoTime(*onlyDate.props.getAs<FileTime>(kPrCreationTime)), "2024-01-04T12:00:00");
  const auto nothing = import("Subject: x\r\n\r\nx\r\n");
  EXPECT_EQ(nothing.props.getAs<FileTime>(kPrClientSubmitTime)->ticks, 133000000000000000ull);
  EXPECT_EQ(nothing.props.getAs<FileTime>(kPrMessageDeliveryTime)->ticks, 133000000000000000ull);
  EXPECT_EQ(nothing.props.getAs<FileTime>(kPrCreationTime)->ticks, 133000000000000000ull);
  EXPECT_EQ(nothing.props.getAs<FileTime>(kPrLastModificationTime)->ticks, 133000000000000000ull);

  // Zones old mailers write: lower-case names and three-digit offsets.
  const auto cst = import("Date: Tue, 28 May 1996 12:24:23 cst\r\n\r\nx\r\n");
  EXPECT_EQ(test::isoTime(*cst.props.getAs<FileTime>(kPrClientSubmitTime)), "1996-05-28T18:24:23");
  const auto short_ = import("Date: Mon, 21 Aug 95 13:30:57 -600\r\n\r\nx\r\n");
  EXPECT_EQ(test::isoTime(*short_.props.getAs<FileTime>(kPrClientSubmitTime)), "1995-08-21T19:30:57");
}

TEST(ImportEnvelope, IdentityImportanceSensitivityAndHeaders) {
  const auto m = import(
      "Message-ID: <abc@example.com>\r\nIn-Reply-To: <parent@example.com>\r\n"
      "References: <root@example.com>\r\n <parent@example.com>\r\n"
      "X-Priority: 1 (Highest)\r\nSensitivity: Company-Confidential\r\n"
      "Thread-Topic: The topic\r\nThread-Index: AQHZ1234567890abcdefghijklmnopqrstuv\r\n"
      "X-MS-Exchange-Organization-AuthAs: Internal\r\n\tcontinued\r\nSubject: RE: x\r\n\r\nbody\r\n");
  EXPECT_EQ(str(m.props, kPrInternetMessageId), "<abc@example.com>");
  EXPECT_EQ(str(m.props, kPrInReplyToId), "<parent@example.com>");
  EXPECT_EQ(str(m.props, kPrInternetReferences), "<root@example.com> <parent@example.com>");
  EXPECT_EQ(i32(m.props, kPrImportance), kImportanceHigh);
  EXPECT_EQ(i32(m.props, kPrSensitivity), 3);
  EXPECT_EQ(str(m.props, kPrConversationTopic), "The topic");
  // The sending Outlook's own index is kept as it came (0x01 header, one child block).
  const Bytes threadIndex = conversationIndexOf(m);
  ASSERT_EQ(threadIndex.size(), 27u);
  EXPECT_EQ(Bytes(threadIndex.begin(), threadIndex.begin() + 3), (Bytes{0x01, 0x01, 0xD9}));
  EXPECT_EQ(i32(m.props, kPrMessageLocaleId), 1033);
  EXPECT_EQ(i32(m.props, kPrMessageCodepage), 1252);
  const std::string headers = str(m.props, kPrTransportMessageHeaders);
  EXPECT_NE(headers.find("Message-ID: <abc@example.com>\r\n"), std::string::npos);
  EXPECT_EQ(headers.find("X-MS-Exchange-Organization"), std::string::npos);
  EXPECT_EQ(headers.find("continued"), std::string::npos);
  EXPECT_EQ(headers.find("body"), std::string::npos);
  EXPECT_EQ(str(m.props, kPrMessageClass), "IPM.Note");

  const auto low = import("Importance: low\r\nX-Priority: 1\r\n\r\nx\r\n");  // Importance wins
  EXPECT_EQ(i32(low.props, kPrImportance), kImportanceLow);
  const auto plain = import("Subject: x\r\n\r\nx\r\n");
  EXPECT_EQ(i32(plain.props, kPrImportance), kImportanceNormal);
  EXPECT_EQ(i32(plain.props, kPrSensitivity), 0);
  EXPECT_EQ(str(plain.props, kPrConversationTopic), "x");
}

TEST(ImportEnvelope, FirstSubjectWinsWhenThereAreSeveral) {
  const auto m = import("Subject: Testing outlook\r\nSubject: Another PDF\r\n\r\nx\r\n");
  EXPECT_EQ(str(m.props, kPrSubject), "Testing outlook");
}

TEST(ImportEnvelope, ConversationIndexNestsRepliesUnderTheirParentFromEachFileAlone) {
  const auto root = import("Message-ID: <root@x>\r\nDate: Tue, 2 Jan 2024 10:00:00 +0000\r\n\r\nx\r\n");
  const auto reply = import("Message-ID: <reply@x>\r\nIn-Reply-To: <root@x>\r\nDate: Wed, 3 Jan 2024 10:00:00 +0000\r\n\r\nx\r\n");
  const auto second = import("Message-ID: <second@x>\r\nReferences: <root@x> <reply@x>\r\n\r\nx\r\n");
  // Only In-Reply-To names the parent here: it extends References.
  const auto third = import(
      "Message-ID: <third@x>\r\nReferences: <root@x>\r\n <reply@x>\r\nIn-Reply-To: <second@x> (Bob)\r\n\r\nx\r\n");
  const Bytes r = conversationIndexOf(root), a = conversationIndexOf(reply), b = conversationIndexOf(second),
              c = conversationIndexOf(third);
  ASSERT_EQ(r.size(), 22u);
  ASSERT_EQ(a.size(), 27u);
  ASSERT_EQ(b.size(), 32u);
  ASSERT_EQ(c.size(), 37u);
  EXPECT_TRUE(std::equal(r.begin(), r.end(), a.begin()));  // same header: same GUID
  EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin()));  // the parent's index, one block more
  EXPECT_TRUE(std::equal(b.begin(), b.end(), c.begin()));
  EXPECT_EQ(*root.props.getAs<bool>(kPrConversationIndexTracking), true);

  // Another thread, and messages without any id, are conversations of their own.
  const Bytes other = conversationIndexOf(import("Message-ID: <other@x>\r\n\r\nx\r\n"));
  EXPECT_FALSE(std::equal(other.begin() + 6, other.end(), r.begin() + 6));
  const std::string noIds = "Date: Tue, 2 Jan 2024 10:00:00 +0000\r\n\r\nx\r\n";
  const Bytes lone1 = conversationIndexOf(import(noIds)), lone2 = conversationIndexOf(import(noIds));
  ASSERT_EQ(lone1.size(), 22u);
  EXPECT_NE(lone1, lone2);  // random GUIDs
  // The high 48 bits of the date's FILETIME (0x01DA3D62729F9000), big-endian.
  EXPECT_EQ(Bytes(lone1.begin(), lone1.begin() + 6), (Bytes{0x01, 0xDA, 0x3D, 0x62, 0x72, 0x9F}));
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 6), (Bytes{0x01, 0, 0, 0, 0, 0}));  // the time no message knows

  // A Thread-Index that is not an index (too short, wrong length) is replaced.
  const auto broken = import("Message-ID: <root@x>\r\nThread-Index: AQHZ\r\n\r\nx\r\n");
  EXPECT_EQ(conversationIndexOf(broken), r);
}

TEST(ImportEnvelope, ReceivedByIsTheMailboxTheMessageWasDeliveredTo) {
  const auto m = import(
      "Delivered-To: mailing list dev@lists.example.org\r\nDelivered-To: Ann@Example.com\r\n"
      "X-Original-To: alias@example.com\r\nDelivered-To: old-box@example.net\r\n"
      "To: Dev list <dev@lists.example.org>\r\nCc: \"Ann Lee\" <ann@example.com>\r\n\r\nx\r\n");
  EXPECT_EQ(str(m.props, kPrReceivedByEmailAddress), "Ann@Example.com");
  EXPECT_EQ(str(m.props, kPrReceivedByName), "Ann Lee");  // as the Cc row names her
  EXPECT_EQ(str(m.props, kPrReceivedByAddrType), "SMTP");
  EXPECT_EQ(str(m.props, kPrRcvdRepresentingEmailAddress), "Ann@Example.com");
  EXPECT_EQ(str(m.props, kPrRcvdRepresentingName), "Ann Lee");
  const Bytes* key = m.props.getAs<Bytes>(kPrReceivedBySearchKey);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(std::string(key->begin(), key->end()), std::string("SMTP:ANN@EXAMPLE.COM") + '\0');
  const Bytes* id = m.props.getAs<Bytes>(kPrRcvdRepresentingEntryId);
  ASSERT_NE(id, nullptr);
  ASSERT_GT(id->size(), 26u);
  EXPECT_TRUE(std::equal(std::begin(kOneOffProviderUid), std::end(kOneOffProviderUid), id->begin() + 4));
  EXPECT_EQ((*id)[22], 0x00);  // flags 0x8000: Unicode, as Outlook writes the received-by
  EXPECT_EQ((*id)[23], 0x80);
  EXPECT_EQ((*id)[24], 'A');
  EXPECT_EQ(*m.props.getAs<bool>(kPrMessageToMe), false);
  EXPECT_EQ(*m.props.getAs<bool>(kPrMessageCcMe), true);

  const auto postfix = import("X-Original-To: bob@example.com\r\nEnvelope-To: carl@example.com\r\nTo: bob@example.com\r\n\r\nx\r\n");
  EXPECT_EQ(str(postfix.props, kPrReceivedByEmailAddress), "bob@example.com");
  EXPECT_EQ(*postfix.props.getAs<bool>(kPrMessageToMe), true);
  const auto exim = import("Envelope-To: <carl@example.com>\r\n\r\nx\r\n");
  EXPECT_EQ(str(exim.props, kPrReceivedByEmailAddress), "carl@example.com");

  const auto unknown = import("To: bob@example.com\r\nDelivered-To: mailing list x@example.org\r\n\r\nx\r\n");
  EXPECT_FALSE(unknown.props.has(kPrReceivedByEntryId));
  EXPECT_FALSE(unknown.props.has(kPrMessageToMe));
}

// ---------------------------------------------------------------------------------------------
// Bodies

TEST(ImportBody, PlainTextConvertedFromItsCharsetWithCrlf) {
  const auto m = import(
      "Content-Type: text/plain; charset=iso-8859-2\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
      "Za=BF=F3=B3=E6 g=EA=B6l=B1 ja=BC=F1\nline two\n");
  EXPECT_EQ(str(m.props, kPrBody), "Zażółć gęślą jaźń\r\nline two\r\n");
  EXPECT_EQ(i32(m.props, kPrInternetCodepage), 28592);
  EXPECT_EQ(i32(m.props, kPrNativeBody), kNativeBodyPlain);
  EXPECT_FALSE(m.props.has(kPrHtml));
}

TEST(ImportBody, UndeclaredEightBitBodyAndMislabelledAscii) {
  const auto utf8 = import("Subject: x\r\n\r\nna\xC3\xAFve\r\n");
  EXPECT_EQ(str(utf8.props, kPrBody), "naïve\r\n");
  const auto cp1252 = import("Content-Type: text/plain; charset=us-ascii\r\n\r\n\x93quoted\x94 \xE9t\xE9\r\n");
  EXPECT_EQ(str(cp1252.props, kPrBody), "“quoted” été\r\n");
  const auto unknown = import("Content-Type: text/plain; charset=x-no-such-charset\r\n\r\nplain\r\n");
  EXPECT_EQ(str(unknown.props, kPrBody), "plain\r\n");
}

TEST(ImportBody, FormatFlowedIsUndone) {
  const auto m = import(
      "Content-Type: text/plain; charset=utf-8; format=flowed\r\n\r\n"
      "This is a long \r\nparagraph.\r\n> quoted \r\n> more\r\n-- \r\nsig\r\n");
  EXPECT_EQ(str(m.props, kPrBody), "This is a long paragraph.\r\n> quoted more\r\n-- \r\nsig\r\n");
  const auto delsp = import("Content-Type: text/plain; format=flowed; delsp=yes\r\n\r\nsplit wo \r\nrd\r\n");
  EXPECT_EQ(str(delsp.props, kPrBody), "split word\r\n");
}

TEST(ImportBody, AlternativeGivesPlainAndHtml) {
  const auto m = import(
      "Content-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
      "--b\r\nContent-Type: text/html; charset=windows-1252\r\n\r\n<p>caf\xE9</p>\r\n--b--\r\n");
  EXPECT_EQ(str(m.props, kPrBody), "plain");
  const Bytes* html = m.props.getAs<Bytes>(kPrHtml);
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(std::string(html->begin(), html->end()), "<p>caf\xE9</p>");  // its own bytes ...
  EXPECT_EQ(i32(m.props, kPrInternetCodepage), 1252);                  // ... and their code page
  EXPECT_EQ(i32(m.props, kPrNativeBody), kNativeBodyHtml);
  EXPECT_TRUE(m.attachments.empty());
  EXPECT_EQ(flags(m) & kMsgFlagHasAttach, 0);
}

TEST(ImportBody, HtmlOnlyMessageGetsADerivedPlainBody) {
  const auto m = import(
      "Content-Type: text/html\r\n\r\n<html><head><title>t</title><style>p{}</style></head>"
      "<body><p>Hello&nbsp;<b>world</b> &amp; all</p><p>Second&#32;line &#x263A;</p>"
      "<script>var x=1;</script></body></html>\r\n");
  EXPECT_EQ(str(m.props, kPrBody), "Hello\u00a0world & all\r\n\r\nSecond line \u263A");
  ASSERT_TRUE(m.props.has(kPrHtml));
  EXPECT_EQ(i32(m.props, kPrInternetCodepage), 65001);  // no charset: stored as UTF-8
}

TEST(ImportBody, ABodyEndsAtItsFirstNul) {
  const auto plain = import("Subject: x\r\n\r\nbefore" + std::string(1, '\0') + "after\r\n");
  EXPECT_EQ(str(plain.props, kPrBody), "before");
  const auto utf16 = import(
      "Content-Type: text/plain; charset=utf-16le\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "aABpAAAAdABoAGUAcgBlAA==\r\n");  // "hi", U+0000, "there"
  EXPECT_EQ(str(utf16.props, kPrBody), "hi");
  const auto html = import("Content-Type: text/html\r\n\r\n<p>seen</p>" + std::string(1, '\0') + "<p>lost</p>\r\n");
  EXPECT_EQ(str(html.props, kPrBody), "seen");
  ASSERT_NE(html.props.getAs<Bytes>(kPrHtml), nullptr);
  const Bytes& markup = *html.props.getAs<Bytes>(kPrHtml);
  EXPECT_NE(std::string(markup.begin(), markup.end()).find("lost"), std::string::npos);  // the HTML stays whole
}

TEST(ImportBody, RelatedRootIsTheBodyAndItsImagesAreHiddenInline) {
  const auto m = import(
      "Content-Type: multipart/related; boundary=r\r\n\r\n"
      "--r\r\nContent-Type: text/html\r\n\r\n<img src=\"cid:logo@x\"><p>hi</p>\r\n"
      "--r\r\nContent-Type: image/png\r\nContent-ID: <logo@x>\r\nContent-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n"
      "--r--\r\n");
  ASSERT_EQ(m.attachments.size(), 1u);
  const auto& a = m.attachments[0].props;
  EXPECT_EQ(str(a, kPrAttachContentId), "logo@x");
  EXPECT_EQ(*a.getAs<bool>(kPrAttachmentHidden), true);
  EXPECT_EQ(i32(a, kPrAttachFlags), kAttachFlagRenderedInBody);
  EXPECT_EQ(dataOf(m.attachments[0]), "\x89PNG\r\n\x1a\n");
  // Only an inline image: the store flags an attachment, the paperclip stays hidden.
  EXPECT_TRUE(hidesPaperclip(m));
  EXPECT_FALSE(m.props.has(kPrHasAttach));
  EXPECT_FALSE(mailfold::test::paperclipShows(m));
}

TEST(ImportBody, BareLfLineEndsParseLikeCrlf) {
  const auto m = import(
      "From: a@example.com\nSubject: bare\nContent-Type: multipart/mixed; boundary=x\n\n"
      "--x\nContent-Type: text/plain\n\nline 1\nline 2\n--x\nContent-Type: application/octet-stream\n"
      "Content-Disposition: attachment; filename=a.bin\nContent-Transfer-Encoding: base64\n\nAAEC\n--x--\n");
  EXPECT_EQ(str(m.props, kPrSubject), "bare");
  EXPECT_EQ(str(m.props, kPrBody), "line 1\r\nline 2");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(dataOf(m.attachments[0]), std::string("\x00\x01\x02", 3));
}

// ---------------------------------------------------------------------------------------------
// Attachments and flags

TEST(ImportAttachments, Rfc2231AndRfc2047NamesDecode) {
  const auto m = import(
      "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nsee\r\n"
      "--m\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment;\r\n"
      " filename*0*=UTF-8''%E6%97%A5%E6%9C%AC%E8%AA%9E;\r\n filename*1*=%20report.pdf\r\n\r\nPDF\r\n"
      "--m\r\nContent-Type: text/plain; name=\"=?UTF-8?Q?Gr=C3=BC=C3=9Fe?= long name.txt\"\r\n"
      "Content-Disposition: attachment\r\n\r\nhi\r\n"
      // Sections out of order, a plain one among them, quoted, and the name only in the type.
      "--m\r\nContent-Type: text/plain; name*1=\" menu.txt\"; name*0*=iso-8859-1'fr'caf%E9\r\n\r\nmenu\r\n--m--\r\n");
  ASSERT_EQ(m.attachments.size(), 3u);
  EXPECT_EQ(str(m.attachments[2].props, kPrAttachLongFilename), "caf\u00e9 menu.txt");
  const auto& pdf = m.attachments[0].props;
  EXPECT_EQ(str(pdf, kPrAttachLongFilename), "日本語 report.pdf");
  EXPECT_EQ(str(pdf, kPrAttachExtension), ".pdf");
  EXPECT_EQ(str(pdf, kPrAttachFilename), "REPORT.PDF");
  EXPECT_EQ(str(pdf, kPrAttachMimeTag), "application/pdf");
  EXPECT_EQ(i32(pdf, kPrAttachMethod), kAttachByValue);
  EXPECT_EQ(i32(pdf, kPrAttachSize), 3);
  EXPECT_EQ(i32(pdf, kPrRenderingPosition), -1);
  EXPECT_EQ(str(m.attachments[1].props, kPrAttachLongFilename), "Grüße long name.txt");
  EXPECT_FALSE(hidesPaperclip(m));
  EXPECT_TRUE(mailfold::test::paperclipShows(m));
}

TEST(ImportAttachments, MessageWithOnlyAnAttachment) {
  const auto m = import(
      "Subject: scan\r\nContent-Type: application/pdf; name=scan.pdf\r\nContent-Disposition: attachment\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0=\r\n");
  EXPECT_FALSE(m.props.has(kPrBody));
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(str(m.attachments[0].props, kPrAttachLongFilename), "scan.pdf");
  EXPECT_EQ(dataOf(m.attachments[0]), "%PDF-");
  EXPECT_TRUE(mailfold::test::paperclipShows(m));
}

TEST(ImportAttachments, FlagsHoldOnlyTheUnsentBitOfATopLevelDraft) {
  const auto m = import("Subject: x\r\n\r\nbody\r\n");
  EXPECT_EQ(flags(m), 0);  // the import loop adds read, the store has-attachments
  EXPECT_FALSE(hidesPaperclip(m));
  const auto draft = import(
      "X-Unsent: 1\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nb\r\n"
      "--m\r\nContent-Type: message/rfc822\r\n\r\nX-Unsent: 1\r\nSubject: inner\r\n\r\ninner\r\n--m--\r\n");
  EXPECT_EQ(flags(draft), kMsgFlagUnsent);
  ASSERT_EQ(draft.attachments.size(), 1u);
  ASSERT_TRUE(draft.attachments[0].embedded);
  EXPECT_EQ(flags(*draft.attachments[0].embedded), 0);  // an attached message is no draft
}

TEST(ImportAttachments, TextAttachmentsKeepTheirExactBytesInCrlfFiles) {
  // The CRLF before each boundary belongs to the boundary, also before the closing one.
  const auto m = import(
      "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
      "--m\r\nContent-Type: text/plain; name=a.txt\r\nContent-Disposition: attachment\r\n\r\nfirst\r\n\r\n"
      "--m\r\nContent-Type: text/plain; name=b.txt\r\nContent-Disposition: attachment\r\n\r\nlast\r\n\r\n--m--\r\n");
  ASSERT_EQ(m.attachments.size(), 2u);
  EXPECT_EQ(dataOf(m.attachments[0]), "first\r\n");
  EXPECT_EQ(dataOf(m.attachments[1]), "last\r\n");
}

TEST(ImportAttachments, UnnamedPartsGetAMadeUpDisplayNameOnly) {
  const auto m = import(
      "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
      "--m\r\nContent-Type: text/plain\r\n\r\nfooter\r\n--m--\r\n");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(str(m.attachments[0].props, kPrDisplayName), "ATT00001.txt");
  EXPECT_FALSE(m.attachments[0].props.has(kPrAttachLongFilename));
  EXPECT_EQ(dataOf(m.attachments[0]), "footer");

  // Alternatives the body choice passes over are kept, named after their type.
  const auto alternatives = import(
      "Content-Type: multipart/alternative; boundary=a\r\n\r\n--a\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
      "--a\r\nContent-Type: text/x-watch-html\r\n\r\n<b>w</b>\r\n--a\r\nContent-Type: text/enriched\r\n\r\n<bold>e</bold>\r\n"
      "--a\r\nContent-Type: text/html\r\n\r\n<b>h</b>\r\n--a--\r\n");
  ASSERT_EQ(alternatives.attachments.size(), 2u);
  EXPECT_EQ(str(alternatives.attachments[0].props, kPrDisplayName), "x-watch-html.htm");
  EXPECT_EQ(str(alternatives.attachments[1].props, kPrDisplayName), "enriched.txt");
}

TEST(ImportAttachments, NestedMessagesBecomeEmbeddedItemsRecursively) {
  const auto m = import(
      "Subject: outer\r\nContent-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\nContent-Type: text/plain\r\n\r\nouter body\r\n"
      "--o\r\nContent-Type: message/rfc822\r\n\r\n"
      "Subject: middle\r\nFrom: m@example.com\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n"
      "--i\r\nContent-Type: text/plain\r\n\r\nmiddle body\r\n"
      "--i\r\nContent-Type: message/rfc822\r\n\r\nSubject: inner\r\n\r\ninner body\r\n--i--\r\n"
      "--o--\r\n");
  ASSERT_EQ(m.attachments.size(), 1u);
  const Attachment& a = m.attachments[0];
  ASSERT_TRUE(a.embedded);
  EXPECT_EQ(i32(a.props, kPrAttachMethod), kAttachEmbeddedMessage);
  EXPECT_EQ(str(a.props, kPrDisplayName), "middle");
  EXPECT_EQ(str(a.embedded->props, kPrBody), "middle body");
  EXPECT_EQ(str(a.embedded->props, kPrSentRepresentingEmailAddress), "m@example.com");
  ASSERT_EQ(a.embedded->attachments.size(), 1u);
  ASSERT_TRUE(a.embedded->attachments[0].embedded);
  EXPECT_EQ(str(a.embedded->attachments[0].embedded->props, kPrSubject), "inner");
  EXPECT_EQ(str(a.embedded->attachments[0].embedded->props, kPrBody), "inner body");
  EXPECT_TRUE(mailfold::test::paperclipShows(m));
}

TEST(ImportAttachments, EmbeddingBeyondTheDepthLimitIsKeptAsAFile) {
  std::string text = "Subject: level 0\r\nContent-Type: message/rfc822\r\n\r\n";
  for (int i = 1; i < 6; ++i) text += "Subject: level " + std::to_string(i) + "\r\nContent-Type: message/rfc822\r\n\r\n";
  text += "Subject: last\r\n\r\nbottom\r\n";
  mime::ImportOptions options;
  options.maxEmbeddingDepth = 2;
  const auto m = mime::importMessage(std::string_view(text), options);
  const MessageModel* level = &m;
  for (int depth = 0; depth < 2; ++depth) {
    ASSERT_EQ(level->attachments.size(), 1u);
    ASSERT_TRUE(level->attachments[0].embedded) << depth;
    level = level->attachments[0].embedded.get();
  }
  ASSERT_EQ(level->attachments.size(), 1u);
  EXPECT_FALSE(level->attachments[0].embedded);
  EXPECT_EQ(str(level->attachments[0].props, kPrAttachMimeTag), "message/rfc822");
  EXPECT_NE(dataOf(level->attachments[0]).find("bottom"), std::string::npos);  // nothing lost
}

TEST(ImportAttachments, UuencodedBlocksLeaveTheBodyAsAttachments) {
  const auto m = import(
      "Subject: uu\r\n\r\nHere it is:\r\nbegin 644 hello.txt\r\n&:&5L;&\\*\r\n`\r\nend\r\nBye\r\n"
      "begin 644 unterminated.bin\r\nstays\r\n");
  EXPECT_EQ(str(m.props, kPrBody), "Here it is:\r\nBye\r\nbegin 644 unterminated.bin\r\nstays\r\n");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(str(m.attachments[0].props, kPrAttachLongFilename), "hello.txt");
  EXPECT_EQ(dataOf(m.attachments[0]), "hello\n");
  EXPECT_TRUE(mailfold::test::paperclipShows(m));
}

TEST(ImportAttachments, WinmailDatStaysAnAttachment) {
  const auto m = import(
      "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nb\r\n"
      "--m\r\nContent-Type: application/ms-tnef; name=winmail.dat\r\nContent-Transfer-Encoding: base64\r\n\r\neJ8+IgA=\r\n--m--\r\n");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(str(m.attachments[0].props, kPrAttachLongFilename), "winmail.dat");
  EXPECT_EQ(dataOf(m.attachments[0]), std::string("\x78\x9f\x3e\x22\x00", 5));
}

TEST(ImportAttachments, WinmailDatIsDecodedIntoAttachmentsBodiesAndProperties) {
  MessageModel m = import(withWinmailDat(sampleTnef()));
  EXPECT_EQ(str(m.props, kPrSubject), "mime subject");  // the envelope stays the MIME's
  EXPECT_EQ(str(m.props, kPrBody), "plain from mime");
  EXPECT_EQ(str(m.props, kPrMessageClass), "IPM.Schedule.Meeting.Request");
  EXPECT_EQ(i32(m.props, kPrImportance), 2);
  EXPECT_EQ(i32(m.props, kPrSensitivity), 3);
  const Bytes* rtf = m.props.getAs<Bytes>(kPrRtfCompressed);
  ASSERT_TRUE(rtf);
  EXPECT_EQ(std::string(rtf->begin(), rtf->end()), storedRtf("{\\rtf1 rich}"));
  EXPECT_TRUE(*m.props.getAs<bool>(kPrRtfInSync));
  EXPECT_EQ(i32(m.props, kPrNativeBody), kNativeBodyRtf);
  EXPECT_FALSE(m.props.has(makeTag(0x0FFF, kPtBinary)));
  EXPECT_EQ(flags(m), 0);
  int named = 0;
  for (const NamedProperty& n : m.props.named()) {
    if (n.key == NamedPropertyKey{kPsetidAppointment, std::uint32_t{0x8205}}) named += std::get<std::int32_t>(n.value) == 2;
    if (n.key == NamedPropertyKey{kPsPublicStrings, std::string("x-custom")}) named += std::get<std::string>(n.value) == "custom value";
  }
  EXPECT_EQ(named, 2);

  ASSERT_EQ(m.attachments.size(), 2u);  // the winmail.dat itself is gone
  EXPECT_EQ(str(m.attachments[0].props, kPrAttachLongFilename), "report 2024.pdf");
  EXPECT_EQ(str(m.attachments[0].props, kPrAttachContentId), "part1@example.com");
  EXPECT_EQ(dataOf(m.attachments[0]), "%PDF data");
  const Attachment& attached = m.attachments[1];
  ASSERT_TRUE(attached.embedded);
  EXPECT_EQ(i32(attached.props, kPrAttachMethod), kAttachEmbeddedMessage);
  EXPECT_EQ(str(attached.props, kPrDisplayName), "Inner task");
  const MessageModel& inner = *attached.embedded;
  EXPECT_EQ(str(inner.props, kPrMessageClass), "IPM.Task");
  EXPECT_EQ(str(inner.props, kPrBody), "inner body");
  EXPECT_EQ(recipients(inner, kRecipientTo), std::vector<std::string>{"Bob <bob@example.com>"});
  ASSERT_EQ(inner.attachments.size(), 1u);
  EXPECT_EQ(str(inner.attachments[0].props, kPrAttachLongFilename), "inner.txt");
  EXPECT_EQ(dataOf(inner.attachments[0]), "inner file");
  EXPECT_EQ(mime::checks::illFormedText(m), "");

  mailfold::test::TempDir temp;
  auto store = Store::create((temp.path() / "tnef.pst").string(), "TNEF");
  EXPECT_NO_THROW(store->ipmRoot().addChild("In").addMessage(std::move(m)));
  store->close();
}

TEST(ImportAttachments, TnefSamplesGiveTheirFilesAttachedMessagesAndBodies) {
  MAILFOLD_REQUIRE_SHARED();
  const auto dir = mailfold::test::sharedDir() / "samples" / "eml" / "mimekit" / "tnef";
  const MessageModel rich = mime::importMessageFile((dir / "rich-text.eml").string());
  ASSERT_EQ(rich.attachments.size(), 3u);
  EXPECT_EQ(str(rich.attachments[0].props, kPrAttachLongFilename), "kitten-playing-with-a-christmas-tree.jpg");
  EXPECT_EQ(dataOf(rich.attachments[0]).size(), 375081u);
  ASSERT_TRUE(rich.attachments[1].embedded && rich.attachments[2].embedded);
  EXPECT_EQ(str(rich.attachments[1].embedded->props, kPrMessageClass), "IPM.Task");
  EXPECT_EQ(str(rich.attachments[2].embedded->props, kPrMessageClass), "IPM.Appointment");
  EXPECT_TRUE(rich.props.has(kPrRtfCompressed));
  EXPECT_EQ(i32(rich.props, kPrNativeBody), kNativeBodyRtf);
  // An HTML body only the TNEF has, in the code page it names (KOI8-R).
  const MessageModel ukr = mime::importMessageFile((dir / "ukr.eml").string());
  EXPECT_TRUE(ukr.props.has(kPrHtml));
  EXPECT_EQ(i32(ukr.props, kPrNativeBody), kNativeBodyHtml);
  EXPECT_EQ(i32(ukr.props, kPrInternetCodepage), 20866);
}

TEST(ImportAttachments, SignedAndEncryptedMessagesKeepTheirSmimeContent) {
  const std::string signedText =
      "Subject: signed\r\nContent-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; micalg=sha-256; boundary=s\r\n\r\n"
      "--s\r\nContent-Type: multipart/mixed; boundary=c\r\n\r\n--c\r\nContent-Type: text/plain\r\n\r\nsigned text\r\n"
      "--c\r\nContent-Type: application/pdf; name=a.pdf\r\nContent-Disposition: attachment\r\n\r\nPDF\r\n--c--\r\n"
      "\r\n--s\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\nContent-Transfer-Encoding: base64\r\n\r\nMIIB\r\n--s--\r\n";
  const auto s = import(signedText);
  EXPECT_EQ(str(s.props, kPrMessageClass), "IPM.Note.SMIME.MultipartSigned");
  EXPECT_EQ(str(s.props, kPrBody), "signed text");
  ASSERT_EQ(s.attachments.size(), 1u);
  EXPECT_EQ(str(s.attachments[0].props, kPrAttachLongFilename), "smime.p7m");
  EXPECT_EQ(str(s.attachments[0].props, kPrAttachMimeTag), "multipart/signed");
  const std::string entity = dataOf(s.attachments[0]);
  EXPECT_EQ(entity.rfind("Content-Type: multipart/signed", 0), 0u) << entity.substr(0, 80);
  EXPECT_NE(entity.find("signed text\r\n"), std::string::npos);
  EXPECT_NE(entity.find("MIIB"), std::string::npos);
  EXPECT_TRUE(mailfold::test::paperclipShows(s));  // the signed content holds a.pdf
  EXPECT_FALSE(hidesPaperclip(s));

  const auto e = import(
      "Subject: secret\r\nContent-Type: application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nMIAGCSqGSIb3DQEHA6CAMIACAQA=\r\n");
  EXPECT_EQ(str(e.props, kPrMessageClass), "IPM.Note.SMIME");
  EXPECT_FALSE(e.props.has(kPrBody));
  ASSERT_EQ(e.attachments.size(), 1u);
  EXPECT_EQ(str(e.attachments[0].props, kPrAttachLongFilename), "smime.p7m");
  EXPECT_EQ(dataOf(e.attachments[0]).size(), 20u);
  EXPECT_TRUE(hidesPaperclip(e));  // nothing to show until it is decrypted
}

TEST(ImportAttachments, ReportsKeepTheirStatusAndTheMessageReportedOn) {
  // A bounce: the failed recipient with its status in the recipient table, the returned
  // message attached and named in the report's properties. No blank line before the second
  // recipient's fields (some servers write it so): the delivered one is not listed.
  const std::string bounce =
      "From: MAILER-DAEMON@mx.example.com\r\nTo: me@example.com\r\nSubject: Undelivered Mail\r\n"
      "Date: Tue, 02 Jan 2024 10:00:00 +0000\r\n"
      "Content-Type: multipart/report; report-type=delivery-status; boundary=r\r\n\r\n"
      "--r\r\nContent-Type: text/plain\r\n\r\nYour message could not be delivered.\r\n"
      "--r\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx.example.com\r\n\r\n"
      "Final-Recipient: rfc822; gone@example.org\r\nAction: failed\r\nStatus: 5.1.1\r\n"
      "Diagnostic-Code: smtp; 550 5.1.1 no such user\r\nFinal-Recipient: rfc822; <ok@example.org>\r\nAction: delivered\r\n"
      "Status: 2.0.0\r\n\r\n--r\r\nContent-Type: message/rfc822\r\n\r\nSubject: Quarterly figures\r\n"
      "Message-ID: <q1@example.com>\r\nDate: Mon, 01 Jan 2024 09:00:00 +0000\r\nTo: gone@example.org\r\n\r\nfigures\r\n--r--\r\n";
  const auto ndr = import(bounce);
  EXPECT_EQ(str(ndr.props, kPrMessageClass), "REPORT.IPM.Note.NDR");
  EXPECT_EQ(str(ndr.props, kPrBody), "Your message could not be delivered.");
  EXPECT_EQ(str(ndr.props, kPrOriginalSubject), "Quarterly figures");
  EXPECT_EQ(str(ndr.props, kPrOriginalMessageId), "<q1@example.com>");
  EXPECT_EQ(str(ndr.props, kPrReportingMta), "dns; mx.example.com");
  ASSERT_EQ(ndr.recipients.size(), 1u);  // only the recipients with the severest action
  EXPECT_EQ(str(ndr.recipients[0].props, kPrEmailAddress), "gone@example.org");
  EXPECT_EQ(str(ndr.recipients[0].props, kPrSupplementaryInfo), "< #5.1.1 smtp; 550 5.1.1 no such user>");
  EXPECT_EQ(i32(ndr.recipients[0].props, kPrNdrStatusCode), 511);
  ASSERT_EQ(ndr.attachments.size(), 2u);  // the status part and the returned message
  EXPECT_EQ(str(ndr.attachments[0].props, kPrDisplayName), "ATT00001.txt");
  ASSERT_TRUE(ndr.attachments[1].embedded);
  EXPECT_EQ(str(ndr.attachments[1].embedded->props, kPrSubject), "Quarterly figures");

  // The same bounce with a boundary no line uses is still a report with its message.
  std::string broken = bounce;
  broken.replace(broken.find("boundary=r"), 10, "boundary=zz");
  const auto repaired = import(broken);
  EXPECT_EQ(str(repaired.props, kPrMessageClass), "REPORT.IPM.Note.NDR");
  EXPECT_EQ(str(repaired.props, kPrOriginalSubject), "Quarterly figures");

  // A delivery report that returns only the header block; a read report.
  const auto dr = import(
      "Subject: Delivered\r\nContent-Type: multipart/report; report-type=delivery-status; boundary=r\r\n\r\n"
      "--r\r\nContent-Type: text/plain\r\n\r\ndelivered\r\n--r\r\nContent-Type: message/delivery-status\r\n\r\n"
      "Final-Recipient: rfc822; a@example.org\r\nAction: delivered\r\nStatus: 2.0.0\r\n\r\n"
      "--r\r\nContent-Type: text/rfc822-headers\r\n\r\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n--r--\r\n");
  EXPECT_EQ(str(dr.props, kPrMessageClass), "REPORT.IPM.Note.DR");
  EXPECT_EQ(str(dr.props, kPrOriginalSubject), "Gr\u00fc\u00dfe");
  const auto read = import(
      "Subject: Read: hello\r\nContent-Type: multipart/report; report-type=disposition-notification; boundary=r\r\n\r\n"
      "--r\r\nContent-Type: text/plain\r\n\r\nread\r\n--r\r\nContent-Type: message/disposition-notification\r\n\r\n"
      "Final-Recipient: rfc822; reader@example.org\r\nOriginal-Message-ID: <m1@example.com>\r\n"
      "Disposition: manual-action/MDN-sent-manually; displayed\r\n--r--\r\n");
  EXPECT_EQ(str(read.props, kPrMessageClass), "REPORT.IPM.Note.IPNRN");
  EXPECT_EQ(str(read.props, kPrOriginalMessageId), "<m1@example.com>");
  ASSERT_EQ(read.recipients.size(), 1u);
  EXPECT_EQ(str(read.recipients[0].props, kPrEmailAddress), "reader@example.org");
}

// ---------------------------------------------------------------------------------------------
// Bad input

TEST(ImportBadInput, NotAMessageAtAllFails) {
  using mailfold::test::thrownKind;
  for (const std::string& bytes : {std::string(), std::string("\x00\x01\x02\x03PK\x03\x04", 8),
                                   std::string("\r\n\r\njust text, no header\r\n"),
                                   std::string("Send mailing list submissions to\r\n\tlist@example.org\r\n"),
                                   std::string("   Dear John,\r\nSubject: not a header block\r\n"), std::string("Subject")}) {
    EXPECT_EQ(thrownKind<mime::ImportError>([&] { import(bytes); }), pst::ErrorKind::kBadInput) << bytes;
  }
  try {
    import("%PDF-1.4 binary");
    FAIL() << "expected ImportError";
  } catch (const mime::ImportError& e) {
    EXPECT_NE(std::string(e.what()).find("test message: not a mail message"), std::string::npos) << e.what();
  }
  EXPECT_EQ(thrownKind<mime::ImportError>([] { mime::importMessageFile("/nonexistent/dir/x.eml"); }),
            pst::ErrorKind::kNotFound);
}

TEST(ImportBadInput, AFifoOrAFolderIsRefusedWithoutWaiting) {
  // A scan queues every entry that is not a folder, so a named pipe can reach the importer.
  // Opening it must not block until some writer appears; it fails like any non-message.
  mailfold::test::TempDir dir;
#ifndef _WIN32  // Windows has no named pipes in the file system
  const std::string fifo = dir.str() + "/pipe.eml";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  try {
    mime::importMessageFile(fifo);
    FAIL() << "expected ImportError";
  } catch (const mime::ImportError& e) {
    EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
    EXPECT_EQ(e.kind(), pst::ErrorKind::kBadInput);
  }
#endif
  EXPECT_EQ(mailfold::test::thrownKind<mime::ImportError>([&] { mime::importMessageFile(dir.str()); }),
            pst::ErrorKind::kBadInput);
}

TEST(ImportBadInput, DamagedMessagesImportWhatIsThere) {
  // Truncated in the middle of a multipart, boundary never closed, base64 cut short.
  const auto m = import(
      "Subject: cut\r\nContent-Type: multipart/mixed; boundary=zz\r\n\r\n--zz\r\nContent-Type: text/plain\r\n\r\nstill here\r\n"
      "--zz\r\nContent-Type: image/png; name=a.png\r\nContent-Transfer-Encoding: base64\r\n\r\niVBORw0K");
  EXPECT_EQ(str(m.props, kPrSubject), "cut");
  EXPECT_EQ(str(m.props, kPrBody), "still here");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(dataOf(m.attachments[0]).substr(0, 4), "\x89PNG");

  // A BOM, an mbox envelope line and blank-filled lines before the header are skipped.
  const auto lead = import("\xEF\xBB\xBF" "From someone Mon Jan  1 00:00:00 2024\r\n      \r\nSubject: ok\r\n\r\nx\r\n");
  EXPECT_EQ(str(lead.props, kPrSubject), "ok");

  // A file cut short in the middle of a header name (a truncated download) keeps the fields
  // before it.
  const auto cut = import("Subject: cut short\r\nTo: b@example.com\r\nX-Mai");
  EXPECT_EQ(str(cut.props, kPrSubject), "cut short");
  EXPECT_EQ(recipients(cut, kRecipientTo), std::vector<std::string>{"b@example.com <b@example.com>"});

  // Blanks before the first field name (no field before it to continue) are skipped.
  const auto indented = import(" \tSubject: indented\r\nFrom: a@example.com\r\n\r\nbody\r\n");
  EXPECT_EQ(str(indented.props, kPrSubject), "indented");
  EXPECT_EQ(str(indented.props, kPrSenderEmailAddress), "a@example.com");
  EXPECT_EQ(str(indented.props, kPrBody), "body\r\n");

  // Invalid Content-Type without a subtype is text/plain.
  const auto noSubtype = import("Content-Type: text; charset=us-ascii\r\n\r\nbody text\r\n");
  EXPECT_EQ(str(noSubtype.props, kPrBody), "body text\r\n");
}

TEST(ImportBadInput, MalformedMimeLosesNoByte) {
  // base64 without its final padding: the short quantum is decoded, in attachments and bodies.
  const std::string unpaddedText =
      "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "Ym9keSB0ZXh0\r\n--m\r\nContent-Type: application/octet-stream; name=a.bin\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "QUJDRA\r\n--m\r\nContent-Type: application/octet-stream; name=b.bin\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "QUJDREU\r\n--m\r\nContent-Type: application/octet-stream; name=c.bin\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "QQ==QkM=\r\n--m--\r\n";
  const auto unpadded = import(unpaddedText);
  ASSERT_EQ(unpadded.attachments.size(), 3u);
  EXPECT_EQ(dataOf(unpadded.attachments[0]), "ABCD");
  EXPECT_EQ(dataOf(unpadded.attachments[1]), "ABCDE");
  EXPECT_EQ(dataOf(unpadded.attachments[2]), "ABC");  // two padded runs joined
  {
    // Read from a file (a file stream ends differently from one in memory).
    mailfold::test::TempDir dir;
    const std::string path = (dir.path() / "unpadded.eml").string();
    std::ofstream(path, std::ios::binary) << unpaddedText;
    const auto fromFile = mime::importMessageFile(path);
    ASSERT_EQ(fromFile.attachments.size(), 3u);
    EXPECT_EQ(dataOf(fromFile.attachments[1]), "ABCDE");
  }
  EXPECT_EQ(str(import("Content-Transfer-Encoding: base64\r\n\r\nYm9keSB0ZXh0IQ\r\n").props, kPrBody), "body text!");

  // A bare LF before a boundary in a CRLF file belongs to the boundary, and only it.
  const auto bareLf = import(
      "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nbody\n--m\r\n"
      "Content-Type: text/plain; name=a.txt\r\n\r\nfirst\n\n--m\r\nContent-Type: text/plain; name=b.txt\r\n\r\nlast\n--m--\r\n");
  EXPECT_EQ(str(bareLf.props, kPrBody), "body");
  ASSERT_EQ(bareLf.attachments.size(), 2u);
  EXPECT_EQ(dataOf(bareLf.attachments[0]), "first\n");
  EXPECT_EQ(dataOf(bareLf.attachments[1]), "last");

  // Two Content-Type fields: the first counts, so the alternative keeps its HTML.
  const auto twoTypes = import(
      "Content-Type: multipart/alternative; boundary=m\r\nContent-Type: text/plain\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\n"
      "plain\r\n--m\r\nContent-Type: text/html\r\n\r\n<b>html</b>\r\n--m--\r\n");
  EXPECT_EQ(str(twoTypes.props, kPrBody), "plain");
  ASSERT_TRUE(twoTypes.props.getAs<Bytes>(kPrHtml));
  EXPECT_EQ(mime::detail::bytesAsString(*twoTypes.props.getAs<Bytes>(kPrHtml)), "<b>html</b>");
  // Text before the first boundary, the body under the last field, is kept.
  const auto withPreamble = import(
      "Content-Type: multipart/mixed; boundary=m\r\nContent-Type: text/plain\r\n\r\nquoted copy\r\n--m\r\n"
      "Content-Type: text/plain\r\n\r\nbody\r\n--m--\r\n");
  EXPECT_EQ(str(withPreamble.props, kPrBody), "body");
  ASSERT_EQ(withPreamble.attachments.size(), 1u);
  EXPECT_EQ(str(withPreamble.attachments[0].props, kPrAttachLongFilename), "preamble.txt");
  EXPECT_EQ(dataOf(withPreamble.attachments[0]).substr(0, 11), "quoted copy");

  // A multipart without a usable boundary keeps its body and its attachment: none given, one
  // not set off by ";", one too long for the parser's scanner, one no line uses, and a closing
  // boundary that never comes.
  const std::string parts = "Content-Type: text/plain\r\n\r\nbody\r\n--b\r\nContent-Type: text/plain; name=a.txt\r\n\r\natt\r\n";
  const std::string longBoundary(5000, 'x');
  for (const std::string& text :
       {"Content-Type: multipart/mixed\r\n\r\n--b\r\n" + parts + "--b--\r\n",
        "Content-Type: multipart/mixed boundary=\"b\"\r\n\r\n--b\r\n" + parts + "--b--\r\n",
        "Content-Type: multipart/mixed; boundary=zz\r\n\r\nprologue\r\n--b\r\n" + parts + "--b--\r\nepilogue\r\n",
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n" + parts,
        "Content-Type: multipart/mixed; boundary=" + longBoundary + "\r\n\r\n--" + longBoundary + "\r\n" +
            parts.substr(0, parts.find("--b")) + "--" + longBoundary + parts.substr(parts.find("--b") + 3) + "--" + longBoundary + "--\r\n"}) {
    SCOPED_TRACE(text.substr(0, 60));
    const auto m = import(text);
    EXPECT_EQ(str(m.props, kPrBody), "body");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(str(m.attachments[0].props, kPrAttachLongFilename), "a.txt");
    EXPECT_EQ(dataOf(m.attachments[0]).substr(0, 3), "att");
  }
  // No boundary line at all: the content is the body.
  EXPECT_EQ(str(import("Content-Type: multipart/mixed\r\n\r\njust text\r\n").props, kPrBody), "just text\r\n");
}

TEST(ImportBadInput, TnefThatDoesNotDecodeStaysAWinmailDatAttachment) {
  auto keptWhole = [](const MessageModel& m, const std::string& tnef) {
    return m.attachments.size() == 1 && str(m.attachments[0].props, kPrAttachLongFilename) == "winmail.dat" &&
           dataOf(m.attachments[0]) == tnef && str(m.props, kPrMessageClass) == "IPM.Note" && str(m.props, kPrBody) == "plain from mime";
  };
  const std::string good = sampleTnef();
  std::string badChecksum = good;
  badChecksum[30] ^= 1;
  std::string hugeCount = good;  // the message property count says four billion
  hugeCount.replace(good.find(std::string("\x03\x90\x06\x00", 4)) + 8, 4, "\xF0\xFF\xFF\xFF");
  for (const std::string& bad : {badChecksum, hugeCount, sampleTnef(good.substr(0, 90)),  // its attached message cut short
                                 std::string("\x78\x9f\x3e\x22\x01\x00\x03", 7)}) {
    EXPECT_TRUE(keptWhole(import(withWinmailDat(bad)), bad));
  }
  // Cut anywhere: the message imports, with the stream kept whole or with what it decoded up to
  // an attribute's end; never a crash or a half-applied stream.
  int kept = 0;
  for (std::size_t n = 0; n < good.size(); ++n) {
    SCOPED_TRACE(n);
    const MessageModel m = import(withWinmailDat(good.substr(0, n)));
    kept += keptWhole(m, good.substr(0, n));
    EXPECT_EQ(str(m.props, kPrBody), "plain from mime");
    EXPECT_EQ(mime::checks::illFormedText(m), "");
  }
  EXPECT_GT(kept, static_cast<int>(good.size()) * 9 / 10);

  // An RTF body cut short is left out; the rest of the stream applies.
  const MessageModel cutRtf = import(withWinmailDat(sampleTnef({}, storedRtf("{\\rtf1 rich}").substr(0, 20))));
  EXPECT_FALSE(cutRtf.props.has(kPrRtfCompressed) || cutRtf.props.has(kPrRtfInSync));
  EXPECT_EQ(i32(cutRtf.props, kPrNativeBody), kNativeBodyPlain);
  EXPECT_EQ(cutRtf.attachments.size(), 2u);
}

TEST(ImportBadInput, IllFormedUtf8BecomesOneReplacementCharacterPerBadSequence) {
  // A lead byte beyond F4, a code point beyond U+10FFFF, a sequence cut short, a surrogate: each
  // maximal ill-formed subsequence becomes U+FFFD wherever UTF-8 text is declared.
  const std::string bad = "a\xF5\x80" "b\xF4\x90\x80\x80" "c\xE2\x82" "d\xED\xA0\x80" "e";
  const std::string repaired = "a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFDc\uFFFDd\uFFFD\uFFFD\uFFFDe";
  std::string q;
  for (unsigned char c : bad) q += "=" + std::string(1, "0123456789ABCDEF"[c >> 4]) + "0123456789ABCDEF"[c & 15];
  const std::string inner = "Subject: =?UTF-8?Q?" + q + "?=\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>" + bad + "</p>\r\n";
  const auto m = import("Subject: =?UTF-8?Q?" + q + "?=\r\nThread-Topic: =?utf-8?Q?" + q + "?=\r\n"
                        "From: =?UTF-8?Q?" + q + "?= <a@example.com>\r\nTo: =?UTF-8?Q?" + q + "?= <b@example.com>\r\n"
                        "Content-Type: multipart/mixed; boundary=zz\r\n\r\n"
                        "--zz\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" + bad + "\r\n"
                        "--zz\r\nContent-Type: application/octet-stream\r\n"
                        "Content-Disposition: attachment; filename*=utf-8''x%F5%80y.bin\r\n\r\ndata\r\n"
                        "--zz\r\nContent-Type: message/rfc822\r\n\r\n" + inner + "--zz--\r\n");
  EXPECT_EQ(mime::checks::illFormedText(m), "");
  EXPECT_EQ(str(m.props, kPrSubject), repaired);
  EXPECT_EQ(str(m.props, kPrConversationTopic), repaired);
  EXPECT_EQ(str(m.props, kPrSentRepresentingName), repaired);
  EXPECT_EQ(recipients(m, kRecipientTo), std::vector<std::string>{repaired + " <b@example.com>"});
  EXPECT_EQ(str(m.props, kPrBody), repaired);
  ASSERT_EQ(m.attachments.size(), 2u);
  EXPECT_EQ(str(m.attachments[0].props, kPrAttachLongFilename), "x\uFFFD\uFFFDy.bin");
  ASSERT_TRUE(m.attachments[1].embedded);
  EXPECT_EQ(str(m.attachments[1].props, kPrDisplayName), repaired);
  EXPECT_EQ(str(m.attachments[1].embedded->props, kPrSubject), repaired);
  EXPECT_EQ(str(m.attachments[1].embedded->props, kPrBody), repaired);  // derived from its HTML
}

TEST(ImportBadInput, FuzzFindingsImportOrFailCleanlyAndTheStoreTakesThem) {
  // The inputs the importer's fuzz target failed on, each kept after its fix: the import fails
  // with ImportError or makes a model of well-formed text that the store writes.
  const std::filesystem::path dir = mailfold::test::sourceDir() / "tests" / "mime" / "fuzz_regressions";
  mailfold::test::TempDir temp;
  auto store = Store::create((temp.path() / "fuzz.pst").string(), "Fuzz findings");
  Folder folder = store->ipmRoot().addChild("Findings");
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().filename().string());
    ++replayed;
    MessageModel m;
    try {
      m = import(bytes);
    } catch (const mime::ImportError&) {
      continue;
    }
    EXPECT_EQ(mime::checks::illFormedText(m), "");
    EXPECT_NO_THROW(folder.addMessage(std::move(m)));
  }
  store->close();
  EXPECT_GT(replayed, 0);
}

TEST(ImportBadInput, ResourceBoundsHold) {
  // Deep multipart nesting, a huge number of headers and a very long header line.
  std::string deep = "Subject: deep\r\n";
  for (int i = 0; i < 2000; ++i) deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" + std::to_string(i) + "\r\n";
  deep += "Content-Type: text/plain\r\n\r\nbottom\r\n";
  EXPECT_NO_THROW(import(deep));

  std::string many = "Subject: many\r\n";
  for (int i = 0; i < 100000; ++i) many += "X-H" + std::to_string(i) + ": v\r\n";
  many += "\r\nbody\r\n";
  const auto m = import(many);
  EXPECT_LE(str(m.props, kPrTransportMessageHeaders).size(), mime::ImportOptions{}.maxTransportHeaderBytes);
  EXPECT_EQ(str(m.props, kPrBody), "body\r\n");

  const auto longLine = import("Subject: " + std::string(4 << 20, 'a') + "\r\n\r\nx\r\n");
  EXPECT_EQ(str(longLine.props, kPrSubject).size(), mime::kMaxSubjectUnits);

  // Fields full of encoded-word starts that never end: searching each for its end took time in
  // the square of the field's length (minutes for these).
  std::string starts;
  for (int i = 0; i < 40000; ++i) starts += "=?x?Q?a ";
  const auto begin = std::chrono::steady_clock::now();
  const auto openWords = import("Subject: " + starts + "\r\nTo: " + starts + "<b@example.com>\r\nMessage-ID: <" + starts +
                                ">\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n"
                                "Content-Disposition: attachment; filename=\"" + starts + "\"\r\n\r\nx\r\n--b--\r\n");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
  EXPECT_EQ(openWords.recipients.size(), 1u);
  EXPECT_EQ(openWords.attachments.size(), 1u);
}

TEST(ImportConcurrency, ThreadsImportAtTheSameTime) {
  // GMime is initialised once on first use, whichever thread comes first.
  const std::string text =
      "Subject: =?KOI8-R?B?8NLJ18XU?= =?ISO-8859-1?Q?caf=E9?=\r\nFrom: =?UTF-8?Q?J=C3=B6rg?= <j@example.de>\r\n"
      "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\n"
      "\x1b$B$3$s$K$A$O\x1b(B\r\n--m\r\nContent-Type: application/octet-stream; name=a.bin\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQ=\r\n--m--\r\n";
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        const auto m = import(text);
        if (str(m.props, kPrSubject) != "Приветcafé" || str(m.props, kPrBody) != "こんにちは" ||
            m.attachments.size() != 1 || dataOf(m.attachments[0]) != std::string("\0\1\2\3\4", 5)) {
          ++wrong;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

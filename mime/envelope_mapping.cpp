#include "mime/envelope_mapping.h"

#include <gmime/gmime.h>

#include <algorithm>

#include "mime/address_headers.h"
#include "mime/address_mapping.h"
#include "mime/conversation_index.h"
#include "mime/gmime_ptr.h"
#include "mime/header_decoding.h"
#include "mime/header_fields.h"
#include "mime/outlook_text_limits.h"
#include "mime/text_decoding.h"
#include "pst/ltp/utf16.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::mime::detail {

namespace {

using namespace pst;

constexpr std::size_t kMaxReferencesBytes = 64 * 1024;

struct SubjectParts {
  std::string prefix;
  std::string normalized;
};

// "RE: x" -> ("RE: ", "x"): one to three characters that are not a colon, blank or digit, then a
// colon and any blanks. The prefix keeps the exact characters so that prefix + normalized is the
// subject as written.
SubjectParts splitSubject(const std::string& subject) {
  const char* p = subject.c_str();
  int chars = 0;
  while (*p && chars < 4) {
    const gunichar c = g_utf8_get_char_validated(p, -1);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) return {"", subject};
    if (c == ':') break;
    if (c == ' ' || c == '\t' || g_unichar_isdigit(c)) return {"", subject};
    p = g_utf8_next_char(p);
    ++chars;
  }
  if (*p != ':' || chars < 1 || chars > 3) return {"", subject};
  ++p;
  while (*p == ' ' || *p == '\t') ++p;
  const std::size_t split = static_cast<std::size_t>(p - subject.c_str());
  return {subject.substr(0, split), subject.substr(split)};
}

std::int32_t importanceFromHeaders(GMimeObject* m) {
  const std::string importance = lowerAscii(headerValue(m, "Importance"));
  if (importance == "low") return kImportanceLow;
  if (importance == "normal") return kImportanceNormal;
  if (importance == "high") return kImportanceHigh;
  const std::string xPriority = headerValue(m, "X-Priority");
  if (!xPriority.empty()) {
    switch (xPriority[0]) {
      case '1':
      case '2':
        return kImportanceHigh;
      case '3':
        return kImportanceNormal;
      case '4':
      case '5':
        return kImportanceLow;
      default:
        break;
    }
  }
  const std::string priority = lowerAscii(headerValue(m, "Priority"));
  if (priority == "urgent") return kImportanceHigh;
  if (priority == "non-urgent") return kImportanceLow;
  if (priority == "normal") return kImportanceNormal;
  const std::string msPriority = lowerAscii(headerValue(m, "X-MSMail-Priority"));
  if (msPriority == "low") return kImportanceLow;
  if (msPriority == "high") return kImportanceHigh;
  return kImportanceNormal;
}

std::int32_t sensitivityFromHeaders(GMimeObject* m) {
  const std::string s = lowerAscii(headerValue(m, "Sensitivity"));
  if (s == "personal") return 1;
  if (s == "private") return 2;
  if (s == "company-confidential") return 3;
  return 0;
}

// The date of the newest Received header (the top-most one): the text after its last ';'.
std::optional<FileTime> newestReceivedDate(GMimeObject* m) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(m);
  if (!headers) return std::nullopt;
  const int count = g_mime_header_list_get_count(headers);
  for (int i = 0; i < count; ++i) {
    GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
    if (!sameHeaderName(g_mime_header_get_name(h), "Received")) continue;
    const char* raw = g_mime_header_get_raw_value(h);
    if (!raw) return std::nullopt;
    const std::string value = takeString(g_mime_utils_header_unfold(raw));
    const std::size_t semi = value.rfind(';');
    if (semi == std::string::npos) return std::nullopt;
    return parseDate(trim(std::string_view(value).substr(semi + 1)));
  }
  return std::nullopt;
}

// Drops the header fields that stay inside an Exchange organisation.
std::string withoutOrganisationHeaders(std::string_view block) {
  std::string out;
  out.reserve(block.size());
  bool dropping = false;
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t end = block.find('\n', pos);
    end = end == std::string_view::npos ? block.size() : end + 1;
    const std::string_view line = block.substr(pos, end - pos);
    const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (!continuation) {
      const std::string head = lowerAscii(line.substr(0, 30));
      dropping = head.rfind("x-ms-exchange-organization-", 0) == 0 || head.rfind("x-ms-exchange-forest-", 0) == 0;
    }
    if (!dropping) out.append(line);
    pos = end;
  }
  return out;
}

bool sameAddress(const std::string& a, const std::string& b) {
  return a.size() == b.size() && g_ascii_strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// Received-by and received-representing (the same mailbox: nothing tells of a delegate), named
// as the recipient rows name that address, and whether it is among the To and Cc recipients.
void mapReceivedBy(GMimeObject* object, MessageModel& model, GMimeParserOptions* options) {
  std::optional<MailAddress> owner = deliveredTo(object, options);
  if (!owner) return;
  bool toMe = false;
  bool ccMe = false;
  for (const Recipient& r : model.recipients) {
    const std::string* address = r.props.getAs<std::string>(kPrEmailAddress);
    if (!address || !sameAddress(*address, owner->address)) continue;
    const std::int32_t* type = r.props.getAs<std::int32_t>(kPrRecipientType);
    toMe |= type && *type == kRecipientTo;
    ccMe |= type && *type == kRecipientCc;
    const std::string* name = r.props.getAs<std::string>(kPrDisplayName);
    if (owner->name.empty() && name && *name != *address) owner->name = *name;
  }
  setAddressGroup(model.props, AddressGroup::kReceivedBy, *owner);
  setAddressGroup(model.props, AddressGroup::kReceivedRepresenting, *owner);
  model.props.set(kPrMessageToMe, toMe);
  model.props.set(kPrMessageCcMe, ccMe);
}

}  // namespace

void mapEnvelope(GMimeMessage* message, MessageModel& model, const MapContext& ctx, const std::string& rawHeaders) {
  auto* object = GMIME_OBJECT(message);
  PropertyBag& props = model.props;

  // The first Subject counts when a broken message carries several. Outlook keeps 255
  // characters of it (the whole line stays in the transport headers); prefix and normalized
  // subject are split from what is kept, so that they still make up the subject.
  const std::string subject =
      pst::ltp::utf8PrefixInUtf16Units(decodeUnstructuredHeader(firstRawHeader(object, "Subject").value_or("")), kMaxSubjectUnits);
  const SubjectParts parts = splitSubject(subject);
  props.set(kPrSubject, subject);
  props.set(kPrSubjectPrefix, parts.prefix);
  props.set(kPrNormalizedSubject, parts.normalized);
  const std::string topic =
      pst::ltp::utf8PrefixInUtf16Units(decodeUnstructuredHeader(firstRawHeader(object, "Thread-Topic").value_or("")), kMaxSubjectUnits);
  if (!topic.empty()) props.set(kPrConversationTopic, topic);
  else if (g_mime_object_get_header(object, "Subject")) props.set(kPrConversationTopic, parts.normalized);

  // From and Sender: the first mailbox of each. Without Sender the sender is the author.
  const auto from = addressHeader(object, "From", ctx.parserOptions, true);
  const auto sender = addressHeader(object, "Sender", ctx.parserOptions, true);
  if (!from.empty()) setAddressGroup(props, AddressGroup::kSentRepresenting, from.front());
  if (!sender.empty()) setAddressGroup(props, AddressGroup::kSender, sender.front());
  else if (!from.empty()) setAddressGroup(props, AddressGroup::kSender, from.front());

  struct Kind {
    const char* header;
    std::int32_t recipientType;
    PropTag display;
  };
  for (const Kind kind : {Kind{"To", kRecipientTo, kPrDisplayTo}, Kind{"Cc", kRecipientCc, kPrDisplayCc},
                          Kind{"Bcc", kRecipientBcc, kPrDisplayBcc}}) {
    std::string display;
    for (const MailAddress& a : addressHeader(object, kind.header, ctx.parserOptions, false)) {
      if (!display.empty()) display += "; ";
      std::string shown = a.shownName();
      std::replace(shown.begin(), shown.end(), ';', ',');  // ';' separates the names
      display += shown;
      model.recipients.push_back(makeRecipient(a, kind.recipientType));
    }
    props.set(kind.display, display);
  }

  const auto replyTo = addressHeader(object, "Reply-To", ctx.parserOptions, true);
  if (!replyTo.empty()) {
    std::vector<Bytes> entries;
    std::string names;
    for (const MailAddress& a : replyTo) {
      entries.push_back(oneOffEntryId(a.shownName(), "SMTP", a.address));
      if (!names.empty()) names += ";";
      std::string shown = a.shownName();
      std::replace(shown.begin(), shown.end(), ';', ',');
      names += shown;
    }
    props.set(kPrReplyRecipientEntries, flatEntryList(entries));
    props.set(kPrReplyRecipientNames, names);
  }

  mapReceivedBy(object, model, ctx.parserOptions);

  // Dates: Date is the submit time; the newest Received hop the delivery time. Each stands in
  // for the other when missing, and the import time when both are. The item was created and
  // last changed when it arrived, as Outlook has it: the Modified column and archiving go by
  // the mail's own date, not by the day of the conversion.
  std::optional<FileTime> submit = parseDate(takeString(g_mime_utils_header_unfold(firstRawHeader(object, "Date").value_or("").c_str())));
  std::optional<FileTime> delivery = newestReceivedDate(object);
  if (!submit) submit = delivery;
  if (!delivery) delivery = submit;
  props.set(kPrClientSubmitTime, submit.value_or(ctx.importTime));
  props.set(kPrMessageDeliveryTime, delivery.value_or(ctx.importTime));
  props.set(kPrCreationTime, delivery.value_or(ctx.importTime));
  props.set(kPrLastModificationTime, delivery.value_or(ctx.importTime));
  if (auto replyBy = parseDate(headerValue(object, "Reply-By"))) props.set(kPrReplyTime, *replyBy);

  const std::string messageId = headerValue(object, "Message-ID");
  if (!messageId.empty()) props.set(kPrInternetMessageId, messageId);
  const std::string inReplyTo = headerValue(object, "In-Reply-To");
  if (!inReplyTo.empty()) props.set(kPrInReplyToId, inReplyTo);
  const std::string references = headerValue(object, "References", kMaxReferencesBytes);
  if (!references.empty()) props.set(kPrInternetReferences, references);
  // Every message gets an index (see conversation_index.h), and Outlook is told to take the
  // conversation from its GUID rather than from the topic, as it does for mail it receives.
  const std::string threadIndex = headerValue(object, "Thread-Index");
  props.set(kPrConversationIndex,
            conversationIndex(ThreadHeaders{messageId, inReplyTo, references, threadIndex}, submit.value_or(ctx.importTime)));
  props.set(kPrConversationIndexTracking, true);
  // Locale and code page of the item as an English-language Outlook writes them on the mail it
  // receives (the strings are Unicode whatever the code page says).
  props.set(kPrMessageLocaleId, kLocaleEnglishUs);
  props.set(kPrMessageCodepage, kCodePageWestern);

  props.set(kPrImportance, importanceFromHeaders(object));
  const std::string priority = lowerAscii(headerValue(object, "Priority"));
  props.set(kPrPriority, std::int32_t{priority == "urgent" ? 1 : priority == "non-urgent" ? -1 : 0});
  props.set(kPrSensitivity, sensitivityFromHeaders(object));
  if (g_mime_object_get_header(object, "Disposition-Notification-To")) props.set(kPrReadReceiptRequested, true);

  const std::string contentClass = headerValue(object, "Content-Class");
  if (!contentClass.empty()) {
    props.setNamed(NamedPropertyKey{kPsInternetHeaders, std::string(kNameContentClass)}, kPtUnicode, contentClass);
  }

  std::string headers = rawHeaders;
  if (headers.empty()) {
    GMimeFormatOptions* format = g_mime_format_options_get_default();
    headers = takeString(g_mime_object_get_headers(object, format));
  }
  if (headers.size() > ctx.options.maxTransportHeaderBytes) {
    // Cut at a line end so that the last field kept is whole.
    const std::size_t cut = headers.rfind('\n', ctx.options.maxTransportHeaderBytes);
    headers.resize(cut == std::string::npos ? ctx.options.maxTransportHeaderBytes : cut + 1);
  }
  props.set(kPrTransportMessageHeaders, toCrlf(validUtf8(withoutOrganisationHeaders(headers))));
}

}  // namespace mailfold::mime::detail

#include "mime/tnef_mapping.h"

#include <algorithm>
#include <set>

#include "mime/attachment_mapping.h"
#include "mime/mime_parts.h"
#include "mime/text_decoding.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::mime::detail {

using namespace pst;

namespace {

constexpr std::uint16_t kIdAttachData = tagId(kPrAttachDataBin);
constexpr std::uint16_t kIdRtfCompressed = tagId(kPrRtfCompressed);
constexpr std::uint16_t kIdHtml = tagId(kPrHtml);

// Properties of the copy in the sender's store, not of the message: identity within that store,
// sizes and flags it computes, change tracking, its security ids and its internal ranges.
bool describesTheSendersCopy(std::uint16_t id) {
  switch (id) {
    case 0x0E07:  // PR_MESSAGE_FLAGS (the importer's own: read, unsent)
    case 0x0E08:  // PR_MESSAGE_SIZE
    case 0x0E09:  // PR_PARENT_ENTRYID
    case 0x0E0A:  // PR_SENTMAIL_ENTRYID
    case 0x0E12:  // PR_MESSAGE_RECIPIENTS
    case 0x0E13:  // PR_MESSAGE_ATTACHMENTS
    case 0x0E17:  // PR_MESSAGE_STATUS
    case 0x0E1B:  // PR_HASATTACH
    case 0x0E20:  // PR_ATTACH_SIZE
    case 0x0E21:  // PR_ATTACH_NUM
    case 0x0E23:  // PR_INTERNET_ARTICLE_NUMBER
    case 0x0E27:  // PR_NT_SECURITY_DESCRIPTOR
    case 0x0E58:  // PR_CREATOR_SID
    case 0x0E59:  // PR_LAST_MODIFIER_SID
    case 0x0FF4:  // PR_ACCESS
    case 0x0FF6:  // PR_INSTANCE_KEY
    case 0x0FF7:  // PR_ACCESS_LEVEL
    case 0x0FF8:  // PR_MAPPING_SIGNATURE
    case 0x0FF9:  // PR_RECORD_KEY
    case 0x0FFA:  // PR_STORE_RECORD_KEY
    case 0x0FFB:  // PR_STORE_ENTRYID
    case 0x0FFE:  // PR_OBJECT_TYPE
    case 0x0FFF:  // PR_ENTRYID
    case 0x1016:  // PR_NATIVE_BODY (set from the bodies this copy has)
    case 0x3000:  // PR_ROWID
    case 0x6619:  // PR_PST_BODY_PREFIX (the store's)
      return true;
    default:
      break;
  }
  return (id >= 0x3400 && id <= 0x34FF)    // the message store object's
         || (id >= 0x65E0 && id <= 0x65E3)  // source and change keys
         || (id >= 0x6700 && id <= 0x67FF);  // a store's internal ids
}

// A property of an id the importer itself sets, in another type than the importer's: two
// values of one id cannot stand side by side in a store, and readers expect the usual type.
bool clashesWithTheModelsType(std::uint16_t id, std::uint16_t type) {
  static constexpr PropTag kTyped[] = {
      kPrMessageClass, kPrMessageFlags, kPrMessageSize, kPrImportance, kPrPriority, kPrSensitivity, kPrSubject,
      kPrSubjectPrefix, kPrNormalizedSubject, kPrConversationTopic, kPrConversationIndex, kPrInternetCodepage,
      kPrBody, kPrHtml, kPrRtfCompressed, kPrRtfInSync, kPrNativeBody, kPrClientSubmitTime, kPrMessageDeliveryTime,
      kPrSenderName, kPrSenderEmailAddress, kPrSentRepresentingName, kPrSentRepresentingEmailAddress,
      kPrRecipientType, kPrDisplayName, kPrAddrType, kPrEmailAddress, kPrSmtpAddress, kPrAttachMethod,
      kPrAttachFilename, kPrAttachLongFilename, kPrAttachExtension, kPrAttachMimeTag, kPrAttachSize,
      kPrRenderingPosition, kPrAttachContentId, kPrAttachContentLocation, kPrAttachFlags, kPrAttachmentHidden};
  for (PropTag tag : kTyped) {
    if (tagId(tag) == id) return tagType(tag) != type;
  }
  return false;
}

// A compressed RTF body whose header agrees with its size, compressed ("LZFu") or stored as it
// is ("MELA"). One cut short, or not RTF at all, would leave a reader an empty body where the
// MIME gave one: it is not carried over.
bool wellFramedRtf(const PropertyValue& value) {
  const Bytes* b = std::get_if<Bytes>(&value);
  if (!b || b->size() < 16) return false;
  const auto compressedSize = load<std::uint32_t>(b->data());
  const auto magic = load<std::uint32_t>(b->data() + 8);
  return compressedSize >= 12 && compressedSize <= b->size() - 4 && (magic == 0x75465A4C || magic == 0x414C454D);
}

// What the TNEF says better than the MIME headers do, and so replaces.
bool tnefOverrides(std::uint16_t id) {
  return id == tagId(kPrMessageClass) || id == tagId(kPrImportance) || id == tagId(kPrPriority) || id == tagId(kPrSensitivity);
}

std::set<std::uint16_t> idsPresent(const PropertyBag& bag) {
  std::set<std::uint16_t> ids;
  for (const auto& [tag, value] : bag.all()) ids.insert(tagId(tag));
  return ids;
}

bool hasNamed(const PropertyBag& bag, const NamedPropertyKey& key) {
  return std::any_of(bag.named().begin(), bag.named().end(), [&](const NamedProperty& n) { return n.key == key; });
}

// The HTML body is binary in the model (its bytes in PR_INTERNET_CPID); a TNEF may carry it as
// a string, which the reader has made UTF-8.
tnef::Property htmlAsBytes(const tnef::Property& p, bool& utf8) {
  tnef::Property out = p;
  utf8 = false;
  if (const auto* text = std::get_if<std::string>(&p.value)) {
    out.type = kPtBinary;
    out.value = Bytes(text->begin(), text->end());
    utf8 = true;
  }
  return out;
}

// Copies the properties `keep` accepts, those already on `bag` left as they are unless the TNEF
// overrides them.
template <class Keep>
void copyProperties(const std::vector<tnef::Property>& props, PropertyBag& bag, Keep keep) {
  const std::set<std::uint16_t> present = idsPresent(bag);
  for (const tnef::Property& p : props) {
    if (p.type == kPtObject || !keep(p) || (!p.name && clashesWithTheModelsType(p.id, p.type))) continue;
    if (!p.name && p.id == kIdRtfCompressed && !wellFramedRtf(p.value)) continue;
    if (p.name) {
      if (!hasNamed(bag, *p.name)) bag.setNamed(*p.name, p.type, p.value);
      continue;
    }
    if (present.count(p.id) && !tnefOverrides(p.id)) continue;
    for (const auto& [tag, value] : bag.all()) {
      if (tagId(tag) == p.id && tagType(tag) != p.type) {
        bag.erase(tag);  // one value an id, of the type the TNEF gives
        break;
      }
    }
    bag.set(makeTag(p.id, p.type), p.value);
  }
}

// Which body a client shows, from the bodies the message now has.
void setNativeBody(PropertyBag& props) {
  const bool rtf = props.has(kPrRtfCompressed);
  if (props.has(kPrHtml)) props.set(kPrNativeBody, kNativeBodyHtml);
  else if (rtf) props.set(kPrNativeBody, kNativeBodyRtf);
  // Without word from the sender, the RTF is the authoritative body: a reader then derives the
  // plain text from it rather than rebuilding the RTF from the plain text.
  if (rtf && !props.has(kPrRtfInSync)) props.set(kPrRtfInSync, false);
  if (!rtf) props.erase(kPrRtfInSync);  // (an RTF body that was left out)
}

std::int64_t estimatedSize(const MessageModel& model) {
  std::int64_t size = attachmentBytes(model);
  for (PropTag tag : {kPrBody, kPrSubject}) {
    if (const std::string* s = model.props.getAs<std::string>(tag)) size += static_cast<std::int64_t>(s->size());
  }
  for (PropTag tag : {kPrHtml, kPrRtfCompressed}) {
    if (const Bytes* b = model.props.getAs<Bytes>(tag)) size += static_cast<std::int64_t>(b->size());
  }
  return size;
}

void addAttachments(const tnef::Message& tnef, MessageModel& model);

// A message the TNEF carries as an attachment: all it has is what the TNEF says.
MessageModel embeddedMessage(const tnef::Message& tnef) {
  MessageModel model;
  copyProperties(tnef.props, model.props, [](const tnef::Property& p) { return !describesTheSendersCopy(p.id); });
  if (!model.props.has(kPrSubject) && tnef.subject) model.props.set(kPrSubject, *tnef.subject);
  if (!model.props.has(kPrBody) && tnef.body) model.props.set(kPrBody, *tnef.body);
  for (const auto& row : tnef.recipients) {
    Recipient r;
    copyProperties(row, r.props, [](const tnef::Property& p) { return !describesTheSendersCopy(p.id); });
    if (!r.props.has(kPrRecipientType)) r.props.set(kPrRecipientType, kRecipientTo);
    model.recipients.push_back(std::move(r));
  }
  addAttachments(tnef, model);
  if (!model.props.has(kPrMessageClass)) model.props.set(kPrMessageClass, tnef.messageClass.empty() ? std::string(kClassNote) : tnef.messageClass);
  if (!model.props.has(kPrImportance) && tnef.importance) model.props.set(kPrImportance, *tnef.importance);
  setNativeBody(model.props);
  if (!model.props.has(kPrNativeBody) && model.props.has(kPrBody)) model.props.set(kPrNativeBody, kNativeBodyPlain);
  model.props.set(kPrMessageFlags, std::int32_t{0});
  model.props.set(kPrMessageSize, static_cast<std::int32_t>(std::min<std::int64_t>(estimatedSize(model), INT32_MAX)));
  return model;
}

std::string textProperty(const std::vector<tnef::Property>& props, PropTag tag) {
  const tnef::Property* p = tnef::findProperty(props, tagId(tag));
  const std::string* s = p ? std::get_if<std::string>(&p->value) : nullptr;
  return s ? *s : std::string();
}

Attachment attachmentOf(const tnef::Attachment& t) {
  Attachment a;
  const std::string longName = textProperty(t.props, kPrAttachLongFilename);
  const std::string name = longName.empty() ? t.title : longName;
  if (t.embedded) {
    a.embedded = std::make_shared<MessageModel>(embeddedMessage(*t.embedded));
    const std::string* subject = a.embedded->props.getAs<std::string>(kPrSubject);
    a.props.set(kPrDisplayName, subject && !subject->empty() ? *subject : name.empty() ? std::string("Untitled message") : name);
    a.props.set(kPrAttachMethod, kAttachEmbeddedMessage);
    const std::int32_t* size = a.embedded->props.getAs<std::int32_t>(kPrMessageSize);
    a.props.set(kPrAttachSize, size ? *size : std::int32_t{0});
  } else {
    setAttachmentNames(a, name, name.empty() ? std::string("Untitled attachment") : name);
    // The content: PR_ATTACH_DATA_BIN, else the attAttachData attribute, else the content of
    // an object that is not a message (an OLE object's storage), kept as bytes.
    const tnef::Property* dataProp = tnef::findProperty(t.props, kIdAttachData);
    const Bytes* bytes = dataProp ? std::get_if<Bytes>(&dataProp->value) : nullptr;
    Bytes data = bytes && (dataProp->type == kPtBinary || !t.data) ? *bytes : t.data ? *t.data : Bytes{};
    a.props.set(kPrAttachMethod, kAttachByValue);
    a.props.set(kPrAttachSize, static_cast<std::int32_t>(std::min<std::size_t>(data.size(), INT32_MAX)));
    a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::make_shared<MemorySource>(std::move(data))));
    a.props.set(kPrAttachMimeTag, std::string("application/octet-stream"));
  }
  a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
  a.props.set(kPrAttachmentHidden, false);
  // The TNEF's own description of the attachment (its names, MIME type, content id, flags,
  // rendering) over these defaults; how it is attached and its size are this copy's.
  const std::set<std::uint16_t> own{kIdAttachData, tagId(kPrAttachMethod), tagId(kPrAttachSize)};
  for (const tnef::Property& p : t.props) {
    if (p.type == kPtObject || describesTheSendersCopy(p.id) || own.count(p.id)) continue;
    if (!p.name && clashesWithTheModelsType(p.id, p.type)) continue;
    if (p.name) {
      a.props.setNamed(*p.name, p.type, p.value);
      continue;
    }
    for (const auto& [tag, value] : a.props.all()) {
      if (tagId(tag) == p.id && tagType(tag) != p.type) {
        a.props.erase(tag);
        break;
      }
    }
    a.props.set(makeTag(p.id, p.type), p.value);
  }
  return a;
}

void addAttachments(const tnef::Message& tnef, MessageModel& model) {
  for (const tnef::Attachment& t : tnef.attachments) model.attachments.push_back(attachmentOf(t));
}

}  // namespace

bool isTnefPart(GMimeObject* object) {
  if (isType(object, "application", "ms-tnef") || isType(object, "application", "vnd.ms-tnef")) return true;
  return lowerAscii(declaredFileName(object)) == "winmail.dat";
}

void applyTnef(const tnef::Message& tnef, MessageModel& model) {
  PropertyBag& props = model.props;
  const bool hadHtml = props.has(kPrHtml);
  // The message's own properties: bodies the MIME did not give (an HTML body, the RTF), and
  // what describes the message.
  bool htmlIsUtf8 = false;
  std::vector<tnef::Property> messageProps;
  for (const tnef::Property& p : tnef.props) messageProps.push_back(p.id == kIdHtml && !p.name ? htmlAsBytes(p, htmlIsUtf8) : p);
  copyProperties(messageProps, props, [](const tnef::Property& p) { return !describesTheSendersCopy(p.id); });
  if (!hadHtml && props.has(kPrHtml)) {
    // The HTML is in the code page the TNEF names for it (its PR_INTERNET_CPID), not the MIME's.
    const tnef::Property* cpid = tnef::findProperty(tnef.props, tagId(kPrInternetCodepage));
    const auto* tnefCodePage = cpid ? std::get_if<std::int32_t>(&cpid->value) : nullptr;
    if (htmlIsUtf8) props.set(kPrInternetCodepage, std::int32_t{65001});
    else if (tnefCodePage) props.set(kPrInternetCodepage, *tnefCodePage);
  }
  if (!props.has(kPrMessageClass) && !tnef.messageClass.empty()) props.set(kPrMessageClass, tnef.messageClass);
  if (!tnef::findProperty(tnef.props, tagId(kPrImportance)) && tnef.importance) props.set(kPrImportance, *tnef.importance);
  if (!props.has(kPrBody) && tnef.body) props.set(kPrBody, *tnef.body);
  setNativeBody(props);
  addAttachments(tnef, model);
}

bool applyTnefPart(GMimePart* part, MessageModel& model, const ImportOptions& options) {
  const auto source = partDataSource(part, options);
  if (source->size() > kMaxTnefBytes) return false;
  Bytes bytes(static_cast<std::size_t>(source->size()));
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t n = source->read(at, std::span<std::uint8_t>(bytes).subspan(at));
    if (n == 0) return false;
    at += n;
  }
  tnef::Message decoded;
  try {
    decoded = tnef::readTnef(bytes);
  } catch (const tnef::TnefError&) {
    return false;
  }
  applyTnef(decoded, model);
  return true;
}

}  // namespace mailfold::mime::detail

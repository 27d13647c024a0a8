#include "pst/messaging/message_properties.h"

#include <chrono>
#include <limits>

#include "pst/ltp/property.h"
#include "pst/ltp/utf16.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store_tags.h"

namespace mailfold::pst {
namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;

std::uint64_t bagSize(const PropertyBag& bag) {
  std::uint64_t total = 0;
  for (const auto& [tag, value] : bag.all())
    if (tag != kPrMessageSize) total += storedValueSize(tagType(tag), value);
  for (const auto& n : bag.named()) total += storedValueSize(n.type, n.value);
  return total;
}

void unicodeTags(PropertyBag& bag) {
  std::vector<PropTag> eightBit;
  for (const auto& [tag, value] : bag.all())
    if (tagType(tag) == kPtString8) eightBit.push_back(tag);
  for (PropTag tag : eightBit) {
    const PropTag wide = makeTag(tagId(tag), kPtUnicode);
    if (!bag.has(wide)) bag.set(wide, *bag.get(tag));
    bag.erase(tag);
  }
}

}  // namespace

FileTime fileTimeNow() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
  return FileTime{kUnixEpochTicks + static_cast<std::uint64_t>(ticks)};
}

std::uint64_t storedValueSize(std::uint16_t type, const PropertyValue& value) {
  if (const auto* src = std::get_if<std::shared_ptr<const ByteSource>>(&value)) return *src ? (*src)->size() : 0;
  if (const std::uint32_t w = ltp::fixedWidth(type)) return w;
  if (const auto* s = std::get_if<std::string>(&value)) {
    if (type == kPtUnicode) return ltp::utf8ToUtf16le(*s).size();
    return s->size();
  }
  if (const auto* b = std::get_if<Bytes>(&value)) return b->size();
  return ltp::encodeValue(type, value).size();
}

std::uint64_t occupiedBytes(ndb::Node& messageNode) {
  std::uint64_t total = messageNode.data().size();
  for (const ndb::Nid sub : messageNode.subnodeIds()) {
    auto node = messageNode.openSubnode(sub);
    total += occupiedBytes(*node);
  }
  return total;
}

std::int32_t sizeProperty(std::uint64_t bytes) {
  return static_cast<std::int32_t>(std::min<std::uint64_t>(bytes, std::numeric_limits<std::int32_t>::max()));
}

std::uint64_t attachmentPropertyBytes(const PropertyBag& attachment) {
  std::uint64_t total = bagSize(attachment);
  // bagSize leaves PR_MESSAGE_SIZE out; an attachment has none, but its own size counts.
  if (!attachment.has(kPrAttachSize)) total += 4;
  return total;
}

void completeMessage(MessageModel& m, FileTime now, std::optional<std::int32_t> messageFlags) {
  unicodeTags(m.props);
  for (auto& r : m.recipients) unicodeTags(r.props);
  for (auto& a : m.attachments) unicodeTags(a.props);

  PropertyBag& p = m.props;
  if (!p.has(kPrMessageClass)) p.set(kPrMessageClass, std::string(kClassNote));
  if (!p.has(kPrMessageStatus)) p.set(kPrMessageStatus, std::int32_t{0});
  if (!p.has(kPrCreationTime)) p.set(kPrCreationTime, now);
  if (!p.has(kPrLastModificationTime)) p.set(kPrLastModificationTime, now);
  if (const Bytes* key = p.getAs<Bytes>(kPrSearchKey); !key || key->empty()) p.set(kPrSearchKey, randomKey());

  // The To/Cc/Bcc display lines summarise the recipient table (a MAPI store computes them);
  // when the caller gave none they are made from the recipients, as the repair tool would.
  const std::pair<std::int32_t, PropTag> lines[] = {{kRecipientTo, kPrDisplayTo}, {kRecipientCc, kPrDisplayCc},
                                                    {kRecipientBcc, kPrDisplayBcc}};
  for (const auto& [type, tag] : lines) {
    if (p.has(tag)) continue;
    std::string line;
    for (const auto& r : m.recipients) {
      const auto* t = r.props.getAs<std::int32_t>(kPrRecipientType);
      if (!t || *t != type) continue;
      const std::string* name = r.props.getAs<std::string>(kPrDisplayName);
      if (!name || name->empty()) name = r.props.getAs<std::string>(kPrEmailAddress);
      if (!name || name->empty()) continue;
      line += (line.empty() ? "" : "; ") + *name;
    }
    p.set(tag, line);
  }

  std::int32_t flags = 0;
  if (messageFlags) {
    flags = *messageFlags;
  } else if (const auto* f = p.getAs<std::int32_t>(kPrMessageFlags)) {
    flags = *f;
  }
  // Outlook's list views show the start of the body from this property of its own.
  if (const std::string* body = p.getAs<std::string>(kPrBody); body && !body->empty())
    p.set(kPrPstBodyPrefix, ltp::utf8PrefixInUtf16Units(*body, kBodyPrefixUnits));

  const bool hasAttachments = !m.attachments.empty();
  flags = hasAttachments ? (flags | kMsgFlagHasAttach) : (flags & ~kMsgFlagHasAttach);
  p.set(kPrMessageFlags, flags);
  p.set(kPrHasAttach, hasAttachments);

  for (auto& a : m.attachments) {
    // An embedded message is written as one whatever method the caller named.
    if (a.embedded) {
      a.props.set(kPrAttachMethod, kAttachEmbeddedMessage);
    } else if (!a.props.has(kPrAttachMethod)) {
      a.props.set(kPrAttachMethod, kAttachByValue);
    }
    if (!a.props.has(kPrRenderingPosition)) a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
    if (a.embedded) {
      a.props.erase(kPrAttachDataBin);
      // The caller may still hold the embedded model: complete a copy, never the caller's.
      // An attached message is always read, as in Outlook's own stores.
      auto own = std::make_shared<MessageModel>(*a.embedded);
      const auto* innerFlags = own->props.getAs<std::int32_t>(kPrMessageFlags);
      completeMessage(*own, now, (innerFlags ? *innerFlags : 0) | kMsgFlagRead);
      a.embedded = std::move(own);
    }
  }
  // Attachment sizes follow what is stored for them; the writer adds an embedded message's bytes.
  for (auto& a : m.attachments) a.props.set(kPrAttachSize, sizeProperty(attachmentPropertyBytes(a.props)));
  // Known only once the message is written (see writeMessage); present from the start so that the
  // final value replaces it in place.
  p.set(kPrMessageSize, std::int32_t{0});
}

ltp::RowValues rowFor(const ltp::TableLayout& layout, const PropertyBag& props) {
  ltp::RowValues row;
  for (const auto& c : layout.columns) {
    if (c.tag == ltp::kTagLtpRowId || c.tag == ltp::kTagLtpRowVer) continue;
    if (const PropertyValue* v = props.get(c.tag)) row.emplace(c.tag, *v);
  }
  return row;
}

}  // namespace mailfold::pst

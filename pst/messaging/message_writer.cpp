#include "pst/messaging/message_writer.h"

#include <algorithm>
#include <set>
#include <string>

#include "pst/ltp/property_context.h"
#include "pst/messaging/message_properties.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::pst {
namespace {

// A stored property value's tag for a model property: 8-bit strings are stored as Unicode.
PropTag storedTag(PropTag tag) { return tagType(tag) == kPtString8 ? makeTag(tagId(tag), kPtUnicode) : tag; }

// Every property of a bag with the tag it is stored under (named ones through the map).
std::vector<std::pair<PropTag, const PropertyValue*>> storedProperties(const PropertyBag& bag, NameToIdMap& names) {
  std::vector<std::pair<PropTag, const PropertyValue*>> out;
  for (const auto& [tag, value] : bag.all()) out.emplace_back(storedTag(tag), &value);
  for (const auto& n : bag.named()) {
    const std::uint16_t type = n.type == kPtString8 ? std::uint16_t{kPtUnicode} : n.type;
    out.emplace_back(makeTag(names.add(n.key), type), &n.value);
  }
  return out;
}

bool fitsTableCell(PropTag tag, const PropertyValue&) { return tagType(tag) != kPtObject; }

// Table cells hold whole values: a streamed value is read in (recipient rows have no other home).
PropertyValue cellValue(const PropertyValue& value) {
  const auto* src = std::get_if<std::shared_ptr<const ByteSource>>(&value);
  if (!src) return value;
  if (!*src) return Bytes{};
  constexpr std::uint64_t kMaxCell = 64ull * 1024 * 1024;
  if ((*src)->size() > kMaxCell)
    throw Error(ErrorKind::kBadInput, "a table cell value of " + std::to_string((*src)->size()) + " bytes is too large (at most 64 MB)");
  Bytes out(static_cast<std::size_t>((*src)->size()));
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t n = (*src)->read(at, std::span<std::uint8_t>(out).subspan(at));
    if (n == 0) throw Error(ErrorKind::kBadInput, "a streamed value ended after " + std::to_string(at) + " of " + std::to_string(out.size()) + " bytes");
    at += n;
  }
  return out;
}

// A table of `rows` whose columns are the template's plus every property the rows carry.
void writeTable(ndb::Node& node, const ltp::TableLayout& base, const std::vector<std::uint32_t>& rowIds,
                const std::vector<std::vector<std::pair<PropTag, const PropertyValue*>>>& rows) {
  std::vector<PropTag> extra;
  for (const auto& row : rows)
    for (const auto& [tag, value] : row)
      if (fitsTableCell(tag, *value) && tagId(tag) != tagId(kPrAttachDataBin)) extra.push_back(tag);
  const ltp::TableLayout layout = base.withColumns(extra);
  ltp::TableContext table = ltp::TableContext::create(node, layout);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ltp::RowValues cells;
    for (const auto& [tag, value] : rows[i])
      if (layout.find(tag)) cells[tag] = cellValue(*value);
    cells[ltp::kTagLtpRowId] = static_cast<std::int32_t>(rowIds[i]);
    cells[ltp::kTagLtpRowVer] = std::int32_t{1};
    table.appendRow(rowIds[i], cells);
  }
}

void writeProperties(ltp::PropertyContext& pc, const std::vector<std::pair<PropTag, const PropertyValue*>>& props) {
  pc.setAll(props);
}

}  // namespace

std::int32_t writeMessage(ndb::Node& node, const MessageModel& message, MessageWriteContext& ctx) {
  try {
    ltp::PropertyContext pc = ltp::PropertyContext::create(node);
    writeProperties(pc, storedProperties(message.props, *ctx.names));

    // Every message has a recipient table, even an empty one.
    {
      std::vector<std::uint32_t> ids;
      std::vector<std::vector<std::pair<PropTag, const PropertyValue*>>> rows;
      for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        ids.push_back(static_cast<std::uint32_t>(i));
        rows.push_back(storedProperties(message.recipients[i].props, *ctx.names));
      }
      auto sub = node.createSubnode(kNidMessageRecipientTable);
      writeTable(*sub, *ctx.recipientLayout, ids, rows);
    }

    if (!message.attachments.empty()) {
      std::vector<std::uint32_t> ids;
      std::vector<std::vector<std::pair<PropTag, const PropertyValue*>>> rows;
      // An embedded message's size is known once it is written; its attachment's size and the
      // object reference follow from it, in the attachment object and in its table row alike.
      std::vector<std::unique_ptr<PropertyValue>> attachSizes;
      for (std::size_t i = 0; i < message.attachments.size(); ++i) {
        const Attachment& a = message.attachments[i];
        const ndb::Nid attNid = kNidFirstAttachment + static_cast<ndb::Nid>(i << 5);
        auto attNode = node.createSubnode(attNid);
        auto props = storedProperties(a.props, *ctx.names);
        Bytes ref;
        if (a.embedded) {
          const ndb::Nid embeddedNid = ctx.newMessageNid();
          auto embeddedNode = attNode->createSubnode(embeddedNid);
          const std::int32_t embeddedSize = writeMessage(*embeddedNode, *a.embedded, ctx);
          // The object reference: the sub-node holding the message and the message's size.
          ref.resize(8);
          store<std::uint32_t>(ref.data(), embeddedNid);
          store<std::uint32_t>(ref.data() + 4, static_cast<std::uint32_t>(embeddedSize));
          const std::uint64_t size = attachmentPropertyBytes(a.props) + static_cast<std::uint64_t>(embeddedSize);
          attachSizes.push_back(std::make_unique<PropertyValue>(sizeProperty(size)));
          std::erase_if(props, [](const auto& p) { return p.first == kPrAttachSize; });
          props.emplace_back(kPrAttachSize, attachSizes.back().get());
        }
        ltp::PropertyContext apc = ltp::PropertyContext::create(*attNode);
        writeProperties(apc, props);
        if (!ref.empty()) apc.set(kPtagAttachDataObject, ref);
        ids.push_back(attNid);
        rows.push_back(std::move(props));
      }
      auto sub = node.createSubnode(kNidMessageAttachmentTable);
      writeTable(*sub, *ctx.attachmentLayout, ids, rows);
    }

    // Last: every block of the message is written and none changes size any more (the size
    // is a 4-byte value kept in its property record).
    const std::int32_t size = sizeProperty(occupiedBytes(node));
    pc.set(kPrMessageSize, size);
    return size;
  } catch (const Error& e) {
    throw Error("writing message node " + hex(node.nid()) + ": ", e);
  }
}

}  // namespace mailfold::pst

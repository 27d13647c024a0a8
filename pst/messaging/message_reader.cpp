#include "pst/messaging/message_reader.h"

#include <string>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::pst {
namespace {

void put(PropertyBag& bag, PropTag tag, PropertyValue value, const NameToIdMap& names) {
  if (tagId(tag) >= kFirstNamedPropId) {
    if (auto key = names.nameOf(tagId(tag))) {
      bag.setNamed(*key, tagType(tag), std::move(value));
      return;
    }
  }
  bag.set(tag, std::move(value));
}

// A ByteSource that keeps the node it reads from open.
class HeldSource final : public ByteSource {
 public:
  HeldSource(std::unique_ptr<ndb::Node> node, std::unique_ptr<ByteSource> source)
      : node_(std::move(node)), source_(std::move(source)) {}
  std::uint64_t size() const override { return source_->size(); }
  std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) const override { return source_->read(offset, out); }

 private:
  std::unique_ptr<ndb::Node> node_;
  std::unique_ptr<ByteSource> source_;
};

// Each PC keeps a pointer to its node, so the node is opened here and kept.
void readProperties(ndb::Node& node, PropertyBag& bag, const NameToIdMap& names, std::unique_ptr<ndb::Node>* keepAlive,
                    std::shared_ptr<const ByteSource>* attachData) {
  ltp::PropertyContext pc = ltp::PropertyContext::open(node);
  for (PropTag tag : pc.tags()) {
    if (tag == kPrAttachDataBin && attachData && keepAlive && *keepAlive) {
      auto src = pc.openStream(tag);
      *attachData = std::make_shared<HeldSource>(std::move(*keepAlive), std::move(src));
      continue;
    }
    auto v = pc.get(tag);
    if (v) put(bag, tag, std::move(*v), names);
  }
}

}  // namespace

MessageModel readMessage(ndb::Node& node, const NameToIdMap& names) {
  MessageModel m;
  try {
    readProperties(node, m.props, names, nullptr, nullptr);
    if (node.hasSubnode(kNidMessageRecipientTable)) {
      auto sub = node.openSubnode(kNidMessageRecipientTable);
      ltp::TableContext table = ltp::TableContext::open(*sub);
      for (std::uint32_t i = 0; i < table.rowCount(); ++i) {
        Recipient r;
        for (auto& [tag, value] : table.readRow(i))
          if (tag != ltp::kTagLtpRowId && tag != ltp::kTagLtpRowVer) put(r.props, tag, value, names);
        m.recipients.push_back(std::move(r));
      }
    }
    if (node.hasSubnode(kNidMessageAttachmentTable)) {
      auto sub = node.openSubnode(kNidMessageAttachmentTable);
      ltp::TableContext table = ltp::TableContext::open(*sub);
      for (std::uint32_t i = 0; i < table.rowCount(); ++i) {
        const ndb::Nid attNid = table.rowIdAt(i);
        Attachment a;
        std::unique_ptr<ndb::Node> attNode = node.openSubnode(attNid);
        ndb::Node& att = *attNode;
        std::shared_ptr<const ByteSource> data;
        // Data streams keep their own handle on the attachment node.
        std::unique_ptr<ndb::Node> forStream = node.openSubnode(attNid);
        readProperties(att, a.props, names, &forStream, &data);
        if (data) a.props.set(kPrAttachDataBin, data);
        if (const Bytes* ref = a.props.getAs<Bytes>(kPtagAttachDataObject); ref && ref->size() >= 4) {
          const ndb::Nid embeddedNid = load<std::uint32_t>(ref->data());
          if (!att.hasSubnode(embeddedNid))
            throw Error(ErrorKind::kCorrupt, "attachment " + hex(attNid) + " names embedded message " + hex(embeddedNid) + ", which is missing");
          auto embeddedNode = att.openSubnode(embeddedNid);
          a.embedded = std::make_shared<MessageModel>(readMessage(*embeddedNode, names));
        }
        m.attachments.push_back(std::move(a));
      }
    }
  } catch (const Error& e) {
    throw Error("reading message node " + hex(node.nid()) + ": ", e);
  }
  return m;
}

}  // namespace mailfold::pst

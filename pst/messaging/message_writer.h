// Writes a message into a node: its property context, recipient table, attachment table and
// attachment objects, embedded messages (to any depth) as sub-nodes of their attachment.
//
// The node is a top-level message node or, for an embedded message, a sub-node of an
// attachment. Named properties get their ids from the store's name-to-id map.
#pragma once

#include <functional>

#include "pst/ltp/table_context.h"
#include "pst/messaging/message_model.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/template_tables.h"
#include "pst/ndb/node.h"

namespace mailfold::pst {

// Sub-node ids inside a message node.
inline constexpr ndb::Nid kNidMessageRecipientTable = 0x692;
inline constexpr ndb::Nid kNidMessageAttachmentTable = 0x671;
inline constexpr ndb::Nid kPtagAttachDataObject = 0x3701000D;
// The first attachment object's sub-node id; the next ones follow in steps of one index.
inline constexpr ndb::Nid kNidFirstAttachment = ndb::makeNid(ndb::kNidTypeAttachment, 0x401);

struct MessageWriteContext {
  NameToIdMap* names = nullptr;
  // The store's own recipient and attachment templates (stores of older Outlook versions have
  // other column sets than ours); new tables start from these columns.
  const ltp::TableLayout* recipientLayout = fixedTableLayout(kNidRecipientTemplate);
  const ltp::TableLayout* attachmentLayout = fixedTableLayout(kNidAttachmentTemplate);
  // A store-wide unique node id of type "normal message" for an embedded message's sub-node.
  std::function<ndb::Nid()> newMessageNid;
};

// Writes `message` (already completed: see completeMessage) into `node`, whose data is empty.
// Returns the PR_MESSAGE_SIZE it recorded: the bytes the written message occupies.
std::int32_t writeMessage(ndb::Node& node, const MessageModel& message, MessageWriteContext& ctx);

}  // namespace mailfold::pst

// Reads a stored message back into a message model: properties (named ones through the
// store's name-to-id map), recipient rows, attachments with their data, embedded messages.
#pragma once

#include "pst/messaging/message_model.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/ndb/node.h"

namespace mailfold::pst {

// Attachment data comes back as a ByteSource reading from the store, so a large attachment is
// not held in memory; it stays readable while the store is open. Named properties whose id the
// map does not know stay under their numeric tag. Throws Error naming the node on damage.
MessageModel readMessage(ndb::Node& node, const NameToIdMap& names);

}  // namespace mailfold::pst

// What the store adds to a message before it writes it, and the values derived from a message
// that other structures repeat (its size, its contents-table row).
//
// Outlook's repair tool insists on a search key, creation and modification times, a message
// class, flags and status, and a size; it compares every contents-table cell with the message's
// own property. These functions are the single place where those values are decided, so that
// the writer and the checker agree.
#pragma once

#include <cstdint>
#include <optional>

#include "pst/ltp/table_context.h"
#include "pst/messaging/message_model.h"
#include "pst/ndb/node.h"

namespace mailfold::pst {

FileTime fileTimeNow();

// Stored size of one value: its fixed width, or the length of its stored bytes (strings as
// UTF-16, streamed binaries by their source's size).
std::uint64_t storedValueSize(std::uint16_t type, const PropertyValue& value);

// The bytes a written message occupies, as Outlook (2007 SP2 and later) records it in
// PR_MESSAGE_SIZE and its repair tool recomputes it: the data size of every data block of the
// message's node and of all its sub-nodes, recursively (tables, attachments, embedded
// messages); block trailers, padding and index blocks do not count.
std::uint64_t occupiedBytes(ndb::Node& messageNode);
// A size for an int32 property: capped at INT32_MAX.
std::int32_t sizeProperty(std::uint64_t bytes);

// PR_ATTACH_SIZE as Outlook records it: the stored sizes of the attachment's property values
// (its size property included, the object reference not) plus, for an embedded message, the
// bytes that message occupies.
std::uint64_t attachmentPropertyBytes(const PropertyBag& attachment);

// Brings a message's properties to the form the store writes:
//  - 8-bit string tags become Unicode tags (the store is Unicode; model text is UTF-8 already);
//  - missing required properties get their defaults (class IPM.Note, status 0, flags 0,
//    creation/modification time `now`, a fresh search key);
//  - PR_HASATTACH and the has-attachment flag follow the attachments actually present (the
//    flag is the store's to compute; a caller's value is not trusted for it);
//  - `messageFlags`, when given, replaces the caller's flags (except the computed has-attach bit);
//  - PR_MESSAGE_SIZE and, for attachments, PR_ATTACH_SIZE are set as far as the model tells
//    them; the writer replaces PR_MESSAGE_SIZE (and an embedded message's part of its
//    attachment's size) with what the written message occupies.
// Embedded messages are completed the same way.
void completeMessage(MessageModel& message, FileTime now, std::optional<std::int32_t> messageFlags = std::nullopt);

// The cells of a table row (hierarchy, contents) for an object with properties `props`, for
// every column of `layout` except the row id and row version: each is a copy of the object's
// property with the same tag.
ltp::RowValues rowFor(const ltp::TableLayout& layout, const PropertyBag& props);

}  // namespace mailfold::pst

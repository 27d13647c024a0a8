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

#include "pst/messaging/message_model.h"
#include "pst/messaging/template_tables.h"

namespace mailfold::pst {

FileTime fileTimeNow();

// Stored size of one value: its fixed width, or the length of its stored bytes (strings as
// UTF-16, streamed binaries by their source's size).
std::uint64_t storedValueSize(std::uint16_t type, const PropertyValue& value);

// A message's size as this store records it in PR_MESSAGE_SIZE: the stored bytes of its
// properties (PR_MESSAGE_SIZE itself excluded), of its recipients' properties and of its
// attachments' properties, embedded messages included to any depth. Capped at INT32_MAX.
std::int32_t messageSize(const MessageModel& message);

// Brings a message's properties to the form the store writes:
//  - 8-bit string tags become Unicode tags (the store is Unicode; model text is UTF-8 already);
//  - missing required properties get their defaults (class IPM.Note, status 0, flags 0,
//    creation/modification time `now`, a fresh search key);
//  - PR_HASATTACH and the has-attachment flag follow the attachments actually present (the
//    flag is the store's to compute; a caller's value is not trusted for it);
//  - `messageFlags`, when given, replaces the caller's flags (except the computed has-attach bit);
//  - PR_MESSAGE_SIZE is set last, from messageSize().
// Embedded messages are completed the same way.
void completeMessage(MessageModel& message, FileTime now, std::optional<std::int32_t> messageFlags = std::nullopt);

// The cells of a table row for an object with properties `props`, for every column of `layout`
// except the row id and row version: each is a copy of the object's property with the same tag.
PropertyBag rowFor(const TableLayout& layout, const PropertyBag& props);

}  // namespace mailfold::pst

// TNEF, the stream Outlook and Exchange send as application/ms-tnef (winmail.dat): a message's
// MAPI properties and attachments as a sequence of checksummed attributes. This reads a stream
// into plain values; tnef_mapping applies them to the message model.
//
// Every length and count comes from the file and is checked against what is left before use: a
// stream that is cut short, lies about a size or fails a checksum is refused with a TnefError
// that names the offset, and nothing of it is applied (the caller keeps the file as it came).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pst/bytes.h"
#include "pst/messaging/message_model.h"

namespace mailfold::mime::tnef {

// A stream that cannot be read; kind kCorrupt.
class TnefError : public pst::Error {
 public:
  explicit TnefError(const std::string& what) : pst::Error(pst::ErrorKind::kCorrupt, what) {}
  TnefError(const std::string& context, const TnefError& cause) : pst::Error(context, cause) {}
};

// One MAPI property of an attMAPIProps or attAttachment list. 8-bit strings are converted to
// UTF-8 with the stream's code page and typed as Unicode strings. An object (PtypObject) keeps
// its interface id apart and its content, after the id, as Bytes.
struct Property {
  std::uint16_t id = 0;
  std::uint16_t type = 0;
  std::optional<pst::NamedPropertyKey> name;  // ids from 0x8000 on are named
  pst::PropertyValue value;
  pst::Guid objectInterface;  // for type kPtObject
};

// IID_IMessage {00020307-0000-0000-C000-000000000046}: an object that is an embedded message,
// itself encoded as a TNEF stream.
inline constexpr pst::Guid kIidMessage{
    {0x07, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct Message;

struct Attachment {
  std::vector<Property> props;         // attAttachment
  std::optional<pst::Bytes> data;      // attAttachData
  std::string title;                   // attAttachTitle (UTF-8)
  std::shared_ptr<Message> embedded;   // the decoded stream of a PR_ATTACH_DATA_OBJ message object
};

struct Message {
  std::vector<Property> props;         // attMAPIProps
  std::string messageClass;            // attMessageClass, as MAPI names the class
  std::optional<std::int32_t> importance;  // from attPriority
  std::optional<std::string> subject;  // attSubject (UTF-8)
  std::optional<std::string> body;     // attBody (UTF-8)
  std::vector<std::vector<Property>> recipients;  // attRecipTable, one property list a row
  std::uint32_t codePage = 0;          // attOemCodepage (0: not given)
  std::vector<Attachment> attachments;
};

// Streams nested deeper than this (messages attached to attached messages) are refused.
inline constexpr int kMaxTnefDepth = 8;

// Reads a whole stream. Throws TnefError.
Message readTnef(std::span<const std::uint8_t> bytes);

// The first property of an unnamed id (named ones have ids from 0x8000 on), or null.
const Property* findProperty(const std::vector<Property>& props, std::uint16_t id);

}  // namespace mailfold::mime::tnef

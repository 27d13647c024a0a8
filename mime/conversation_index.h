// The conversation index of a message (PR_CONVERSATION_INDEX): a 22-byte header block (the high
// six bytes of a FILETIME, the first of which is 0x01, and a GUID) and one 5-byte child block per
// reply level (a time delta and two nibbles). Outlook
// groups a conversation on the GUID and nests a message under the one whose index is its own
// without the last block.
//
// Files are converted one at a time, in any order, and the parent of a reply is usually in
// another file, converted later or not at all. So the index is made from the message's own
// thread headers alone, in a way that gives every message of a thread the same header and a
// reply exactly its parent's index plus one block:
//   - the GUID is a hash of the thread's root id: the first References entry, else In-Reply-To,
//     else the message's own Message-ID;
//   - the header time is the earliest an index can hold (01 00 00 00 00 00). The date of the
//     root is in no other message of the thread, and a time made up from the id would look like
//     a real date to whoever decodes the index; Exchange's own indexes that carry only a
//     conversation identity start with the same six bytes;
//   - each message of the chain below the root (the References entries after the first, or
//     In-Reply-To, then the message itself) adds a block made from a hash of its id, as no
//     descendant knows when its ancestors were sent.
// A message without any id starts a conversation of its own: its date in the header and a
// random GUID. A well-formed Thread-Index header (the index the sending Outlook computed) is
// taken as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pst/messaging/message_model.h"

namespace mailfold::mime {

// Header values as they stand in the message (unfolded); empty when absent.
struct ThreadHeaders {
  std::string_view messageId;
  std::string_view inReplyTo;
  std::string_view references;
  std::string_view threadIndex;  // base64
};

inline constexpr std::size_t kConversationHeaderBytes = 22;
inline constexpr std::size_t kConversationChildBytes = 5;
// Deeper threads keep the root and their nearest ancestors; every message id costs five bytes.
inline constexpr std::size_t kMaxConversationChildBlocks = 250;

// The index for a message; `date` goes into the header of a message without any id.
pst::Bytes conversationIndex(const ThreadHeaders& headers, pst::FileTime date);

// The ids ("<...>") in a References or In-Reply-To value, without brackets or blanks, in order.
// Text outside brackets (comments, "Your message of ...") is no id.
std::vector<std::string> messageIdsIn(std::string_view text);

}  // namespace mailfold::mime

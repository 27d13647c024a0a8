// The message importer: one RFC 822/MIME message file becomes one mail item model.
//
//   pst::MessageModel m = mime::importMessageFile("a.eml", {});
//
// The model carries everything the store writer needs: envelope, recipients, bodies,
// attachments (large ones as pst::ByteSource backed by a temporary file) and embedded messages.
// PR_MESSAGE_FLAGS holds only the unsent bit, for X-Unsent: 1 on a message that is not attached
// to another; the caller ORs in the read bit (kMsgFlagRead) rather than overwriting the flags.
// The has-attachments bit is the store's: it follows the attachment table. A message with
// attachments none of which a user sees (inline images of an HTML body) carries PidLidSmartNoAttach
// so that Outlook shows no paperclip.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "mime/import_error.h"
#include "pst/messaging/message_model.h"

namespace mailfold::mime {

struct ImportOptions {
  // The times of a message that has neither a Date nor a Received header (submit, delivery,
  // creation, modification; otherwise all come from the message). Unset: the time of the import.
  std::optional<pst::FileTime> importTime;
  // Attachments whose encoded content exceeds this go to an unlinked temporary file.
  std::uint64_t inMemoryAttachmentLimit = 4u << 20;
  // Folder for those files; empty for the system's temporary folder.
  std::string tempDirectory;
  // Deeper message/rfc822 nesting is kept as a plain .eml attachment instead of being mapped.
  int maxEmbeddingDepth = 16;
  // PR_TRANSPORT_MESSAGE_HEADERS keeps at most this many bytes of the header block.
  std::size_t maxTransportHeaderBytes = 1u << 20;
  // uuencoded blocks in a plain-text body become attachments.
  bool extractUuencoded = true;
};

// Imports a message file. Throws ImportError of kind kBadInput when the file is not a message
// at all (empty, without a header at its start, not a regular file), kNotFound or kIo when it
// cannot be read; a damaged message is imported with what can be parsed. Throws pst::Error
// (ImportError's base) of kind kIo when a temporary file for a large attachment cannot be
// written.
pst::MessageModel importMessageFile(const std::string& path, const ImportOptions& options = {});

// The same for a message held in memory; `sourceName` only names it in error messages.
pst::MessageModel importMessage(std::span<const std::uint8_t> bytes, const ImportOptions& options = {},
                                const std::string& sourceName = "message");
pst::MessageModel importMessage(std::string_view bytes, const ImportOptions& options = {},
                                const std::string& sourceName = "message");


}  // namespace mailfold::mime

// The clear-signed (multipart/signed) entity of a message, taken from the file as it stands.
//
// A signature covers the bytes of the signed part exactly; writing the parsed tree back out
// may fold, quote or re-encode a header differently and the signature would no longer verify.
// So the entity kept for the store is the message's own Content-* header fields followed by its
// body, copied from the file, with only bare LF line ends made CRLF (the canonical form that
// was signed and the form the store keeps).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "mime/importer.h"
#include "pst/messaging/message_model.h"

typedef struct _GMimeStream GMimeStream;

namespace mailfold::mime::detail {

// `message` is the stream positioned anywhere, `messageStart` where the message begins in it
// and `head` the bytes from there on as far as they were read. Returns null when the end of
// the header block is not within `head` (the caller then falls back to writing the parsed
// entity). A body larger than options.inMemoryAttachmentLimit goes to a temporary file.
// Throws pst::Error when the stream cannot be read or the temporary file cannot be written.
std::shared_ptr<const pst::ByteSource> signedEntityFromFile(GMimeStream* message, std::uint64_t messageStart,
                                                            std::string_view head, const ImportOptions& options);

// The Content-* header fields of a header block (continuation lines included), CRLF-terminated.
std::string contentHeaderFields(std::string_view headerBlock);

}  // namespace mailfold::mime::detail

// The parts of a parsed message: their types as a mail client reads them, and their content.
#pragma once

#include <memory>
#include <string>

#include "mime/importer.h"
#include "pst/messaging/message_model.h"

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimePart GMimePart;

namespace mailfold::mime::detail {

// Multipart trees deeper than this are not walked further (their parts are not lost from the
// source file, but a message built to exhaust the stack is not followed all the way down).
inline constexpr int kMaxMultipartDepth = 64;

// The lower-case type/subtype; an invalid Content-Type (no subtype) reads as text/plain.
std::string mimeType(GMimeObject* object);
bool isType(GMimeObject* object, const char* type, const char* subtype);
std::string contentTypeParameter(GMimeObject* object, const char* name);
bool isAttachmentDisposed(GMimeObject* object);

// The transfer-decoded bytes of a leaf part.
pst::Bytes partBytes(GMimePart* part);
std::string bytesAsString(const pst::Bytes& b);

// The content of an attachment: small ones in memory, large ones decoded once into an
// unlinked temporary file.
std::shared_ptr<const pst::ByteSource> partDataSource(GMimePart* part, const ImportOptions& options);

}  // namespace mailfold::mime::detail

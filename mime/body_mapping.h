// The bodies of a message onto the model: the part a mail client shows as the message, in its
// plain and HTML forms, the code page, and uuencoded files found in a plain body.
#pragma once

#include <string>
#include <vector>

#include "mime/importer.h"
#include "mime/uuencode_blocks.h"
#include "pst/messaging/message_model.h"

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimePart GMimePart;

namespace mailfold::mime::detail {

struct BodyParts {
  GMimePart* plain = nullptr;
  GMimePart* html = nullptr;
  bool found() const { return plain || html; }
};

// The part a mail client shows as the message: the first text part that is not an attachment,
// through alternatives (the plain and the HTML form), the root of a related set, the signed
// content of a signed message, and the first child of a mixed set that yields one.
void findBody(GMimeObject* object, BodyParts& body, int depth);

struct MappedBodies {
  std::string html;  // as UTF-8, for finding the inline images it references
  std::vector<UuencodedFile> uuencoded;
};

MappedBodies mapBodies(const BodyParts& body, pst::MessageModel& model, const ImportOptions& options);

}  // namespace mailfold::mime::detail

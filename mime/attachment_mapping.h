// The attachments of a message onto the model: parts by value (large ones streamed from a
// temporary file), attached messages (mapped in turn, or kept as .eml files past the depth
// limit), uuencoded files from the body, and S/MIME entities kept whole.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mime/body_mapping.h"
#include "mime/message_mapper.h"
#include "mime/uuencode_blocks.h"
#include "pst/messaging/message_model.h"

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimePart GMimePart;

namespace mailfold::mime::detail {

struct AttachmentWalk {
  const BodyParts& body;
  const std::string& html;
  const MapContext& ctx;
  int messageDepth;
  int unnamedCounter = 0;
  pst::MessageModel& model;
  // A part the message itself stands for (its iCalendar invitation), not kept as a file.
  GMimePart* consumed = nullptr;
  bool inAlternative = false;  // the parts being walked are alternatives of one another
};

// Every part that is not the body, in order, below `object`.
void collectAttachments(AttachmentWalk& walk, GMimeObject* object, bool inRelated, int depth);
void addUuencoded(pst::MessageModel& model, std::vector<UuencodedFile> files);

// The file name a part declares (Content-Disposition filename, else Content-Type name), with
// encoded words in it read as in a Subject.
std::string declaredFileName(GMimeObject* object);

// The names of an attachment (long, 8.3, extension, display) from the file name it declares,
// else from a made-up display name.
void setAttachmentNames(pst::Attachment& a, const std::string& declared, const std::string& fallbackDisplay);

// S/MIME as MAPI stores it: the signed or encrypted entity whole, as the single attachment
// smime.p7m, so that it can still be verified or decrypted.
void addSmimeAttachment(pst::MessageModel& model, std::shared_ptr<const pst::ByteSource> entity, const std::string& mimeTag,
                        const std::string& name);
// An opaque-signed or encrypted S/MIME part (application/pkcs7-mime, or a .p7m file).
bool isOpaqueSmime(GMimeObject* object);

// True when an attachment is not hidden.
bool anyVisible(const pst::MessageModel& model);
// The sum of the attachments' recorded sizes.
std::int64_t attachmentBytes(const pst::MessageModel& model);

}  // namespace mailfold::mime::detail

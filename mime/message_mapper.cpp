#include "mime/message_mapper.h"

#include <gmime/gmime.h>

#include "mime/attachment_mapping.h"
#include "mime/body_mapping.h"
#include "mime/calendar_mapping.h"
#include "mime/envelope_mapping.h"
#include "mime/gmime_ptr.h"
#include "mime/header_fields.h"
#include "mime/mime_parts.h"
#include "mime/outlook_text_limits.h"
#include "mime/report_mapping.h"
#include "mime/structure_repair.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::mime::detail {

using namespace pst;

MessageModel mapMessage(GMimeMessage* message, const MapContext& ctx, int depth, const std::string& rawHeaders,
                        std::uint64_t sourceSize) {
  MessageModel model;
  mapEnvelope(message, model, ctx, rawHeaders);
  std::string messageClass = kClassNote;
  bool visible = false;

  repairStructure(message, ctx.parserOptions);
  GMimeObject* root = g_mime_message_get_mime_part(message);
  if (root && isOpaqueSmime(root)) {
    // Opaque-signed or encrypted: no body can be read; the CMS blob is kept as it came.
    messageClass = kClassSmime;
    const std::string declared = declaredFileName(root);
    addSmimeAttachment(model, std::make_shared<MemorySource>(partBytes(GMIME_PART(root))), mimeType(root),
                       declared.empty() ? "smime.p7m" : declared);
    model.props.set(kPrInternetCodepage, std::int32_t{20127});
  } else if (root) {
    BodyParts body;
    findBody(root, body, 0);
    MappedBodies mapped = mapBodies(body, model, ctx.options);
    // An invitation, reply, cancellation or event makes the message the matching calendar item;
    // a signed one stays signed mail, so that its signature still verifies.
    CalendarMapping calendar;
    if (!GMIME_IS_MULTIPART_SIGNED(root)) calendar = mapCalendar(root, model, body.found());
    if (!calendar.messageClass.empty()) messageClass = calendar.messageClass;
    AttachmentWalk walk{body, mapped.html, ctx, depth, 0, model, calendar.consumedPart};
    collectAttachments(walk, root, false, 0);
    // A TNEF part among them may have given the class (a meeting request, a task).
    if (const std::string* tnefClass = model.props.getAs<std::string>(kPrMessageClass)) messageClass = *tnefClass;
    addUuencoded(model, std::move(mapped.uuencoded));
    if (std::string reportClass = mapReport(root, model, ctx.parserOptions); !reportClass.empty()) messageClass = std::move(reportClass);
    visible = anyVisible(model);
    if (GMIME_IS_MULTIPART_SIGNED(root)) {
      // Clear-signed: the body comes from the signed content, the whole signed entity is kept
      // as smime.p7m, byte for byte as in the file where the file is at hand (see
      // signed_entity.h), else as GMime writes it (CRLF). What the signed content holds shows
      // as attachments once a client opens the signature, so the paperclip follows it.
      messageClass = kClassSmimeMultipartSigned;
      std::shared_ptr<const ByteSource> entity;
      if (depth == 0 && ctx.signedEntityFromSource) entity = ctx.signedEntityFromSource();
      if (!entity) {
        GMimeFormatOptions* format = g_mime_format_options_clone(g_mime_format_options_get_default());
        g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
        GObjectPtr<GMimeStream> mem(g_mime_stream_mem_new());
        g_mime_object_write_to_stream(root, format, mem.get());
        g_mime_format_options_free(format);
        GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
        entity = std::make_shared<MemorySource>(array ? Bytes(array->data, array->data + array->len) : Bytes{});
      }
      model.attachments.clear();
      addSmimeAttachment(model, std::move(entity), "multipart/signed", "smime.p7m");
    }
  } else {
    model.props.set(kPrInternetCodepage, std::int32_t{20127});
  }
  model.props.set(kPrMessageClass, messageClass);

  // The store sets the has-attachments flag whenever there is an attachment row, as Outlook's
  // own files have it; the importer decides whether the paperclip shows. A message whose
  // attachments are all hidden (inline images of its HTML; the S/MIME wrapper of content
  // without attachments, or of encrypted content) says so as Outlook does.
  if (!model.attachments.empty() && !visible) model.props.setNamed(kSmartNoAttach, kPtBoolean, true);
  // Only the message itself can be a draft; one attached to it is shown as the mail it was.
  std::int32_t flags = 0;
  if (depth == 0 && headerValue(GMIME_OBJECT(message), "X-Unsent") == "1") flags |= kMsgFlagUnsent;
  model.props.set(kPrMessageFlags, flags);

  if (sourceSize == 0) {
    // An embedded message has no file of its own: estimate from what it carries.
    std::int64_t estimate = attachmentBytes(model);
    for (PropTag tag : {kPrBody, kPrTransportMessageHeaders}) {
      if (const std::string* s = model.props.getAs<std::string>(tag)) estimate += static_cast<std::int64_t>(s->size());
    }
    if (const Bytes* html = model.props.getAs<Bytes>(kPrHtml)) estimate += static_cast<std::int64_t>(html->size());
    sourceSize = static_cast<std::uint64_t>(estimate);
  }
  model.props.set(kPrMessageSize, static_cast<std::int32_t>(std::min<std::uint64_t>(sourceSize, INT32_MAX)));
  return model;
}

}  // namespace mailfold::mime::detail

#include "mime/attachment_mapping.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "mime/alternative_naming.h"
#include "mime/extended_parameter.h"
#include "mime/gmime_ptr.h"
#include "mime/header_decoding.h"
#include "mime/mime_parts.h"
#include "mime/text_decoding.h"
#include "mime/tnef_mapping.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::mime::detail {

using namespace pst;

namespace {

std::string fileExtension(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == name.size()) return {};
  return name.substr(dot);
}

std::string baseName(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The 8.3 form of a file name, as the short-name column of an attachment table shows it.
std::string shortFileName(const std::string& longName) {
  const std::string base = baseName(longName);
  const std::string ext = fileExtension(base);
  const std::string stem = base.substr(0, base.size() - ext.size());
  auto clean = [](std::string_view s, std::size_t max) {
    std::string r;
    for (char c : s) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x80 && std::isalnum(u)) r += static_cast<char>(std::toupper(u));
      else if (c == '-' || c == '_') r += c;
      if (r.size() == max) break;
    }
    return r;
  };
  std::string shortStem = clean(stem, 9);
  if (shortStem.size() > 8 || shortStem.empty()) shortStem = (shortStem.empty() ? std::string("ATTACH") : shortStem.substr(0, 6)) + "~1";
  std::string shortExt = ext.empty() ? std::string() : clean(std::string_view(ext).substr(1), 3);
  return shortExt.empty() ? shortStem : shortStem + "." + shortExt;
}

std::string extensionForMimeType(const std::string& type) {
  static constexpr std::pair<const char*, const char*> kTable[] = {
      {"text/plain", ".txt"},      {"text/html", ".htm"},
      {"message/rfc822", ".eml"},  {"image/png", ".png"},
      {"image/jpeg", ".jpg"},      {"image/gif", ".gif"},
      {"image/bmp", ".bmp"},       {"application/pdf", ".pdf"},
      {"text/calendar", ".ics"},   {"application/pkcs7-signature", ".p7s"},
      {"application/x-pkcs7-signature", ".p7s"}, {"application/pkcs7-mime", ".p7m"},
      {"text/x-vcard", ".vcf"},    {"text/vcard", ".vcf"},
      {"application/zip", ".zip"}, {"application/ms-tnef", ".dat"},
      // The status parts of reports and returned header blocks are text a user can read.
      {"message/delivery-status", ".txt"}, {"message/disposition-notification", ".txt"},
      {"text/rfc822-headers", ".txt"},
  };
  for (const auto& [mime, ext] : kTable) {
    if (type == mime) return ext;
  }
  return ".dat";
}

void setNames(Attachment& a, const std::string& declared, const std::string& fallbackDisplay) {
  if (!declared.empty()) {
    a.props.set(kPrAttachLongFilename, declared);
    a.props.set(kPrAttachFilename, shortFileName(declared));
    const std::string ext = fileExtension(declared);
    if (!ext.empty()) a.props.set(kPrAttachExtension, ext);
    a.props.set(kPrDisplayName, declared);
  } else {
    a.props.set(kPrDisplayName, fallbackDisplay);
    a.props.set(kPrAttachFilename, shortFileName(fallbackDisplay));
    const std::string ext = fileExtension(fallbackDisplay);
    if (!ext.empty()) a.props.set(kPrAttachExtension, ext);
  }
}

std::string unnamedDisplayName(AttachmentWalk& walk, const std::string& type) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "ATT%05d", ++walk.unnamedCounter);
  return buf + extensionForMimeType(type);
}

void addByValue(AttachmentWalk& walk, GMimePart* part, bool inRelated) {
  auto* object = GMIME_OBJECT(part);
  Attachment a;
  const std::string type = mimeType(object);
  const std::string declared = declaredFileName(object);
  setNames(a, declared, !declared.empty()  ? std::string()
                        : walk.inAlternative ? alternativeDisplayName(type, extensionForMimeType(type))
                                             : unnamedDisplayName(walk, type));
  auto data = partDataSource(part, walk.ctx.options);
  a.props.set(kPrAttachMethod, kAttachByValue);
  a.props.set(kPrAttachSize, static_cast<std::int32_t>(std::min<std::uint64_t>(data->size(), INT32_MAX)));
  a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::move(data)));
  a.props.set(kPrAttachMimeTag, type);
  a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
  std::string contentId = validUtf8(orEmpty(g_mime_part_get_content_id(part)));
  const std::string location = validUtf8(orEmpty(g_mime_part_get_content_location(part)));
  if (!contentId.empty()) a.props.set(kPrAttachContentId, contentId);
  if (!location.empty()) a.props.set(kPrAttachContentLocation, location);
  // An image the HTML body shows through cid: (or, in a related set, through its location) is
  // part of the body, not an attachment the user opens: hidden, rendered in the body.
  const bool referenced = !walk.html.empty() && ((!contentId.empty() && walk.html.find("cid:" + contentId) != std::string::npos) ||
                                                 (inRelated && !location.empty() && walk.html.find(location) != std::string::npos));
  const bool inlineImage = referenced && type.rfind("image/", 0) == 0;
  a.props.set(kPrAttachmentHidden, inlineImage);
  a.props.set(kPrAttachFlags, inlineImage ? kAttachFlagRenderedInBody : std::int32_t{0});
  walk.model.attachments.push_back(std::move(a));
}

// A message kept as the bytes of an .eml file (used past the embedding depth limit).
void addMessageAsFile(AttachmentWalk& walk, GMimeObject* object, GMimeMessage* inner) {
  Attachment a;
  GObjectPtr<GMimeStream> mem(g_mime_stream_mem_new());
  if (inner) g_mime_object_write_to_stream(GMIME_OBJECT(inner), g_mime_format_options_get_default(), mem.get());
  GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  Bytes bytes = array ? Bytes(array->data, array->data + array->len) : Bytes{};
  setNames(a, declaredFileName(object), unnamedDisplayName(walk, "message/rfc822"));
  a.props.set(kPrAttachMethod, kAttachByValue);
  a.props.set(kPrAttachSize, static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), INT32_MAX)));
  a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::make_shared<MemorySource>(std::move(bytes))));
  a.props.set(kPrAttachMimeTag, std::string("message/rfc822"));
  a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
  a.props.set(kPrAttachmentHidden, false);
  walk.model.attachments.push_back(std::move(a));
}

void addEmbedded(AttachmentWalk& walk, GMimeMessagePart* part) {
  auto* object = GMIME_OBJECT(part);
  GMimeMessage* inner = g_mime_message_part_get_message(part);
  if (walk.messageDepth + 1 > walk.ctx.options.maxEmbeddingDepth) {
    addMessageAsFile(walk, object, inner);
    return;
  }
  // An empty message/rfc822 part is still an attached message, just one without content.
  GObjectPtr<GMimeMessage> empty;
  if (!inner) {
    empty.reset(g_mime_message_new(FALSE));
    inner = empty.get();
  }
  Attachment a;
  a.embedded = std::make_shared<MessageModel>(mapMessage(inner, walk.ctx, walk.messageDepth + 1, {}, 0));
  const std::string* innerSubject = a.embedded->props.getAs<std::string>(kPrSubject);
  const std::string declared = declaredFileName(object);
  if (!declared.empty()) {
    a.props.set(kPrAttachLongFilename, declared);
    a.props.set(kPrAttachFilename, shortFileName(declared));
  }
  // Outlook lists an attached message by its subject.
  a.props.set(kPrDisplayName, innerSubject && !innerSubject->empty() ? *innerSubject
                                                                     : (declared.empty() ? std::string("Untitled message") : declared));
  a.props.set(kPrAttachMethod, kAttachEmbeddedMessage);
  a.props.set(kPrAttachMimeTag, std::string("message/rfc822"));
  a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
  a.props.set(kPrAttachmentHidden, false);
  const std::int32_t* innerSize = a.embedded->props.getAs<std::int32_t>(kPrMessageSize);
  a.props.set(kPrAttachSize, innerSize ? *innerSize : std::int32_t{0});
  walk.model.attachments.push_back(std::move(a));
}

}  // namespace

void setAttachmentNames(Attachment& a, const std::string& declared, const std::string& fallbackDisplay) {
  setNames(a, declared, fallbackDisplay);
}

namespace {

// A field's value as it stands in the file (unfolded by nothing), or "" when absent.
std::string rawFieldValue(GMimeObject* object, const char* field) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  GMimeHeader* header = headers ? g_mime_header_list_get_header(headers, field) : nullptr;
  const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
  return raw ? raw : "";
}

}  // namespace

std::string declaredFileName(GMimeObject* object) {
  // As GMime looks: the disposition's filename, else the type's name; values in the extended
  // form of RFC 2231 are decoded here (see extended_parameter.h).
  std::optional<std::string> value = extendedParameter(rawFieldValue(object, "Content-Disposition"), "filename");
  const char* name = nullptr;
  if (!value) {
    if (GMimeContentDisposition* d = g_mime_object_get_content_disposition(object))
      name = g_mime_content_disposition_get_parameter(d, "filename");
  }
  if (!value && !name) {
    value = extendedParameter(rawFieldValue(object, "Content-Type"), "name");
    if (!value) name = g_mime_object_get_content_type_parameter(object, "name");
  }
  if (!value && !name) return {};
  // GMime has converted undeclared charsets to UTF-8; what is still ill-formed passed through
  // unchecked. Encoded words have no place in a parameter, yet mail programs write them there,
  // also run into the rest of the name.
  if (!value) value = repairUtf8(name);
  return trim(value->find("=?") == std::string::npos ? *value : decodeUnstructuredHeader(*value));
}

void collectAttachments(AttachmentWalk& walk, GMimeObject* object, bool inRelated, int depth) {
  if (depth > kMaxMultipartDepth) return;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const bool related = isType(object, "multipart", "related");
    const bool outerAlternative = walk.inAlternative;
    walk.inAlternative = isType(object, "multipart", "alternative");
    const int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i) collectAttachments(walk, g_mime_multipart_get_part(multipart, i), related, depth + 1);
    walk.inAlternative = outerAlternative;
    return;
  }
  if (GMIME_IS_MESSAGE_PART(object)) {
    addEmbedded(walk, GMIME_MESSAGE_PART(object));
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  auto* part = GMIME_PART(object);
  if (part == walk.body.plain || part == walk.body.html || part == walk.consumed) return;
  // A winmail.dat that decodes gives the message its attachments and properties instead.
  if (isTnefPart(object) && applyTnefPart(part, walk.model, walk.ctx.options)) return;
  addByValue(walk, part, inRelated);
}

void addUuencoded(MessageModel& model, std::vector<UuencodedFile> files) {
  for (UuencodedFile& f : files) {
    Attachment a;
    const std::string name = validUtf8(f.name);
    setNames(a, name, name);
    a.props.set(kPrAttachMethod, kAttachByValue);
    a.props.set(kPrAttachSize, static_cast<std::int32_t>(std::min<std::size_t>(f.data.size(), INT32_MAX)));
    a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::make_shared<MemorySource>(std::move(f.data))));
    a.props.set(kPrAttachMimeTag, std::string("application/octet-stream"));
    a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
    a.props.set(kPrAttachmentHidden, false);
    model.attachments.push_back(std::move(a));
  }
}

bool anyVisible(const MessageModel& model) {
  return std::any_of(model.attachments.begin(), model.attachments.end(), [](const Attachment& a) {
    const bool* hidden = a.props.getAs<bool>(kPrAttachmentHidden);
    return !(hidden && *hidden);
  });
}

void addSmimeAttachment(MessageModel& model, std::shared_ptr<const ByteSource> entity, const std::string& mimeTag,
                        const std::string& name) {
  Attachment a;
  setNames(a, name, name);
  a.props.set(kPrAttachMethod, kAttachByValue);
  a.props.set(kPrAttachSize, static_cast<std::int32_t>(std::min<std::uint64_t>(entity->size(), INT32_MAX)));
  a.props.set(kPrAttachDataBin, std::move(entity));
  a.props.set(kPrAttachMimeTag, mimeTag);
  a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
  model.attachments.push_back(std::move(a));
}

bool isOpaqueSmime(GMimeObject* object) {
  if (!GMIME_IS_PART(object)) return false;
  if (isType(object, "application", "pkcs7-mime") || isType(object, "application", "x-pkcs7-mime")) return true;
  if (isType(object, "application", "octet-stream")) {
    const std::string name = lowerAscii(declaredFileName(object));
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".p7m") == 0;
  }
  return false;
}

std::int64_t attachmentBytes(const MessageModel& model) {
  std::int64_t total = 0;
  for (const Attachment& a : model.attachments) {
    if (const std::int32_t* size = a.props.getAs<std::int32_t>(kPrAttachSize)) total += *size;
  }
  return total;
}

}  // namespace mailfold::mime::detail

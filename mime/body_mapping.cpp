#include "mime/body_mapping.h"

#include <gmime/gmime.h>

#include <algorithm>

#include "mime/gmime_ptr.h"
#include "mime/html_to_text.h"
#include "mime/mime_parts.h"
#include "mime/outlook_text_limits.h"
#include "mime/text_decoding.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::mime::detail {

using namespace pst;

namespace {

std::string plainText(GMimePart* part) {
  auto* object = GMIME_OBJECT(part);
  const std::string decoded = decodeToUtf8(bytesAsString(partBytes(part)), contentTypeParameter(object, "charset"));
  if (lowerAscii(contentTypeParameter(object, "format")) == "flowed") {
    return unflowText(decoded, lowerAscii(contentTypeParameter(object, "delsp")) == "yes");
  }
  return toCrlf(decoded);
}

}  // namespace

void findBody(GMimeObject* object, BodyParts& body, int depth) {
  if (depth > kMaxMultipartDepth || GMIME_IS_MESSAGE_PART(object) || isAttachmentDisposed(object)) return;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = g_mime_multipart_get_count(multipart);
    if (count == 0) return;
    if (isType(object, "multipart", "alternative")) {
      for (int i = 0; i < count; ++i) {
        BodyParts child;
        findBody(g_mime_multipart_get_part(multipart, i), child, depth + 1);
        if (!body.plain) body.plain = child.plain;
        if (!body.html) body.html = child.html;
      }
      return;
    }
    if (isType(object, "multipart", "related")) {
      GMimeObject* root = g_mime_multipart_get_part(multipart, 0);
      const std::string start = contentTypeParameter(object, "start");
      if (!start.empty()) {
        std::string id = start;
        if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
        for (int i = 0; i < count; ++i) {
          GMimeObject* candidate = g_mime_multipart_get_part(multipart, i);
          if (id == orEmpty(g_mime_object_get_content_id(candidate))) root = candidate;
        }
      }
      findBody(root, body, depth + 1);
      return;
    }
    if (isType(object, "multipart", "encrypted")) return;
    if (isType(object, "multipart", "signed")) {
      findBody(g_mime_multipart_get_part(multipart, 0), body, depth + 1);
      return;
    }
    for (int i = 0; i < count && !body.found(); ++i) findBody(g_mime_multipart_get_part(multipart, i), body, depth + 1);
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  if (isType(object, "text", "plain")) body.plain = GMIME_PART(object);
  else if (isType(object, "text", "html")) body.html = GMIME_PART(object);
}

MappedBodies mapBodies(const BodyParts& body, MessageModel& model, const ImportOptions& options) {
  MappedBodies result;
  PropertyBag& props = model.props;
  std::int32_t codePage = 0;
  if (body.plain) {
    std::string text = plainText(body.plain);
    if (options.extractUuencoded && text.find("begin ") != std::string::npos) {
      UuencodeSplit split = extractUuencodedFiles(text);
      text = std::move(split.text);
      result.uuencoded = std::move(split.files);
    }
    // Outlook ends a body at a U+0000 (uuencoded files after one are attachments all the same).
    props.set(kPrBody, std::string(upToFirstNul(text)));
    codePage = codePageForCharset(contentTypeParameter(GMIME_OBJECT(body.plain), "charset"));
  }
  if (body.html) {
    auto* object = GMIME_OBJECT(body.html);
    Bytes html = partBytes(body.html);
    const std::string charset = contentTypeParameter(object, "charset");
    result.html = decodeToUtf8(bytesAsString(html), charset);
    // The HTML keeps its own bytes when its charset has a code page; otherwise it is stored as
    // UTF-8 so that a reader never has to guess.
    const std::int32_t htmlCodePage = codePageForCharset(charset);
    if (htmlCodePage != 0) {
      props.set(kPrHtml, std::move(html));
      codePage = htmlCodePage;
    } else {
      props.set(kPrHtml, Bytes(result.html.begin(), result.html.end()));
      codePage = 65001;
    }
    if (!body.plain) props.set(kPrBody, htmlToText(result.html));  // which ends at a NUL too
    props.set(kPrNativeBody, kNativeBodyHtml);
  } else if (body.plain) {
    props.set(kPrNativeBody, kNativeBodyPlain);
  }
  if (codePage == 0) {
    const std::string* text = props.getAs<std::string>(kPrBody);
    const bool ascii = !text || std::all_of(text->begin(), text->end(), [](char c) { return (c & 0x80) == 0; });
    codePage = ascii ? 20127 : 65001;
  }
  props.set(kPrInternetCodepage, codePage);
  return result;
}

}  // namespace mailfold::mime::detail

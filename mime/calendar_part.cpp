#include "mime/calendar_part.h"

#include <gmime/gmime.h>

#include "mime/attachment_mapping.h"
#include "mime/mime_parts.h"
#include "mime/text_decoding.h"

namespace mailfold::mime::detail {

namespace {

bool endsWithIcs(const std::string& name) {
  return name.size() >= 4 && lowerAscii(name.substr(name.size() - 4)) == ".ics";
}

void walk(GMimeObject* object, int depth, std::optional<CalendarPart>& inBody, std::optional<CalendarPart>& asFile) {
  if (depth > kMaxMultipartDepth || inBody) return;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i) walk(g_mime_multipart_get_part(multipart, i), depth + 1, inBody, asFile);
    return;
  }
  // An attached message's invitation belongs to that message.
  if (!GMIME_IS_PART(object)) return;
  const bool calendarType = isType(object, "text", "calendar");
  const bool disposed = isAttachmentDisposed(object);
  if (calendarType && !disposed) {
    inBody = CalendarPart{GMIME_PART(object), false};
    return;
  }
  if (!asFile && (calendarType || isType(object, "application", "ics") || endsWithIcs(declaredFileName(object)))) {
    asFile = CalendarPart{GMIME_PART(object), true};
  }
}

}  // namespace

std::optional<CalendarPart> findCalendarPart(GMimeObject* root) {
  std::optional<CalendarPart> inBody;
  std::optional<CalendarPart> asFile;
  if (root) walk(root, 0, inBody, asFile);
  return inBody ? inBody : asFile;
}

}  // namespace mailfold::mime::detail

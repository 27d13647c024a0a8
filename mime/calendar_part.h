// Which part of a message carries its iCalendar object: a text/calendar part in the body
// (alone, or an alternative to the text) first, else one attached as a file.
#pragma once

#include <optional>

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimePart GMimePart;

namespace mailfold::mime::detail {

struct CalendarPart {
  GMimePart* part = nullptr;
  // Disposed as an attachment (or an .ics file by its type or name): a file the sender attached.
  bool attached = false;
};

std::optional<CalendarPart> findCalendarPart(GMimeObject* root);

}  // namespace mailfold::mime::detail

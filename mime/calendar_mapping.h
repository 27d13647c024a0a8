// An iCalendar invitation, reply, cancellation or event in a message makes the message the
// matching Outlook item: IPM.Schedule.Meeting.Request, .Resp.Pos/.Tent/.Neg, .Canceled, or
// IPM.Appointment, with the appointment properties Outlook shows and acts on (times and time
// zone, all-day, location, organizer and attendees, global object id, sequence, busy status,
// recurrence).
//
// The text/calendar part of the body becomes the item and is not kept as a file, as Exchange
// does with iMIP mail. It is kept where the item cannot carry all of it: a rule the recurrence
// blob cannot state (the item has the first instance), modified instances, further events, a
// floating time, an end before the start. An attached .ics file stays an attachment. A calendar that cannot be read leaves the message a
// note with the part attached.
#pragma once

#include <string>

#include "pst/messaging/message_model.h"

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimePart GMimePart;

namespace mailfold::mime::detail {

struct CalendarMapping {
  std::string messageClass;           // empty: the message is no calendar item
  GMimePart* consumedPart = nullptr;  // the part the item stands for, not to be attached
};

// `hasBody`: the message has a text body; without one the event's DESCRIPTION becomes it.
CalendarMapping mapCalendar(GMimeObject* root, pst::MessageModel& model, bool hasBody);

}  // namespace mailfold::mime::detail

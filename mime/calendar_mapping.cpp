#include "mime/calendar_mapping.h"

#include <gmime/gmime.h>
#include <libical/ical.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "mime/address_mapping.h"
#include "mime/calendar_dates.h"
#include "mime/calendar_global_id.h"
#include "mime/calendar_part.h"
#include "mime/calendar_properties.h"
#include "mime/calendar_recurrence.h"
#include "mime/calendar_time_zone.h"
#include "mime/calendar_zone_cache.h"
#include "mime/mime_parts.h"
#include "mime/text_decoding.h"

namespace mailfold::mime::detail {

using namespace pst;
using namespace calendar;

namespace {

struct ComponentDeleter {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

// A calendar larger than this is kept as a file and not read (one invitation is a few KiB).
constexpr gint64 kMaxCalendarBytes = 16 << 20;

ComponentPtr parseCalendar(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  GMimeStream* encoded = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
  if (encoded && g_mime_stream_length(encoded) > kMaxCalendarBytes) return nullptr;
  // libical reports bad input through icalerrno and X-LIC-ERROR properties; it must not abort.
  static std::once_flag configured;
  std::call_once(configured, [] { icalerror_set_errors_are_fatal(0); });
  const std::string charset = contentTypeParameter(GMIME_OBJECT(part), "charset");
  const std::string raw = bytesAsString(partBytes(part));
  // iCalendar is UTF-8; a part that declares another charset is read in it.
  std::string text = charset.empty() ? validUtf8(raw) : decodeToUtf8(raw, charset);
  text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
  ComponentPtr parsed(icalparser_parse_string(text.c_str()));
  if (!parsed) return nullptr;
  if (icalcomponent_isa(parsed.get()) == ICAL_VCALENDAR_COMPONENT) return parsed;
  // A bare VEVENT, or several calendars wrapped by the parser in an XROOT: take the first calendar.
  if (icalcomponent_isa(parsed.get()) == ICAL_VEVENT_COMPONENT) {
    ComponentPtr wrapper(icalcomponent_new_vcalendar());
    icalcomponent_add_component(wrapper.get(), parsed.release());
    return wrapper;
  }
  if (icalcomponent* first = icalcomponent_get_first_component(parsed.get(), ICAL_VCALENDAR_COMPONENT)) {
    icalcomponent_remove_component(parsed.get(), first);
    return ComponentPtr(first);
  }
  return nullptr;
}

std::string text(const char* s) { return s ? validUtf8(s) : std::string(); }

std::string xProperty(icalcomponent* event, const char* name) {
  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_X_PROPERTY); p;
       p = icalcomponent_get_next_property(event, ICAL_X_PROPERTY)) {
    const char* x = icalproperty_get_x_name(p);
    if (x && lowerAscii(x) == lowerAscii(name)) return trim(text(icalproperty_get_value_as_string(p)));
  }
  return {};
}

std::optional<std::int32_t> busyStatusNamed(const std::string& value) {
  const std::string v = lowerAscii(value);
  if (v == "free") return kBusyFree;
  if (v == "tentative") return kBusyTentative;
  if (v == "busy") return kBusyBusy;
  if (v == "oof") return kBusyOutOfOffice;
  if (v == "workingelsewhere") return kBusyWorkingElsewhere;
  return std::nullopt;
}

// "mailto:someone@example.com" -> the address; other schemes are kept as written.
std::string addressOf(const char* uri) {
  std::string s = trim(text(uri));
  if (lowerAscii(s.substr(0, 7)) == "mailto:") s = s.substr(7);
  return s;
}

std::string parameterCn(icalproperty* p) {
  icalparameter* cn = icalproperty_get_first_parameter(p, ICAL_CN_PARAMETER);
  return cn ? trim(text(icalparameter_get_cn(cn))) : std::string();
}

icalparameter_partstat partStat(icalproperty* p) {
  icalparameter* ps = icalproperty_get_first_parameter(p, ICAL_PARTSTAT_PARAMETER);
  return ps ? icalparameter_get_partstat(ps) : ICAL_PARTSTAT_NONE;
}

std::int32_t trackStatus(icalparameter_partstat s) {
  switch (s) {
    case ICAL_PARTSTAT_ACCEPTED: return kTrackAccepted;
    case ICAL_PARTSTAT_TENTATIVE: return kTrackTentative;
    case ICAL_PARTSTAT_DECLINED: return kTrackDeclined;
    default: return kTrackNone;
  }
}

// Required attendees (and the chair) are To rows, optional and non-participants Cc, rooms and
// other resources Bcc, as Outlook keeps them.
std::int32_t recipientTypeOf(icalproperty* attendee) {
  if (icalparameter* cu = icalproperty_get_first_parameter(attendee, ICAL_CUTYPE_PARAMETER)) {
    const icalparameter_cutype t = icalparameter_get_cutype(cu);
    if (t == ICAL_CUTYPE_RESOURCE || t == ICAL_CUTYPE_ROOM) return kRecipientBcc;
  }
  if (icalparameter* role = icalproperty_get_first_parameter(attendee, ICAL_ROLE_PARAMETER)) {
    const icalparameter_role r = icalparameter_get_role(role);
    if (r == ICAL_ROLE_OPTPARTICIPANT || r == ICAL_ROLE_NONPARTICIPANT) return kRecipientCc;
  }
  return kRecipientTo;
}

bool sameAddress(const std::string& a, const std::string& b) { return !a.empty() && lowerAscii(a) == lowerAscii(b); }

std::string rowAddress(const Recipient& r) {
  const std::string* s = r.props.getAs<std::string>(kPrEmailAddress);
  return s ? *s : std::string();
}

// The organizer first (flagged as such), then the attendees, then whoever the message's own
// header fields name beyond them: no address of the message is lost.
void setAttendees(icalcomponent* event, MessageModel& model) {
  // Someone the calendar names without a CN keeps the name the header gives them.
  auto nameOf = [&](icalproperty* p, const std::string& address) {
    std::string name = parameterCn(p);
    for (const Recipient& r : model.recipients) {
      const std::string* shown = r.props.getAs<std::string>(kPrDisplayName);
      if (name.empty() && shown && sameAddress(rowAddress(r), address) && *shown != address) name = *shown;
    }
    return name;
  };
  std::vector<Recipient> rows;
  std::string organizerAddress;
  if (icalproperty* org = icalcomponent_get_first_property(event, ICAL_ORGANIZER_PROPERTY)) {
    organizerAddress = addressOf(icalproperty_get_organizer(org));
    Recipient row = makeRecipient(MailAddress{nameOf(org, organizerAddress), organizerAddress}, kRecipientTo);
    row.props.set(kPrRecipientFlags, kRecipientFlagSendable | kRecipientFlagOrganizer);
    row.props.set(kPrRecipientTrackStatus, kTrackNone);
    rows.push_back(std::move(row));
  }
  std::vector<std::string> seen{organizerAddress};
  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY); p;
       p = icalcomponent_get_next_property(event, ICAL_ATTENDEE_PROPERTY)) {
    const std::string address = addressOf(icalproperty_get_attendee(p));
    if (std::any_of(seen.begin(), seen.end(), [&](const std::string& s) { return sameAddress(s, address); })) continue;
    seen.push_back(address);
    Recipient row = makeRecipient(MailAddress{nameOf(p, address), address}, recipientTypeOf(p));
    row.props.set(kPrRecipientFlags, kRecipientFlagSendable);
    row.props.set(kPrRecipientTrackStatus, trackStatus(partStat(p)));
    rows.push_back(std::move(row));
  }
  if (rows.empty()) return;
  for (Recipient& r : model.recipients) {
    const std::string address = rowAddress(r);
    if (std::none_of(seen.begin(), seen.end(), [&](const std::string& s) { return sameAddress(s, address); })) {
      rows.push_back(std::move(r));
    }
  }
  model.recipients = std::move(rows);
  // The display lists follow the table, and so do the attendee lists Outlook shows on the
  // item; the organizer is not among those invited.
  std::string all;
  for (const auto& [type, tag] : {std::pair{kRecipientTo, kPrDisplayTo}, std::pair{kRecipientCc, kPrDisplayCc},
                                  std::pair{kRecipientBcc, kPrDisplayBcc}}) {
    std::string display;
    for (const Recipient& r : model.recipients) {
      const std::int32_t* t = r.props.getAs<std::int32_t>(kPrRecipientType);
      const std::int32_t* flags = r.props.getAs<std::int32_t>(kPrRecipientFlags);
      if (!t || *t != type || (flags && (*flags & kRecipientFlagOrganizer))) continue;
      const std::string* name = r.props.getAs<std::string>(kPrDisplayName);
      std::string shown = name ? *name : rowAddress(r);
      std::replace(shown.begin(), shown.end(), ';', ',');
      if (!display.empty()) display += "; ";
      display += shown;
    }
    model.props.set(tag, display);
    if (type == kRecipientTo) model.props.setNamed(appointment(kLidToAttendeesString), kPtUnicode, display);
    if (type == kRecipientCc) model.props.setNamed(appointment(kLidCcAttendeesString), kPtUnicode, display);
    all += (all.empty() || display.empty() ? "" : "; ") + display;
  }
  model.props.setNamed(appointment(kLidAllAttendeesString), kPtUnicode, all);
}

icaltimetype inUtc(icaltimetype t) {
  // A date is midnight, and a floating time is read as UTC: the reader's own zone is unknown here.
  if (t.is_date || !t.zone) {
    t.zone = nullptr;
    return t;
  }
  return icaltime_convert_to_zone(t, icaltimezone_get_utc_timezone());
}

FileTime fileTimeOf(const icaltimetype& t) {
  icaltimetype utc = inUtc(t);
  utc.zone = icaltimezone_get_utc_timezone();
  return fileTimeFromUnix(static_cast<std::int64_t>(icaltime_as_timet_with_zone(utc, utc.zone)));
}

// A named zone of the item's own (not UTC, not floating, not a date).
icaltimezone* displayZone(const icaltimetype& t) {
  if (t.is_date || !t.zone || t.zone == icaltimezone_get_utc_timezone()) return nullptr;
  return const_cast<icaltimezone*>(t.zone);
}

// Midnight of a wall-clock date in the item's zone, as UTC.
FileTime midnight(const LocalDate& d, const icaltimetype& like) {
  icaltimetype t = like;
  t.year = d.year;
  t.month = d.month;
  t.day = d.day;
  t.hour = t.minute = t.second = 0;
  return fileTimeOf(t);
}

std::optional<std::string> classFor(icalproperty_method method, icalcomponent* event, bool attached) {
  switch (method) {
    case ICAL_METHOD_REQUEST: return std::string(kClassMeetingRequest);
    case ICAL_METHOD_CANCEL: return std::string(kClassMeetingCanceled);
    case ICAL_METHOD_REPLY: {
      icalproperty* attendee = icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY);
      switch (attendee ? partStat(attendee) : ICAL_PARTSTAT_NONE) {
        case ICAL_PARTSTAT_ACCEPTED: return std::string(kClassResponseAccepted);
        case ICAL_PARTSTAT_TENTATIVE: return std::string(kClassResponseTentative);
        case ICAL_PARTSTAT_DECLINED: return std::string(kClassResponseDeclined);
        default: return std::nullopt;  // delegation and the like: kept as mail with its .ics
      }
    }
    case ICAL_METHOD_PUBLISH: return std::string(kClassAppointment);
    case ICAL_METHOD_NONE:
      // An event sent in the body is an appointment; an .ics file attached to mail stays a file.
      return attached ? std::nullopt : std::optional<std::string>(kClassAppointment);
    default: return std::nullopt;  // COUNTER, REFRESH, ADD, ...: no Outlook item to hold them
  }
}

icalproperty_method methodOf(icalcomponent* cal, GMimePart* part) {
  icalproperty_method m = icalcomponent_get_method(cal);
  if (m != ICAL_METHOD_NONE) return m;
  const std::string declared = contentTypeParameter(GMIME_OBJECT(part), "method");
  return declared.empty() ? ICAL_METHOD_NONE : icalenum_string_to_method(declared.c_str());
}

struct Events {
  icalcomponent* master = nullptr;
  bool others = false;  // modified instances, or events of another UID
};

Events eventsOf(icalcomponent* cal) {
  Events e;
  for (icalcomponent* c = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT); c;
       c = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT)) {
    const bool instance = icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY) != nullptr;
    if (!e.master && !instance) e.master = c;
  }
  // Only instances: a reply or cancellation of one occurrence; the first stands for the item.
  if (!e.master) e.master = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT);
  int count = 0;
  for (icalcomponent* c = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT); c;
       c = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT)) {
    ++count;
  }
  e.others = count > 1;
  return e;
}

// The series of the event as the recurrence blob, or nullopt with `representable` false when the
// event has a rule the blob cannot state. Occurrences the calendar changes (events of the same UID
// with a RECURRENCE-ID) are left out of the series rather than shown as they were before the
// change; the .ics kept beside the item holds them.
std::optional<Recurrence> recurrenceOf(icalcomponent* cal, icalcomponent* event, const icaltimetype& start,
                                       std::int32_t minutes, bool& representable) {
  representable = true;
  const int rules = icalcomponent_count_properties(event, ICAL_RRULE_PROPERTY);
  const bool rdates = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY) != nullptr;
  if (rules == 0 && !rdates) return std::nullopt;
  representable = false;
  if (rules != 1 || rdates) return std::nullopt;
  icalrecurrencetype rule = icalproperty_get_rrule(icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY));
  if (rule.freq == ICAL_NO_RECURRENCE) return std::nullopt;
  if (!icaltime_is_null_time(rule.until) && !start.is_date && start.zone && rule.until.zone) {
    rule.until = icaltime_convert_to_zone(withSharedZone(rule.until), const_cast<icaltimezone*>(start.zone));
  }
  std::vector<icaltimetype> deleted;
  auto leaveOut = [&](icalproperty* p, icalcomponent* owner) {
    icaltimetype d = withSharedZone(icalproperty_get_datetime_with_component(p, owner));
    if (icaltime_is_null_time(d)) return;
    if (!d.is_date && d.zone && start.zone && !start.is_date) d = icaltime_convert_to_zone(d, const_cast<icaltimezone*>(start.zone));
    deleted.push_back(d);
  };
  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
       p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
    leaveOut(p, event);
  }
  const std::string uid = text(icalcomponent_get_uid(event));
  for (icalcomponent* c = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT); c;
       c = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT)) {
    icalproperty* changed = icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY);
    if (c != event && changed && text(icalcomponent_get_uid(c)) == uid) leaveOut(changed, c);
  }
  std::optional<Recurrence> r = appointmentRecurrence(rule, start, minutes, deleted);
  representable = r.has_value();
  return r;
}

}  // namespace

CalendarMapping mapCalendar(GMimeObject* root, MessageModel& model, bool hasBody) {
  const std::optional<CalendarPart> found = findCalendarPart(root);
  if (!found) return {};
  ComponentPtr cal = parseCalendar(found->part);
  if (!cal) return {};
  const Events events = eventsOf(cal.get());
  icalcomponent* event = events.master;
  if (!event) return {};
  const std::optional<std::string> messageClass = classFor(methodOf(cal.get(), found->part), event, found->attached);
  if (!messageClass) return {};
  const icaltimetype start = withSharedZone(icalcomponent_get_dtstart(event));
  if (icaltime_is_null_time(start) || !icaltime_is_valid_time(start)) return {};
  icaltimetype end = withSharedZone(icalcomponent_get_dtend(event));
  if (icaltime_is_null_time(end) || !icaltime_is_valid_time(end)) {
    // RFC 5545: without an end, an event on a date lasts the day, one at a time takes no time.
    end = start;
    if (start.is_date) icaltime_adjust(&end, 1, 0, 0, 0);
  }
  const FileTime startTime = fileTimeOf(start);
  FileTime endTime = fileTimeOf(end);
  // What the item cannot say as the calendar says it (a floating time, an end before the start)
  // leaves the .ics beside it.
  const bool exact = endTime.ticks >= startTime.ticks && (start.is_date || start.zone) && (end.is_date || end.zone);
  if (endTime.ticks < startTime.ticks) endTime = startTime;
  const auto minutes = static_cast<std::int32_t>(std::min<std::uint64_t>((endTime.ticks - startTime.ticks) / 600'000'000, INT32_MAX));

  const bool isRequest = *messageClass == kClassMeetingRequest;
  const bool isCancel = *messageClass == kClassMeetingCanceled;
  const bool isAppointment = *messageClass == kClassAppointment;
  const bool isReply = !isRequest && !isCancel && !isAppointment;
  PropertyBag& props = model.props;
  props.setNamed(appointment(kLidAppointmentStartWhole), kPtSysTime, startTime);
  props.setNamed(appointment(kLidAppointmentEndWhole), kPtSysTime, endTime);
  props.setNamed(common(kLidCommonStart), kPtSysTime, startTime);
  props.setNamed(common(kLidCommonEnd), kPtSysTime, endTime);
  props.set(kPrStartDate, startTime);
  props.set(kPrEndDate, endTime);
  props.setNamed(appointment(kLidAppointmentDuration), kPtInt32, minutes);
  props.setNamed(appointment(kLidAppointmentSubType), kPtBoolean, static_cast<bool>(start.is_date));
  const std::string location = text(icalcomponent_get_location(event));
  props.setNamed(appointment(kLidLocation), kPtUnicode, location);
  if (!isAppointment) props.setNamed(meeting(kLidWhere), kPtUnicode, location);
  props.setNamed(appointment(kLidAppointmentSequence), kPtInt32, static_cast<std::int32_t>(std::max(icalcomponent_get_sequence(event), 0)));

  // Busy status as the sender's calendar program states it, else from TRANSP; an invitation
  // not yet answered shows tentative in the calendar until it is.
  std::int32_t intended = kBusyBusy;
  if (icalproperty* transp = icalcomponent_get_first_property(event, ICAL_TRANSP_PROPERTY)) {
    if (icalproperty_get_transp(transp) == ICAL_TRANSP_TRANSPARENT) intended = kBusyFree;
  }
  if (auto s = busyStatusNamed(xProperty(event, "X-MICROSOFT-CDO-INTENDEDSTATUS"))) intended = *s;
  std::int32_t busy = isRequest ? kBusyTentative : isCancel ? kBusyFree : intended;
  if (auto s = busyStatusNamed(xProperty(event, "X-MICROSOFT-CDO-BUSYSTATUS"))) busy = *s;
  props.setNamed(appointment(kLidBusyStatus), kPtInt32, busy);
  if (isRequest) props.setNamed(appointment(kLidIntendedBusyStatus), kPtInt32, intended);

  const bool hasPeople = icalcomponent_get_first_property(event, ICAL_ORGANIZER_PROPERTY) ||
                         icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY);
  std::int32_t state = 0;
  if (!isAppointment || hasPeople) state |= kStateMeeting | kStateReceived;
  if (isCancel) state |= kStateCanceled;
  props.setNamed(appointment(kLidAppointmentStateFlags), kPtInt32, state);
  props.setNamed(appointment(kLidResponseStatus), kPtInt32, isRequest ? kResponseNotResponded : kResponseNone);
  if (isRequest) {
    props.setNamed(meeting(kLidMeetingType), kPtInt32, icalcomponent_get_sequence(event) > 0 ? kMeetingTypeFullUpdate : kMeetingTypeNew);
  }

  const std::string uid = text(icalcomponent_get_uid(event));
  if (!uid.empty()) {
    std::optional<InstanceDate> instance;
    const icaltimetype rid = icalcomponent_get_recurrenceid(event);
    if (!icaltime_is_null_time(rid)) instance = InstanceDate{rid.year, rid.month, rid.day};
    props.setNamed(meeting(kLidGlobalObjectId), kPtBinary, globalObjectId(uid, instance));
    props.setNamed(meeting(kLidCleanGlobalObjectId), kPtBinary, cleanGlobalObjectId(uid));
  }

  // Time zones: the zone start and end are shown in, and for a series the zone it recurs in.
  std::optional<ZoneRules> startZone = zoneRules(displayZone(start), start);
  if (startZone) {
    props.setNamed(appointment(kLidTimeZoneDefinitionStartDisplay), kPtBinary, timeZoneDefinition(*startZone));
    props.setNamed(appointment(kLidTimeZoneDescription), kPtUnicode, startZone->name);
  }
  if (std::optional<ZoneRules> endZone = zoneRules(displayZone(end), end)) {
    props.setNamed(appointment(kLidTimeZoneDefinitionEndDisplay), kPtBinary, timeZoneDefinition(*endZone));
  }

  bool representable = true;
  const std::optional<Recurrence> series = recurrenceOf(cal.get(), event, start, minutes, representable);
  props.setNamed(appointment(kLidRecurring), kPtBoolean, series.has_value());
  props.setNamed(meeting(kLidIsRecurring), kPtBoolean, series.has_value());
  if (series) {
    props.setNamed(appointment(kLidAppointmentRecur), kPtBinary, series->blob);
    props.setNamed(appointment(kLidRecurrenceType), kPtInt32, series->recurrenceType);
    props.setNamed(appointment(kLidClipStart), kPtSysTime, midnight(series->firstDate, start));
    // A series without end is clipped at 31 Aug 4500 23:59, as Outlook does.
    props.setNamed(appointment(kLidClipEnd), kPtSysTime,
                   series->lastDate ? midnight(*series->lastDate, start)
                                    : FileTime{static_cast<std::uint64_t>(minutesSince1601(4500, 8, 31) + 1439) * 600'000'000});
    if (startZone) {
      props.setNamed(appointment(kLidTimeZoneStruct), kPtBinary, timeZoneStruct(*startZone));
      props.setNamed(appointment(kLidTimeZoneDefinitionRecur), kPtBinary, timeZoneDefinition(*startZone));
    }
  } else {
    props.setNamed(appointment(kLidClipStart), kPtSysTime, startTime);
    props.setNamed(appointment(kLidClipEnd), kPtSysTime, endTime);
  }

  // A reply's attendee is its sender and its recipient the organizer, as the header says: the
  // row of the organizer's address is only marked as theirs.
  if (!isReply) {
    setAttendees(event, model);
  } else if (icalproperty* org = icalcomponent_get_first_property(event, ICAL_ORGANIZER_PROPERTY)) {
    const std::string organizer = addressOf(icalproperty_get_organizer(org));
    for (Recipient& r : model.recipients) {
      if (sameAddress(rowAddress(r), organizer)) r.props.set(kPrRecipientFlags, kRecipientFlagSendable | kRecipientFlagOrganizer);
    }
  }
  const std::string* subject = props.getAs<std::string>(kPrSubject);
  if (!subject || subject->empty()) {
    const std::string summary = text(icalcomponent_get_summary(event));
    if (!summary.empty()) {
      props.set(kPrSubject, summary);
      props.set(kPrNormalizedSubject, summary);
      props.set(kPrConversationTopic, summary);
    }
  }
  if (!hasBody) {
    const std::string description = text(icalcomponent_get_description(event));
    if (!description.empty()) props.set(kPrBody, toCrlf(description));
  }

  CalendarMapping result;
  result.messageClass = *messageClass;
  // What the item cannot hold stays in the .ics beside it.
  if (!found->attached && exact && representable && !events.others) result.consumedPart = found->part;
  return result;
}

}  // namespace mailfold::mime::detail

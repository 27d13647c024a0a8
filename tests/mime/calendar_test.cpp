// Invitations, replies, cancellations and events become Outlook's meeting and appointment items.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "mime/calendar_properties.h"
#include "mime/importer.h"
#include "pst/messaging/property_tags.h"
#include "support/paths.h"

using namespace mailfold;
using namespace mailfold::pst;
using namespace mailfold::mime::calendar;

namespace {

MessageModel import(const std::string& text) {
  mime::ImportOptions options;
  options.importTime = FileTime{133000000000000000ull};
  return mime::importMessage(std::string_view(text), options, "calendar message");
}

const PropertyValue* named(const MessageModel& m, const NamedPropertyKey& key) {
  for (const NamedProperty& p : m.props.named()) {
    if (p.key == key) return &p.value;
  }
  return nullptr;
}
template <class T>
T namedAs(const MessageModel& m, const NamedPropertyKey& key) {
  const PropertyValue* v = named(m, key);
  EXPECT_TRUE(v && std::holds_alternative<T>(*v)) << "named property " << std::hex << std::get<std::uint32_t>(key.name);
  return v && std::holds_alternative<T>(*v) ? std::get<T>(*v) : T{};
}

std::string cls(const MessageModel& m) { return *m.props.getAs<std::string>(kPrMessageClass); }

// "YYYY-MM-DD HH:MM" in UTC.
std::string utc(FileTime t) {
  const std::time_t seconds = static_cast<std::time_t>(t.ticks / 10'000'000 - 11644473600ll);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

std::uint32_t u32(const Bytes& b, std::size_t at) {
  return at + 4 > b.size() ? 0xDEADBEEF : b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t u16(const Bytes& b, std::size_t at) { return at + 2 > b.size() ? 0xBEEF : static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }

std::vector<std::string> attachmentNames(const MessageModel& m) {
  std::vector<std::string> out;
  for (const Attachment& a : m.attachments) {
    const std::string* n = a.props.getAs<std::string>(kPrDisplayName);
    out.push_back(n ? *n : "?");
  }
  return out;
}

std::string mail(const std::string& ics, const std::string& method = "REQUEST") {
  return "From: Org <org@example.com>\r\nTo: Ann <ann@example.com>, Extra <extra@example.com>\r\nSubject: Plan\r\n"
         "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\n"
         "Content-Type: text/plain\r\n\r\nSee you.\r\n--b\r\nContent-Type: text/calendar; charset=utf-8; method=" +
         method + "\r\n\r\n" + ics + "\r\n--b--\r\n";
}

constexpr const char* kNewYork =
    "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\n"
    "BEGIN:DAYLIGHT\r\nTZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r\nDTSTART:20070311T020000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\r\nEND:DAYLIGHT\r\n"
    "BEGIN:STANDARD\r\nTZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nDTSTART:20071104T020000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";

}  // namespace

TEST(ImportCalendar, InvitationsFromTheSamplesBecomeMeetingRequests) {
  MAILFOLD_REQUIRE_SHARED();
  std::ifstream in(test::sharedDir() / "samples" / "eml" / "simple-java-mail" / "test-messages" / "#552 broken calendar method.eml",
                   std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const MessageModel m = import(text.str());
  EXPECT_EQ(cls(m), kClassMeetingRequest);
  // 17:00-17:30 in Volgograd (UTC+3, no daylight saving time).
  EXPECT_EQ(utc(namedAs<FileTime>(m, appointment(kLidAppointmentStartWhole))), "2024-08-13 14:00");
  EXPECT_EQ(utc(namedAs<FileTime>(m, appointment(kLidAppointmentEndWhole))), "2024-08-13 14:30");
  EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidAppointmentDuration)), 30);
  EXPECT_EQ(namedAs<bool>(m, appointment(kLidAppointmentSubType)), false);
  EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidBusyStatus)), kBusyTentative);
  EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidIntendedBusyStatus)), kBusyBusy);
  const Bytes zone = namedAs<Bytes>(m, appointment(kLidTimeZoneDefinitionStartDisplay));
  ASSERT_GT(zone.size(), 40u);
  EXPECT_EQ(static_cast<std::int32_t>(u32(zone, zone.size() - 44)), -180);  // the rule's bias
  // The organizer first, flagged; the attendee who is the organizer only once; the mailbox the
  // invitation was forwarded to, from the header, last.
  ASSERT_EQ(m.recipients.size(), 3u);
  EXPECT_EQ(*m.recipients[0].props.getAs<std::string>(kPrEmailAddress), "ipopov@citc.ru");
  EXPECT_EQ(*m.recipients[0].props.getAs<std::int32_t>(kPrRecipientFlags), 3);
  EXPECT_EQ(*m.recipients[1].props.getAs<std::string>(kPrEmailAddress), "skyvv1sp@yandex.ru");
  EXPECT_EQ(*m.recipients[1].props.getAs<std::string>(kPrDisplayName), "Попов Иван");
  EXPECT_EQ(*m.recipients[2].props.getAs<std::string>(kPrEmailAddress), "ipopov@yandex.ru");
  // The invitation part is the item now; the .ics file the sender attached stays.
  EXPECT_EQ(attachmentNames(m), std::vector<std::string>{"event.ics"});
  const Bytes id = namedAs<Bytes>(m, meeting(kLidGlobalObjectId));
  const std::string uid = "141zhi60x8914s7bzxzq27i0syandex.ru";
  ASSERT_EQ(id.size(), 40u + 12 + uid.size() + 1);
  EXPECT_EQ(std::string(id.begin() + 40, id.begin() + 48), "vCal-Uid");
  EXPECT_EQ(std::string(id.begin() + 52, id.end() - 1), uid);
  EXPECT_EQ(namedAs<Bytes>(m, meeting(kLidCleanGlobalObjectId)), id);
}

TEST(ImportCalendar, RecurringInvitationWithAnExceptionInADaylightSavingZone) {
  const std::string ics = std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nMETHOD:REQUEST\r\n") + kNewYork +
                          "BEGIN:VEVENT\r\nUID:weekly-1\r\nSEQUENCE:2\r\n"
                          "DTSTART;TZID=America/New_York:20240305T093000\r\nDTEND;TZID=America/New_York:20240305T100000\r\n"
                          "RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH;COUNT=6;WKST=SU\r\n"
                          "EXDATE;TZID=America/New_York:20240321T093000\r\nEXDATE;TZID=America/New_York:20240322T093000\r\n"
                          "ORGANIZER;CN=Org:mailto:org@example.com\r\n"
                          "ATTENDEE;ROLE=REQ-PARTICIPANT;PARTSTAT=ACCEPTED:mailto:ann@example.com\r\n"
                          "ATTENDEE;ROLE=OPT-PARTICIPANT:mailto:bob@example.com\r\n"
                          "ATTENDEE;CUTYPE=ROOM:mailto:room@example.com\r\n"
                          "LOCATION:Room 1\r\nEND:VEVENT\r\n"
                          // The last occurrence moved a day on: left out of the series, kept in the .ics.
                          "BEGIN:VEVENT\r\nUID:weekly-1\r\nRECURRENCE-ID;TZID=America/New_York:20240404T093000\r\n"
                          "DTSTART;TZID=America/New_York:20240405T093000\r\nDTEND;TZID=America/New_York:20240405T100000\r\n"
                          "END:VEVENT\r\nEND:VCALENDAR";
  const MessageModel m = import(mail(ics));
  EXPECT_EQ(cls(m), kClassMeetingRequest);
  // 09:30 EST on 5 March (before the change on the 10th), 14:30 UTC.
  EXPECT_EQ(utc(namedAs<FileTime>(m, appointment(kLidAppointmentStartWhole))), "2024-03-05 14:30");
  EXPECT_EQ(namedAs<std::string>(m, appointment(kLidLocation)), "Room 1");
  EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidAppointmentSequence)), 2);
  EXPECT_EQ(namedAs<std::int32_t>(m, meeting(kLidMeetingType)), kMeetingTypeFullUpdate);
  EXPECT_TRUE(namedAs<bool>(m, appointment(kLidRecurring)));
  EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidRecurrenceType)), 2);

  const Bytes r = namedAs<Bytes>(m, appointment(kLidAppointmentRecur));
  ASSERT_GT(r.size(), 60u);
  EXPECT_EQ(u16(r, 4), 0x200B);  // weekly
  EXPECT_EQ(u16(r, 6), 0x0001);
  EXPECT_EQ(u32(r, 14), 2u);     // every second week
  EXPECT_EQ(u32(r, 22), 0x14u);  // Tuesday and Thursday
  EXPECT_EQ(u32(r, 26), 0x2022u);
  EXPECT_EQ(u32(r, 30), 6u);
  EXPECT_EQ(u32(r, 34), 0u);  // the week starts on Sunday
  // 5, 7, 19, 21 Mar, 2, 4 Apr: the 21st and the moved 4th are deleted, the 22nd is no instance.
  ASSERT_EQ(u32(r, 38), 2u);
  const auto minutes = [](int y, unsigned mo, unsigned d) {  // since 1601
    const std::chrono::sys_days day{std::chrono::year{y} / std::chrono::month{mo} / std::chrono::day{d}};
    return static_cast<std::uint32_t>(day.time_since_epoch().count() * 1440ll + 11644473600ll / 60);
  };
  EXPECT_EQ(u32(r, 42), minutes(2024, 3, 21));
  EXPECT_EQ(u32(r, 46), minutes(2024, 4, 4));
  EXPECT_EQ(u32(r, 50), 0u);  // no modified instances
  EXPECT_EQ(u32(r, 54), minutes(2024, 3, 5));
  EXPECT_EQ(u32(r, 58), minutes(2024, 4, 4));
  EXPECT_EQ(u32(r, 70), 570u);  // 09:30
  EXPECT_EQ(u32(r, 74), 600u);
  EXPECT_EQ(u32(r, 10) % (2 * 10080), u32(r, 10));
  EXPECT_EQ((minutes(2024, 3, 3) - u32(r, 10)) % (2 * 10080), 0u) << "first week not counted from its Sunday";

  const Bytes tz = namedAs<Bytes>(m, appointment(kLidTimeZoneStruct));
  ASSERT_EQ(tz.size(), 48u);
  EXPECT_EQ(static_cast<std::int32_t>(u32(tz, 0)), 300);
  EXPECT_EQ(static_cast<std::int32_t>(u32(tz, 8)), -60);
  EXPECT_EQ(u16(tz, 16), 11);  // to standard time: first Sunday of November, 02:00
  EXPECT_EQ(u16(tz, 18), 0);
  EXPECT_EQ(u16(tz, 20), 1);
  EXPECT_EQ(u16(tz, 22), 2);
  EXPECT_EQ(u16(tz, 34), 3);  // to daylight saving time: second Sunday of March
  EXPECT_EQ(u16(tz, 38), 2);

  // The rows by role are compared through the store (calendar_samples); here what Outlook shows.
  EXPECT_EQ(*m.recipients[1].props.getAs<std::int32_t>(kPrRecipientTrackStatus), kTrackAccepted);
  EXPECT_EQ(namedAs<std::string>(m, appointment(kLidAllAttendeesString)),
            "Ann; Extra; bob@example.com; room@example.com");  // names from the header where the calendar has none
  EXPECT_EQ(*m.props.getAs<std::string>(kPrDisplayTo), "Ann; Extra");
  EXPECT_EQ(attachmentNames(m), std::vector<std::string>{"calendar.ics"});
}

TEST(ImportCalendar, RepliesCancellationsEventsAndWhatCannotBeMapped) {
  MessageModel m;
  // Cancelling one occurrence: the id names that occurrence, the clean id the series.
  const std::string cancel =
      "BEGIN:VCALENDAR\r\nMETHOD:CANCEL\r\nBEGIN:VEVENT\r\nUID:weekly-1\r\nRECURRENCE-ID:20240321T143000Z\r\n"
      "DTSTART:20240321T143000Z\r\nDTEND:20240321T150000Z\r\nSEQUENCE:3\r\nORGANIZER:mailto:org@example.com\r\n"
      "STATUS:CANCELLED\r\nEND:VEVENT\r\nEND:VCALENDAR";
  m = import(mail(cancel, "CANCEL"));
  EXPECT_EQ(cls(m), kClassMeetingCanceled);
  EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidBusyStatus)), kBusyFree);
  EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidAppointmentStateFlags)), kStateMeeting | kStateReceived | kStateCanceled);
  const Bytes id = namedAs<Bytes>(m, meeting(kLidGlobalObjectId));
  Bytes clean = namedAs<Bytes>(m, meeting(kLidCleanGlobalObjectId));
  ASSERT_EQ(id.size(), clean.size());
  EXPECT_EQ(Bytes(id.begin() + 16, id.begin() + 20), (Bytes{0x07, 0xE8, 3, 21}));
  EXPECT_EQ(Bytes(clean.begin() + 16, clean.begin() + 20), (Bytes{0, 0, 0, 0}));

  // A UID that is an Outlook id in hex is that id.
  const std::string hexUid = "040000008200E00074C5B7101A82E00800000000A0C1F4B5A470D901000000000000000010000000F1E2D3C4B5A6978899AABBCCDDEEFF00";
  m = import(mail("BEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nUID:" + hexUid +
                  "\r\nDTSTART:20240305T143000Z\r\nDURATION:PT1H\r\nEND:VEVENT\r\nEND:VCALENDAR"));
  const Bytes exact = namedAs<Bytes>(m, meeting(kLidGlobalObjectId));
  ASSERT_EQ(exact.size(), hexUid.size() / 2);
  EXPECT_EQ(exact[40], 0xF1);
  EXPECT_EQ(utc(namedAs<FileTime>(m, appointment(kLidAppointmentEndWhole))), "2024-03-05 15:30");

  // An all-day event alone in the message: an appointment, its description the body.
  m = import("From: a@example.com\r\nSubject: \r\nContent-Type: text/calendar\r\n\r\nBEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\n"
             "UID:x\r\nSUMMARY:Holiday\r\nDESCRIPTION:Off\\nall day\r\nDTSTART;VALUE=DATE:20241225\r\nTRANSP:TRANSPARENT\r\n"
             "END:VEVENT\r\nEND:VCALENDAR\r\n");
  EXPECT_EQ(cls(m), kClassAppointment);
  EXPECT_TRUE(namedAs<bool>(m, appointment(kLidAppointmentSubType)));
  EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidAppointmentDuration)), 1440);
  EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidBusyStatus)), kBusyFree);
  EXPECT_EQ(*m.props.getAs<std::string>(kPrSubject), "Holiday");
  EXPECT_EQ(*m.props.getAs<std::string>(kPrBody), "Off\r\nall day");
  EXPECT_TRUE(m.attachments.empty());

  // A rule the item cannot state: the first instance, and the .ics beside it.
  m = import(mail("BEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nUID:h\r\nDTSTART:20240305T143000Z\r\n"
                  "DTEND:20240305T150000Z\r\nRRULE:FREQ=HOURLY;COUNT=3\r\nEND:VEVENT\r\nEND:VCALENDAR"));
  EXPECT_EQ(cls(m), kClassMeetingRequest);
  EXPECT_FALSE(namedAs<bool>(m, appointment(kLidRecurring)));
  EXPECT_EQ(named(m, appointment(kLidAppointmentRecur)), nullptr);
  EXPECT_EQ(attachmentNames(m), std::vector<std::string>{"calendar.ics"});

  // Series that would take long to count out, or end in another millennium, keep the .ics too;
  // so does an end before the start, which the item takes to be the start.
  for (const std::string& rule : {std::string("RRULE:FREQ=DAILY;UNTIL=99991231T000000Z"), std::string("RRULE:FREQ=MONTHLY;BYDAY=5MO;COUNT=900"),
                                  std::string("RRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30;COUNT=3")}) {
    m = import(mail("BEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nUID:h\r\nDTSTART:20240305T143000Z\r\n"
                    "DTEND:20240304T150000Z\r\n" + rule + "\r\nEND:VEVENT\r\nEND:VCALENDAR"));
    EXPECT_FALSE(namedAs<bool>(m, appointment(kLidRecurring))) << rule;
    EXPECT_EQ(attachmentNames(m), std::vector<std::string>{"calendar.ics"}) << rule;
    EXPECT_EQ(namedAs<std::int32_t>(m, appointment(kLidAppointmentDuration)), 0);
  }

  // Unreadable calendars and methods without an item stay mail with the part attached.
  for (const std::string& bad : {std::string("BEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nEND:VCALENDAR"), std::string("\x01garbage"),
                                 std::string("BEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nUID:n\r\nEND:VEVENT\r\nEND:VCALENDAR"),
                                 std::string("BEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nUID:n\r\nDTSTART:99999999T999999\r\nEND:VEVENT\r\nEND:VCALENDAR"),
                                 std::string("BEGIN:VCALENDAR\r\nMETHOD:COUNTER\r\nBEGIN:VEVENT\r\nUID:c\r\nDTSTART:20240305T143000Z\r\n"
                                             "END:VEVENT\r\nEND:VCALENDAR")}) {
    m = import(mail(bad));
    EXPECT_EQ(cls(m), kClassNote) << bad;
    EXPECT_EQ(attachmentNames(m), std::vector<std::string>{"calendar.ics"}) << bad;
    EXPECT_EQ(named(m, appointment(kLidAppointmentStartWhole)), nullptr);
  }
}

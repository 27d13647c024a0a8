// A time zone of an iCalendar item as Outlook describes one: a bias and, where the zone keeps
// daylight saving time, the yearly rules for both changes ("last Sunday of March, 02:00").
// Written as PidLidTimeZoneStruct (a recurring series' zone) and as the time zone definitions
// Outlook shows start and end in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pst/bytes.h"

typedef struct _icaltimezone icaltimezone;
struct icaltimetype;

namespace mailfold::mime::calendar {

// A Windows SYSTEMTIME read as a yearly rule: `week` 1..4 is the n-th `dayOfWeek` of `month`,
// 5 its last. All zero when the zone has no such change.
struct ChangeRule {
  std::uint16_t month = 0;
  std::uint16_t dayOfWeek = 0;  // 0 = Sunday
  std::uint16_t week = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
};

struct ZoneRules {
  std::string name;               // the TZID
  std::int32_t bias = 0;          // minutes: UTC = local time + bias
  std::int32_t daylightBias = 0;  // added to `bias` while daylight saving time is in force
  ChangeRule toStandard;
  ChangeRule toDaylight;
  std::uint16_t firstYear = 1601;  // the year the rules are in force from
  bool hasDaylight() const { return toDaylight.month != 0 && toStandard.month != 0; }
};

// The rules of `zone` in force at `at` (a time in that zone). Rules iCalendar can state but
// Outlook cannot (changes on a fixed day of the month, say) give the fixed offset in force at
// `at`. Nullopt for a zone libical has no description of.
std::optional<ZoneRules> zoneRules(icaltimezone* zone, const icaltimetype& at);

// PidLidTimeZoneStruct: 48 bytes.
pst::Bytes timeZoneStruct(const ZoneRules& rules);
// PidLidAppointmentTimeZoneDefinition{StartDisplay,EndDisplay,Recur}: one rule, marked as the
// zone's current one.
pst::Bytes timeZoneDefinition(const ZoneRules& rules);

}  // namespace mailfold::mime::calendar

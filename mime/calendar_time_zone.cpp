#include "mime/calendar_time_zone.h"

#include <libical/ical.h>

#include <algorithm>

#include "mime/text_decoding.h"
#include "pst/ltp/utf16.h"

namespace mailfold::mime::calendar {

namespace {

struct Observance {
  icaltimetype start{};
  int offsetTo = 0;  // seconds east of UTC
  icalproperty* rrule = nullptr;
};

// The observance of one kind (STANDARD or DAYLIGHT) in force in `year`: the latest one that
// starts no later, else the earliest.
std::optional<Observance> observanceFor(icalcomponent* vtimezone, icalcomponent_kind kind, int year) {
  std::optional<Observance> best;
  std::optional<Observance> earliest;
  for (icalcomponent* c = icalcomponent_get_first_component(vtimezone, kind); c;
       c = icalcomponent_get_next_component(vtimezone, kind)) {
    icalproperty* start = icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY);
    icalproperty* offset = icalcomponent_get_first_property(c, ICAL_TZOFFSETTO_PROPERTY);
    if (!start || !offset) continue;
    Observance o{icalproperty_get_dtstart(start), icalproperty_get_tzoffsetto(offset),
                 icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY)};
    if (!earliest || icaltime_compare(o.start, earliest->start) < 0) earliest = o;
    if (o.start.year <= year && (!best || icaltime_compare(o.start, best->start) > 0)) best = o;
  }
  return best ? best : earliest;
}

// The yearly change an observance's RRULE describes, where it is one Outlook can state.
std::optional<ChangeRule> changeRule(const Observance& o, int year) {
  if (!o.rrule) return std::nullopt;
  const icalrecurrencetype r = icalproperty_get_rrule(o.rrule);
  if (r.freq != ICAL_YEARLY_RECURRENCE || r.by_month[0] == ICAL_RECURRENCE_ARRAY_MAX ||
      r.by_month[1] != ICAL_RECURRENCE_ARRAY_MAX || r.by_day[0] == ICAL_RECURRENCE_ARRAY_MAX ||
      r.by_day[1] != ICAL_RECURRENCE_ARRAY_MAX) {
    return std::nullopt;
  }
  if (!icaltime_is_null_time(r.until) && r.until.year < year) return std::nullopt;  // the rule has ended
  ChangeRule rule;
  rule.month = static_cast<std::uint16_t>(r.by_month[0]);
  const int weekday = icalrecurrencetype_day_day_of_week(r.by_day[0]);
  if (weekday < ICAL_SUNDAY_WEEKDAY || weekday > ICAL_SATURDAY_WEEKDAY) return std::nullopt;
  rule.dayOfWeek = static_cast<std::uint16_t>(weekday - ICAL_SUNDAY_WEEKDAY);
  int position = icalrecurrencetype_day_position(r.by_day[0]);
  if (position == 0 && r.by_month_day[0] != ICAL_RECURRENCE_ARRAY_MAX) {
    // The older form: the weekday within a run of seven month days (8..14 is the second).
    const int first = r.by_month_day[0];
    position = first < 0 ? -1 : (first - 1) / 7 + 1;
  }
  if (position == -1) position = 5;
  if (position < 1 || position > 5) return std::nullopt;
  rule.week = static_cast<std::uint16_t>(position);
  rule.hour = static_cast<std::uint16_t>(o.start.hour);
  rule.minute = static_cast<std::uint16_t>(o.start.minute);
  return rule;
}

void put16(pst::Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(pst::Bytes& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  put16(out, u & 0xFFFF);
  put16(out, u >> 16);
}
void putSystemTime(pst::Bytes& out, const ChangeRule& r) {
  for (std::uint16_t v : {std::uint16_t{0}, r.month, r.dayOfWeek, r.week, r.hour, r.minute, std::uint16_t{0}, std::uint16_t{0}}) {
    put16(out, v);
  }
}

}  // namespace

std::optional<ZoneRules> zoneRules(icaltimezone* zone, const icaltimetype& at) {
  if (!zone) return std::nullopt;
  icalcomponent* vtimezone = icaltimezone_get_component(zone);
  if (!vtimezone) return std::nullopt;
  ZoneRules rules;
  const char* tzid = icaltimezone_get_tzid(zone);
  rules.name = validUtf8(tzid ? tzid : "");
  const std::optional<Observance> standard = observanceFor(vtimezone, ICAL_XSTANDARD_COMPONENT, at.year);
  const std::optional<Observance> daylight = observanceFor(vtimezone, ICAL_XDAYLIGHT_COMPONENT, at.year);
  if (standard && daylight) {
    const std::optional<ChangeRule> toStandard = changeRule(*standard, at.year);
    const std::optional<ChangeRule> toDaylight = changeRule(*daylight, at.year);
    if (toStandard && toDaylight) {
      rules.bias = -standard->offsetTo / 60;
      rules.daylightBias = -(daylight->offsetTo - standard->offsetTo) / 60;
      rules.toStandard = *toStandard;
      rules.toDaylight = *toDaylight;
      rules.firstYear = static_cast<std::uint16_t>(std::clamp(std::max(standard->start.year, daylight->start.year), 1601, 30827));
      return rules;
    }
  }
  // No yearly change Outlook can state: the offset in force at the item's time, all year.
  icaltimetype local = at;
  int isDaylight = 0;
  rules.bias = -icaltimezone_get_utc_offset(zone, &local, &isDaylight) / 60;
  rules.firstYear = static_cast<std::uint16_t>(std::clamp(at.year, 1601, 30827));
  return rules;
}

pst::Bytes timeZoneStruct(const ZoneRules& rules) {
  pst::Bytes out;
  put32(out, rules.bias);
  put32(out, 0);  // standard bias
  put32(out, rules.hasDaylight() ? rules.daylightBias : 0);
  put16(out, 0);
  putSystemTime(out, rules.hasDaylight() ? rules.toStandard : ChangeRule{});
  put16(out, 0);
  putSystemTime(out, rules.hasDaylight() ? rules.toDaylight : ChangeRule{});
  return out;
}

pst::Bytes timeZoneDefinition(const ZoneRules& rules) {
  // The key name is UTF-16 without a terminator, at most 260 characters.
  pst::Bytes key = pst::ltp::utf8ToUtf16le(rules.name);
  if (key.size() > 520) key.resize(520);
  pst::Bytes out;
  out.push_back(0x02);  // major version
  out.push_back(0x01);  // minor version
  put16(out, static_cast<std::uint32_t>(6 + key.size()));  // reserved, key length, key, rule count
  put16(out, 0x0002);
  put16(out, static_cast<std::uint32_t>(key.size() / 2));
  out.insert(out.end(), key.begin(), key.end());
  put16(out, 1);
  out.push_back(0x02);
  out.push_back(0x01);
  put16(out, 0x003E);  // size of the rest of the rule
  put16(out, 0x0003);  // the zone's current rule, and the one in force
  put16(out, rules.firstYear);
  out.insert(out.end(), 14, 0);
  put32(out, rules.bias);
  put32(out, 0);
  put32(out, rules.hasDaylight() ? rules.daylightBias : 0);
  putSystemTime(out, rules.hasDaylight() ? rules.toStandard : ChangeRule{});
  putSystemTime(out, rules.hasDaylight() ? rules.toDaylight : ChangeRule{});
  return out;
}

}  // namespace mailfold::mime::calendar

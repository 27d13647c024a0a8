#include "mime/calendar_recurrence.h"

#include <libical/ical.h>

#include <algorithm>
#include <set>

#include "mime/calendar_dates.h"

namespace mailfold::mime::calendar {

namespace {

constexpr std::uint16_t kFrequencyDaily = 0x200A;
constexpr std::uint16_t kFrequencyWeekly = 0x200B;
constexpr std::uint16_t kFrequencyMonthly = 0x200C;
constexpr std::uint16_t kFrequencyYearly = 0x200D;
constexpr std::uint16_t kPatternDay = 0x0000;
constexpr std::uint16_t kPatternWeek = 0x0001;
constexpr std::uint16_t kPatternMonth = 0x0002;
constexpr std::uint16_t kPatternMonthNth = 0x0003;
constexpr std::uint32_t kEndAfterDate = 0x2021;
constexpr std::uint32_t kEndAfterCount = 0x2022;
constexpr std::uint32_t kEndNever = 0x2023;
constexpr std::uint32_t kNoEndDate = 0x5AE980DF;  // 31 Dec 4500, as Outlook writes it
constexpr std::uint32_t kLastWeek = 5;
constexpr std::uint32_t kAllDays = 0x7F;
// A series longer than this is not counted out; Outlook's own limit is far below it.
constexpr int kMaxInstances = 100000;

struct Pattern {
  std::uint16_t frequency = 0;
  std::uint16_t type = 0;
  std::uint32_t period = 0;
  std::uint32_t dayMask = 0;     // week and n-th patterns
  std::uint32_t dayOfMonth = 0;  // month pattern
  std::uint32_t nth = 0;         // n-th pattern: 1..4, 5 for the last
  std::int32_t recurrenceType = 0;
};

template <std::size_t N>
std::vector<int> values(const short (&array)[N]) {
  std::vector<int> out;
  for (std::size_t i = 0; i < N && array[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) out.push_back(array[i]);
  return out;
}

struct Weekday {
  int day;       // 0 = Sunday
  int position;  // 0: every such day
};

std::optional<std::vector<Weekday>> weekdays(const icalrecurrencetype& r) {
  std::vector<Weekday> out;
  for (int v : values(r.by_day)) {
    const int d = icalrecurrencetype_day_day_of_week(static_cast<short>(v));
    if (d < ICAL_SUNDAY_WEEKDAY || d > ICAL_SATURDAY_WEEKDAY) return std::nullopt;
    out.push_back({d - ICAL_SUNDAY_WEEKDAY, icalrecurrencetype_day_position(static_cast<short>(v))});
  }
  return out;
}

std::optional<std::uint32_t> maskOfEveryDay(const std::vector<Weekday>& days) {
  std::uint32_t mask = 0;
  for (const Weekday& w : days) {
    if (w.position != 0) return std::nullopt;
    mask |= 1u << w.day;
  }
  return mask;
}

std::optional<std::uint32_t> nthOf(int position) {
  if (position >= 1 && position <= 4) return static_cast<std::uint32_t>(position);
  if (position == -1) return kLastWeek;
  return std::nullopt;
}

// The monthly part of a monthly or yearly rule: a day of the month, the n-th weekday, or the
// last day.
bool monthlyPart(const icalrecurrencetype& r, const icaltimetype& start, Pattern& p) {
  const std::vector<int> monthDays = values(r.by_month_day);
  const std::vector<int> setPositions = values(r.by_set_pos);
  const std::optional<std::vector<Weekday>> days = weekdays(r);
  if (!days) return false;
  if (!monthDays.empty()) {
    if (monthDays.size() != 1 || !days->empty() || !setPositions.empty()) return false;
    if (monthDays[0] == -1) {
      p.type = kPatternMonthNth;
      p.dayMask = kAllDays;
      p.nth = kLastWeek;
      return true;
    }
    if (monthDays[0] < 1 || monthDays[0] > 31) return false;
    p.type = kPatternMonth;
    p.dayOfMonth = static_cast<std::uint32_t>(monthDays[0]);
    return true;
  }
  if (days->empty()) {
    if (!setPositions.empty()) return false;
    p.type = kPatternMonth;
    p.dayOfMonth = static_cast<std::uint32_t>(start.day);
    return true;
  }
  p.type = kPatternMonthNth;
  if (days->size() == 1 && (*days)[0].position != 0 && setPositions.empty()) {
    const auto nth = nthOf((*days)[0].position);
    if (!nth) return false;
    p.dayMask = 1u << (*days)[0].day;
    p.nth = *nth;
    return true;
  }
  const auto mask = maskOfEveryDay(*days);
  if (!mask || setPositions.size() != 1) return false;
  const auto nth = nthOf(setPositions[0]);
  if (!nth) return false;
  p.dayMask = *mask;
  p.nth = *nth;
  return true;
}

std::optional<Pattern> patternOf(const icalrecurrencetype& r, const icaltimetype& start) {
  if (!values(r.by_second).empty() || !values(r.by_minute).empty() || !values(r.by_hour).empty() ||
      !values(r.by_year_day).empty() || !values(r.by_week_no).empty()) {
    return std::nullopt;
  }
  if (r.count > 0 && !icaltime_is_null_time(r.until)) return std::nullopt;
  const auto interval = static_cast<std::uint32_t>(std::max<short>(r.interval, 1));
  const std::vector<int> months = values(r.by_month);
  const std::optional<std::vector<Weekday>> days = weekdays(r);
  if (!days) return std::nullopt;
  const bool monthlyParts = !values(r.by_month_day).empty() || !values(r.by_set_pos).empty();
  Pattern p;
  switch (r.freq) {
    case ICAL_DAILY_RECURRENCE:
      if (!months.empty() || monthlyParts) return std::nullopt;
      p.frequency = kFrequencyDaily;
      p.recurrenceType = 1;
      if (days->empty()) {
        p.type = kPatternDay;
        p.period = interval * 1440;
        return p;
      }
      // "Every weekday" and the like: a daily rule limited to days of the week, one week apart.
      if (interval != 1) return std::nullopt;
      if (const auto mask = maskOfEveryDay(*days)) {
        p.type = kPatternWeek;
        p.period = 1;
        p.dayMask = *mask;
        return p;
      }
      return std::nullopt;
    case ICAL_WEEKLY_RECURRENCE: {
      if (!months.empty() || monthlyParts) return std::nullopt;
      const auto mask = maskOfEveryDay(*days);
      if (!mask) return std::nullopt;
      p.frequency = kFrequencyWeekly;
      p.type = kPatternWeek;
      p.period = interval;
      p.dayMask = *mask ? *mask : 1u << dayOfWeek(start.year, start.month, start.day);
      p.recurrenceType = 2;
      return p;
    }
    case ICAL_MONTHLY_RECURRENCE:
      if (!months.empty() || !monthlyPart(r, start, p)) return std::nullopt;
      p.frequency = kFrequencyMonthly;
      p.period = interval;
      p.recurrenceType = 3;
      return p;
    case ICAL_YEARLY_RECURRENCE:
      // Outlook's yearly series is one month of the year, the month the series starts in.
      if (months.size() > 1 || (months.size() == 1 && months[0] != start.month)) return std::nullopt;
      if (!monthlyPart(r, start, p)) return std::nullopt;
      p.frequency = kFrequencyYearly;
      p.period = 12 * interval;
      p.recurrenceType = 4;
      return p;
    default:
      return std::nullopt;
  }
}

// Where the pattern's counting starts, in minutes since 1601, reduced by its period.
std::uint32_t firstDateTime(const Pattern& p, const icaltimetype& start, std::uint32_t firstDayOfWeek) {
  const std::int64_t startMinutes = minutesSince1601(start.year, start.month, start.day);
  if (p.type == kPatternDay) return static_cast<std::uint32_t>(startMinutes % p.period);
  if (p.type == kPatternWeek) {
    const int back = (dayOfWeek(start.year, start.month, start.day) - static_cast<int>(firstDayOfWeek) + 7) % 7;
    return static_cast<std::uint32_t>((startMinutes - back * 1440) % (static_cast<std::int64_t>(p.period) * 10080));
  }
  const std::int64_t monthIndex = (static_cast<std::int64_t>(start.year) - 1601) * 12 + start.month - 1;
  const auto offset = static_cast<int>(monthIndex % p.period);
  return static_cast<std::uint32_t>(minutesSince1601(1601 + offset / 12, offset % 12 + 1, 1));
}

void put16(pst::Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(pst::Bytes& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

std::uint32_t minutesOf(const LocalDate& d) { return static_cast<std::uint32_t>(minutesSince1601(d.year, d.month, d.day)); }

}  // namespace

std::optional<Recurrence> appointmentRecurrence(const icalrecurrencetype& rule, const icaltimetype& start,
                                                std::int32_t durationMinutes, const std::vector<icaltimetype>& deleted) {
  if (start.year < 1601 || start.year > 4500) return std::nullopt;
  const std::optional<Pattern> pattern = patternOf(rule, start);
  if (!pattern) return std::nullopt;
  // RFC 5545's week starts on Monday unless WKST says otherwise.
  const std::uint32_t firstDayOfWeek =
      rule.week_start >= ICAL_SUNDAY_WEEKDAY && rule.week_start <= ICAL_SATURDAY_WEEKDAY ? rule.week_start - ICAL_SUNDAY_WEEKDAY : 1;

  // Count the series out in wall-clock time: its last date, and which EXDATEs fall on it.
  std::set<std::int64_t> wanted;
  for (const icaltimetype& d : deleted) {
    if (d.year >= 1601 && d.year <= 4500) wanted.insert(minutesSince1601(d.year, d.month, d.day));
  }
  const bool bounded = rule.count > 0 || !icaltime_is_null_time(rule.until);
  icaltimetype floating = start;
  floating.zone = nullptr;
  icalrecurrencetype iterRule = rule;
  if (!icaltime_is_null_time(iterRule.until)) {
    iterRule.until.zone = nullptr;  // UNTIL was brought into the series' wall-clock time
  }
  icalrecur_iterator* it = icalrecur_iterator_new(iterRule, floating);
  if (!it) return std::nullopt;
  std::vector<std::uint32_t> deletedDates;
  int instances = 0;
  std::optional<LocalDate> last;
  const std::int64_t lastWanted = wanted.empty() ? 0 : *wanted.rbegin();
  for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t); t = icalrecur_iterator_next(it)) {
    const std::int64_t day = minutesSince1601(t.year, t.month, t.day);
    if (!bounded && day > lastWanted) break;
    if (++instances > kMaxInstances || t.year > 4500) {
      icalrecur_iterator_free(it);
      return std::nullopt;
    }
    last = LocalDate{t.year, t.month, t.day};
    if (wanted.count(day)) deletedDates.push_back(static_cast<std::uint32_t>(day));
  }
  icalrecur_iterator_free(it);
  if (bounded && instances == 0) return std::nullopt;

  Recurrence result;
  result.recurrenceType = pattern->recurrenceType;
  result.firstDate = LocalDate{start.year, start.month, start.day};
  if (bounded) result.lastDate = last;
  result.deletedCount = static_cast<int>(deletedDates.size());

  pst::Bytes& b = result.blob;
  put16(b, 0x3004);
  put16(b, 0x3004);
  put16(b, pattern->frequency);
  put16(b, pattern->type);
  put16(b, 0);  // Gregorian
  put32(b, firstDateTime(*pattern, start, firstDayOfWeek));
  put32(b, pattern->period);
  put32(b, 0);  // not sliding
  if (pattern->type == kPatternWeek) put32(b, pattern->dayMask);
  if (pattern->type == kPatternMonth) put32(b, pattern->dayOfMonth);
  if (pattern->type == kPatternMonthNth) {
    put32(b, pattern->dayMask);
    put32(b, pattern->nth);
  }
  if (rule.count > 0) {
    put32(b, kEndAfterCount);
    put32(b, static_cast<std::uint32_t>(instances));
  } else if (bounded) {
    put32(b, kEndAfterDate);
    put32(b, static_cast<std::uint32_t>(instances));
  } else {
    put32(b, kEndNever);
    put32(b, 10);
  }
  put32(b, firstDayOfWeek);
  put32(b, static_cast<std::uint32_t>(deletedDates.size()));
  for (std::uint32_t d : deletedDates) put32(b, d);
  put32(b, 0);  // no modified instances
  put32(b, minutesOf(result.firstDate));
  put32(b, result.lastDate ? minutesOf(*result.lastDate) : kNoEndDate);
  // The appointment part: the times of day of every instance, and no exceptions.
  put32(b, 0x3006);
  put32(b, 0x3008);
  const std::uint32_t startOffset = start.is_date ? 0 : static_cast<std::uint32_t>(start.hour * 60 + start.minute);
  put32(b, startOffset);
  put32(b, startOffset + static_cast<std::uint32_t>(std::max(durationMinutes, 0)));
  put16(b, 0);  // exception count
  put32(b, 0);  // reserved block 1
  put32(b, 0);  // reserved block 2
  return result;
}

}  // namespace mailfold::mime::calendar

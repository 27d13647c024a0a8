// Calendar arithmetic the appointment properties are written in: days and minutes counted from
// 1601-01-01 (the epoch of FILETIME and of the recurrence blob), and FILETIME from Unix time.
#pragma once

#include <cstdint>

#include "pst/messaging/message_model.h"

namespace mailfold::mime::calendar {

// Days from 1970-01-01 to the given proleptic Gregorian date (negative before it).
constexpr std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

inline constexpr std::int64_t kDays1601To1970 = -daysFromCivil(1601, 1, 1);  // 134774

// Minutes from 1601-01-01 00:00 to midnight of the date.
constexpr std::int64_t minutesSince1601(int year, int month, int day) {
  return (daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kDays1601To1970) * 1440;
}

// 0 = Sunday .. 6 = Saturday.
constexpr int dayOfWeek(int year, int month, int day) {
  const std::int64_t d = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return static_cast<int>(((d % 7) + 11) % 7);  // 1970-01-01 was a Thursday
}

inline pst::FileTime fileTimeFromUnix(std::int64_t seconds) {
  const std::int64_t ticks = (seconds + kDays1601To1970 * 86400) * 10'000'000;
  return pst::FileTime{static_cast<std::uint64_t>(ticks < 0 ? 0 : ticks)};
}

}  // namespace mailfold::mime::calendar

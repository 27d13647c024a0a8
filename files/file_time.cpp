#include "files/file_time.h"

namespace mailfold::files {

namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;
constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 1 January 1601 to 30 December 1899, the zero of a date value.
constexpr std::int64_t kDaysFrom1601To1899_12_30 = 109205;
constexpr int kLargestDateYear = 9999;

// Days since 1 January 1601 of the first day of `year` (proleptic Gregorian).
std::int64_t DaysBeforeYear(std::int64_t year) {
  const std::int64_t y = year - 1601;
  return y * 365 + y / 4 - y / 100 + y / 400;
}

}  // namespace

std::uint64_t CombineDWords(std::int32_t low, std::int32_t high) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) |
         static_cast<std::uint64_t>(static_cast<std::uint32_t>(low));
}

bool FileTimeFromTimespec(const struct timespec& ts, std::uint64_t& rawCount) {
  const std::int64_t seconds = static_cast<std::int64_t>(ts.tv_sec) + kSecondsFrom1601To1970;
  if (seconds < 0) return false;
  // A 64-bit count of ticks reaches beyond the year 30000; time_t cannot reach that far
  // before its own range ends, but guard the multiplication anyway.
  if (static_cast<std::uint64_t>(seconds) > UINT64_MAX / kTicksPerSecond - 1) return false;
  rawCount = static_cast<std::uint64_t>(seconds) * kTicksPerSecond + static_cast<std::uint64_t>(ts.tv_nsec / 100);
  return true;
}

bool DateValueFromFileTime(std::uint64_t rawCount, double& dateValue) {
  const std::int64_t totalSeconds = static_cast<std::int64_t>(rawCount / kTicksPerSecond);
  const std::int64_t daysSince1601 = totalSeconds / kSecondsPerDay;
  const std::int64_t secondOfDay = totalSeconds % kSecondsPerDay;
  if (daysSince1601 >= DaysBeforeYear(kLargestDateYear + 1)) return false;

  // Before the zero day a date value counts days downwards but keeps the time of day as a
  // positive fraction: 29 December 1899 06:00 is -1.25.
  const std::int64_t day = daysSince1601 - kDaysFrom1601To1899_12_30;
  const double fraction = static_cast<double>(secondOfDay) / static_cast<double>(kSecondsPerDay);
  dateValue = day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
  return true;
}

void FillFileTimeInfo(const struct timespec& ts, FileTimeInfo& info) {
  std::uint64_t rawCount = 0;
  if (!FileTimeFromTimespec(ts, rawCount)) {
    info.error = true;
    info.rawCount = 0;
    return;
  }
  info.rawCount = rawCount;
  double dateValue = 0.0;
  info.error = !DateValueFromFileTime(rawCount, dateValue);
  if (!info.error) info.dateValue = dateValue;
}

}  // namespace mailfold::files

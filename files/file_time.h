// Timestamps of directory entries: the raw Windows file time (100-nanosecond intervals since
// 1 January 1601, UTC) and the same instant as a date value (days since 30 December 1899 as a
// double, time of day as the fraction, whole seconds), both taken as stored, in UTC.
#pragma once

#include <cstdint>
#include <ctime>

namespace mailfold::files {

struct FileTimeInfo {
  // True when the timestamp could not be turned into a date value; the date value then keeps
  // whatever it held before.
  bool error = false;
  double dateValue = 0.0;
  std::uint64_t rawCount = 0;
};

// high * 4294967296 + low, each half taken as unsigned 32 bits; exact.
std::uint64_t CombineDWords(std::int32_t low, std::int32_t high);

// The file time of a POSIX timestamp; false when the instant lies before 1601 and cannot be
// counted.
bool FileTimeFromTimespec(const struct timespec& ts, std::uint64_t& rawCount);

// The date value of a file time (milliseconds dropped); false when the date lies outside the
// range a date value can hold (years 100 to 9999).
bool DateValueFromFileTime(std::uint64_t rawCount, double& dateValue);

// Fills `info` from a POSIX timestamp: raw count and date value, or the error flag.
void FillFileTimeInfo(const struct timespec& ts, FileTimeInfo& info);

}  // namespace mailfold::files

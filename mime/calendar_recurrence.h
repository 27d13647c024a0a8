// An RRULE as Outlook stores a recurring series (PidLidAppointmentRecur): daily, every weekday,
// weekly on given days, monthly on a day or on the n-th weekday, yearly the same way, each with
// an interval and an end by count, by date or none; EXDATEs as deleted instances. Rules the blob
// cannot state give no recurrence, and the caller keeps only the first instance.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "pst/bytes.h"

struct icalrecurrencetype;
struct icaltimetype;

namespace mailfold::mime::calendar {

struct LocalDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

struct Recurrence {
  pst::Bytes blob;
  std::int32_t recurrenceType = 0;  // PidLidRecurrenceType: 1 daily, 2 weekly, 3 monthly, 4 yearly
  LocalDate firstDate;
  std::optional<LocalDate> lastDate;  // none for a series without end
  int deletedCount = 0;
};

// `start` is the series' first start in its own zone's wall-clock time (or a date, for an
// all-day series); `deleted` the EXDATEs in the same wall-clock time. EXDATEs that are not
// instances of the series are ignored, as they are in iCalendar.
std::optional<Recurrence> appointmentRecurrence(const icalrecurrencetype& rule, const icaltimetype& start,
                                                std::int32_t durationMinutes, const std::vector<icaltimetype>& deleted);

}  // namespace mailfold::mime::calendar

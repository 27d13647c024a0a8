// The global object id of a meeting (PidLidGlobalObjectId, PidLidCleanGlobalObjectId): the
// identity Outlook matches a request, its updates, replies and cancellations by. It is made
// from the iCalendar UID.
#pragma once

#include <optional>
#include <string>

#include "pst/bytes.h"

namespace mailfold::mime::calendar {

struct InstanceDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

// A UID that is itself the hex form of a global object id (as Exchange and Outlook write them)
// gives back those bytes; any other UID is wrapped as "vCal-Uid" data, so that the same UID
// always gives the same id. `instance` is the original date of one occurrence (RECURRENCE-ID):
// it goes into the id, not into the clean id.
pst::Bytes globalObjectId(const std::string& uid, const std::optional<InstanceDate>& instance);
pst::Bytes cleanGlobalObjectId(const std::string& uid);

}  // namespace mailfold::mime::calendar

// Time zones shared between invitations. Every calendar brings its zones as VTIMEZONE
// components, and libical works out a zone's changes from the first rule's start (often 1601 in
// Outlook's invitations) up to the time asked for, anew for each calendar parsed: a mailbox of
// invitations from one organizer would pay for the same four centuries each time. A zone of the
// same definition is worked out once and shared; libical guards the changes it keeps.
#pragma once

#include <libical/ical.h>

namespace mailfold::mime::detail {

// The process's copy of `zone`'s definition (the zone itself for UTC, a built-in zone or none).
// Valid for the life of the process.
icaltimezone* sharedZone(const icaltimezone* zone);

// `t` with its zone replaced by the shared one.
icaltimetype withSharedZone(icaltimetype t);

}  // namespace mailfold::mime::detail

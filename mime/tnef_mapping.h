// A TNEF part (winmail.dat) applied to the message it came with, the way Outlook shows such a
// message: the files and messages it carries become the message's attachments, its compressed
// RTF body joins the bodies the MIME gave, and the properties that describe the message (class,
// importance, sensitivity, named properties such as a meeting's) are set on it.
//
// What the MIME envelope gave (subject, addresses, recipients, times, plain and HTML text) stays
// as the MIME gave it; the TNEF fills in what the MIME cannot say and overrides only the class,
// importance, priority and sensitivity. Properties of the sender's store (entry ids, record and
// instance keys, sizes, flags, status, change keys, store-internal ids) are not carried over:
// they describe a copy that is not this one.
#pragma once

#include "mime/importer.h"
#include "mime/tnef_reader.h"
#include "pst/messaging/message_model.h"

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimePart GMimePart;

namespace mailfold::mime::detail {

// Streams larger than this are not decoded (they stay a winmail.dat attachment).
inline constexpr std::uint64_t kMaxTnefBytes = 256ull << 20;

// application/ms-tnef (or vnd.ms-tnef), or a part named winmail.dat.
bool isTnefPart(GMimeObject* object);

// Decodes the part and applies it to `model`. Returns false, with `model` untouched, when the
// part does not decode: the caller then keeps it as the attachment it is.
bool applyTnefPart(GMimePart* part, pst::MessageModel& model, const ImportOptions& options);

// Applies a decoded stream to a message that already has its MIME envelope and bodies.
void applyTnef(const tnef::Message& tnef, pst::MessageModel& model);

}  // namespace mailfold::mime::detail

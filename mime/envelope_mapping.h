// The envelope of a message onto the model: subject and topic, sender and recipients, reply-to,
// received-by, dates, message ids and conversation index, importance and sensitivity, and the
// transport headers.
#pragma once

#include <string>

#include "mime/message_mapper.h"
#include "pst/messaging/message_model.h"

namespace mailfold::mime::detail {

// `rawHeaders`: the header block as it stands in the file; empty to serialise the parsed one.
void mapEnvelope(GMimeMessage* message, pst::MessageModel& model, const MapContext& ctx, const std::string& rawHeaders);

}  // namespace mailfold::mime::detail

// Delivery reports (RFC 3464) and read reports (RFC 8098) as Outlook keeps reports.
//
// A multipart/report whose status part is message/delivery-status becomes a delivery report:
// REPORT.IPM.Note.NDR when delivery failed for a recipient, else .Delayed.DR, .Relayed.DR,
// .Expanded.DR or .DR after the most severe of the recipients' Action. One whose status part
// is message/disposition-notification becomes a read report: REPORT.IPM.Note.IPNRN when the
// message was displayed, REPORT.IPM.Note.IPNNRN otherwise. The recipient table lists the
// recipients with the severest action, each with its status (supplementary information, the
// status code as a number, the remote MTA, the report's time); the message carries the subject, message id, submit time and addressees of the
// message reported on, taken from the returned message (kept as an attached message) or the
// returned header block. The report's own addressees stay in the transport headers. A report
// without a readable status part (a feedback report, a damaged one) stays a note.
#pragma once

#include <string>

#include "pst/messaging/message_model.h"

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimeParserOptions GMimeParserOptions;

namespace mailfold::mime::detail {

// Maps the report properties onto `model` (whose attachments are already collected) and returns
// the message class; empty, with `model` untouched, when `root` is no report.
std::string mapReport(GMimeObject* root, pst::MessageModel& model, GMimeParserOptions* options);

}  // namespace mailfold::mime::detail

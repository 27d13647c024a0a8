#include "mime/report_mapping.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "mime/address_mapping.h"
#include "mime/gmime_ptr.h"
#include "mime/header_decoding.h"
#include "mime/header_fields.h"
#include "mime/mime_parts.h"
#include "mime/outlook_text_limits.h"
#include "mime/text_decoding.h"
#include "pst/ltp/utf16.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::mime::detail {

using namespace pst;

namespace {

struct Field {
  std::string name;  // lower case
  std::string value;
};

// The fields of a status part in order, folded lines joined; an empty name marks the empty
// line between two groups.
std::vector<Field> statusFields(std::string_view text) {
  std::vector<Field> fields;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t eol = text.find('\n', pos);
    const std::size_t next = eol == std::string_view::npos ? text.size() : eol + 1;
    std::string_view line = text.substr(pos, next - pos);
    pos = next;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
      if (!fields.empty() && !fields.back().name.empty()) fields.push_back({});
      continue;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !fields.empty() && !fields.back().name.empty()) {
      fields.back().value += " " + trim(line);
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    fields.push_back({lowerAscii(trim(line.substr(0, colon))), trim(line.substr(colon + 1))});
  }
  return fields;
}

// "rfc822; user@example.com" -> "user@example.com".
std::string typedValue(const std::string& value) {
  const std::size_t semi = value.find(';');
  std::string v = trim(semi == std::string::npos ? value : value.substr(semi + 1));
  if (v.size() >= 2 && v.front() == '<' && v.back() == '>') v = v.substr(1, v.size() - 2);
  return validUtf8(v);
}

struct ReportedRecipient {
  std::string finalRecipient, originalRecipient, displayName, action, status, remoteMta, diagnostic, supplementaryInfo;
  bool empty() const { return finalRecipient.empty() && originalRecipient.empty() && action.empty(); }
};

struct DeliveryStatus {
  std::string reportingMta;
  std::vector<ReportedRecipient> recipients;
};

// The per-message group first, then one group per recipient. Groups are split at empty lines
// and, where a writer left those out, where a field naming a recipient comes a second time
// (writers put Original-Recipient before or after Final-Recipient).
DeliveryStatus parseDeliveryStatus(std::string_view text) {
  DeliveryStatus dsn;
  ReportedRecipient current;
  auto close = [&] {
    if (!current.empty()) dsn.recipients.push_back(std::move(current));
    current = {};
  };
  for (const Field& f : statusFields(text)) {
    if (f.name.empty()) {
      close();
    } else if (f.name == "reporting-mta") {
      dsn.reportingMta = validUtf8(f.value);
    } else if (f.name == "original-recipient") {
      if (!current.originalRecipient.empty()) close();
      current.originalRecipient = typedValue(f.value);
    } else if (f.name == "final-recipient") {
      if (!current.finalRecipient.empty()) close();
      current.finalRecipient = typedValue(f.value);
    } else if (f.name == "action") {
      current.action = validUtf8(lowerAscii(trim(f.value.substr(0, f.value.find_first_of(" \t(")))));
    } else if (f.name == "status") {
      current.status = validUtf8(trim(f.value.substr(0, f.value.find_first_of(" \t("))));
    } else if (f.name == "remote-mta") {
      current.remoteMta = typedValue(f.value);
    } else if (f.name == "diagnostic-code") {
      current.diagnostic = validUtf8(f.value);
    } else if (f.name == "x-supplementary-info") {
      current.supplementaryInfo = validUtf8(f.value);
    } else if (f.name == "x-display-name") {
      current.displayName = validUtf8(f.value);
    }
  }
  close();
  return dsn;
}

// The most severe of the recipients' actions and the class it gives a delivery report
// (MS-OXCMAIL 2.2.3.7.1.1: failed, delayed, relayed, expanded, delivered). With no action a
// reader knows, a status of class 5 (permanent failure) still says delivery failed; the action
// is then empty and every recipient is reported.
struct Severest {
  std::string action;
  std::string messageClass;  // empty: no delivery report
};

Severest severestAction(const DeliveryStatus& dsn) {
  static constexpr std::pair<const char*, const char*> kBySeverity[] = {
      {"failed", "REPORT.IPM.Note.NDR"},          {"delayed", "REPORT.IPM.Note.Delayed.DR"},
      {"relayed", "REPORT.IPM.Note.Relayed.DR"},  {"expanded", "REPORT.IPM.Note.Expanded.DR"},
      {"delivered", "REPORT.IPM.Note.DR"},
  };
  for (const auto& severity : kBySeverity) {
    const std::string_view action = severity.first;
    if (std::any_of(dsn.recipients.begin(), dsn.recipients.end(), [&](const ReportedRecipient& r) { return r.action == action; })) {
      return {severity.first, severity.second};
    }
  }
  const bool permanent = std::any_of(dsn.recipients.begin(), dsn.recipients.end(),
                                     [](const ReportedRecipient& r) { return r.status.substr(0, 2) == "5."; });
  return {"", permanent ? "REPORT.IPM.Note.NDR" : ""};
}

// "<remote-mta #status diagnostic>" where the report gives no X-Supplementary-Info
// (MS-OXCMAIL 2.2.3.7.1.2).
std::string supplementaryInfo(const ReportedRecipient& r) {
  if (!r.supplementaryInfo.empty()) return r.supplementaryInfo;
  return "<" + r.remoteMta + " #" + r.status + (r.diagnostic.empty() ? "" : " " + r.diagnostic) + ">";
}

// The message reported on, as far as the report returns it.
struct OriginalMessage {
  std::string subject, messageId, displayTo, displayCc;
  std::optional<FileTime> submitTime;
};

std::string displayList(const MessageModel& m, std::int32_t type) {
  std::string display;
  for (const Recipient& r : m.recipients) {
    const std::int32_t* t = r.props.getAs<std::int32_t>(kPrRecipientType);
    const std::string* name = r.props.getAs<std::string>(kPrDisplayName);
    if (!t || *t != type || !name) continue;
    if (!display.empty()) display += "; ";
    display += *name;
  }
  return display;
}

OriginalMessage fromAttachedMessage(const MessageModel& m) {
  OriginalMessage o;
  if (const std::string* s = m.props.getAs<std::string>(kPrSubject)) o.subject = *s;
  if (const std::string* s = m.props.getAs<std::string>(kPrInternetMessageId)) o.messageId = *s;
  if (const FileTime* t = m.props.getAs<FileTime>(kPrClientSubmitTime)) o.submitTime = *t;
  o.displayTo = displayList(m, kRecipientTo);
  o.displayCc = displayList(m, kRecipientCc);
  return o;
}

// A returned header block (text/rfc822-headers) read as the header of a message.
std::optional<OriginalMessage> fromReturnedHeaders(GMimePart* part, GMimeParserOptions* options) {
  const std::string headers = bytesAsString(partBytes(part)) + "\r\n\r\n";
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(headers.data(), headers.size()));
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options));
  if (!message) return std::nullopt;
  auto* object = GMIME_OBJECT(message.get());
  OriginalMessage o;
  o.subject = ltp::utf8PrefixInUtf16Units(decodeUnstructuredHeader(firstRawHeader(object, "Subject").value_or("")), kMaxSubjectUnits);
  o.messageId = headerValue(object, "Message-ID");
  o.submitTime = parseDate(headerValue(object, "Date"));
  o.displayTo = validUtf8(decodeUnstructuredHeader(headerValue(object, "To")));
  o.displayCc = validUtf8(decodeUnstructuredHeader(headerValue(object, "Cc")));
  return o;
}

void setIfNotEmpty(PropertyBag& props, PropTag tag, const std::string& value) {
  if (!value.empty()) props.set(tag, value);
}

// The report's recipient table: the recipients it reports on.
void setReportedRecipients(MessageModel& model, std::vector<Recipient> rows) {
  if (rows.empty()) return;
  model.recipients = std::move(rows);
  model.props.set(kPrDisplayTo, displayList(model, kRecipientTo));
  model.props.set(kPrDisplayCc, std::string());
  model.props.set(kPrDisplayBcc, std::string());
}

// The status code as one number: kind * 100 + subject * 10 + detail, a subject or detail
// beyond 0..9 counting as 0 (MS-OXCMAIL 2.2.3.7.1.3).
std::optional<std::int32_t> statusCode(const std::string& status) {
  int parts[3] = {};
  std::size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? status.find('.', pos) : status.size();
    if (end == std::string::npos || end == pos || end - pos > 3) return std::nullopt;
    int value = 0;
    for (std::size_t k = pos; k < end; ++k) {
      if (status[k] < '0' || status[k] > '9') return std::nullopt;
      value = value * 10 + (status[k] - '0');
    }
    parts[i] = value;
    pos = end + 1;
  }
  if (parts[0] < 2 || parts[0] > 5) return std::nullopt;
  const int subject = parts[1] > 9 ? 0 : parts[1];
  const int detail = parts[2] > 9 ? 0 : parts[2];
  return parts[0] * 100 + subject * 10 + detail;
}

}  // namespace

std::string mapReport(GMimeObject* root, MessageModel& model, GMimeParserOptions* options) {
  if (!root || !GMIME_IS_MULTIPART(root) || !isType(root, "multipart", "report")) return {};
  GMimeMultipart* report = GMIME_MULTIPART(root);
  GMimePart* deliveryStatus = nullptr;
  GMimePart* disposition = nullptr;
  GMimePart* returnedHeaders = nullptr;
  for (int i = 0, n = g_mime_multipart_get_count(report); i < n; ++i) {
    GMimeObject* part = g_mime_multipart_get_part(report, i);
    if (!GMIME_IS_PART(part)) continue;
    if (isType(part, "message", "delivery-status") || isType(part, "message", "global-delivery-status")) {
      if (!deliveryStatus) deliveryStatus = GMIME_PART(part);
    } else if (isType(part, "message", "disposition-notification") ||
               isType(part, "message", "global-disposition-notification")) {
      if (!disposition) disposition = GMIME_PART(part);
    } else if (isType(part, "text", "rfc822-headers") || isType(part, "message", "global-headers")) {
      if (!returnedHeaders) returnedHeaders = GMIME_PART(part);
    }
  }
  if (!deliveryStatus && !disposition) return {};

  std::string messageClass;
  std::vector<Recipient> rows;
  PropertyBag& props = model.props;
  std::string originalMessageId;
  if (deliveryStatus) {
    // As MS-OXCMAIL 2.2.3.7.1 reads a delivery status: the class from the severest action, a
    // recipient row for each recipient with that action.
    const DeliveryStatus dsn = parseDeliveryStatus(bytesAsString(partBytes(deliveryStatus)));
    const Severest severest = severestAction(dsn);
    if (severest.messageClass.empty()) return {};
    messageClass = severest.messageClass;
    setIfNotEmpty(props, kPrReportingMta, dsn.reportingMta);
    const FileTime* sent = props.getAs<FileTime>(kPrClientSubmitTime);
    for (const ReportedRecipient& r : dsn.recipients) {
      if (!severest.action.empty() && r.action != severest.action) continue;
      const std::string& address = r.finalRecipient.empty() ? r.originalRecipient : r.finalRecipient;
      Recipient row = makeRecipient(MailAddress{r.displayName, address}, kRecipientTo);
      row.props.set(kPrSupplementaryInfo, supplementaryInfo(r));
      setIfNotEmpty(row.props, kPrRemoteMta, r.remoteMta);
      if (const auto code = statusCode(r.status)) row.props.set(kPrNdrStatusCode, *code);
      if (sent) {
        row.props.set(kPrReportTime, *sent);
        if (r.action != "failed") row.props.set(kPrDeliverTime, *sent);
      }
      rows.push_back(std::move(row));
    }
  } else {
    ReportedRecipient reader;
    std::string dispositionField;
    for (const Field& f : statusFields(bytesAsString(partBytes(disposition)))) {
      if (f.name == "final-recipient") reader.finalRecipient = typedValue(f.value);
      else if (f.name == "original-recipient") reader.originalRecipient = typedValue(f.value);
      else if (f.name == "original-message-id") originalMessageId = validUtf8(trim(f.value));
      else if (f.name == "disposition") dispositionField = validUtf8(f.value);
    }
    // "manual-action/MDN-sent-manually; displayed/error" -> mode and type.
    const std::size_t semi = dispositionField.find(';');
    const std::string mode = trim(dispositionField.substr(0, semi));
    std::string type = semi == std::string::npos ? std::string() : lowerAscii(trim(dispositionField.substr(semi + 1)));
    type = type.substr(0, type.find_first_of("/ \t"));
    messageClass = type == "displayed" ? "REPORT.IPM.Note.IPNRN" : "REPORT.IPM.Note.IPNNRN";
    setIfNotEmpty(props, kPrReportDisposition, type);
    setIfNotEmpty(props, kPrReportDispositionMode, mode);
    const std::string& address = reader.finalRecipient.empty() ? reader.originalRecipient : reader.finalRecipient;
    if (!address.empty()) rows.push_back(makeRecipient(MailAddress{"", address}, kRecipientTo));
  }
  if (const FileTime* sent = props.getAs<FileTime>(kPrClientSubmitTime)) props.set(kPrReportTime, *sent);

  std::optional<OriginalMessage> original;
  for (const Attachment& a : model.attachments) {
    if (a.embedded) {
      original = fromAttachedMessage(*a.embedded);
      break;
    }
  }
  if (!original && returnedHeaders) original = fromReturnedHeaders(returnedHeaders, options);
  if (original) {
    props.set(kPrOriginalSubject, original->subject);
    setIfNotEmpty(props, kPrOriginalDisplayTo, original->displayTo);
    setIfNotEmpty(props, kPrOriginalDisplayCc, original->displayCc);
    if (originalMessageId.empty()) originalMessageId = original->messageId;
    if (original->submitTime) props.set(kPrOriginalSubmitTime, *original->submitTime);
  }
  setIfNotEmpty(props, kPrOriginalMessageId, originalMessageId);
  setReportedRecipients(model, std::move(rows));
  return messageClass;
}

}  // namespace mailfold::mime::detail

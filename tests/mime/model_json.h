// The fields the fidelity comparison looks at, taken from a message model and written as one
// JSON object per line. A reader of a written store produces the same records, so that one
// comparison script serves both.
#pragma once

#include <glib.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "pst/messaging/message_model.h"
#include "mime/calendar_properties.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::test {

inline std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

inline std::string stringProp(const pst::PropertyBag& bag, pst::PropTag tag) {
  const std::string* s = bag.getAs<std::string>(tag);
  return s ? *s : std::string();
}

// "YYYY-MM-DDTHH:MM:SS" in UTC.
inline std::string isoTime(pst::FileTime t) {
  const std::time_t unixSeconds = static_cast<std::time_t>(t.ticks / 10000000ull) - std::time_t{11644473600};
  std::tm tm{};
  gmtime_r(&unixSeconds, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  return buf;
}

inline std::string sha256Of(const pst::ByteSource& source) {
  GChecksum* sum = g_checksum_new(G_CHECKSUM_SHA256);
  std::vector<std::uint8_t> chunk(1 << 20);
  for (std::uint64_t offset = 0;;) {
    const std::size_t n = source.read(offset, chunk);
    if (n == 0) break;
    g_checksum_update(sum, chunk.data(), static_cast<gssize>(n));
    offset += n;
  }
  std::string hex = g_checksum_get_string(sum);
  g_checksum_free(sum);
  return hex;
}

// The calendar item's class, start, end (UTC), location and organizer; null for mail.
inline std::string calendarJson(const pst::MessageModel& m) {
  using namespace pst;
  namespace cal = mime::calendar;
  const FileTime* start = nullptr;
  const FileTime* end = nullptr;
  const std::string* location = nullptr;
  for (const NamedProperty& p : m.props.named()) {
    if (p.key == cal::appointment(cal::kLidAppointmentStartWhole)) start = std::get_if<FileTime>(&p.value);
    if (p.key == cal::appointment(cal::kLidAppointmentEndWhole)) end = std::get_if<FileTime>(&p.value);
    if (p.key == cal::appointment(cal::kLidLocation)) location = std::get_if<std::string>(&p.value);
  }
  if (!start || !end) return "null";
  std::string organizer;
  for (const Recipient& r : m.recipients) {
    const std::int32_t* flags = r.props.getAs<std::int32_t>(kPrRecipientFlags);
    if (flags && (*flags & cal::kRecipientFlagOrganizer)) organizer = stringProp(r.props, kPrEmailAddress);
  }
  return "{\"class\":" + jsonString(stringProp(m.props, kPrMessageClass)) + ",\"start\":" + jsonString(isoTime(*start)) +
         ",\"end\":" + jsonString(isoTime(*end)) + ",\"location\":" + jsonString(location ? *location : std::string()) +
         ",\"organizer\":" + jsonString(organizer) + "}";
}

inline std::string modelToJson(const std::string& path, const pst::MessageModel& m) {
  using namespace pst;
  std::string j = "{\"path\":" + jsonString(path);
  j += ",\"subject\":" + jsonString(stringProp(m.props, kPrSubject));
  j += ",\"sender_name\":" + jsonString(stringProp(m.props, kPrSentRepresentingName));
  j += ",\"sender_address\":" + jsonString(stringProp(m.props, kPrSentRepresentingEmailAddress));
  for (const auto& [key, type] : {std::pair{"to", kRecipientTo}, std::pair{"cc", kRecipientCc}, std::pair{"bcc", kRecipientBcc}}) {
    j += std::string(",\"") + key + "\":[";
    bool first = true;
    for (const Recipient& r : m.recipients) {
      const std::int32_t* t = r.props.getAs<std::int32_t>(kPrRecipientType);
      if (!t || *t != type) continue;
      j += (first ? "" : ",") + jsonString(stringProp(r.props, kPrEmailAddress));
      first = false;
    }
    j += "]";
  }
  const FileTime* submit = m.props.getAs<FileTime>(kPrClientSubmitTime);
  j += ",\"submit_time\":" + (submit ? jsonString(isoTime(*submit)) : std::string("null"));
  j += ",\"body\":" + jsonString(stringProp(m.props, kPrBody));
  j += std::string(",\"has_html\":") + (m.props.has(kPrHtml) ? "true" : "false");
  j += ",\"message_class\":" + jsonString(stringProp(m.props, kPrMessageClass));
  j += ",\"original_subject\":" + jsonString(stringProp(m.props, kPrOriginalSubject));
  j += ",\"attachments\":[";
  bool first = true;
  for (const Attachment& a : m.attachments) {
    std::string name = stringProp(a.props, kPrAttachLongFilename);
    if (name.empty() && a.embedded) name = stringProp(a.props, kPrDisplayName);
    j += first ? "{" : ",{";
    first = false;
    j += "\"name\":" + jsonString(name);
    j += std::string(",\"embedded\":") + (a.embedded ? "true" : "false");
    const auto* data = a.props.getAs<std::shared_ptr<const ByteSource>>(kPrAttachDataBin);
    if (data && *data) {
      j += ",\"size\":" + std::to_string((*data)->size());
      j += ",\"sha256\":" + jsonString(sha256Of(**data));
    } else {
      j += ",\"size\":null,\"sha256\":null";
    }
    j += "}";
  }
  j += "]";
  j += ",\"calendar\":" + calendarJson(m);
  j += "}";
  return j;
}

}  // namespace mailfold::test

#include "mime/header_fields.h"

#include <gmime/gmime.h>

#include <cstring>

#include "mime/gmime_ptr.h"
#include "mime/header_decoding.h"
#include "mime/text_decoding.h"

namespace mailfold::mime::detail {

using pst::FileTime;

namespace {

FileTime toFileTime(GDateTime* dt) {
  constexpr std::int64_t kEpochDifference = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
  const std::int64_t unixSeconds = g_date_time_to_unix(dt);
  if (unixSeconds < -kEpochDifference) return FileTime{0};
  const auto ticks = static_cast<std::uint64_t>(unixSeconds + kEpochDifference) * 10000000ull +
                     static_cast<std::uint64_t>(g_date_time_get_microsecond(dt)) * 10ull;
  return FileTime{ticks};
}

}  // namespace

std::string headerValue(GMimeObject* object, const char* name, std::size_t limit) {
  const char* v = g_mime_object_get_header(object, name);
  if (!v) return {};
  std::string unfolded = takeString(g_mime_utils_header_unfold(v));
  if (unfolded.size() > limit) unfolded.resize(limit);
  return validUtf8(trim(unfolded));
}

std::optional<FileTime> parseDate(const std::string& text) {
  if (text.empty()) return std::nullopt;
  GDateTimePtr dt(g_mime_utils_header_decode_date(normalizeDateText(text).c_str()));
  if (!dt) return std::nullopt;
  return toFileTime(dt.get());
}

bool sameHeaderName(const char* actual, const char* wanted) {
  if (!actual) return false;
  std::string_view a(actual);
  while (!a.empty() && (a.back() == ' ' || a.back() == '\t')) a.remove_suffix(1);
  return a.size() == std::strlen(wanted) && g_ascii_strncasecmp(a.data(), wanted, a.size()) == 0;
}

std::vector<std::string> rawHeaders(GMimeObject* object, const char* name) {
  std::vector<std::string> values;
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  if (!headers) return values;
  const int count = g_mime_header_list_get_count(headers);
  for (int i = 0; i < count; ++i) {
    GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
    if (sameHeaderName(g_mime_header_get_name(h), name)) values.push_back(orEmpty(g_mime_header_get_raw_value(h)));
  }
  return values;
}

std::optional<std::string> firstRawHeader(GMimeObject* object, const char* name) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  if (!headers) return std::nullopt;
  const int count = g_mime_header_list_get_count(headers);
  for (int i = 0; i < count; ++i) {
    GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
    if (sameHeaderName(g_mime_header_get_name(h), name)) return orEmpty(g_mime_header_get_raw_value(h));
  }
  return std::nullopt;
}

}  // namespace mailfold::mime::detail

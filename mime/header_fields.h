// Header fields of a parsed message or part: values unfolded and made valid UTF-8, the raw
// values of every field of a name, dates.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "pst/messaging/message_model.h"

typedef struct _GMimeObject GMimeObject;

namespace mailfold::mime::detail {

inline constexpr std::size_t kMaxHeaderValueBytes = 64 * 1024;

// A header's decoded value, unfolded, trimmed and made valid UTF-8; empty when absent.
std::string headerValue(GMimeObject* object, const char* name, std::size_t limit = kMaxHeaderValueBytes);

std::optional<pst::FileTime> parseDate(const std::string& text);

// Header names compare without case and without the blanks old writers put before the colon.
bool sameHeaderName(const char* actual, const char* wanted);

// The raw values of every header of that name, in order.
std::vector<std::string> rawHeaders(GMimeObject* object, const char* name);

std::optional<std::string> firstRawHeader(GMimeObject* object, const char* name);

}  // namespace mailfold::mime::detail

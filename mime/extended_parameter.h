// Parameter values in the extended form of RFC 2231 (`filename*=utf-8''caf%C3%A9.pdf`, and the
// numbered sections `filename*0*=...; filename*1=...`), decoded by the importer itself: GMime
// converts them with iconv and, when the declared charset does not take the bytes, falls back to
// the locale's charset (windows-1252 on Windows), so that damaged UTF-8 came out as other
// letters there instead of U+FFFD.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mailfold::mime::detail {

// The value of parameter `name` in the raw value of a Content-Type or Content-Disposition field,
// in UTF-8, when the field gives it in the extended form; nothing when it gives it only plainly
// (or not at all). Sections are joined in their numbered order; a missing charset reads as
// UTF-8 else windows-1252.
std::optional<std::string> extendedParameter(std::string_view fieldValue, std::string_view name);

}  // namespace mailfold::mime::detail

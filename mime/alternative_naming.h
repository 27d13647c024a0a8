// The name of an alternative that is not the body: an unnamed part of a multipart/alternative
// (text/enriched, text/watch-html, a second text/plain, ...) that the body choice passed over.
// It is kept as an attachment, so that nothing of the message is lost, and named after its
// type ("enriched.txt", "x-watch-html.htm") rather than ATTnnnnn.dat, which says nothing.
#pragma once

#include <string>

namespace mailfold::mime::detail {

// `mimeType` is the lower-case type/subtype; `knownExtension` the extension the attachment
// mapping has for it (".dat" for a type it does not know).
std::string alternativeDisplayName(const std::string& mimeType, const std::string& knownExtension);

}  // namespace mailfold::mime::detail

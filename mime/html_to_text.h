// A plain-text rendering of an HTML body, for messages that carry only HTML: mail clients and
// search index the plain body, so an HTML-only message must not have an empty one.
#pragma once

#include <string>
#include <string_view>

namespace mailfold::mime {

// UTF-8 HTML in, UTF-8 text with CRLF line ends out. Tags are dropped, <script>, <style> and
// <head> contents are skipped, block elements and <br> start new lines, entities are decoded,
// runs of white space collapse the way a browser collapses them. The text ends at a NUL in the
// HTML, as Outlook ends a body there.
std::string htmlToText(std::string_view html);

}  // namespace mailfold::mime

// Decoding of unstructured header text (Subject, Thread-Topic) and lenient date reading.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mailfold::mime {

// RFC 2047 encoded words decoded, folding undone, undeclared 8-bit text read as UTF-8 when valid
// and as windows-1252 otherwise. Each encoded word's payload is decoded on its own (so that
// base64 padding inside a run of words loses nothing) and adjacent words in one charset are
// joined before charset conversion (so that a character split across two words survives).
std::string decodeUnstructuredHeader(std::string_view raw);

// Header text for GMime's structured parsers with every encoded word, and every run of
// adjacent ones, replaced by one UTF-8 word holding the text decodeUnstructuredHeader makes of
// it. GMime joins the payloads of adjacent words before decoding them and loses text after
// base64 padding inside such a run ("=?UTF-8?B?TXk=?= =?UTF-8?B?LmNvbQ==?="), and it turns each
// bad byte of a word into '?'; merged, nothing is lost and bad sequences become U+FFFD.
std::string mergeEncodedWordRuns(std::string_view raw);

// A date header made readable to the date parser: a lower-case zone name upper-cased, a
// three-digit offset ("-600") widened to four digits.
std::string normalizeDateText(std::string_view text);

}  // namespace mailfold::mime

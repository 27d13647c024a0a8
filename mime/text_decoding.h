// Text from a message becomes UTF-8: declared charsets converted, undeclared 8-bit text read as
// UTF-8 when it is valid and as windows-1252 otherwise, format=flowed undone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pst/ltp/windows1252.h"

namespace mailfold::mime {

// Well-formed UTF-8: no byte outside a sequence, no sequence cut short, overlong, for a
// surrogate or beyond U+10FFFF. U+0000 is well-formed.
bool isValidUtf8(std::string_view bytes);
// Undeclared 8-bit text: `bytes` when they are valid UTF-8, else read as windows-1252.
std::string validUtf8(std::string_view bytes);
// Text that claims to be UTF-8: each maximal ill-formed subsequence (the longest start of a
// sequence that could still have been well-formed, or else one byte) becomes U+FFFD, the
// substitution the Unicode standard recommends and that browsers and mail readers show.
std::string repairUtf8(std::string_view bytes);

std::string lowerAscii(std::string_view s);
// Without the white space at either end.
std::string trim(std::string_view s);

// windows-1252 to UTF-8 (the store's text layer has it for 32-bit stores' strings).
using pst::ltp::windows1252ToUtf8;

// Converts text in `charset` (a MIME charset name, may be empty or unknown) to UTF-8. Bytes that
// are invalid in the charset become U+FFFD; an unknown or missing charset falls back to UTF-8
// when the bytes are valid UTF-8, else windows-1252. Never fails.
std::string decodeToUtf8(std::string_view bytes, std::string_view charset);

// The Windows code page for a MIME charset name, 0 when there is none we know of.
std::int32_t codePageForCharset(std::string_view charset);

// Undoes format=flowed (soft line breaks are a trailing space; space-stuffing removed; with
// DelSp=yes the trailing space is removed too). Lines are joined with CRLF in the result.
std::string unflowText(std::string_view text, bool delSp);

// Line ends normalised to CRLF, as the Windows mail clients store a plain body.
std::string toCrlf(std::string_view text);

}  // namespace mailfold::mime

#include "mime/text_decoding.h"

#include "pst/ltp/utf16.h"

#include <gmime/gmime.h>
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

namespace mailfold::mime {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed sequence at `i`, or 0 when the bytes from `i` are ill-formed;
// then `badLength` is the length of the maximal subpart to replace (at least 1).
std::size_t sequenceAt(std::string_view s, std::size_t i, std::size_t& badLength) {
  const auto lead = static_cast<unsigned char>(s[i]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;   // the range of the second byte, which rules out overlong forms,
  unsigned char high = 0xBF;  // surrogates and code points beyond U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    badLength = 1;
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const auto c = i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0;
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
      badLength = k;
      return 0;
    }
  }
  return length;
}

std::size_t firstIllFormed(std::string_view s) {
  std::size_t bad = 0;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = sequenceAt(s, i, bad);
    if (n == 0) return i;
    i += n;
  }
  return std::string_view::npos;
}

// Runs iconv over the whole input; invalid sequences become U+FFFD and conversion goes on.
// Returns false when the charset is unknown to iconv.
bool convertWithIconv(std::string_view bytes, const char* fromCharset, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", fromCharset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  out.reserve(bytes.size() + bytes.size() / 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  std::vector<char> buffer(16384);
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ (invalid byte) or EINVAL (truncated sequence): mark it and skip one byte.
    out += kReplacement;
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush any shift state (ISO-2022-JP and the like).
  char* outPtr = buffer.data();
  std::size_t outLeft = buffer.size();
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer.data(), buffer.size() - outLeft);
  iconv_close(cd);
  return true;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) { return firstIllFormed(bytes) == std::string_view::npos; }

std::string repairUtf8(std::string_view bytes) {
  std::size_t i = firstIllFormed(bytes);
  if (i == std::string_view::npos) return std::string(bytes);
  std::string out(bytes.substr(0, i));
  out.reserve(bytes.size() + 16);
  while (i < bytes.size()) {
    std::size_t bad = 0;
    const std::size_t n = sequenceAt(bytes, i, bad);
    if (n > 0) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      out += kReplacement;
      i += bad;
    }
  }
  return out;
}

std::string validUtf8(std::string_view s) { return isValidUtf8(s) ? std::string(s) : windows1252ToUtf8(s); }

std::string lowerAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::string trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

std::string decodeToUtf8(std::string_view bytes, std::string_view charset) {
  const std::string name = lowerAscii(charset);
  const bool pureAscii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
  const bool asciiCompatible = name.empty() || name == "us-ascii" || name == "ascii" || name == "utf-8" ||
                               name == "utf8" || name.rfind("iso-8859", 0) == 0 ||
                               name.rfind("windows-", 0) == 0;
  if (pureAscii && asciiCompatible) return std::string(bytes);
  // Not through iconv: glibc's UTF-8 decoder lets sequences for values beyond U+10FFFF (lead
  // bytes F4 90 and up, F5-FD) pass unchanged.
  if (name == "utf-8" || name == "utf8") return repairUtf8(bytes);
  // Mislabelled mail is common: "us-ascii" or "iso-8859-1" text that really is UTF-8 or
  // windows-1252. Valid multi-byte UTF-8 under an ASCII label is read as UTF-8.
  if (name.empty() || name == "us-ascii" || name == "ascii" || name == "unknown-8bit" || name == "x-unknown") {
    return isValidUtf8(bytes) ? std::string(bytes) : windows1252ToUtf8(bytes);
  }
  // iso-8859-1 is read as its superset windows-1252 (as every mail client does).
  if (name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1" || name == "windows-1252" ||
      name == "cp1252") {
    return windows1252ToUtf8(bytes);
  }
  // Labels that mail clients read as the superset encoding, since senders use the superset's
  // characters under the older name.
  std::string effective = name;
  if (name == "gb2312" || name == "gbk" || name == "x-gbk" || name == "euc-cn") effective = "gb18030";
  else if (name == "ks_c_5601-1987" || name == "euc-kr" || name == "ks_c_5601") effective = "cp949";
  const char* iconvName = g_mime_charset_iconv_name(effective.c_str());
  std::string out;
  // iconv's UTF-8 is only as strict as its decoders: UCS-4, UTF-7 and the like can hand on
  // values beyond U+10FFFF.
  if (iconvName && convertWithIconv(bytes, iconvName, out)) return repairUtf8(out);
  return isValidUtf8(bytes) ? std::string(bytes) : windows1252ToUtf8(bytes);
}

std::int32_t codePageForCharset(std::string_view charset) {
  struct Entry {
    const char* name;
    std::int32_t codePage;
  };
  static constexpr Entry kTable[] = {
      {"us-ascii", 20127},     {"ascii", 20127},         {"utf-8", 65001},       {"utf8", 65001},
      {"utf-7", 65000},        {"utf-16", 1200},         {"utf-16le", 1200},     {"utf-16be", 1201},
      {"iso-8859-1", 28591},   {"latin1", 28591},        {"iso-8859-2", 28592},  {"iso-8859-3", 28593},
      {"iso-8859-4", 28594},   {"iso-8859-5", 28595},    {"iso-8859-6", 28596},  {"iso-8859-7", 28597},
      {"iso-8859-8", 28598},   {"iso-8859-8-i", 38598},  {"iso-8859-9", 28599},  {"iso-8859-13", 28603},
      {"iso-8859-15", 28605},  {"windows-1250", 1250},   {"windows-1251", 1251}, {"windows-1252", 1252},
      {"windows-1253", 1253},  {"windows-1254", 1254},   {"windows-1255", 1255}, {"windows-1256", 1256},
      {"windows-1257", 1257},  {"windows-1258", 1258},   {"cp1252", 1252},       {"koi8-r", 20866},
      {"koi8-u", 21866},       {"iso-2022-jp", 50220},   {"shift_jis", 932},     {"shift-jis", 932},
      {"sjis", 932},           {"euc-jp", 51932},        {"gb2312", 936},        {"gbk", 936},
      {"gb18030", 54936},      {"big5", 950},            {"euc-kr", 51949},      {"ks_c_5601-1987", 949},
      {"iso-2022-kr", 50225},  {"tis-620", 874},         {"windows-874", 874},   {"hz-gb-2312", 52936},
  };
  const std::string name = lowerAscii(charset);
  for (const Entry& e : kTable) {
    if (name == e.name) return e.codePage;
  }
  return 0;
}

std::string unflowText(std::string_view text, bool delSp) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  bool joining = false;
  std::size_t joinQuoteDepth = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    const bool last = end == std::string_view::npos;
    if (last) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (last && line.empty()) break;
    std::size_t depth = 0;
    while (depth < line.size() && line[depth] == '>') ++depth;
    std::string_view content = line.substr(depth);
    if (!content.empty() && content.front() == ' ') content.remove_prefix(1);  // space-stuffing
    // "-- " is the signature separator and never flowed.
    const bool flowed = !content.empty() && content.back() == ' ' && content != "-- ";
    if (joining && depth != joinQuoteDepth) out += "\r\n";  // quote depth changed: not a continuation
    if (!joining || depth != joinQuoteDepth) {
      out.append(depth, '>');
      if (depth > 0) out += ' ';
    }
    if (flowed && delSp) content.remove_suffix(1);
    out += content;
    joining = flowed;
    joinQuoteDepth = depth;
    if (!flowed) out += "\r\n";
    if (last) break;
    pos = end + 1;
  }
  return out;
}

std::string toCrlf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace mailfold::mime

#include "mime/header_decoding.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>

#include "mime/gmime_ptr.h"
#include "mime/text_decoding.h"

namespace mailfold::mime {
namespace {

struct EncodedWord {
  std::string charset;
  std::string bytes;  // payload after transfer decoding
  std::size_t end;    // offset after the word
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The longest encoded word taken, from "=?" up to its "?=": RFC 2047 allows 75 characters,
// longer ones are written all the same.
constexpr std::size_t kMaxEncodedWordBytes = 1024;

// Parses "=?charset?B|Q?payload?=" at `pos`.
std::optional<EncodedWord> encodedWordAt(std::string_view s, std::size_t pos) {
  if (s.compare(pos, 2, "=?") != 0) return std::nullopt;
  // Only as far as the longest word can reach: a field full of "=?" without an end would
  // otherwise be searched to its end from each of them.
  s = s.substr(0, std::min(s.size(), pos + kMaxEncodedWordBytes + 2));
  const std::size_t q1 = s.find('?', pos + 2);
  if (q1 == std::string_view::npos || q1 + 2 >= s.size() || s[q1 + 2] != '?') return std::nullopt;
  const char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(s[q1 + 1])));
  if (encoding != 'B' && encoding != 'Q') return std::nullopt;
  const std::size_t payloadStart = q1 + 3;
  const std::size_t close = s.find("?=", payloadStart);
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view payload = s.substr(payloadStart, close - payloadStart);
  // Blanks are not allowed in a word, but senders put them into Q words and readers accept them.
  const char* forbidden = encoding == 'Q' ? "\r\n" : " \t\r\n";
  if (payload.find_first_of(forbidden) != std::string_view::npos) return std::nullopt;
  EncodedWord w;
  w.charset.assign(s.substr(pos + 2, q1 - pos - 2));
  if (const std::size_t star = w.charset.find('*'); star != std::string::npos) w.charset.resize(star);  // RFC 2231 language
  w.end = close + 2;
  if (encoding == 'B') {
    std::string padded(payload);
    while (padded.size() % 4 != 0) padded += '=';
    gsize len = 0;
    detail::GCharPtr decoded(reinterpret_cast<char*>(g_base64_decode(padded.c_str(), &len)));
    if (decoded) w.bytes.assign(decoded.get(), len);
  } else {
    for (std::size_t i = 0; i < payload.size(); ++i) {
      const char c = payload[i];
      if (c == '_') {
        w.bytes += ' ';
      } else if (c == '=' && i + 2 < payload.size() && hexValue(payload[i + 1]) >= 0 && hexValue(payload[i + 2]) >= 0) {
        w.bytes += static_cast<char>(hexValue(payload[i + 1]) * 16 + hexValue(payload[i + 2]));
        i += 2;
      } else {
        w.bytes += c;
      }
    }
  }
  return w;
}

}  // namespace

std::string decodeUnstructuredHeader(std::string_view raw) {
  const std::string unfolded = detail::takeString(g_mime_utils_header_unfold(std::string(raw).c_str()));
  std::string_view s = unfolded;
  std::string out;
  std::string pendingCharset;
  std::string pendingBytes;
  auto flush = [&] {
    if (!pendingBytes.empty()) out += decodeToUtf8(pendingBytes, pendingCharset);
    pendingBytes.clear();
    pendingCharset.clear();
  };
  std::size_t pos = 0;
  std::string plain;  // undecoded text since the last encoded word
  while (pos < s.size()) {
    if (s[pos] == '=' && pos + 1 < s.size() && s[pos + 1] == '?') {
      if (auto word = encodedWordAt(s, pos)) {
        // White space between two encoded words is not part of the text.
        const bool onlyBlanks = plain.find_first_not_of(" \t") == std::string::npos;
        if (!(onlyBlanks && !pendingBytes.empty())) {
          flush();
          out += decodeToUtf8(plain, "");
        }
        plain.clear();
        if (!pendingBytes.empty() && g_ascii_strcasecmp(pendingCharset.c_str(), word->charset.c_str()) != 0) flush();
        pendingCharset = word->charset;
        pendingBytes += word->bytes;
        pos = word->end;
        continue;
      }
    }
    plain += s[pos++];
  }
  flush();
  out += decodeToUtf8(plain, "");
  // Control characters other than tab have no place in a one-line header.
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = ' ';
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
  std::size_t lead = 0;
  while (lead < out.size() && (out[lead] == ' ' || out[lead] == '\t')) ++lead;
  return out.substr(lead);
}

std::string mergeEncodedWordRuns(std::string_view raw) {
  std::string out;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    const std::size_t start = raw.find("=?", pos);
    if (start == std::string_view::npos) break;
    auto first = encodedWordAt(raw, start);
    if (!first) {
      out.append(raw.substr(pos, start + 2 - pos));
      pos = start + 2;
      continue;
    }
    // Extend the run over words separated by white space only.
    std::size_t end = first->end;
    for (;;) {
      std::size_t next = end;
      while (next < raw.size() && (raw[next] == ' ' || raw[next] == '\t' || raw[next] == '\r' || raw[next] == '\n')) ++next;
      auto word = next < raw.size() ? encodedWordAt(raw, next) : std::nullopt;
      if (!word) break;
      end = word->end;
    }
    out.append(raw.substr(pos, start - pos));
    const std::string text = decodeUnstructuredHeader(raw.substr(start, end - start));
    out += "=?UTF-8?B?" + detail::takeString(g_base64_encode(reinterpret_cast<const guchar*>(text.data()), text.size())) + "?=";
    pos = end;
  }
  out.append(raw.substr(std::min(pos, raw.size())));
  return out;
}

std::string normalizeDateText(std::string_view text) {
  std::string s(text);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  // Drop a trailing comment such as "(PDT)": the offset before it carries the zone.
  if (!s.empty() && s.back() == ')') {
    const std::size_t open = s.rfind('(');
    if (open != std::string::npos) {
      s.resize(open);
      while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    }
  }
  const std::size_t space = s.find_last_of(" \t");
  if (space == std::string::npos) return s;
  std::string zone = s.substr(space + 1);
  if (zone.size() == 4 && (zone[0] == '+' || zone[0] == '-') && std::isdigit(static_cast<unsigned char>(zone[1])) &&
      std::isdigit(static_cast<unsigned char>(zone[2])) && std::isdigit(static_cast<unsigned char>(zone[3]))) {
    zone = std::string(1, zone[0]) + "0" + zone.substr(1);
  } else {
    bool alpha = !zone.empty();
    for (char& c : zone) {
      if (!std::isalpha(static_cast<unsigned char>(c))) alpha = false;
    }
    if (alpha) {
      for (char& c : zone) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return s.substr(0, space + 1) + zone;
}

}  // namespace mailfold::mime

#include "mime/uuencode_blocks.h"

#include <gmime/gmime.h>

#include <cctype>

namespace mailfold::mime {
namespace {

struct Line {
  std::size_t begin;  // offset of the first character
  std::size_t next;   // offset after the line end
  std::string_view content;  // without CR/LF
};

Line lineAt(std::string_view text, std::size_t pos) {
  std::size_t end = text.find('\n', pos);
  const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
  if (end == std::string_view::npos) end = text.size();
  std::string_view content = text.substr(pos, end - pos);
  if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
  return {pos, next, content};
}

// "begin 644 name": the mode is three or four octal digits, the name the rest of the line.
bool parseBeginLine(std::string_view line, std::string& name) {
  if (line.substr(0, 6) != "begin ") return false;
  std::size_t i = 6;
  std::size_t digits = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '7') {
    ++i;
    ++digits;
  }
  if (digits < 3 || digits > 4 || i >= line.size() || line[i] != ' ') return false;
  std::string_view rest = line.substr(i + 1);
  while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) rest.remove_suffix(1);
  if (rest.empty()) return false;
  name.assign(rest);
  return true;
}

pst::Bytes decodeBlock(std::string_view encodedLines) {
  pst::Bytes out(encodedLines.size() + 3);
  int state = GMIME_UUDECODE_STATE_BEGIN;
  guint32 save = 0;
  const std::size_t n = g_mime_encoding_uudecode_step(reinterpret_cast<const unsigned char*>(encodedLines.data()),
                                                      encodedLines.size(), out.data(), &state, &save);
  out.resize(n);
  return out;
}

}  // namespace

UuencodeSplit extractUuencodedFiles(std::string_view text) {
  UuencodeSplit result;
  std::size_t copiedUpTo = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const Line line = lineAt(text, pos);
    std::string name;
    if (!parseBeginLine(line.content, name)) {
      pos = line.next;
      continue;
    }
    // Gather the encoded lines (CR removed) up to "end".
    std::string encoded;
    std::size_t scan = line.next;
    bool closed = false;
    while (scan < text.size()) {
      const Line body = lineAt(text, scan);
      scan = body.next;
      if (body.content == "end") {
        closed = true;
        break;
      }
      encoded.append(body.content);
      encoded += '\n';
    }
    if (!closed) break;  // no end line: leave the rest as text
    result.text.append(text.substr(copiedUpTo, line.begin - copiedUpTo));
    result.files.push_back({std::move(name), decodeBlock(encoded)});
    copiedUpTo = scan;
    pos = scan;
  }
  result.text.append(text.substr(copiedUpTo));
  return result;
}

}  // namespace mailfold::mime

#include "mime/structure_repair.h"

#include <gmime/gmime.h>

#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mime/gmime_ptr.h"
#include "mime/header_fields.h"
#include "mime/mime_parts.h"
#include "mime/text_decoding.h"

namespace mailfold::mime::detail {

namespace {

// Parses one entity (header block, empty line, content) held in memory. The parser keeps its
// own copy of the bytes.
GMimeObject* parseEntity(const std::string& bytes, GMimeParserOptions* options) {
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  return g_mime_parser_construct_part(parser.get(), options);
}

// The raw (still transfer-encoded) content of a leaf part.
std::string rawContent(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  GMimeStream* stream = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
  if (!stream) return {};
  GObjectPtr<GMimeStream> mem(g_mime_stream_mem_new());
  g_mime_stream_reset(stream);
  g_mime_stream_write_to_stream(stream, mem.get());
  GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  return array ? std::string(reinterpret_cast<const char*>(array->data), array->len) : std::string();
}

// A leaf part whose first Content-Type says otherwise: the type is set from the first field,
// and a part that the first field makes a multipart or a message is parsed again as one.
// Returns the new object to put in its place, or null.
GMimeObject* firstContentTypeWins(GMimeObject* object, GMimeParserOptions* options) {
  if (!GMIME_IS_PART(object)) return nullptr;
  const std::vector<std::string> types = rawHeaders(object, "Content-Type");
  if (types.size() < 2) return nullptr;
  GObjectPtr<GMimeContentType> first(g_mime_content_type_parse(options, trim(types.front()).c_str()));
  if (!first) return nullptr;
  const std::string wanted = lowerAscii(takeString(g_mime_content_type_get_mime_type(first.get())));
  if (wanted == mimeType(object)) return nullptr;
  const bool container = g_mime_content_type_is_type(first.get(), "multipart", "*") ||
                         g_mime_content_type_is_type(first.get(), "message", "rfc822");
  if (!container) {
    g_mime_object_set_content_type(object, first.get());
    return nullptr;
  }
  std::string entity;
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  bool typeWritten = false;
  for (int i = 0, n = g_mime_header_list_get_count(headers); i < n; ++i) {
    GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
    const char* name = g_mime_header_get_name(h);
    if (sameHeaderName(name, "Content-Type")) {
      if (typeWritten) continue;
      typeWritten = true;
    }
    entity += std::string(name) + ":" + orEmpty(g_mime_header_get_raw_value(h));
    if (entity.back() != '\n') entity += "\r\n";
  }
  entity += "\r\n" + rawContent(GMIME_PART(object));
  GMimeObject* reparsed = parseEntity(entity, options);
  // Read as the last field had it, the preamble was the body: it is kept as a text file, as
  // no reader shows the preamble of a multipart.
  // (A multipart without parts is left to recoverParts, which finds them in that preamble.)
  if (reparsed && GMIME_IS_MULTIPART(reparsed) && g_mime_multipart_get_count(GMIME_MULTIPART(reparsed)) > 0) {
    const char* preamble = g_mime_multipart_get_prologue(GMIME_MULTIPART(reparsed));
    if (preamble && std::string_view(preamble).find_first_not_of(" \t\r\n") != std::string_view::npos) {
      const std::string file = "Content-Type: text/plain; name=preamble.txt\r\nContent-Disposition: attachment; filename=preamble.txt\r\n\r\n" +
                               std::string(preamble);
      if (GMimeObject* part = parseEntity(file, options)) {
        g_mime_multipart_add(GMIME_MULTIPART(reparsed), part);
        g_object_unref(part);
      }
    }
  }
  return reparsed;
}

// 0: not a boundary line of `boundary`; 1: a delimiter; 2: the closing delimiter. Blanks may
// follow either (RFC 2046 allows trailing whitespace).
int boundaryLine(std::string_view line, std::string_view boundary) {
  if (line.size() < boundary.size() + 2 || line.substr(0, 2) != "--" || line.substr(2, boundary.size()) != boundary) return 0;
  std::string_view rest = line.substr(2 + boundary.size());
  const bool closing = rest.substr(0, 2) == "--";
  if (closing) rest.remove_prefix(2);
  if (rest.find_first_not_of(" \t\r\n") != std::string_view::npos) return 0;
  return closing ? 2 : 1;
}

// The entities between the lines of `boundary`, each without the line break that belongs to
// the boundary line after it. Content before the first line is the preamble, after the closing
// line the epilogue; with no closing line the last entity runs to the end.
std::vector<std::string_view> splitAtBoundary(std::string_view text, std::string_view boundary) {
  std::vector<std::string_view> entities;
  std::size_t entityStart = std::string_view::npos;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t eol = text.find('\n', pos);
    const std::size_t next = eol == std::string_view::npos ? text.size() : eol + 1;
    const int kind = boundaryLine(text.substr(pos, next - pos), boundary);
    if (kind != 0) {
      if (entityStart != std::string_view::npos) {
        std::size_t end = pos;
        if (end > entityStart && text[end - 1] == '\n') --end;
        if (end > entityStart && text[end - 1] == '\r') --end;
        entities.push_back(text.substr(entityStart, end - entityStart));
      }
      if (kind == 2) return entities;
      entityStart = next;
    }
    pos = next;
  }
  if (entityStart != std::string_view::npos) entities.push_back(text.substr(entityStart));
  return entities;
}

// True when `text` starts with a header block (a field, or the empty line of an entity
// without fields).
bool startsWithHeaders(std::string_view text) {
  if (text.substr(0, 1) == "\n" || text.substr(0, 2) == "\r\n") return true;
  const std::size_t colon = text.find(':');
  const std::size_t lineEnd = text.find('\n');
  if (colon == 0 || colon == std::string_view::npos || (lineEnd != std::string_view::npos && lineEnd < colon)) return false;
  for (char c : text.substr(0, colon)) {
    if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 127) return false;
  }
  return true;
}

// A "boundary=" anywhere in the raw Content-Type, also where no ";" sets it off.
std::string boundaryInRawField(GMimeObject* object) {
  const auto raw = firstRawHeader(object, "Content-Type");
  if (!raw) return {};
  const std::string lower = lowerAscii(*raw);
  const std::size_t at = lower.find("boundary=");
  if (at == std::string::npos) return {};
  std::string_view value = std::string_view(*raw).substr(at + 9);
  if (!value.empty() && value.front() == '"') {
    value.remove_prefix(1);
    return std::string(value.substr(0, value.find('"')));
  }
  return std::string(value.substr(0, value.find_first_of(" \t\r\n;")));
}

// The boundary of the first line that starts with "--" (and has more than blanks after it).
std::string boundaryOfFirstDelimiterLine(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t eol = text.find('\n', pos);
    const std::size_t next = eol == std::string_view::npos ? text.size() : eol + 1;
    std::string_view line = text.substr(pos, next - pos);
    if (line.substr(0, 2) == "--") {
      line.remove_prefix(2);
      const std::size_t end = line.find_last_not_of(" \t\r\n");
      if (end != std::string_view::npos) return std::string(line.substr(0, end + 1));
    }
    pos = next;
  }
  return {};
}

// Gives a multipart that GMime found no parts in the parts its prologue holds.
void recoverParts(GMimeMultipart* multipart, GMimeParserOptions* options) {
  if (g_mime_multipart_get_count(multipart) != 0) return;
  const char* prologue = g_mime_multipart_get_prologue(multipart);
  if (!prologue || !*prologue) return;
  const std::string_view text(prologue);
  auto* object = GMIME_OBJECT(multipart);
  std::vector<std::string> candidates{orEmpty(g_mime_multipart_get_boundary(multipart)), boundaryInRawField(object)};
  std::string guessed = boundaryOfFirstDelimiterLine(text);
  // A guessed "boundary" that ends in "--" may be a closing line; its delimiters lack that.
  candidates.push_back(guessed);
  if (guessed.size() > 2 && guessed.compare(guessed.size() - 2, 2, "--") == 0) candidates.push_back(guessed.substr(0, guessed.size() - 2));
  std::vector<GMimeObject*> parts;
  for (const std::string& boundary : candidates) {
    if (boundary.empty()) continue;
    for (std::string_view entity : splitAtBoundary(text, boundary)) {
      // An entity without a header block is content with the default type.
      const std::string bytes = startsWithHeaders(entity) ? std::string(entity) : "\r\n" + std::string(entity);
      if (GMimeObject* part = parseEntity(bytes, options)) parts.push_back(part);
    }
    if (!parts.empty()) break;
  }
  if (parts.empty()) {
    // No boundary at all: the whole content is one text part, so that it shows as the body.
    if (GMimeObject* part = parseEntity("Content-Type: text/plain\r\n\r\n" + std::string(text), options)) parts.push_back(part);
  }
  for (GMimeObject* part : parts) {
    g_mime_multipart_add(multipart, part);
    g_object_unref(part);
  }
  g_mime_multipart_set_prologue(multipart, nullptr);
}

void repairTree(GMimeObject* object, GMimeParserOptions* options, const std::function<void(GMimeObject*)>& replace,
                int depth) {
  if (depth > kMaxMultipartDepth) return;
  if (GMimeObject* reparsed = firstContentTypeWins(object, options)) {
    replace(reparsed);
    object = reparsed;
    g_object_unref(reparsed);  // the parent holds it now
  }
  if (!GMIME_IS_MULTIPART(object)) return;
  GMimeMultipart* multipart = GMIME_MULTIPART(object);
  recoverParts(multipart, options);
  for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
    repairTree(g_mime_multipart_get_part(multipart, i), options, [&](GMimeObject* replacement) {
      GObjectPtr<GMimeObject> old(g_mime_multipart_replace(multipart, i, replacement));
    }, depth + 1);
  }
}

}  // namespace

void repairStructure(GMimeMessage* message, GMimeParserOptions* options) {
  GMimeObject* root = g_mime_message_get_mime_part(message);
  if (!root) return;
  repairTree(root, options, [&](GMimeObject* replacement) { g_mime_message_set_mime_part(message, replacement); }, 0);
}

}  // namespace mailfold::mime::detail

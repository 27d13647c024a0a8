#include "mime/mime_parts.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "mime/base64_decoding.h"
#include "mime/gmime_ptr.h"
#include "mime/header_fields.h"
#include "mime/temp_file_source.h"
#include "mime/text_decoding.h"

namespace mailfold::mime::detail {

using namespace pst;

namespace {

// A Content-Type without a subtype ("text", "application-x-gzip") is invalid, and an invalid
// type means text/plain; GMime reads it as application/octet-stream instead.
bool hasInvalidContentType(GMimeObject* object) {
  if (GMIME_IS_MULTIPART(object) || GMIME_IS_MESSAGE_PART(object)) return false;
  const auto raw = firstRawHeader(object, "Content-Type");
  if (!raw) return false;
  const std::string value = trim(*raw);
  const std::size_t semi = value.find(';');
  return value.substr(0, semi).find('/') == std::string::npos;
}

// Reads up to `size` bytes at absolute position `at` of the stream a part's content lies in
// (which may be past the part's own end); returns how many were read.
std::size_t peekSource(GMimeStream* stream, gint64 at, char* out, std::size_t size) {
  if (at < 0) return 0;
  // A memory stream reads past its buffer when asked for bytes beyond it: stay inside.
  if (GMIME_IS_STREAM_MEM(stream)) {
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    const gint64 available = array ? static_cast<gint64>(array->len) - at : 0;
    if (available <= 0) return 0;
    size = std::min<std::size_t>(size, static_cast<std::size_t>(available));
  }
  GObjectPtr<GMimeStream> window(g_mime_stream_substream(stream, at, at + static_cast<gint64>(size)));
  if (!window) return 0;
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = g_mime_stream_read(window.get(), out + got, size - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

// The content of a leaf part as GMime holds it, still transfer-encoded. The line break before
// a boundary belongs to the boundary. GMime cuts as many bytes as the line breaks of the file
// are long, so a part that ends in a bare LF inside a CRLF file loses its last byte, and at the
// closing boundary of some files a part keeps the CR of the CRLF. The end is set again from the
// bytes around it: the content ends right before the line break that precedes "--".
GObjectPtr<GMimeDataWrapper> contentOf(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return nullptr;
  g_object_ref(content);
  GObjectPtr<GMimeDataWrapper> result(content);
  GMimeStream* stream = g_mime_data_wrapper_get_stream(content);
  if (!stream || stream->bound_end < 0 || stream->bound_end < stream->bound_start) return result;
  const gint64 start = stream->bound_start;
  const gint64 end = stream->bound_end;
  // The last byte of the content (if any) and the three after it.
  char around[4] = {};
  const bool empty = end == start;
  const std::size_t got = peekSource(stream, empty ? end : end - 1, empty ? around + 1 : around, empty ? 3 : 4);
  if (got != (empty ? 3u : 4u)) return result;
  gint64 fixedEnd = end;
  if (!empty && around[0] == '\r' && std::string_view(around + 1, 3) == "\n--") fixedEnd = end - 1;
  else if (around[1] != '\r' && std::string_view(around + 2, 2) == "\n-" && peekSource(stream, end + 3, around, 1) == 1 && around[0] == '-') {
    fixedEnd = end + 1;
  }
  if (fixedEnd == end) return result;
  GObjectPtr<GMimeStream> fixed(g_mime_stream_substream(stream, start, fixedEnd));
  result.reset(g_mime_data_wrapper_new_with_stream(fixed.get(), g_mime_data_wrapper_get_encoding(content)));
  return result;
}

bool isBase64(GMimeDataWrapper* content) {
  return g_mime_data_wrapper_get_encoding(content) == GMIME_CONTENT_ENCODING_BASE64;
}

// Base64 content is decoded here rather than by GMime, which drops an unpadded final quantum
// (see base64_decoding.h). Each decoded piece goes to `sink`; false when the content could not
// be read to its end.
template <typename Sink>
bool decodeBase64Content(GMimeDataWrapper* content, Sink&& sink) {
  GMimeStream* raw = g_mime_data_wrapper_get_stream(content);
  if (!raw) return true;
  if (g_mime_stream_reset(raw) < 0) return false;
  Base64Decoder decoder;
  std::string chunk(64 * 1024, '\0');
  Bytes decoded;
  // A file stream refuses a read at its end (-1) rather than returning 0: ask first.
  bool complete = true;
  while (!g_mime_stream_eos(raw)) {
    const ssize_t n = g_mime_stream_read(raw, chunk.data(), chunk.size());
    if (n < 0) complete = false;
    if (n <= 0) break;
    decoded.clear();
    decoder.decode(std::string_view(chunk.data(), static_cast<std::size_t>(n)), decoded);
    if (!sink(decoded)) return false;
  }
  // What was read is written, also when the rest could not be.
  decoded.clear();
  decoder.finish(decoded);
  return sink(decoded) && complete;
}

}  // namespace

std::string mimeType(GMimeObject* object) {
  GMimeContentType* ct = g_mime_object_get_content_type(object);
  if (!ct || hasInvalidContentType(object)) return "text/plain";
  // GMime keeps what the field holds, 8-bit bytes included.
  return validUtf8(lowerAscii(takeString(g_mime_content_type_get_mime_type(ct))));
}

bool isType(GMimeObject* object, const char* type, const char* subtype) {
  GMimeContentType* ct = g_mime_object_get_content_type(object);
  if (!ct || hasInvalidContentType(object)) return std::strcmp(type, "text") == 0 && std::strcmp(subtype, "plain") == 0;
  return g_mime_content_type_is_type(ct, type, subtype);
}

std::string contentTypeParameter(GMimeObject* object, const char* name) {
  return orEmpty(g_mime_object_get_content_type_parameter(object, name));
}

bool isAttachmentDisposed(GMimeObject* object) {
  GMimeContentDisposition* d = g_mime_object_get_content_disposition(object);
  return d && g_mime_content_disposition_is_attachment(d);
}

Bytes partBytes(GMimePart* part) {
  GObjectPtr<GMimeDataWrapper> content = contentOf(part);
  if (!content) return {};
  if (isBase64(content.get())) {
    Bytes out;
    decodeBase64Content(content.get(), [&](const Bytes& piece) {
      out.insert(out.end(), piece.begin(), piece.end());
      return true;
    });
    return out;
  }
  GObjectPtr<GMimeStream> mem(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(content.get(), mem.get());
  GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  return array ? Bytes(array->data, array->data + array->len) : Bytes{};
}

std::string bytesAsString(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::shared_ptr<const ByteSource> partDataSource(GMimePart* part, const ImportOptions& options) {
  GObjectPtr<GMimeDataWrapper> owned = contentOf(part);
  GMimeDataWrapper* content = owned.get();
  if (!content) return std::make_shared<MemorySource>(Bytes{});
  GMimeStream* encoded = g_mime_data_wrapper_get_stream(content);
  const gint64 encodedLength = encoded ? g_mime_stream_length(encoded) : 0;
  if (encodedLength >= 0 && static_cast<std::uint64_t>(encodedLength) <= options.inMemoryAttachmentLimit) {
    return std::make_shared<MemorySource>(partBytes(part));
  }
  auto file = std::make_shared<TempFileSource>(options.tempDirectory);
  const int fd = dup(file->fd());
  if (fd < 0) throw pst::Error(pst::ErrorKind::kIo, "cannot duplicate a temporary file descriptor for attachment data");
  GObjectPtr<GMimeStream> out(g_mime_stream_fs_new(fd));
  const bool written =
      isBase64(content) ? decodeBase64Content(content, [&](const Bytes& piece) {
        return piece.empty() || g_mime_stream_write(out.get(), reinterpret_cast<const char*>(piece.data()), piece.size()) ==
                                    static_cast<ssize_t>(piece.size());
      })
                        : g_mime_data_wrapper_write_to_stream(content, out.get()) >= 0;
  if (!written || g_mime_stream_flush(out.get()) != 0) {
    throw pst::Error(pst::ErrorKind::kIo, "cannot write attachment data to a temporary file (disk full?)");
  }
  out.reset();
  file->finish();
  return file;
}

}  // namespace mailfold::mime::detail

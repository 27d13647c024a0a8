#include "mime/mime_parts.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <cstring>

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

// The content of a leaf part as GMime holds it, still transfer-encoded. The line break before
// a boundary belongs to the boundary; GMime leaves the CR of a CRLF file at the end of the last
// part of a multipart (the one before the closing boundary), so that part loses a final CR here.
GObjectPtr<GMimeDataWrapper> contentOf(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return nullptr;
  g_object_ref(content);
  GObjectPtr<GMimeDataWrapper> result(content);
  GMimeObject* object = GMIME_OBJECT(part);
  GMimeStream* stream = g_mime_data_wrapper_get_stream(content);
  if (!stream || !object->headers || !g_object_get_data(G_OBJECT(part), "mailfold-last-in-multipart")) return result;
  const gint64 length = g_mime_stream_length(stream);
  if (length <= 0) return result;
  const gint64 saved = g_mime_stream_tell(stream);
  char last = 0;
  const bool ok = g_mime_stream_seek(stream, stream->bound_start + length - 1, GMIME_STREAM_SEEK_SET) >= 0 &&
                  g_mime_stream_read(stream, &last, 1) == 1;
  g_mime_stream_seek(stream, saved, GMIME_STREAM_SEEK_SET);
  if (!ok || last != '\r') return result;
  GObjectPtr<GMimeStream> trimmed(g_mime_stream_substream(stream, stream->bound_start, stream->bound_start + length - 1));
  result.reset(g_mime_data_wrapper_new_with_stream(trimmed.get(), g_mime_data_wrapper_get_encoding(content)));
  return result;
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

void markMultipartChildren(GMimeObject* object, int depth) {
  if (depth > kMaxMultipartDepth || !GMIME_IS_MULTIPART(object)) return;
  GMimeMultipart* multipart = GMIME_MULTIPART(object);
  const int count = g_mime_multipart_get_count(multipart);
  for (int i = 0; i < count; ++i) {
    GMimeObject* child = g_mime_multipart_get_part(multipart, i);
    if (i == count - 1) g_object_set_data(G_OBJECT(child), "mailfold-last-in-multipart", GINT_TO_POINTER(1));
    markMultipartChildren(child, depth + 1);
  }
}

Bytes partBytes(GMimePart* part) {
  GObjectPtr<GMimeDataWrapper> content = contentOf(part);
  if (!content) return {};
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
  if (g_mime_data_wrapper_write_to_stream(content, out.get()) < 0 || g_mime_stream_flush(out.get()) != 0) {
    throw pst::Error(pst::ErrorKind::kIo, "cannot write attachment data to a temporary file (disk full?)");
  }
  out.reset();
  file->finish();
  return file;
}

}  // namespace mailfold::mime::detail

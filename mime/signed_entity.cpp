#include "mime/signed_entity.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <cctype>
#include <optional>

#include "mime/gmime_ptr.h"
#include "mime/temp_file_source.h"

namespace mailfold::mime::detail {
namespace {

// Offset just past the empty line that ends the header block, if `head` holds it.
std::optional<std::size_t> bodyOffset(std::string_view head) {
  if (head.starts_with("\n")) return 1;
  if (head.starts_with("\r\n")) return 2;
  for (std::size_t pos = 0;;) {
    const std::size_t eol = head.find('\n', pos);
    if (eol == std::string_view::npos) return std::nullopt;
    const std::size_t next = eol + 1;
    if (next < head.size() && head[next] == '\n') return next + 1;
    if (next + 1 < head.size() && head[next] == '\r' && head[next + 1] == '\n') return next + 2;
    pos = next;
  }
}

bool startsWithContentField(std::string_view line) {
  constexpr std::string_view prefix = "content-";
  if (line.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (static_cast<char>(std::tolower(static_cast<unsigned char>(line[i]))) != prefix[i]) return false;
  }
  return true;
}

// Copies `in` to `out` through a filter that makes bare LF line ends CRLF.
void copyAsCrlf(GMimeStream* in, GMimeStream* out, const std::string& what) {
  GObjectPtr<GMimeStream> filtered(g_mime_stream_filter_new(out));
  GObjectPtr<GMimeFilter> crlf(g_mime_filter_unix2dos_new(FALSE));
  g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), crlf.get());
  if (g_mime_stream_write_to_stream(in, filtered.get()) < 0 || g_mime_stream_flush(filtered.get()) != 0) {
    throw pst::Error(pst::ErrorKind::kIo, "cannot copy the signed entity " + what);
  }
}

}  // namespace

std::string contentHeaderFields(std::string_view headerBlock) {
  std::string fields;
  bool inContentField = false;
  for (std::size_t pos = 0; pos < headerBlock.size();) {
    std::size_t eol = headerBlock.find('\n', pos);
    if (eol == std::string_view::npos) eol = headerBlock.size();
    std::string_view line = headerBlock.substr(pos, eol - pos);
    pos = eol + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) break;
    const bool continuation = line.front() == ' ' || line.front() == '\t';
    if (!continuation) inContentField = startsWithContentField(line);
    if (inContentField) {
      fields += line;
      fields += "\r\n";
    }
  }
  return fields;
}

std::shared_ptr<const pst::ByteSource> signedEntityFromFile(GMimeStream* message, std::uint64_t messageStart,
                                                            std::string_view head, const ImportOptions& options) {
  const std::optional<std::size_t> offset = bodyOffset(head);
  if (!offset) return nullptr;
  const std::string fields = contentHeaderFields(head.substr(0, *offset)) + "\r\n";

  const gint64 total = g_mime_stream_length(message);
  const auto bodyStart = static_cast<gint64>(messageStart + *offset);
  if (total < 0 || bodyStart > total) return nullptr;
  GObjectPtr<GMimeStream> body(g_mime_stream_substream(message, bodyStart, total));
  if (!body) throw pst::Error(pst::ErrorKind::kIo, "cannot read the body of the signed message");

  if (static_cast<std::uint64_t>(total - bodyStart) <= options.inMemoryAttachmentLimit) {
    GObjectPtr<GMimeStream> mem(g_mime_stream_mem_new());
    g_mime_stream_write(mem.get(), fields.data(), fields.size());
    copyAsCrlf(body.get(), mem.get(), "into memory");
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    return std::make_shared<pst::MemorySource>(array ? pst::Bytes(array->data, array->data + array->len) : pst::Bytes{});
  }
  auto file = std::make_shared<TempFileSource>(options.tempDirectory);
  const int fd = dup(file->fd());
  if (fd < 0) throw pst::Error(pst::ErrorKind::kIo, "cannot duplicate a temporary file descriptor for the signed entity");
  GObjectPtr<GMimeStream> out(g_mime_stream_fs_new(fd));
  if (g_mime_stream_write(out.get(), fields.data(), fields.size()) != static_cast<gssize>(fields.size())) {
    throw pst::Error(pst::ErrorKind::kIo, "cannot write the signed entity to a temporary file (disk full?)");
  }
  copyAsCrlf(body.get(), out.get(), "to a temporary file (disk full?)");
  out.reset();
  file->finish();
  return file;
}

}  // namespace mailfold::mime::detail

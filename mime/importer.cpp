#include "mime/importer.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include "files/runtime_io_win32.h"
#endif
#include "mime/gmime_ptr.h"
#include "mime/message_mapper.h"
#include "mime/signed_entity.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::mime {
namespace {

using detail::GObjectPtr;

// How much of the start of a file is looked at to decide whether it is a message at all.
constexpr std::size_t kSniffBytes = 64 * 1024;
// A message file up to this size is read in one go and parsed from memory: the parser reads a
// file stream in small pieces and seeks before each (about 25 system calls for a typical
// message). Larger files are parsed from the file, so that memory does not follow their size.
constexpr std::size_t kReadWholeBytes = 4 * 1024 * 1024;

struct ParserSetup {
  GMimeParserOptions* options = nullptr;
};

// GMime is initialised once per process; the parser options are made once and only read after.
const ParserSetup& gmime() {
  static std::once_flag once;
  static ParserSetup setup;
  std::call_once(once, [] {
    g_mime_init();
    setup.options = g_mime_parser_options_new();
    // Encoded words where RFC 2047 does not allow them (inside quoted strings and parameters,
    // run into other text) are decoded by the importer itself (header_decoding.h): GMime's
    // loose decoding searches from each "=?" to the end of the field for its "?=", so that a
    // field full of them takes time in the square of its length.
    g_mime_parser_options_set_rfc2047_compliance_mode(setup.options, GMIME_RFC_COMPLIANCE_STRICT);
    g_mime_parser_options_set_address_compliance_mode(setup.options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(setup.options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_allow_addresses_without_domain(setup.options, TRUE);
    // Undeclared 8-bit header text: UTF-8 when it is valid, else windows-1252.
    const char* fallback[] = {"UTF-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(setup.options, fallback);
  });
  return setup;
}

pst::FileTime nowAsFileTime() {
  using namespace std::chrono;
  const auto since1970 = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return pst::FileTime{static_cast<std::uint64_t>(since1970 + 11644473600LL * 1000000LL) * 10ull};
}

// A header field at the start: a name of printable ASCII (no blank, no colon), then a colon.
bool startsWithHeaderField(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && i < 998) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ':') return i > 0;
    if (c <= 32 || c >= 127) {
      // Some writers put blanks between the name and its colon ("Subject : x").
      if ((c == ' ' || c == '\t') && i > 0) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        return i < text.size() && text[i] == ':';
      }
      return false;
    }
    ++i;
  }
  return false;
}

// Where the message itself starts: after a UTF-8 byte-order mark, an mbox "From " line, lines
// of blanks that some tools leave before the header (an empty line would end the header block,
// so it is not skipped) and blanks before the first field name. A line that starts with a blank
// continues the field before it; the first has none to continue, so the grammar of RFC 5322 has
// no reading for it. Readers go on (Python's email package notes a defect and carries on with
// the fields that follow); here the field is kept.
std::size_t messageStart(std::string_view head) {
  std::size_t pos = 0;
  if (head.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  if (head.substr(pos, 5) == "From ") {
    const std::size_t eol = head.find('\n', pos);
    pos = eol == std::string_view::npos ? head.size() : eol + 1;
  }
  for (;;) {
    const std::size_t eol = head.find('\n', pos);
    if (eol == std::string_view::npos) break;
    const std::string_view line = head.substr(pos, eol - pos);
    const bool blanks = !line.empty() && line != "\r" && line.find_first_not_of(" \t\r") == std::string_view::npos;
    if (!blanks) break;
    pos = eol + 1;
  }
  const std::size_t name = head.find_first_not_of(" \t", pos);
  if (name != pos && name != std::string_view::npos && startsWithHeaderField(head.substr(name))) pos = name;
  return pos;
}

// The header block: everything up to the first empty line (or all of `head` when it holds none).
std::string headerBlock(std::string_view head) {
  for (std::size_t pos = 0; pos < head.size();) {
    const std::size_t eol = head.find('\n', pos);
    if (eol == std::string_view::npos) break;
    const std::size_t next = eol + 1;
    if (next < head.size() && (head[next] == '\n' || (head[next] == '\r' && next + 1 < head.size() && head[next + 1] == '\n'))) {
      return std::string(head.substr(0, next));
    }
    pos = next;
  }
  return std::string(head);
}

GMimeMessage* parseMessage(GMimeStream* stream, GMimeParserOptions* options) {
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  return g_mime_parser_construct_message(parser.get(), options);
}

pst::MessageModel parseAndMap(GMimeStream* stream, std::string_view head, std::uint64_t totalSize,
                              const ImportOptions& options, const std::string& sourceName) {
  const ParserSetup& setup = gmime();
  if (totalSize == 0) throw ImportError(pst::ErrorKind::kBadInput, sourceName + ": not a mail message: the file is empty");
  const std::size_t start = messageStart(head);
  if (!startsWithHeaderField(head.substr(start))) {
    throw ImportError(pst::ErrorKind::kBadInput, sourceName + ": not a mail message: no header field at the start of the file");
  }
  const std::string rawHeaders = headerBlock(head.substr(start));

  GObjectPtr<GMimeStream> body(g_mime_stream_substream(stream, static_cast<gint64>(start), -1));
  GObjectPtr<GMimeMessage> message(parseMessage(body.get(), setup.options));
  if (!message) {
    // GMime gives up on a file that ends inside a field name (a download cut short); with the
    // line ended, the fields before it parse. Any other file it fails on fails again.
    GObjectPtr<GMimeStream> ended(g_mime_stream_cat_new());
    GObjectPtr<GMimeStream> newline(g_mime_stream_mem_new_with_buffer("\n", 1));
    g_mime_stream_cat_add_source(GMIME_STREAM_CAT(ended.get()), body.get());
    g_mime_stream_cat_add_source(GMIME_STREAM_CAT(ended.get()), newline.get());
    g_mime_stream_reset(body.get());
    message.reset(parseMessage(ended.get(), setup.options));
  }
  if (!message) throw ImportError(pst::ErrorKind::kBadInput, sourceName + ": not a mail message: no header could be parsed");

  detail::MapContext ctx{options, options.importTime.value_or(nowAsFileTime()), setup.options};
  ctx.signedEntityFromSource = [&] { return detail::signedEntityFromFile(stream, start, head.substr(start), options); };
  return detail::mapMessage(message.get(), ctx, 0, rawHeaders, totalSize);
}

}  // namespace

pst::MessageModel importMessageFile(const std::string& path, const ImportOptions& options) {
  gmime();
  // O_NONBLOCK: opening a FIFO (or a device) for reading must not wait for a writer; it is
  // refused below. Regular files ignore the flag.
#ifdef _WIN32
  const int fd = files::OpenForReading(path);  // UTF-8 path, binary mode
  if (fd < 0 && errno == EISDIR) throw ImportError(pst::ErrorKind::kBadInput, path + ": not a regular file");
#else
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
#endif
  if (fd < 0) throw ImportError(errno == ENOENT ? pst::ErrorKind::kNotFound : pst::ErrorKind::kIo, path + ": cannot open: " + std::strerror(errno));
  GObjectPtr<GMimeStream> stream(g_mime_stream_fs_new(fd));  // owns fd from here on
  struct stat st {};
  if (fstat(fd, &st) != 0) throw ImportError(pst::ErrorKind::kIo, path + ": cannot read its size: " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw ImportError(pst::ErrorKind::kBadInput, path + ": not a regular file");

  const std::size_t headLimit = std::max(kSniffBytes, options.maxTransportHeaderBytes + 4096);
  if (static_cast<std::uint64_t>(st.st_size) <= kReadWholeBytes) {
    // Read to its end (a file that grew since fstat is read whole up to the limit).
    GByteArray* bytes = g_byte_array_sized_new(static_cast<guint>(st.st_size) + 1);
    GObjectPtr<GMimeStream> memory(g_mime_stream_mem_new_with_byte_array(bytes));
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(memory.get()), TRUE);  // frees `bytes` with it
    char chunk[64 * 1024];
    bool whole = true;
    for (;;) {
      const ssize_t n = g_mime_stream_read(stream.get(), chunk, sizeof chunk);
      if (n < 0) throw ImportError(pst::ErrorKind::kIo, path + ": read error: " + std::strerror(errno));
      if (n == 0) break;
      if (bytes->len + static_cast<std::size_t>(n) > kReadWholeBytes) {
        whole = false;
        break;
      }
      g_byte_array_append(bytes, reinterpret_cast<const guint8*>(chunk), static_cast<guint>(n));
    }
    if (whole) {
      const std::string_view all(reinterpret_cast<const char*>(bytes->data), bytes->len);
      return parseAndMap(memory.get(), all.substr(0, std::min(all.size(), headLimit)), all.size(), options, path);
    }
    g_mime_stream_reset(stream.get());
  }

  // The head of the file: enough for the sniff test and for the header block kept verbatim.
  std::string head(std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size), headLimit), '\0');
  std::size_t got = 0;
  while (got < head.size()) {
    const ssize_t n = g_mime_stream_read(stream.get(), head.data() + got, head.size() - got);
    if (n < 0) throw ImportError(pst::ErrorKind::kIo, path + ": read error: " + std::strerror(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  head.resize(got);
  g_mime_stream_reset(stream.get());
  return parseAndMap(stream.get(), head, static_cast<std::uint64_t>(st.st_size), options, path);
}

pst::MessageModel importMessage(std::string_view bytes, const ImportOptions& options, const std::string& sourceName) {
  gmime();
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  const std::size_t headLimit = std::max(kSniffBytes, options.maxTransportHeaderBytes + 4096);
  return parseAndMap(stream.get(), bytes.substr(0, std::min(bytes.size(), headLimit)), bytes.size(), options,
                     sourceName);
}

pst::MessageModel importMessage(std::span<const std::uint8_t> bytes, const ImportOptions& options,
                                const std::string& sourceName) {
  return importMessage(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), options,
                       sourceName);
}

}  // namespace mailfold::mime

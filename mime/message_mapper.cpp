#include "mime/message_mapper.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "mime/address_mapping.h"
#include "mime/conversation_index.h"
#include "mime/gmime_ptr.h"
#include "mime/header_decoding.h"
#include "mime/html_to_text.h"
#include "mime/outlook_text_limits.h"
#include "mime/temp_file_source.h"
#include "mime/text_decoding.h"
#include "mime/uuencode_blocks.h"
#include "pst/messaging/property_tags.h"
#include "pst/ltp/utf16.h"

namespace mailfold::mime::detail {
namespace {

using namespace pst;

// Multipart trees deeper than this are not walked further (their parts are not lost from the
// source file, but a message built to exhaust the stack is not followed all the way down).
constexpr int kMaxMultipartDepth = 64;
constexpr std::size_t kMaxReferencesBytes = 64 * 1024;
constexpr std::size_t kMaxHeaderValueBytes = 64 * 1024;

// ---------------------------------------------------------------------------------------------
// Small helpers

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

std::string validUtf8(std::string_view s) { return isValidUtf8(s) ? std::string(s) : windows1252ToUtf8(s); }

// A header's decoded value, unfolded, trimmed and made valid UTF-8; empty when absent.
std::string headerValue(GMimeObject* object, const char* name, std::size_t limit = kMaxHeaderValueBytes) {
  const char* v = g_mime_object_get_header(object, name);
  if (!v) return {};
  std::string unfolded = takeString(g_mime_utils_header_unfold(v));
  if (unfolded.size() > limit) unfolded.resize(limit);
  return validUtf8(trim(unfolded));
}

FileTime toFileTime(GDateTime* dt) {
  constexpr std::int64_t kEpochDifference = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
  const std::int64_t unixSeconds = g_date_time_to_unix(dt);
  if (unixSeconds < -kEpochDifference) return FileTime{0};
  const auto ticks = static_cast<std::uint64_t>(unixSeconds + kEpochDifference) * 10000000ull +
                     static_cast<std::uint64_t>(g_date_time_get_microsecond(dt)) * 10ull;
  return FileTime{ticks};
}

std::optional<FileTime> parseDate(const std::string& text) {
  if (text.empty()) return std::nullopt;
  GDateTimePtr dt(g_mime_utils_header_decode_date(normalizeDateText(text).c_str()));
  if (!dt) return std::nullopt;
  return toFileTime(dt.get());
}

// Header names compare without case and without the blanks old writers put before the colon.
bool sameHeaderName(const char* actual, const char* wanted) {
  if (!actual) return false;
  std::string_view a(actual);
  while (!a.empty() && (a.back() == ' ' || a.back() == '\t')) a.remove_suffix(1);
  return a.size() == std::strlen(wanted) && g_ascii_strncasecmp(a.data(), wanted, a.size()) == 0;
}

// The raw values of every header of that name, in order.
std::vector<std::string> rawHeaders(GMimeObject* object, const char* name) {
  std::vector<std::string> values;
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  if (!headers) return values;
  const int count = g_mime_header_list_get_count(headers);
  for (int i = 0; i < count; ++i) {
    GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
    if (sameHeaderName(g_mime_header_get_name(h), name)) values.push_back(orEmpty(g_mime_header_get_raw_value(h)));
  }
  return values;
}

std::optional<std::string> firstRawHeader(GMimeObject* object, const char* name) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  if (!headers) return std::nullopt;
  const int count = g_mime_header_list_get_count(headers);
  for (int i = 0; i < count; ++i) {
    GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
    if (sameHeaderName(g_mime_header_get_name(h), name)) return orEmpty(g_mime_header_get_raw_value(h));
  }
  return std::nullopt;
}

// The mailboxes of an address header. When the parser finds none in text that is not blank
// (a list without angle brackets or commas it cannot make sense of), the text is kept: the word
// with an '@' as the address, the rest as the name.
std::vector<MailAddress> addressesOf(const std::string& raw, GMimeParserOptions* options, bool allowNameOnly) {
  GObjectPtr<InternetAddressList> list(internet_address_list_parse(options, mergeEncodedWordRuns(raw).c_str()));
  std::vector<MailAddress> found = flattenAddressList(list.get());
  if (!found.empty()) return found;
  const std::string text = decodeUnstructuredHeader(raw);
  if (text.empty()) return found;
  MailAddress a;
  std::string name;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = std::min(text.find(' ', pos), text.size());
    std::string word = text.substr(pos, end - pos);
    if (a.address.empty() && word.find('@') != std::string::npos) {
      while (!word.empty() && (word.front() == '<' || word.front() == '"')) word.erase(0, 1);
      while (!word.empty() && (word.back() == '>' || word.back() == '"' || word.back() == ',' || word.back() == ';')) word.pop_back();
      a.address = word;
    } else if (!word.empty()) {
      name += (name.empty() ? "" : " ") + word;
    }
    pos = end + 1;
  }
  // Without an address a recipient is useless, but an author shown by name alone ("MAILER
  // DAEMON <>") keeps the name.
  if (a.address.empty() && !allowNameOnly) return found;
  while (!name.empty() && (name.back() == '>' || name.back() == '<' || name.back() == ' ')) name.pop_back();
  if (a.address.empty() && name.empty()) return found;
  a.name = name;
  found.push_back(std::move(a));
  return found;
}

std::vector<MailAddress> addressHeader(GMimeObject* object, const char* name, GMimeParserOptions* options, bool firstOnly) {
  std::vector<MailAddress> all;
  for (const std::string& raw : rawHeaders(object, name)) {
    auto found = addressesOf(raw, options, firstOnly);
    all.insert(all.end(), found.begin(), found.end());
    if (firstOnly) break;
  }
  return all;
}

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

std::string mimeType(GMimeObject* object) {
  GMimeContentType* ct = g_mime_object_get_content_type(object);
  if (!ct || hasInvalidContentType(object)) return "text/plain";
  return lowerAscii(takeString(g_mime_content_type_get_mime_type(ct)));
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

// The transfer-decoded bytes of a leaf part.
Bytes partBytes(GMimePart* part) {
  GObjectPtr<GMimeDataWrapper> content = contentOf(part);
  if (!content) return {};
  GObjectPtr<GMimeStream> mem(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(content.get(), mem.get());
  GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  return array ? Bytes(array->data, array->data + array->len) : Bytes{};
}

std::string bytesAsString(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The content of an attachment: small ones in memory, large ones decoded once into an
// unlinked temporary file.
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
  if (fd < 0) throw pst::Error("cannot duplicate a temporary file descriptor for attachment data");
  GObjectPtr<GMimeStream> out(g_mime_stream_fs_new(fd));
  if (g_mime_data_wrapper_write_to_stream(content, out.get()) < 0 || g_mime_stream_flush(out.get()) != 0) {
    throw pst::Error("cannot write attachment data to a temporary file (disk full?)");
  }
  out.reset();
  file->finish();
  return file;
}

std::string fileExtension(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == name.size()) return {};
  return name.substr(dot);
}

std::string baseName(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The 8.3 form of a file name, as the short-name column of an attachment table shows it.
std::string shortFileName(const std::string& longName) {
  const std::string base = baseName(longName);
  const std::string ext = fileExtension(base);
  const std::string stem = base.substr(0, base.size() - ext.size());
  auto clean = [](std::string_view s, std::size_t max) {
    std::string r;
    for (char c : s) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x80 && std::isalnum(u)) r += static_cast<char>(std::toupper(u));
      else if (c == '-' || c == '_') r += c;
      if (r.size() == max) break;
    }
    return r;
  };
  std::string shortStem = clean(stem, 9);
  if (shortStem.size() > 8 || shortStem.empty()) shortStem = (shortStem.empty() ? std::string("ATTACH") : shortStem.substr(0, 6)) + "~1";
  std::string shortExt = ext.empty() ? std::string() : clean(std::string_view(ext).substr(1), 3);
  return shortExt.empty() ? shortStem : shortStem + "." + shortExt;
}

std::string extensionForMimeType(const std::string& type) {
  static constexpr std::pair<const char*, const char*> kTable[] = {
      {"text/plain", ".txt"},      {"text/html", ".htm"},
      {"message/rfc822", ".eml"},  {"image/png", ".png"},
      {"image/jpeg", ".jpg"},      {"image/gif", ".gif"},
      {"image/bmp", ".bmp"},       {"application/pdf", ".pdf"},
      {"text/calendar", ".ics"},   {"application/pkcs7-signature", ".p7s"},
      {"application/x-pkcs7-signature", ".p7s"}, {"application/pkcs7-mime", ".p7m"},
      {"text/x-vcard", ".vcf"},    {"text/vcard", ".vcf"},
      {"application/zip", ".zip"}, {"application/ms-tnef", ".dat"},
  };
  for (const auto& [mime, ext] : kTable) {
    if (type == mime) return ext;
  }
  return ".dat";
}

// ---------------------------------------------------------------------------------------------
// Envelope

struct SubjectParts {
  std::string prefix;
  std::string normalized;
};

// "RE: x" -> ("RE: ", "x"): one to three characters that are not a colon, blank or digit, then a
// colon and any blanks. The prefix keeps the exact characters so that prefix + normalized is the
// subject as written.
SubjectParts splitSubject(const std::string& subject) {
  const char* p = subject.c_str();
  int chars = 0;
  while (*p && chars < 4) {
    const gunichar c = g_utf8_get_char_validated(p, -1);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) return {"", subject};
    if (c == ':') break;
    if (c == ' ' || c == '\t' || g_unichar_isdigit(c)) return {"", subject};
    p = g_utf8_next_char(p);
    ++chars;
  }
  if (*p != ':' || chars < 1 || chars > 3) return {"", subject};
  ++p;
  while (*p == ' ' || *p == '\t') ++p;
  const std::size_t split = static_cast<std::size_t>(p - subject.c_str());
  return {subject.substr(0, split), subject.substr(split)};
}

std::int32_t importanceFromHeaders(GMimeObject* m) {
  const std::string importance = lowerAscii(headerValue(m, "Importance"));
  if (importance == "low") return kImportanceLow;
  if (importance == "normal") return kImportanceNormal;
  if (importance == "high") return kImportanceHigh;
  const std::string xPriority = headerValue(m, "X-Priority");
  if (!xPriority.empty()) {
    switch (xPriority[0]) {
      case '1':
      case '2':
        return kImportanceHigh;
      case '3':
        return kImportanceNormal;
      case '4':
      case '5':
        return kImportanceLow;
      default:
        break;
    }
  }
  const std::string priority = lowerAscii(headerValue(m, "Priority"));
  if (priority == "urgent") return kImportanceHigh;
  if (priority == "non-urgent") return kImportanceLow;
  if (priority == "normal") return kImportanceNormal;
  const std::string msPriority = lowerAscii(headerValue(m, "X-MSMail-Priority"));
  if (msPriority == "low") return kImportanceLow;
  if (msPriority == "high") return kImportanceHigh;
  return kImportanceNormal;
}

std::int32_t sensitivityFromHeaders(GMimeObject* m) {
  const std::string s = lowerAscii(headerValue(m, "Sensitivity"));
  if (s == "personal") return 1;
  if (s == "private") return 2;
  if (s == "company-confidential") return 3;
  return 0;
}

// The date of the newest Received header (the top-most one): the text after its last ';'.
std::optional<FileTime> newestReceivedDate(GMimeObject* m) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(m);
  if (!headers) return std::nullopt;
  const int count = g_mime_header_list_get_count(headers);
  for (int i = 0; i < count; ++i) {
    GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
    if (!sameHeaderName(g_mime_header_get_name(h), "Received")) continue;
    const char* raw = g_mime_header_get_raw_value(h);
    if (!raw) return std::nullopt;
    const std::string value = takeString(g_mime_utils_header_unfold(raw));
    const std::size_t semi = value.rfind(';');
    if (semi == std::string::npos) return std::nullopt;
    return parseDate(trim(std::string_view(value).substr(semi + 1)));
  }
  return std::nullopt;
}

// Drops the header fields that stay inside an Exchange organisation.
std::string withoutOrganisationHeaders(std::string_view block) {
  std::string out;
  out.reserve(block.size());
  bool dropping = false;
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t end = block.find('\n', pos);
    end = end == std::string_view::npos ? block.size() : end + 1;
    const std::string_view line = block.substr(pos, end - pos);
    const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (!continuation) {
      const std::string head = lowerAscii(line.substr(0, 30));
      dropping = head.rfind("x-ms-exchange-organization-", 0) == 0 || head.rfind("x-ms-exchange-forest-", 0) == 0;
    }
    if (!dropping) out.append(line);
    pos = end;
  }
  return out;
}

// The mailbox the message was delivered to, from the headers delivery agents add: the top-most
// Delivered-To (added at final delivery, after aliases; with forwarding they stack up, newest
// first), else X-Original-To (Postfix: the envelope recipient before alias expansion, which may
// be an alias or a list), else Envelope-To (Exim: the envelope recipients at the last host).
// A Delivered-To that qmail-style list managers add for the list itself ("mailing list ...")
// names no mailbox of the reader.
std::optional<MailAddress> deliveredTo(GMimeObject* object, GMimeParserOptions* options) {
  for (const char* name : {"Delivered-To", "X-Original-To", "Envelope-To"}) {
    for (const std::string& raw : rawHeaders(object, name)) {
      if (lowerAscii(trim(raw)).rfind("mailing list", 0) == 0) continue;
      for (MailAddress& a : addressesOf(raw, options, false)) {
        if (a.address.find('@') != std::string::npos) return std::move(a);
      }
    }
  }
  return std::nullopt;
}

bool sameAddress(const std::string& a, const std::string& b) {
  return a.size() == b.size() && g_ascii_strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// Received-by and received-representing (the same mailbox: nothing tells of a delegate), named
// as the recipient rows name that address, and whether it is among the To and Cc recipients.
void mapReceivedBy(GMimeObject* object, MessageModel& model, GMimeParserOptions* options) {
  std::optional<MailAddress> owner = deliveredTo(object, options);
  if (!owner) return;
  bool toMe = false;
  bool ccMe = false;
  for (const Recipient& r : model.recipients) {
    const std::string* address = r.props.getAs<std::string>(kPrEmailAddress);
    if (!address || !sameAddress(*address, owner->address)) continue;
    const std::int32_t* type = r.props.getAs<std::int32_t>(kPrRecipientType);
    toMe |= type && *type == kRecipientTo;
    ccMe |= type && *type == kRecipientCc;
    const std::string* name = r.props.getAs<std::string>(kPrDisplayName);
    if (owner->name.empty() && name && *name != *address) owner->name = *name;
  }
  setAddressGroup(model.props, AddressGroup::kReceivedBy, *owner);
  setAddressGroup(model.props, AddressGroup::kReceivedRepresenting, *owner);
  model.props.set(kPrMessageToMe, toMe);
  model.props.set(kPrMessageCcMe, ccMe);
}

void mapEnvelope(GMimeMessage* message, MessageModel& model, const MapContext& ctx, const std::string& rawHeaders) {
  auto* object = GMIME_OBJECT(message);
  PropertyBag& props = model.props;

  // The first Subject counts when a broken message carries several. Outlook keeps 255
  // characters of it (the whole line stays in the transport headers); prefix and normalized
  // subject are split from what is kept, so that they still make up the subject.
  const std::string subject =
      pst::ltp::utf8PrefixInUtf16Units(decodeUnstructuredHeader(firstRawHeader(object, "Subject").value_or("")), kMaxSubjectUnits);
  const SubjectParts parts = splitSubject(subject);
  props.set(kPrSubject, subject);
  props.set(kPrSubjectPrefix, parts.prefix);
  props.set(kPrNormalizedSubject, parts.normalized);
  const std::string topic =
      pst::ltp::utf8PrefixInUtf16Units(decodeUnstructuredHeader(firstRawHeader(object, "Thread-Topic").value_or("")), kMaxSubjectUnits);
  if (!topic.empty()) props.set(kPrConversationTopic, topic);
  else if (g_mime_object_get_header(object, "Subject")) props.set(kPrConversationTopic, parts.normalized);

  // From and Sender: the first mailbox of each. Without Sender the sender is the author.
  const auto from = addressHeader(object, "From", ctx.parserOptions, true);
  const auto sender = addressHeader(object, "Sender", ctx.parserOptions, true);
  if (!from.empty()) setAddressGroup(props, AddressGroup::kSentRepresenting, from.front());
  if (!sender.empty()) setAddressGroup(props, AddressGroup::kSender, sender.front());
  else if (!from.empty()) setAddressGroup(props, AddressGroup::kSender, from.front());

  struct Kind {
    const char* header;
    std::int32_t recipientType;
    PropTag display;
  };
  for (const Kind kind : {Kind{"To", kRecipientTo, kPrDisplayTo}, Kind{"Cc", kRecipientCc, kPrDisplayCc},
                          Kind{"Bcc", kRecipientBcc, kPrDisplayBcc}}) {
    std::string display;
    for (const MailAddress& a : addressHeader(object, kind.header, ctx.parserOptions, false)) {
      if (!display.empty()) display += "; ";
      std::string shown = a.shownName();
      std::replace(shown.begin(), shown.end(), ';', ',');  // ';' separates the names
      display += shown;
      model.recipients.push_back(makeRecipient(a, kind.recipientType));
    }
    props.set(kind.display, display);
  }

  const auto replyTo = addressHeader(object, "Reply-To", ctx.parserOptions, true);
  if (!replyTo.empty()) {
    std::vector<Bytes> entries;
    std::string names;
    for (const MailAddress& a : replyTo) {
      entries.push_back(oneOffEntryId(a.shownName(), "SMTP", a.address));
      if (!names.empty()) names += ";";
      std::string shown = a.shownName();
      std::replace(shown.begin(), shown.end(), ';', ',');
      names += shown;
    }
    props.set(kPrReplyRecipientEntries, flatEntryList(entries));
    props.set(kPrReplyRecipientNames, names);
  }

  mapReceivedBy(object, model, ctx.parserOptions);

  // Dates: Date is the submit time; the newest Received hop the delivery time. Each stands in
  // for the other when missing, and the import time when both are. The item was created and
  // last changed when it arrived, as Outlook has it: the Modified column and archiving go by
  // the mail's own date, not by the day of the conversion.
  std::optional<FileTime> submit = parseDate(takeString(g_mime_utils_header_unfold(firstRawHeader(object, "Date").value_or("").c_str())));
  std::optional<FileTime> delivery = newestReceivedDate(object);
  if (!submit) submit = delivery;
  if (!delivery) delivery = submit;
  props.set(kPrClientSubmitTime, submit.value_or(ctx.importTime));
  props.set(kPrMessageDeliveryTime, delivery.value_or(ctx.importTime));
  props.set(kPrCreationTime, delivery.value_or(ctx.importTime));
  props.set(kPrLastModificationTime, delivery.value_or(ctx.importTime));
  if (auto replyBy = parseDate(headerValue(object, "Reply-By"))) props.set(kPrReplyTime, *replyBy);

  const std::string messageId = headerValue(object, "Message-ID");
  if (!messageId.empty()) props.set(kPrInternetMessageId, messageId);
  const std::string inReplyTo = headerValue(object, "In-Reply-To");
  if (!inReplyTo.empty()) props.set(kPrInReplyToId, inReplyTo);
  const std::string references = headerValue(object, "References", kMaxReferencesBytes);
  if (!references.empty()) props.set(kPrInternetReferences, references);
  // Every message gets an index (see conversation_index.h), and Outlook is told to take the
  // conversation from its GUID rather than from the topic, as it does for mail it receives.
  const std::string threadIndex = headerValue(object, "Thread-Index");
  props.set(kPrConversationIndex,
            conversationIndex(ThreadHeaders{messageId, inReplyTo, references, threadIndex}, submit.value_or(ctx.importTime)));
  props.set(kPrConversationIndexTracking, true);
  // Locale and code page of the item as an English-language Outlook writes them on the mail it
  // receives (the strings are Unicode whatever the code page says).
  props.set(kPrMessageLocaleId, kLocaleEnglishUs);
  props.set(kPrMessageCodepage, kCodePageWestern);

  props.set(kPrImportance, importanceFromHeaders(object));
  const std::string priority = lowerAscii(headerValue(object, "Priority"));
  props.set(kPrPriority, std::int32_t{priority == "urgent" ? 1 : priority == "non-urgent" ? -1 : 0});
  props.set(kPrSensitivity, sensitivityFromHeaders(object));
  if (g_mime_object_get_header(object, "Disposition-Notification-To")) props.set(kPrReadReceiptRequested, true);

  const std::string contentClass = headerValue(object, "Content-Class");
  if (!contentClass.empty()) {
    props.setNamed(NamedPropertyKey{kPsInternetHeaders, std::string(kNameContentClass)}, kPtUnicode, contentClass);
  }

  std::string headers = rawHeaders;
  if (headers.empty()) {
    GMimeFormatOptions* format = g_mime_format_options_get_default();
    headers = takeString(g_mime_object_get_headers(object, format));
  }
  if (headers.size() > ctx.options.maxTransportHeaderBytes) {
    // Cut at a line end so that the last field kept is whole.
    const std::size_t cut = headers.rfind('\n', ctx.options.maxTransportHeaderBytes);
    headers.resize(cut == std::string::npos ? ctx.options.maxTransportHeaderBytes : cut + 1);
  }
  props.set(kPrTransportMessageHeaders, toCrlf(validUtf8(withoutOrganisationHeaders(headers))));
}

// ---------------------------------------------------------------------------------------------
// Bodies

struct BodyParts {
  GMimePart* plain = nullptr;
  GMimePart* html = nullptr;
  bool found() const { return plain || html; }
};

// The part a mail client shows as the message: the first text part that is not an attachment,
// through alternatives (the plain and the HTML form), the root of a related set, the signed
// content of a signed message, and the first child of a mixed set that yields one.
// Marks the last part of every multipart (see contentOf).
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

void findBody(GMimeObject* object, BodyParts& body, int depth) {
  if (depth > kMaxMultipartDepth || GMIME_IS_MESSAGE_PART(object) || isAttachmentDisposed(object)) return;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = g_mime_multipart_get_count(multipart);
    if (count == 0) return;
    if (isType(object, "multipart", "alternative")) {
      for (int i = 0; i < count; ++i) {
        BodyParts child;
        findBody(g_mime_multipart_get_part(multipart, i), child, depth + 1);
        if (!body.plain) body.plain = child.plain;
        if (!body.html) body.html = child.html;
      }
      return;
    }
    if (isType(object, "multipart", "related")) {
      GMimeObject* root = g_mime_multipart_get_part(multipart, 0);
      const std::string start = contentTypeParameter(object, "start");
      if (!start.empty()) {
        std::string id = start;
        if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
        for (int i = 0; i < count; ++i) {
          GMimeObject* candidate = g_mime_multipart_get_part(multipart, i);
          if (id == orEmpty(g_mime_object_get_content_id(candidate))) root = candidate;
        }
      }
      findBody(root, body, depth + 1);
      return;
    }
    if (isType(object, "multipart", "encrypted")) return;
    if (isType(object, "multipart", "signed")) {
      findBody(g_mime_multipart_get_part(multipart, 0), body, depth + 1);
      return;
    }
    for (int i = 0; i < count && !body.found(); ++i) findBody(g_mime_multipart_get_part(multipart, i), body, depth + 1);
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  if (isType(object, "text", "plain")) body.plain = GMIME_PART(object);
  else if (isType(object, "text", "html")) body.html = GMIME_PART(object);
}

std::string plainText(GMimePart* part) {
  auto* object = GMIME_OBJECT(part);
  const std::string decoded = decodeToUtf8(bytesAsString(partBytes(part)), contentTypeParameter(object, "charset"));
  if (lowerAscii(contentTypeParameter(object, "format")) == "flowed") {
    return unflowText(decoded, lowerAscii(contentTypeParameter(object, "delsp")) == "yes");
  }
  return toCrlf(decoded);
}

struct MappedBodies {
  std::string html;  // as UTF-8, for finding the inline images it references
  std::vector<UuencodedFile> uuencoded;
};

MappedBodies mapBodies(const BodyParts& body, MessageModel& model, const ImportOptions& options) {
  MappedBodies result;
  PropertyBag& props = model.props;
  std::int32_t codePage = 0;
  if (body.plain) {
    std::string text = plainText(body.plain);
    if (options.extractUuencoded && text.find("begin ") != std::string::npos) {
      UuencodeSplit split = extractUuencodedFiles(text);
      text = std::move(split.text);
      result.uuencoded = std::move(split.files);
    }
    // Outlook ends a body at a U+0000 (uuencoded files after one are attachments all the same).
    props.set(kPrBody, std::string(upToFirstNul(text)));
    codePage = codePageForCharset(contentTypeParameter(GMIME_OBJECT(body.plain), "charset"));
  }
  if (body.html) {
    auto* object = GMIME_OBJECT(body.html);
    Bytes html = partBytes(body.html);
    const std::string charset = contentTypeParameter(object, "charset");
    result.html = decodeToUtf8(bytesAsString(html), charset);
    // The HTML keeps its own bytes when its charset has a code page; otherwise it is stored as
    // UTF-8 so that a reader never has to guess.
    const std::int32_t htmlCodePage = codePageForCharset(charset);
    if (htmlCodePage != 0) {
      props.set(kPrHtml, std::move(html));
      codePage = htmlCodePage;
    } else {
      props.set(kPrHtml, Bytes(result.html.begin(), result.html.end()));
      codePage = 65001;
    }
    if (!body.plain) props.set(kPrBody, htmlToText(result.html));  // which ends at a NUL too
    props.set(kPrNativeBody, kNativeBodyHtml);
  } else if (body.plain) {
    props.set(kPrNativeBody, kNativeBodyPlain);
  }
  if (codePage == 0) {
    const std::string* text = props.getAs<std::string>(kPrBody);
    const bool ascii = !text || std::all_of(text->begin(), text->end(), [](char c) { return (c & 0x80) == 0; });
    codePage = ascii ? 20127 : 65001;
  }
  props.set(kPrInternetCodepage, codePage);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Attachments

struct AttachmentWalk {
  const BodyParts& body;
  const std::string& html;
  const MapContext& ctx;
  int messageDepth;
  int unnamedCounter = 0;
  MessageModel& model;
};

void setNames(Attachment& a, const std::string& declared, const std::string& fallbackDisplay) {
  if (!declared.empty()) {
    a.props.set(kPrAttachLongFilename, declared);
    a.props.set(kPrAttachFilename, shortFileName(declared));
    const std::string ext = fileExtension(declared);
    if (!ext.empty()) a.props.set(kPrAttachExtension, ext);
    a.props.set(kPrDisplayName, declared);
  } else {
    a.props.set(kPrDisplayName, fallbackDisplay);
    a.props.set(kPrAttachFilename, shortFileName(fallbackDisplay));
    const std::string ext = fileExtension(fallbackDisplay);
    if (!ext.empty()) a.props.set(kPrAttachExtension, ext);
  }
}

std::string unnamedDisplayName(AttachmentWalk& walk, const std::string& type) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "ATT%05d", ++walk.unnamedCounter);
  return buf + extensionForMimeType(type);
}

std::string declaredFileName(GMimeObject* object) {
  const char* name = nullptr;
  if (GMIME_IS_PART(object)) {
    name = g_mime_part_get_filename(GMIME_PART(object));
  } else {
    GMimeContentDisposition* d = g_mime_object_get_content_disposition(object);
    if (d) name = g_mime_content_disposition_get_parameter(d, "filename");
    if (!name) name = g_mime_object_get_content_type_parameter(object, "name");
  }
  return name ? trim(validUtf8(name)) : std::string();
}

void addByValue(AttachmentWalk& walk, GMimePart* part, bool inRelated) {
  auto* object = GMIME_OBJECT(part);
  Attachment a;
  const std::string type = mimeType(object);
  setNames(a, declaredFileName(object), unnamedDisplayName(walk, type));
  auto data = partDataSource(part, walk.ctx.options);
  a.props.set(kPrAttachMethod, kAttachByValue);
  a.props.set(kPrAttachSize, static_cast<std::int32_t>(std::min<std::uint64_t>(data->size(), INT32_MAX)));
  a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::move(data)));
  a.props.set(kPrAttachMimeTag, type);
  a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
  std::string contentId = validUtf8(orEmpty(g_mime_part_get_content_id(part)));
  const std::string location = validUtf8(orEmpty(g_mime_part_get_content_location(part)));
  if (!contentId.empty()) a.props.set(kPrAttachContentId, contentId);
  if (!location.empty()) a.props.set(kPrAttachContentLocation, location);
  // An image the HTML body shows through cid: (or, in a related set, through its location) is
  // part of the body, not an attachment the user opens: hidden, rendered in the body.
  const bool referenced = !walk.html.empty() && ((!contentId.empty() && walk.html.find("cid:" + contentId) != std::string::npos) ||
                                                 (inRelated && !location.empty() && walk.html.find(location) != std::string::npos));
  const bool inlineImage = referenced && type.rfind("image/", 0) == 0;
  a.props.set(kPrAttachmentHidden, inlineImage);
  a.props.set(kPrAttachFlags, inlineImage ? kAttachFlagRenderedInBody : std::int32_t{0});
  walk.model.attachments.push_back(std::move(a));
}

// A message kept as the bytes of an .eml file (used past the embedding depth limit).
void addMessageAsFile(AttachmentWalk& walk, GMimeObject* object, GMimeMessage* inner) {
  Attachment a;
  GObjectPtr<GMimeStream> mem(g_mime_stream_mem_new());
  if (inner) g_mime_object_write_to_stream(GMIME_OBJECT(inner), g_mime_format_options_get_default(), mem.get());
  GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  Bytes bytes = array ? Bytes(array->data, array->data + array->len) : Bytes{};
  setNames(a, declaredFileName(object), unnamedDisplayName(walk, "message/rfc822"));
  a.props.set(kPrAttachMethod, kAttachByValue);
  a.props.set(kPrAttachSize, static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), INT32_MAX)));
  a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::make_shared<MemorySource>(std::move(bytes))));
  a.props.set(kPrAttachMimeTag, std::string("message/rfc822"));
  a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
  a.props.set(kPrAttachmentHidden, false);
  walk.model.attachments.push_back(std::move(a));
}

void addEmbedded(AttachmentWalk& walk, GMimeMessagePart* part) {
  auto* object = GMIME_OBJECT(part);
  GMimeMessage* inner = g_mime_message_part_get_message(part);
  if (walk.messageDepth + 1 > walk.ctx.options.maxEmbeddingDepth) {
    addMessageAsFile(walk, object, inner);
    return;
  }
  // An empty message/rfc822 part is still an attached message, just one without content.
  GObjectPtr<GMimeMessage> empty;
  if (!inner) {
    empty.reset(g_mime_message_new(FALSE));
    inner = empty.get();
  }
  Attachment a;
  a.embedded = std::make_shared<MessageModel>(mapMessage(inner, walk.ctx, walk.messageDepth + 1, {}, 0));
  const std::string* innerSubject = a.embedded->props.getAs<std::string>(kPrSubject);
  const std::string declared = declaredFileName(object);
  if (!declared.empty()) {
    a.props.set(kPrAttachLongFilename, declared);
    a.props.set(kPrAttachFilename, shortFileName(declared));
  }
  // Outlook lists an attached message by its subject.
  a.props.set(kPrDisplayName, innerSubject && !innerSubject->empty() ? *innerSubject
                                                                     : (declared.empty() ? std::string("Untitled message") : declared));
  a.props.set(kPrAttachMethod, kAttachEmbeddedMessage);
  a.props.set(kPrAttachMimeTag, std::string("message/rfc822"));
  a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
  a.props.set(kPrAttachmentHidden, false);
  const std::int32_t* innerSize = a.embedded->props.getAs<std::int32_t>(kPrMessageSize);
  a.props.set(kPrAttachSize, innerSize ? *innerSize : std::int32_t{0});
  walk.model.attachments.push_back(std::move(a));
}

void collectAttachments(AttachmentWalk& walk, GMimeObject* object, bool inRelated, int depth) {
  if (depth > kMaxMultipartDepth) return;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const bool related = isType(object, "multipart", "related");
    const int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i) collectAttachments(walk, g_mime_multipart_get_part(multipart, i), related, depth + 1);
    return;
  }
  if (GMIME_IS_MESSAGE_PART(object)) {
    addEmbedded(walk, GMIME_MESSAGE_PART(object));
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  auto* part = GMIME_PART(object);
  if (part == walk.body.plain || part == walk.body.html) return;
  addByValue(walk, part, inRelated);
}

void addUuencoded(MessageModel& model, std::vector<UuencodedFile> files) {
  for (UuencodedFile& f : files) {
    Attachment a;
    const std::string name = validUtf8(f.name);
    setNames(a, name, name);
    a.props.set(kPrAttachMethod, kAttachByValue);
    a.props.set(kPrAttachSize, static_cast<std::int32_t>(std::min<std::size_t>(f.data.size(), INT32_MAX)));
    a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::make_shared<MemorySource>(std::move(f.data))));
    a.props.set(kPrAttachMimeTag, std::string("application/octet-stream"));
    a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
    a.props.set(kPrAttachmentHidden, false);
    model.attachments.push_back(std::move(a));
  }
}

bool anyVisible(const MessageModel& model) {
  return std::any_of(model.attachments.begin(), model.attachments.end(), [](const Attachment& a) {
    const bool* hidden = a.props.getAs<bool>(kPrAttachmentHidden);
    return !(hidden && *hidden);
  });
}

// S/MIME as MAPI stores it: the signed or encrypted entity whole, as the single attachment
// smime.p7m, so that it can still be verified or decrypted.
void addSmimeAttachment(MessageModel& model, std::shared_ptr<const ByteSource> entity, const std::string& mimeTag,
                        const std::string& name) {
  Attachment a;
  setNames(a, name, name);
  a.props.set(kPrAttachMethod, kAttachByValue);
  a.props.set(kPrAttachSize, static_cast<std::int32_t>(std::min<std::uint64_t>(entity->size(), INT32_MAX)));
  a.props.set(kPrAttachDataBin, std::move(entity));
  a.props.set(kPrAttachMimeTag, mimeTag);
  a.props.set(kPrRenderingPosition, kRenderingPositionHidden);
  model.attachments.push_back(std::move(a));
}

bool isOpaqueSmime(GMimeObject* object) {
  if (!GMIME_IS_PART(object)) return false;
  if (isType(object, "application", "pkcs7-mime") || isType(object, "application", "x-pkcs7-mime")) return true;
  if (isType(object, "application", "octet-stream")) {
    const std::string name = lowerAscii(declaredFileName(object));
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".p7m") == 0;
  }
  return false;
}

std::int64_t attachmentBytes(const MessageModel& model) {
  std::int64_t total = 0;
  for (const Attachment& a : model.attachments) {
    if (const std::int32_t* size = a.props.getAs<std::int32_t>(kPrAttachSize)) total += *size;
  }
  return total;
}

}  // namespace

MessageModel mapMessage(GMimeMessage* message, const MapContext& ctx, int depth, const std::string& rawHeaders,
                        std::uint64_t sourceSize) {
  MessageModel model;
  mapEnvelope(message, model, ctx, rawHeaders);
  std::string messageClass = kClassNote;
  bool visible = false;

  GMimeObject* root = g_mime_message_get_mime_part(message);
  if (root && isOpaqueSmime(root)) {
    // Opaque-signed or encrypted: no body can be read; the CMS blob is kept as it came.
    messageClass = kClassSmime;
    const std::string declared = declaredFileName(root);
    addSmimeAttachment(model, std::make_shared<MemorySource>(partBytes(GMIME_PART(root))), mimeType(root),
                       declared.empty() ? "smime.p7m" : declared);
    model.props.set(kPrInternetCodepage, std::int32_t{20127});
  } else if (root) {
    markMultipartChildren(root, 0);
    BodyParts body;
    findBody(root, body, 0);
    MappedBodies mapped = mapBodies(body, model, ctx.options);
    AttachmentWalk walk{body, mapped.html, ctx, depth, 0, model};
    collectAttachments(walk, root, false, 0);
    addUuencoded(model, std::move(mapped.uuencoded));
    visible = anyVisible(model);
    if (GMIME_IS_MULTIPART_SIGNED(root)) {
      // Clear-signed: the body comes from the signed content, the whole signed entity is kept
      // as smime.p7m, byte for byte as in the file where the file is at hand (see
      // signed_entity.h), else as GMime writes it (CRLF). What the signed content holds shows
      // as attachments once a client opens the signature, so the paperclip follows it.
      messageClass = kClassSmimeMultipartSigned;
      std::shared_ptr<const ByteSource> entity;
      if (depth == 0 && ctx.signedEntityFromSource) entity = ctx.signedEntityFromSource();
      if (!entity) {
        GMimeFormatOptions* format = g_mime_format_options_clone(g_mime_format_options_get_default());
        g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
        GObjectPtr<GMimeStream> mem(g_mime_stream_mem_new());
        g_mime_object_write_to_stream(root, format, mem.get());
        g_mime_format_options_free(format);
        GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
        entity = std::make_shared<MemorySource>(array ? Bytes(array->data, array->data + array->len) : Bytes{});
      }
      model.attachments.clear();
      addSmimeAttachment(model, std::move(entity), "multipart/signed", "smime.p7m");
    }
  } else {
    model.props.set(kPrInternetCodepage, std::int32_t{20127});
  }
  model.props.set(kPrMessageClass, messageClass);

  // The store sets the has-attachments flag whenever there is an attachment row, as Outlook's
  // own files have it; the importer decides whether the paperclip shows. A message whose
  // attachments are all hidden (inline images of its HTML; the S/MIME wrapper of content
  // without attachments, or of encrypted content) says so as Outlook does.
  if (!model.attachments.empty() && !visible) model.props.setNamed(kSmartNoAttach, kPtBoolean, true);
  // Only the message itself can be a draft; one attached to it is shown as the mail it was.
  std::int32_t flags = 0;
  if (depth == 0 && headerValue(GMIME_OBJECT(message), "X-Unsent") == "1") flags |= kMsgFlagUnsent;
  model.props.set(kPrMessageFlags, flags);

  if (sourceSize == 0) {
    // An embedded message has no file of its own: estimate from what it carries.
    std::int64_t estimate = attachmentBytes(model);
    for (PropTag tag : {kPrBody, kPrTransportMessageHeaders}) {
      if (const std::string* s = model.props.getAs<std::string>(tag)) estimate += static_cast<std::int64_t>(s->size());
    }
    if (const Bytes* html = model.props.getAs<Bytes>(kPrHtml)) estimate += static_cast<std::int64_t>(html->size());
    sourceSize = static_cast<std::uint64_t>(estimate);
  }
  model.props.set(kPrMessageSize, static_cast<std::int32_t>(std::min<std::uint64_t>(sourceSize, INT32_MAX)));
  return model;
}

}  // namespace mailfold::mime::detail

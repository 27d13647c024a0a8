#include "mime/address_headers.h"

#include <gmime/gmime.h>

#include <algorithm>

#include "mime/gmime_ptr.h"
#include "mime/header_decoding.h"
#include "mime/header_fields.h"
#include "mime/text_decoding.h"

namespace mailfold::mime::detail {

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

}  // namespace mailfold::mime::detail

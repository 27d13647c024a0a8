#include "mime/address_mapping.h"

#include <gmime/gmime.h>

#include <cctype>

#include "mime/header_decoding.h"
#include "mime/text_decoding.h"
#include "pst/ltp/utf16.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::mime {
namespace {

constexpr const char* kSmtp = "SMTP";
constexpr std::size_t kMaxGroupDepth = 8;

// GMime hands back UTF-8 (undeclared 8-bit text read through the parser's fallback charsets);
// anything still ill-formed was declared UTF-8 and passed through unchecked.
std::string wellFormed(const char* s) { return s ? repairUtf8(std::string_view(s)) : std::string(); }

void appendUtf16z(pst::Bytes& out, const std::string& utf8) {
  const pst::Bytes wide = pst::ltp::utf8ToUtf16le(utf8);
  out.insert(out.end(), wide.begin(), wide.end());
  out.push_back(0);
  out.push_back(0);
}

void flattenInto(InternetAddressList* list, std::vector<MailAddress>& out, std::size_t depth) {
  if (!list || depth > kMaxGroupDepth) return;
  const int count = internet_address_list_length(list);
  for (int i = 0; i < count; ++i) {
    InternetAddress* ia = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(ia)) {
      flattenInto(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out, depth + 1);
    } else if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
      MailAddress a;
      a.name = wellFormed(internet_address_get_name(ia));
      // The parser decodes only the encoded words RFC 2047 allows in a phrase; those in a quoted
      // name or run into other text are left to the importer's decoder.
      if (a.name.find("=?") != std::string::npos) a.name = decodeUnstructuredHeader(a.name);
      a.address = wellFormed(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia)));
      if (a.name.empty() && a.address.empty()) continue;
      // An encoded word is never an address: it is what is left of a phrase the parser could
      // not place.
      if (a.address.find("=?") != std::string::npos && a.address.find('@') == std::string::npos) continue;
      out.push_back(std::move(a));
    }
  }
}

}  // namespace

std::vector<MailAddress> flattenAddressList(InternetAddressList* list) {
  std::vector<MailAddress> out;
  flattenInto(list, out, 0);
  return out;
}

pst::Bytes oneOffEntryId(const std::string& displayName, const std::string& addressType, const std::string& address,
                         bool noRichInfo) {
  pst::Bytes id;
  id.reserve(24 + 2 * (displayName.size() + addressType.size() + address.size() + 3));
  for (int i = 0; i < 4; ++i) id.push_back(0);  // flags
  for (std::uint8_t b : pst::kOneOffProviderUid) id.push_back(b);
  // Version 0, then the flag word: Unicode strings (0x8000), no rich info (0x0001).
  for (std::uint8_t b : {0x00, 0x00, noRichInfo ? 0x01 : 0x00, 0x80}) id.push_back(b);
  appendUtf16z(id, displayName);
  appendUtf16z(id, addressType);
  appendUtf16z(id, address);
  return id;
}

pst::Bytes addressSearchKey(const std::string& addressType, const std::string& address) {
  pst::Bytes key;
  key.reserve(addressType.size() + address.size() + 2);
  for (char c : addressType + ":" + address) key.push_back(static_cast<std::uint8_t>(std::toupper(static_cast<unsigned char>(c))));
  key.push_back(0);
  return key;
}

pst::Bytes flatEntryList(const std::vector<pst::Bytes>& entryIds) {
  auto putU32 = [](pst::Bytes& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
  };
  pst::Bytes entries;
  for (const pst::Bytes& id : entryIds) {
    putU32(entries, static_cast<std::uint32_t>(id.size()));
    for (std::uint8_t b : id) entries.push_back(b);
    while (entries.size() % 4 != 0) entries.push_back(0);
  }
  pst::Bytes out;
  putU32(out, static_cast<std::uint32_t>(entryIds.size()));
  putU32(out, static_cast<std::uint32_t>(entries.size()));
  for (std::uint8_t b : entries) out.push_back(b);
  return out;
}

pst::Recipient makeRecipient(const MailAddress& who, std::int32_t recipientType) {
  using namespace pst;
  Recipient r;
  const std::string& name = who.shownName();
  r.props.set(kPrRecipientType, recipientType);
  r.props.set(kPrDisplayName, name);
  r.props.set(kPrTransmittableDisplayName, name);
  r.props.set(kPrRecipientDisplayName, name);
  r.props.set(kPrAddrType, std::string(kSmtp));
  r.props.set(kPrEmailAddress, who.address);
  r.props.set(kPrSmtpAddress, who.address);
  Bytes entryId = oneOffEntryId(name, kSmtp, who.address);
  r.props.set(kPrRecipientEntryId, entryId);
  r.props.set(kPrEntryId, std::move(entryId));
  Bytes key = addressSearchKey(kSmtp, who.address);
  r.props.set(kPrRecordKey, key);
  r.props.set(kPrSearchKey, std::move(key));
  r.props.set(kPrObjectType, kObjectTypeMailUser);
  r.props.set(kPrDisplayType, std::int32_t{0});
  r.props.set(kPrResponsibility, true);
  r.props.set(kPrSendRichInfo, false);
  r.props.set(kPrRecipientFlags, kRecipientFlagSendable);
  r.props.set(kPrRecipientTrackStatus, std::int32_t{0});
  return r;
}

void setAddressGroup(pst::PropertyBag& props, AddressGroup group, const MailAddress& who) {
  using namespace pst;
  struct Tags {
    PropTag name, addrType, email, entryId, searchKey, smtp;  // smtp 0: the group has none
  };
  // In the order of AddressGroup.
  static constexpr Tags kGroups[] = {
      {kPrSenderName, kPrSenderAddrType, kPrSenderEmailAddress, kPrSenderEntryId, kPrSenderSearchKey,
       kPrSenderSmtpAddress},
      {kPrSentRepresentingName, kPrSentRepresentingAddrType, kPrSentRepresentingEmailAddress,
       kPrSentRepresentingEntryId, kPrSentRepresentingSearchKey, kPrSentRepresentingSmtpAddress},
      {kPrReceivedByName, kPrReceivedByAddrType, kPrReceivedByEmailAddress, kPrReceivedByEntryId,
       kPrReceivedBySearchKey, 0},
      {kPrRcvdRepresentingName, kPrRcvdRepresentingAddrType, kPrRcvdRepresentingEmailAddress,
       kPrRcvdRepresentingEntryId, kPrRcvdRepresentingSearchKey, 0},
  };
  const Tags& tags = kGroups[static_cast<int>(group)];
  const bool received = group == AddressGroup::kReceivedBy || group == AddressGroup::kReceivedRepresenting;
  const std::string& name = who.shownName();
  props.set(tags.name, name);
  props.set(tags.addrType, std::string(kSmtp));
  props.set(tags.email, who.address);
  if (tags.smtp != 0) props.set(tags.smtp, who.address);
  props.set(tags.entryId, oneOffEntryId(name, kSmtp, who.address, !received));
  props.set(tags.searchKey, addressSearchKey(kSmtp, who.address));
}

}  // namespace mailfold::mime

// Internet addresses become MAPI address properties: recipient rows, the sender and
// sent-representing groups, Reply-To entries. Every address is an SMTP one-off address.
#pragma once

#include <string>
#include <vector>

#include "pst/messaging/message_model.h"

typedef struct _InternetAddressList InternetAddressList;

namespace mailfold::mime {

struct MailAddress {
  std::string name;     // display name, UTF-8; may be empty
  std::string address;  // addr-spec; may be empty for a malformed mailbox
  // The name a list shows: the display name, or the address when there is none.
  const std::string& shownName() const { return name.empty() ? address : name; }
};

// Every mailbox of the list in order, group members included (a group's name itself is not an
// address). Null or empty lists give an empty result.
std::vector<MailAddress> flattenAddressList(InternetAddressList* list);

// One-off entry identifier with Unicode strings. `noRichInfo` marks an address that takes no
// TNEF, as MAPI marks Internet recipients; Outlook leaves it clear on the received-by mailbox.
pst::Bytes oneOffEntryId(const std::string& displayName, const std::string& addressType, const std::string& address,
                         bool noRichInfo = true);

// "TYPE:ADDRESS" upper-cased, with a terminating zero byte.
pst::Bytes addressSearchKey(const std::string& addressType, const std::string& address);

// A FlatEntryList holding the given entry identifiers (each padded to 4 bytes).
pst::Bytes flatEntryList(const std::vector<pst::Bytes>& entryIds);

// A recipient row of the given type (1 To, 2 Cc, 3 Bcc).
pst::Recipient makeRecipient(const MailAddress& who, std::int32_t recipientType);

enum class AddressGroup { kSender, kSentRepresenting, kReceivedBy, kReceivedRepresenting };
// Sets the name, address type, e-mail address, entry id and search key of one group, and the
// SMTP address where the group has one (sender and sent-representing).
void setAddressGroup(pst::PropertyBag& props, AddressGroup group, const MailAddress& who);

}  // namespace mailfold::mime

// The mailboxes named by address header fields (From, To, Delivered-To, ...), also where the
// field is too malformed for the parser.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mime/address_mapping.h"

typedef struct _GMimeObject GMimeObject;
typedef struct _GMimeParserOptions GMimeParserOptions;

namespace mailfold::mime::detail {

// The mailboxes of an address header. When the parser finds none in text that is not blank
// (a list without angle brackets or commas it cannot make sense of), the text is kept: the word
// with an '@' as the address, the rest as the name.
std::vector<MailAddress> addressesOf(const std::string& raw, GMimeParserOptions* options, bool allowNameOnly);

// The mailboxes of every field `name` (of the first only when `firstOnly`; such a field may
// name its author without an address).
std::vector<MailAddress> addressHeader(GMimeObject* object, const char* name, GMimeParserOptions* options, bool firstOnly);

// The mailbox the message was delivered to, from the headers delivery agents add: the top-most
// Delivered-To (added at final delivery, after aliases; with forwarding they stack up, newest
// first), else X-Original-To (Postfix: the envelope recipient before alias expansion, which may
// be an alias or a list), else Envelope-To (Exim: the envelope recipients at the last host).
// A Delivered-To that qmail-style list managers add for the list itself ("mailing list ...")
// names no mailbox of the reader.
std::optional<MailAddress> deliveredTo(GMimeObject* object, GMimeParserOptions* options);

}  // namespace mailfold::mime::detail

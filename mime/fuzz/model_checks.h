// What every model the importer returns must satisfy, whatever the input: checked by the fuzz
// target on each input it runs and by the tests that replay its findings.
#pragma once

#include <glib.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "pst/messaging/message_model.h"

namespace mailfold::mime::checks {

// Well-formed UTF-8 (U+0000 included), checked by GLib rather than by the importer's own code.
inline bool wellFormedUtf8(std::string_view s) {
  for (;;) {
    const std::size_t nul = s.find('\0');
    const std::string_view piece = s.substr(0, nul);
    if (!g_utf8_validate_len(piece.data(), piece.size(), nullptr)) return false;
    if (nul == std::string_view::npos) return true;
    s.remove_prefix(nul + 1);
  }
}

// Where the first text property that is not well-formed UTF-8 sits ("attachment 1: embedded:
// 0x0037001F"), empty when there is none.
inline std::string illFormedText(const pst::PropertyBag& bag, const std::string& where) {
  for (const auto& [tag, value] : bag.all()) {
    const std::string* s = std::get_if<std::string>(&value);
    if (s && !wellFormedUtf8(*s)) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(tag));
      return where + hex;
    }
  }
  for (const pst::NamedProperty& n : bag.named()) {
    const std::string* s = std::get_if<std::string>(&n.value);
    if (s && !wellFormedUtf8(*s)) return where + "a named property";
  }
  return {};
}

inline std::string illFormedText(const pst::MessageModel& m, const std::string& where = "") {
  std::string found = illFormedText(m.props, where);
  for (std::size_t i = 0; found.empty() && i < m.recipients.size(); ++i) {
    found = illFormedText(m.recipients[i].props, where + "recipient " + std::to_string(i) + ": ");
  }
  for (std::size_t i = 0; found.empty() && i < m.attachments.size(); ++i) {
    const std::string at = where + "attachment " + std::to_string(i) + ": ";
    found = illFormedText(m.attachments[i].props, at);
    if (found.empty() && m.attachments[i].embedded) found = illFormedText(*m.attachments[i].embedded, at + "embedded: ");
  }
  return found;
}

}  // namespace mailfold::mime::checks

// The messages the crash writer appends, made from their number alone, so that whoever opens
// the store afterwards can tell a whole message from a damaged one.
#pragma once

#include <cstdint>
#include <string>

#include "pst/messaging/message_model.h"
#include "pst/messaging/property_tags.h"

namespace mailfold::crashtest {

inline std::string crashSubject(std::uint32_t n) { return "crash message " + std::to_string(n); }

// Bodies from a few hundred bytes to several data blocks, so that commits write small and
// multi-block nodes alike.
inline std::string crashBody(std::uint32_t n) {
  const std::size_t size = (n % 11 == 0) ? 40000 + n % 977 : 200 + (n * 37) % 3000;
  std::string body;
  body.reserve(size);
  std::uint32_t x = n * 2654435761u + 1;
  while (body.size() < size) {
    x = x * 1103515245u + 12345u;
    body += static_cast<char>('a' + (x >> 16) % 26);
    if ((x >> 8) % 13 == 0) body += ' ';
  }
  body.resize(size);
  return body;
}

inline pst::MessageModel crashMessage(std::uint32_t n) {
  pst::MessageModel m;
  m.props.set(pst::kPrSubject, crashSubject(n));
  m.props.set(pst::kPrBody, crashBody(n));
  if (n % 5 == 0) {
    pst::Attachment a;
    a.props.set(pst::kPrAttachLongFilename, "part-" + std::to_string(n) + ".bin");
    a.props.set(pst::kPrAttachDataBin, pst::Bytes(1000 + n % 9000, static_cast<std::uint8_t>(n)));
    m.attachments.push_back(std::move(a));
  }
  return m;
}

}  // namespace mailfold::crashtest

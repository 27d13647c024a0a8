// Base64 content decoding that keeps every byte that is there.
//
// GMime's decoder keeps an incomplete final quantum (a part whose writer left out the "="
// padding: "QUJDRA" for "ABCD") in its state and never writes it, so such a part comes out one
// or two bytes short. This decoder writes what a short quantum holds: two characters give one
// byte, three give two. Characters outside the alphabet (line breaks, blanks, stray bytes) are
// skipped; a "=" ends the quantum it is in, so that runs of separately padded base64 (two
// encoders' output joined) decode one after the other.
#pragma once

#include <cstdint>
#include <string_view>

#include "pst/messaging/message_model.h"

namespace mailfold::mime::detail {

class Base64Decoder {
 public:
  // Decodes `encoded` (any piece of the content, split anywhere) and appends to `out`.
  void decode(std::string_view encoded, pst::Bytes& out);
  // Writes what is left of a short final quantum; call once at the end of the content.
  void finish(pst::Bytes& out);

 private:
  void flushQuantum(pst::Bytes& out);
  std::uint32_t bits_ = 0;
  int count_ = 0;  // characters of the current quantum, 0..3
};

// The whole of a base64 content at once.
pst::Bytes decodeBase64(std::string_view encoded);

}  // namespace mailfold::mime::detail

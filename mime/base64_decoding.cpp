#include "mime/base64_decoding.h"

#include <array>

namespace mailfold::mime::detail {

namespace {

constexpr std::uint8_t kNotBase64 = 0xFF;

constexpr std::array<std::uint8_t, 256> makeRanks() {
  std::array<std::uint8_t, 256> ranks{};
  for (auto& r : ranks) r = kNotBase64;
  constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < alphabet.size(); ++i) ranks[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
  return ranks;
}

constexpr std::array<std::uint8_t, 256> kRanks = makeRanks();

}  // namespace

void Base64Decoder::flushQuantum(pst::Bytes& out) {
  // A lone character carries six bits, less than a byte: nothing to write.
  if (count_ == 2) {
    out.push_back(static_cast<std::uint8_t>(bits_ >> 4));
  } else if (count_ == 3) {
    out.push_back(static_cast<std::uint8_t>(bits_ >> 10));
    out.push_back(static_cast<std::uint8_t>(bits_ >> 2));
  }
  bits_ = 0;
  count_ = 0;
}

void Base64Decoder::decode(std::string_view encoded, pst::Bytes& out) {
  out.reserve(out.size() + encoded.size() / 4 * 3 + 3);
  for (char c : encoded) {
    if (c == '=') {
      flushQuantum(out);
      continue;
    }
    const std::uint8_t rank = kRanks[static_cast<unsigned char>(c)];
    if (rank == kNotBase64) continue;
    bits_ = (bits_ << 6) | rank;
    if (++count_ == 4) {
      out.push_back(static_cast<std::uint8_t>(bits_ >> 16));
      out.push_back(static_cast<std::uint8_t>(bits_ >> 8));
      out.push_back(static_cast<std::uint8_t>(bits_));
      bits_ = 0;
      count_ = 0;
    }
  }
}

void Base64Decoder::finish(pst::Bytes& out) { flushQuantum(out); }

pst::Bytes decodeBase64(std::string_view encoded) {
  pst::Bytes out;
  Base64Decoder decoder;
  decoder.decode(encoded, out);
  decoder.finish(out);
  return out;
}

}  // namespace mailfold::mime::detail

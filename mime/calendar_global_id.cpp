#include "mime/calendar_global_id.h"

#include <array>
#include <cctype>

namespace mailfold::mime::calendar {

namespace {

// The fixed first 16 bytes of every global object id.
constexpr std::array<std::uint8_t, 16> kClassId = {0x04, 0x00, 0x00, 0x00, 0x82, 0x00, 0xE0, 0x00,
                                                   0x74, 0xC5, 0xB7, 0x10, 0x1A, 0x82, 0xE0, 0x08};
// Year (2, big-endian), month, day, creation time (8), reserved (8), size of the data (4).
constexpr std::size_t kHeaderSize = 16 + 4 + 8 + 8 + 4;
constexpr std::size_t kInstanceOffset = 16;

std::optional<pst::Bytes> fromHex(const std::string& uid) {
  if (uid.size() < 2 * kHeaderSize || uid.size() % 2 != 0) return std::nullopt;
  pst::Bytes bytes;
  bytes.reserve(uid.size() / 2);
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  for (std::size_t i = 0; i < uid.size(); i += 2) {
    const int hi = nibble(uid[i]), lo = nibble(uid[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  if (!std::equal(kClassId.begin(), kClassId.end(), bytes.begin())) return std::nullopt;
  // The data size must agree with what follows the header, or the bytes are not an id.
  const std::size_t declared = bytes[36] | bytes[37] << 8 | bytes[38] << 16 | static_cast<std::size_t>(bytes[39]) << 24;
  if (declared != bytes.size() - kHeaderSize) return std::nullopt;
  return bytes;
}

pst::Bytes wrapped(const std::string& uid) {
  static constexpr char kMarker[] = "vCal-Uid";
  pst::Bytes data(kMarker, kMarker + 8);
  for (std::uint8_t b : {0x01, 0x00, 0x00, 0x00}) data.push_back(b);
  data.insert(data.end(), uid.begin(), uid.end());
  data.push_back(0);
  pst::Bytes id(kClassId.begin(), kClassId.end());
  id.resize(kHeaderSize - 4, 0);
  const auto size = static_cast<std::uint32_t>(data.size());
  for (int shift = 0; shift < 32; shift += 8) id.push_back(static_cast<std::uint8_t>(size >> shift));
  id.insert(id.end(), data.begin(), data.end());
  return id;
}

pst::Bytes baseId(const std::string& uid) {
  std::optional<pst::Bytes> exact = fromHex(uid);
  return exact ? std::move(*exact) : wrapped(uid);
}

}  // namespace

pst::Bytes cleanGlobalObjectId(const std::string& uid) {
  pst::Bytes id = baseId(uid);
  std::fill(id.begin() + kInstanceOffset, id.begin() + kInstanceOffset + 4, 0);
  return id;
}

pst::Bytes globalObjectId(const std::string& uid, const std::optional<InstanceDate>& instance) {
  pst::Bytes id = baseId(uid);
  if (instance) {
    id[kInstanceOffset] = static_cast<std::uint8_t>(instance->year >> 8);
    id[kInstanceOffset + 1] = static_cast<std::uint8_t>(instance->year);
    id[kInstanceOffset + 2] = static_cast<std::uint8_t>(instance->month);
    id[kInstanceOffset + 3] = static_cast<std::uint8_t>(instance->day);
  }
  return id;
}

}  // namespace mailfold::mime::calendar

// The CRC-32 used by headers, pages and blocks: the reflected 0xEDB88320 polynomial, seed 0
// and no final inversion (so it differs from zlib's crc32 for the same bytes).
#pragma once

#include <cstdint>

#include "pst/bytes.h"

namespace mailfold::pst::ndb {

std::uint32_t crc32(ByteView data, std::uint32_t seed = 0);

}  // namespace mailfold::pst::ndb

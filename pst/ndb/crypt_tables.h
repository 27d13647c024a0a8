// The three substitution tables shared by the permute and cyclic block encodings.
#pragma once

#include <array>
#include <cstdint>

namespace mailfold::pst::ndb::detail {

extern const std::array<std::uint8_t, 256> kEncodeTable;  // permute: plain -> stored
extern const std::array<std::uint8_t, 256> kMiddleTable;  // cyclic only
extern const std::array<std::uint8_t, 256> kDecodeTable;  // permute: stored -> plain

}  // namespace mailfold::pst::ndb::detail

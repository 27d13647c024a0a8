#include "pst/ltp/utf16.h"

namespace mailfold::pst::ltp {
namespace {

void putUnit(Bytes& out, std::uint16_t u) {
  out.push_back(static_cast<std::uint8_t>(u & 0xFF));
  out.push_back(static_cast<std::uint8_t>(u >> 8));
}

void putCodePoint(Bytes& out, std::uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    putUnit(out, static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
    putUnit(out, static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    putUnit(out, static_cast<std::uint16_t>(cp));
  }
}

bool isHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

Bytes utf8ToUtf16le(std::string_view s) {
  Bytes out;
  out.reserve(s.size() * 2);
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<std::uint8_t>(s[i]);
    std::uint32_t cp = kReplacementCharacter;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6) {
      len = 2;
    } else if ((c >> 4) == 0xE) {
      len = 3;
    } else if ((c >> 3) == 0x1E) {
      len = 4;
    }
    if (len > 1) {
      bool ok = i + len <= s.size();
      std::uint32_t v = c & (0x7F >> len);
      for (std::size_t k = 1; ok && k < len; ++k) {
        const auto cc = static_cast<std::uint8_t>(s[i + k]);
        if ((cc & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (cc & 0x3F);
      }
      static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      if (ok && v >= kMin[len] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        cp = v;
      } else {
        len = 1;  // resynchronise on the next byte
      }
    }
    putCodePoint(out, cp);
    i += len;
  }
  return out;
}

std::string utf16leToUtf8(ByteView in) {
  const std::size_t units = in.size() / 2;
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = load<std::uint16_t>(in.data() + 2 * i);
    if (isHighSurrogate(u) && i + 1 < units) {
      const std::uint32_t lo = load<std::uint16_t>(in.data() + 2 * (i + 1));
      if (isLowSurrogate(lo)) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (isHighSurrogate(u) || isLowSurrogate(u)) u = kReplacementCharacter;
    appendUtf8(out, u);
  }
  if (in.size() % 2 != 0) appendUtf8(out, kReplacementCharacter);
  return out;
}

bool isWellFormedUtf16le(ByteView in) {
  if (in.size() % 2 != 0) return false;
  const std::size_t units = in.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t u = load<std::uint16_t>(in.data() + 2 * i);
    if (isLowSurrogate(u)) return false;
    if (isHighSurrogate(u)) {
      if (i + 1 >= units || !isLowSurrogate(load<std::uint16_t>(in.data() + 2 * (i + 1)))) return false;
      ++i;
    }
  }
  return true;
}

}  // namespace mailfold::pst::ltp

#include "pst/ltp/property.h"

#include "pst/ltp/utf16.h"

#include <cstdio>
#include <limits>

namespace mailfold::pst::ltp {
namespace {

// Multi-valued types beyond the ones property_value.h names.
constexpr std::uint16_t kPtMvInt16 = 0x1002;
constexpr std::uint16_t kPtMvFloat = 0x1004;
constexpr std::uint16_t kPtMvDouble = 0x1005;
constexpr std::uint16_t kPtMvCurrency = 0x1006;
constexpr std::uint16_t kPtMvAppTime = 0x1007;
constexpr std::uint16_t kPtMvString8 = 0x101E;
constexpr std::uint16_t kPtMvSysTime = 0x1040;
constexpr std::uint16_t kPtMvGuid = 0x1048;

std::string typeName(std::uint16_t type) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", type);
  return buf;
}

[[noreturn]] void wrongAlternative(std::uint16_t type) {
  throw Error(ErrorKind::kBadInput, "property value does not match its type " + typeName(type));
}

template <class T>
const T& expect(std::uint16_t type, const PropertyValue& value) {
  const T* v = std::get_if<T>(&value);
  if (!v) wrongAlternative(type);
  return *v;
}

template <class T>
void append(Bytes& out, T v) {
  const std::size_t at = out.size();
  out.resize(at + sizeof v);
  store<T>(out.data() + at, v);
}

// Types whose value travels as the raw stored bytes.
bool isRawType(std::uint16_t type) {
  switch (type) {
    case kPtInt16: case kPtInt32: case kPtFloat: case kPtDouble: case kPtCurrency: case kPtAppTime:
    case kPtError: case kPtBoolean: case kPtInt64: case kPtString8: case kPtUnicode: case kPtSysTime:
    case kPtGuid: case kPtBinary: case kPtMvInt16: case kPtMvInt32: case kPtMvInt64: case kPtMvSysTime:
    case kPtMvCurrency: case kPtMvUnicode: case kPtMvString8: case kPtMvBinary: case kPtMvGuid:
      return false;
    default:
      return true;
  }
}

Bytes encodeVariableList(const std::vector<Bytes>& items) {
  if (items.size() > std::numeric_limits<std::uint32_t>::max() / 8) throw Error(ErrorKind::kBadInput, "multi-valued property too long");
  Bytes out;
  const std::uint64_t headerSize = 4 + 4 * static_cast<std::uint64_t>(items.size());
  append<std::uint32_t>(out, static_cast<std::uint32_t>(items.size()));
  std::uint64_t offset = headerSize;
  for (const Bytes& item : items) {
    if (offset > std::numeric_limits<std::uint32_t>::max()) throw Error(ErrorKind::kBadInput, "multi-valued property too large");
    append<std::uint32_t>(out, static_cast<std::uint32_t>(offset));
    offset += item.size();
  }
  for (const Bytes& item : items) out.insert(out.end(), item.begin(), item.end());
  return out;
}

std::vector<Bytes> decodeVariableList(std::uint16_t type, ByteView bytes) {
  std::vector<Bytes> items;
  if (bytes.empty()) return items;
  if (bytes.size() < 4) throw Error(ErrorKind::kCorrupt, "multi-valued property " + typeName(type) + " shorter than its count");
  const std::uint32_t count = load<std::uint32_t>(bytes.data());
  if (count > (bytes.size() - 4) / 4)
    throw Error(ErrorKind::kCorrupt, "multi-valued property " + typeName(type) + " claims " + std::to_string(count) +
                " items in " + std::to_string(bytes.size()) + " bytes");
  items.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t begin = load<std::uint32_t>(bytes.data() + 4 + 4 * i);
    const std::uint32_t end =
        i + 1 < count ? load<std::uint32_t>(bytes.data() + 4 + 4 * (i + 1)) : static_cast<std::uint32_t>(bytes.size());
    if (begin > end || end > bytes.size())
      throw Error(ErrorKind::kCorrupt, "multi-valued property " + typeName(type) + ": item " + std::to_string(i) +
                  " has offsets outside the value");
    items.emplace_back(bytes.begin() + begin, bytes.begin() + end);
  }
  return items;
}

}  // namespace

std::uint32_t fixedWidth(std::uint16_t type) {
  switch (type) {
    case kPtBoolean: return 1;
    case kPtInt16: return 2;
    case kPtInt32: case kPtFloat: case kPtError: return 4;
    case kPtDouble: case kPtCurrency: case kPtAppTime: case kPtInt64: case kPtSysTime: return 8;
    case kPtGuid: return 16;
    default: return 0;
  }
}

std::uint32_t multiValuedElementWidth(std::uint16_t type) {
  switch (type) {
    case kPtMvInt16: return 2;
    case kPtMvInt32: case kPtMvFloat: return 4;
    case kPtMvDouble: case kPtMvCurrency: case kPtMvAppTime: case kPtMvInt64: case kPtMvSysTime: return 8;
    case kPtMvGuid: return 16;
    default: return 0;
  }
}

Bytes encodeValue(std::uint16_t type, const PropertyValue& value) {
  if (std::holds_alternative<std::shared_ptr<const ByteSource>>(value))
    throw Error(ErrorKind::kBadInput, "a streamed value of type " + typeName(type) + " cannot be encoded in one piece");
  if (isRawType(type)) return expect<Bytes>(type, value);
  Bytes out;
  switch (type) {
    case kPtBoolean: out.push_back(expect<bool>(type, value) ? 1 : 0); return out;
    case kPtInt16: append<std::int16_t>(out, expect<std::int16_t>(type, value)); return out;
    case kPtInt32: case kPtError: append<std::int32_t>(out, expect<std::int32_t>(type, value)); return out;
    case kPtFloat: append<float>(out, static_cast<float>(expect<double>(type, value))); return out;
    case kPtDouble: case kPtAppTime: append<double>(out, expect<double>(type, value)); return out;
    case kPtCurrency: case kPtInt64: append<std::int64_t>(out, expect<std::int64_t>(type, value)); return out;
    case kPtSysTime: append<std::uint64_t>(out, expect<FileTime>(type, value).ticks); return out;
    case kPtGuid: {
      const Guid& g = expect<Guid>(type, value);
      return Bytes(g.bytes.begin(), g.bytes.end());
    }
    case kPtUnicode: return utf8ToUtf16le(expect<std::string>(type, value));
    case kPtString8: {
      const std::string& s = expect<std::string>(type, value);
      return Bytes(s.begin(), s.end());
    }
    case kPtBinary: return expect<Bytes>(type, value);
    case kPtMvInt16:
      for (std::int32_t v : expect<std::vector<std::int32_t>>(type, value)) {
        if (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max())
          throw Error(ErrorKind::kBadInput, "value " + std::to_string(v) + " does not fit a 16-bit multi-valued property");
        append<std::int16_t>(out, static_cast<std::int16_t>(v));
      }
      return out;
    case kPtMvInt32:
      for (std::int32_t v : expect<std::vector<std::int32_t>>(type, value)) append<std::int32_t>(out, v);
      return out;
    case kPtMvInt64: case kPtMvSysTime: case kPtMvCurrency:
      for (std::int64_t v : expect<std::vector<std::int64_t>>(type, value)) append<std::int64_t>(out, v);
      return out;
    case kPtMvGuid:
      for (const Bytes& g : expect<std::vector<Bytes>>(type, value)) {
        if (g.size() != 16) throw Error(ErrorKind::kBadInput, "a GUID in a multi-valued property must have 16 bytes");
        out.insert(out.end(), g.begin(), g.end());
      }
      return out;
    case kPtMvBinary: return encodeVariableList(expect<std::vector<Bytes>>(type, value));
    case kPtMvUnicode: case kPtMvString8: {
      std::vector<Bytes> items;
      for (const std::string& s : expect<std::vector<std::string>>(type, value))
        items.push_back(type == kPtMvUnicode ? utf8ToUtf16le(s) : Bytes(s.begin(), s.end()));
      return encodeVariableList(items);
    }
    default: wrongAlternative(type);
  }
}

PropertyValue decodeValue(std::uint16_t type, ByteView bytes) {
  if (isRawType(type)) return Bytes(bytes.begin(), bytes.end());
  const std::uint32_t width = fixedWidth(type);
  if (width != 0 && bytes.size() < width)
    throw Error(ErrorKind::kCorrupt, "value of type " + typeName(type) + " has " + std::to_string(bytes.size()) + " bytes, needs " +
                std::to_string(width));
  const std::uint8_t* p = bytes.data();
  switch (type) {
    case kPtBoolean: return p[0] != 0;
    case kPtInt16: return load<std::int16_t>(p);
    case kPtInt32: case kPtError: return load<std::int32_t>(p);
    case kPtFloat: return static_cast<double>(load<float>(p));
    case kPtDouble: case kPtAppTime: return load<double>(p);
    case kPtCurrency: case kPtInt64: return load<std::int64_t>(p);
    case kPtSysTime: return FileTime{load<std::uint64_t>(p)};
    case kPtGuid: {
      Guid g;
      std::memcpy(g.bytes.data(), p, 16);
      return g;
    }
    case kPtUnicode: return utf16leToUtf8(bytes);
    case kPtString8: return std::string(bytes.begin(), bytes.end());
    case kPtBinary: return Bytes(bytes.begin(), bytes.end());
    default: break;
  }
  const std::uint32_t element = multiValuedElementWidth(type);
  if (element != 0 && bytes.size() % element != 0)
    throw Error(ErrorKind::kCorrupt, "multi-valued property " + typeName(type) + " has " + std::to_string(bytes.size()) +
                " bytes, not a multiple of " + std::to_string(element));
  switch (type) {
    case kPtMvInt16: case kPtMvInt32: {
      std::vector<std::int32_t> out;
      for (std::size_t at = 0; at < bytes.size(); at += element)
        out.push_back(element == 2 ? load<std::int16_t>(p + at) : load<std::int32_t>(p + at));
      return out;
    }
    case kPtMvInt64: case kPtMvSysTime: case kPtMvCurrency: {
      std::vector<std::int64_t> out;
      for (std::size_t at = 0; at < bytes.size(); at += 8) out.push_back(load<std::int64_t>(p + at));
      return out;
    }
    case kPtMvGuid: {
      std::vector<Bytes> out;
      for (std::size_t at = 0; at < bytes.size(); at += 16) out.emplace_back(p + at, p + at + 16);
      return out;
    }
    case kPtMvBinary: return decodeVariableList(type, bytes);
    case kPtMvUnicode: case kPtMvString8: {
      std::vector<std::string> out;
      for (const Bytes& item : decodeVariableList(type, bytes))
        out.push_back(type == kPtMvUnicode ? utf16leToUtf8(item) : std::string(item.begin(), item.end()));
      return out;
    }
    default: return Bytes(bytes.begin(), bytes.end());
  }
}

PropertyValue emptyValue(std::uint16_t type) {
  switch (type) {
    case kPtUnicode: case kPtString8: return std::string();
    case kPtMvInt16: case kPtMvInt32: return std::vector<std::int32_t>();
    case kPtMvInt64: case kPtMvSysTime: case kPtMvCurrency: return std::vector<std::int64_t>();
    case kPtMvUnicode: case kPtMvString8: return std::vector<std::string>();
    case kPtMvBinary: case kPtMvGuid: return std::vector<Bytes>();
    default: return Bytes();
  }
}

std::string tagName(PropTag tag) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", tag);
  return buf;
}

}  // namespace mailfold::pst::ltp

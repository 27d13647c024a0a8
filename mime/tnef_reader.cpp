#include "mime/tnef_reader.h"

#include <algorithm>
#include <cstring>

#include "mime/text_decoding.h"
#include "pst/ltp/utf16.h"

namespace mailfold::mime::tnef {

using namespace pst;

namespace {

constexpr std::uint32_t kSignature = 0x223E9F78;
constexpr std::uint8_t kLevelMessage = 0x01;
constexpr std::uint8_t kLevelAttachment = 0x02;

// Attribute ids as they stand in the stream (type in the high word, id in the low one).
constexpr std::uint32_t kAttSubject = 0x00018004;
constexpr std::uint32_t kAttBody = 0x0002800C;
constexpr std::uint32_t kAttRecipTable = 0x00069004;
constexpr std::uint32_t kAttPriority = 0x0004800D;
constexpr std::uint32_t kAttMessageClass = 0x00078008;
constexpr std::uint32_t kAttMapiProps = 0x00069003;
constexpr std::uint32_t kAttOemCodepage = 0x00069007;
constexpr std::uint32_t kAttAttachRendData = 0x00069002;
constexpr std::uint32_t kAttAttachData = 0x0006800F;
constexpr std::uint32_t kAttAttachTitle = 0x00018010;
constexpr std::uint32_t kAttAttachment = 0x00069005;

constexpr std::uint16_t kMultiValued = 0x1000;
constexpr std::uint16_t kPtNull = 0x0001;
constexpr std::uint16_t kPropIdAttachData = 0x3701;

// Reads forward through one buffer; every read is checked against what is left, and a failure
// names the absolute offset in the stream.
class Cursor {
 public:
  Cursor(std::span<const std::uint8_t> bytes, std::size_t base) : bytes_(bytes), base_(base) {}
  std::size_t left() const { return bytes_.size() - at_; }
  std::size_t offset() const { return base_ + at_; }

  std::span<const std::uint8_t> take(std::size_t n, const char* what) {
    if (n > left()) fail(std::string(what) + " needs " + std::to_string(n) + " bytes, " + std::to_string(left()) + " left");
    auto out = bytes_.subspan(at_, n);
    at_ += n;
    return out;
  }
  template <class T>
  T read(const char* what) {
    return load<T>(take(sizeof(T), what).data());
  }
  // Values are padded to a multiple of four; a writer that leaves out the padding of the last
  // value is read all the same.
  void skipPadding(std::size_t valueSize) {
    const std::size_t pad = (4 - valueSize % 4) % 4;
    at_ += std::min(pad, left());
  }
  // A count of items that each take at least `minSize` bytes, checked against what is left.
  std::uint32_t count(std::size_t minSize, const char* what) {
    const auto n = read<std::uint32_t>(what);
    if (n > left() / minSize) fail(std::string(what) + " of " + std::to_string(n) + " does not fit the " + std::to_string(left()) + " bytes left");
    return n;
  }
  bool restIsZeroFill() const {
    return std::all_of(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), bytes_.end(), [](std::uint8_t b) { return b == 0; });
  }
  [[noreturn]] void fail(const std::string& what) const { throw TnefError("TNEF at offset " + std::to_string(offset()) + ": " + what); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t base_;
  std::size_t at_ = 0;
};

std::string asString(std::span<const std::uint8_t> b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }

// The charset name of a Windows code page, for converting 8-bit strings.
std::string charsetForCodePage(std::uint32_t codePage) {
  switch (codePage) {
    case 0: return {};
    case 65001: return "UTF-8";
    case 20127: return "US-ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 932: return "SHIFT_JIS";
    case 936: return "GBK";
    case 949: return "CP949";
    case 950: return "BIG5";
    case 50220: return "ISO-2022-JP";
    case 51932: return "EUC-JP";
    default:
      if (codePage >= 28591 && codePage <= 28599) return "ISO-8859-" + std::to_string(codePage - 28590);
      if (codePage >= 1250 && codePage <= 1258) return "windows-" + std::to_string(codePage);
      return "CP" + std::to_string(codePage);
  }
}

// Text up to its first NUL (the terminator the writers add, and where readers stop).
std::string eightBitText(std::span<const std::uint8_t> b, std::uint32_t codePage) {
  const void* nul = std::memchr(b.data(), 0, b.size());
  const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - b.data()) : b.size();
  return decodeToUtf8(asString(b.first(n)), charsetForCodePage(codePage));
}

std::string unicodeText(std::span<const std::uint8_t> b) {
  std::size_t units = b.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    if (b[2 * i] == 0 && b[2 * i + 1] == 0) {
      units = i;
      break;
    }
  }
  return ltp::utf16leToUtf8(ByteView(b.data(), 2 * units));
}

// The width of one fixed-size value in the stream, 0 for a variable-size type.
std::size_t fixedWidth(std::uint16_t base, Cursor& c) {
  switch (base) {
    case kPtNull: case kPtInt16: case kPtBoolean: case kPtInt32: case kPtFloat: case kPtError: return 4;
    case kPtDouble: case kPtAppTime: case kPtCurrency: case kPtInt64: case kPtSysTime: return 8;
    case kPtGuid: return 16;
    case kPtString8: case kPtUnicode: case kPtBinary: case kPtObject: return 0;
    default: c.fail("property type " + hex(base) + " is not one TNEF carries");
  }
}

Guid readGuid(Cursor& c, const char* what) {
  Guid g;
  const auto b = c.take(16, what);
  std::copy(b.begin(), b.end(), g.bytes.begin());
  return g;
}

// One fixed-size value as the model holds it; nullopt for types it has no place for.
std::optional<PropertyValue> fixedValue(std::uint16_t base, const std::uint8_t* p) {
  switch (base) {
    case kPtInt16: return PropertyValue(load<std::int16_t>(p));
    case kPtBoolean: return PropertyValue(load<std::uint16_t>(p) != 0);
    case kPtInt32: case kPtError: return PropertyValue(load<std::int32_t>(p));
    case kPtFloat: return PropertyValue(static_cast<double>(load<float>(p)));
    case kPtDouble: case kPtAppTime: return PropertyValue(load<double>(p));
    case kPtCurrency: case kPtInt64: return PropertyValue(load<std::int64_t>(p));
    case kPtSysTime: return PropertyValue(FileTime{load<std::uint64_t>(p)});
    case kPtGuid: {
      Guid g;
      std::memcpy(g.bytes.data(), p, 16);
      return PropertyValue(g);
    }
    default: return std::nullopt;
  }
}

// Reads the value part of one property into `p`; returns false when the model has no place
// for its type (the bytes are consumed all the same).
bool readValue(Cursor& c, Property& p, std::uint32_t codePage) {
  const bool multi = (p.type & kMultiValued) != 0;
  const std::uint16_t base = p.type & 0x0FFF;
  const std::size_t width = fixedWidth(base, c);
  if (width != 0) {
    const std::uint32_t n = multi ? c.count(width, "value count") : 1;
    if (!multi) {
      const auto b = c.take(width, "property value");
      auto v = fixedValue(base, b.data());
      if (!v) return false;
      p.value = std::move(*v);
      return true;
    }
    std::vector<std::int32_t> ints;
    std::vector<std::int64_t> longs;
    std::vector<Bytes> guids;
    for (std::uint32_t i = 0; i < n; ++i) {
      const auto b = c.take(width, "property value");
      if (base == kPtInt16) ints.push_back(load<std::int16_t>(b.data()));
      else if (base == kPtInt32) ints.push_back(load<std::int32_t>(b.data()));
      else if (base == kPtInt64 || base == kPtCurrency || base == kPtSysTime) longs.push_back(load<std::int64_t>(b.data()));
      else if (base == kPtGuid) guids.emplace_back(b.begin(), b.end());
    }
    if (base == kPtInt16 || base == kPtInt32) p.value = std::move(ints);
    else if (base == kPtInt64 || base == kPtCurrency || base == kPtSysTime) p.value = std::move(longs);
    else if (base == kPtGuid) p.value = std::move(guids);
    else return false;  // multi-valued floats, doubles, booleans, errors: no model type
    return true;
  }
  // Strings, binaries and objects: a count (one for a single value), then each value sized and
  // padded.
  const std::uint32_t n = c.count(4, "value count");
  if (!multi && n != 1) c.fail("a single-valued property of type " + hex(base) + " has " + std::to_string(n) + " values");
  std::vector<std::string> texts;
  std::vector<Bytes> blobs;
  for (std::uint32_t i = 0; i < n; ++i) {
    const auto size = c.read<std::uint32_t>("value size");
    auto b = c.take(size, "property value");
    c.skipPadding(size);
    if (base == kPtObject) {
      if (b.size() < 16) c.fail("an object value of " + std::to_string(b.size()) + " bytes has no interface id");
      std::memcpy(p.objectInterface.bytes.data(), b.data(), 16);
      b = b.subspan(16);
    }
    if (base == kPtString8) texts.push_back(eightBitText(b, codePage));
    else if (base == kPtUnicode) texts.push_back(unicodeText(b));
    else blobs.emplace_back(b.begin(), b.end());
  }
  const bool text = base == kPtString8 || base == kPtUnicode;
  if (multi && base == kPtObject) return false;
  if (multi) {
    p.type = text ? std::uint16_t{kPtMvUnicode} : std::uint16_t{kPtMvBinary};
    if (text) p.value = std::move(texts);
    else p.value = std::move(blobs);
    return true;
  }
  if (text) {
    p.type = kPtUnicode;
    p.value = std::move(texts[0]);
  } else {
    p.value = std::move(blobs[0]);
  }
  return true;
}

std::vector<Property> readPropertyList(Cursor& c, std::uint32_t codePage) {
  // Each property takes at least its tag and a four-byte value.
  const std::uint32_t count = c.count(8, "property count");
  std::vector<Property> out;
  for (std::uint32_t i = 0; i < count; ++i) {
    Property p;
    p.type = c.read<std::uint16_t>("property type");
    p.id = c.read<std::uint16_t>("property id");
    if (p.id >= 0x8000) {
      NamedPropertyKey key;
      key.propertySet = readGuid(c, "property set");
      const auto kind = c.read<std::uint32_t>("name kind");
      if (kind == 0) {
        key.name = c.read<std::uint32_t>("name id");
      } else if (kind == 1) {
        const auto length = c.read<std::uint32_t>("name length");
        key.name = unicodeText(c.take(length, "name"));
        c.skipPadding(length);
      } else {
        c.fail("named property " + hex(p.id) + " has name kind " + std::to_string(kind));
      }
      p.name = std::move(key);
    }
    if (readValue(c, p, codePage)) out.push_back(std::move(p));
  }
  return out;
}

std::vector<Property> readProperties(std::span<const std::uint8_t> data, std::size_t base, std::uint32_t codePage) {
  Cursor c(data, base);
  return readPropertyList(c, codePage);
}

// The recipient table: a count of rows, each a property list.
std::vector<std::vector<Property>> readRecipientTable(std::span<const std::uint8_t> data, std::size_t base, std::uint32_t codePage) {
  Cursor c(data, base);
  const std::uint32_t rows = c.count(4, "recipient count");
  std::vector<std::vector<Property>> out;
  for (std::uint32_t i = 0; i < rows; ++i) out.push_back(readPropertyList(c, codePage));
  return out;
}

std::string legacyClass(const std::string& cls) {
  static constexpr std::pair<const char*, const char*> kClasses[] = {
      {"IPM.Microsoft Mail.Note", "IPM.Note"},
      {"IPM.Microsoft Mail.Read Receipt", "Report.IPM.Note.IPNRN"},
      {"IPM.Microsoft Mail.Non-Delivery", "Report.IPM.Note.NDR"},
      {"IPM.Microsoft Schedule.MtgReq", "IPM.Schedule.Meeting.Request"},
      {"IPM.Microsoft Schedule.MtgRespP", "IPM.Schedule.Meeting.Resp.Pos"},
      {"IPM.Microsoft Schedule.MtgRespN", "IPM.Schedule.Meeting.Resp.Neg"},
      {"IPM.Microsoft Schedule.MtgRespA", "IPM.Schedule.Meeting.Resp.Tent"},
      {"IPM.Microsoft Schedule.MtgCncl", "IPM.Schedule.Meeting.Canceled"},
  };
  for (const auto& [legacy, mapi] : kClasses) {
    if (cls == legacy) return mapi;
  }
  return cls;
}

Message readStream(std::span<const std::uint8_t> bytes, int depth);

void decodeEmbedded(Attachment& a, int depth, std::size_t index) {
  for (const Property& p : a.props) {
    if (p.id != kPropIdAttachData || p.type != kPtObject || p.objectInterface != kIidMessage) continue;
    const Bytes& inner = std::get<Bytes>(p.value);
    if (depth + 1 > kMaxTnefDepth) throw TnefError("TNEF: messages nested more than " + std::to_string(kMaxTnefDepth) + " deep");
    try {
      a.embedded = std::make_shared<Message>(readStream(inner, depth + 1));
    } catch (const TnefError& e) {
      throw TnefError("attachment " + std::to_string(index + 1) + " (an attached message, offsets within it): ", e);
    }
    return;
  }
}

Message readStream(std::span<const std::uint8_t> bytes, int depth) {
  Cursor c(bytes, 0);
  if (c.left() < 6 || c.read<std::uint32_t>("signature") != kSignature) throw TnefError("not a TNEF stream (no TNEF signature)");
  c.read<std::uint16_t>("key");
  Message m;
  Attachment* current = nullptr;
  auto attachment = [&]() -> Attachment& {
    if (!current) current = &m.attachments.emplace_back();
    return *current;
  };
  while (c.left() > 0) {
    if (c.restIsZeroFill()) break;  // some writers pad the stream after its last attribute
    const auto level = c.read<std::uint8_t>("attribute level");
    const auto id = c.read<std::uint32_t>("attribute id");
    const auto length = c.read<std::uint32_t>("attribute length");
    const std::size_t dataOffset = c.offset();
    const auto data = c.take(length, "attribute data");
    const auto checksum = c.read<std::uint16_t>("attribute checksum");
    std::uint32_t sum = 0;
    for (std::uint8_t b : data) sum += b;
    if ((sum & 0xFFFF) != checksum) {
      throw TnefError("TNEF at offset " + std::to_string(dataOffset) + ": attribute " + hex(id) + " fails its checksum");
    }
    if (level == kLevelMessage) {
      if (id == kAttOemCodepage && data.size() >= 4) m.codePage = load<std::uint32_t>(data.data());
      else if (id == kAttMessageClass) m.messageClass = legacyClass(eightBitText(data, 0));
      else if (id == kAttPriority && data.size() >= 2) {
        const auto priority = load<std::uint16_t>(data.data());
        m.importance = priority == 1 ? 2 : priority == 3 ? 0 : 1;
      } else if (id == kAttSubject) m.subject = eightBitText(data, m.codePage);
      else if (id == kAttBody) m.body = eightBitText(data, m.codePage);
      else if (id == kAttRecipTable) m.recipients = readRecipientTable(data, dataOffset, m.codePage);
      else if (id == kAttMapiProps) m.props = readProperties(data, dataOffset, m.codePage);
    } else if (level == kLevelAttachment) {
      if (id == kAttAttachRendData) current = &m.attachments.emplace_back();
      else if (id == kAttAttachData) attachment().data = Bytes(data.begin(), data.end());
      else if (id == kAttAttachTitle) attachment().title = eightBitText(data, m.codePage);
      else if (id == kAttAttachment) {
        Attachment& a = attachment();
        a.props = readProperties(data, dataOffset, m.codePage);
        decodeEmbedded(a, depth, m.attachments.size() - 1);
      }
    } else {
      throw TnefError("TNEF at offset " + std::to_string(dataOffset - 9) + ": attribute level " + std::to_string(level) + " is neither message nor attachment");
    }
  }
  return m;
}

}  // namespace

Message readTnef(std::span<const std::uint8_t> bytes) { return readStream(bytes, 0); }

const Property* findProperty(const std::vector<Property>& props, std::uint16_t id) {
  for (const Property& p : props) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

}  // namespace mailfold::mime::tnef

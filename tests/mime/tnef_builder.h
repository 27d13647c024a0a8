// Builds TNEF streams for tests: attributes with their checksums, property lists in the
// encoding attMAPIProps, attAttachment and attRecipTable share.
#pragma once

#include <cstdint>
#include <string>

#include "pst/messaging/message_model.h"

namespace mailfold::test {

class TnefProps {
 public:
  TnefProps& i32(std::uint16_t id, std::int32_t v) { return tag(pst::kPtInt32, id).u32(static_cast<std::uint32_t>(v)); }
  TnefProps& boolean(std::uint16_t id, bool v) { return tag(pst::kPtBoolean, id).u32(v ? 1 : 0); }
  TnefProps& str8(std::uint16_t id, const std::string& s) { return tag(pst::kPtString8, id).u32(1).sized(s + '\0'); }
  TnefProps& binary(std::uint16_t id, const std::string& b) { return tag(pst::kPtBinary, id).u32(1).sized(b); }
  TnefProps& object(std::uint16_t id, const pst::Guid& iid, const std::string& content) {
    return tag(pst::kPtObject, id).u32(1).sized(std::string(iid.bytes.begin(), iid.bytes.end()) + content);
  }
  // A named property (by LID) of type Int32.
  TnefProps& namedI32(std::uint16_t id, const pst::Guid& set, std::uint32_t lid, std::int32_t v) {
    tag(pst::kPtInt32, id).raw(std::string(set.bytes.begin(), set.bytes.end())).u32(0).u32(lid);
    return u32(static_cast<std::uint32_t>(v));
  }
  // A named property (by string name, ASCII here) of type String8.
  TnefProps& namedStr8(std::uint16_t id, const pst::Guid& set, const std::string& name, const std::string& v) {
    std::string utf16;
    for (char c : name + '\0') utf16 += std::string{c, '\0'};
    tag(pst::kPtString8, id).raw(std::string(set.bytes.begin(), set.bytes.end())).u32(1).sized(utf16);
    return u32(1).sized(v + '\0');
  }
  // A list with a wrong count or anything else a test wants to damage.
  TnefProps& raw(const std::string& b) {
    body_ += b;
    return *this;
  }
  std::string bytes() const { return le32(count_) + body_; }

  static std::string le32(std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

 private:
  TnefProps& tag(std::uint16_t type, std::uint16_t id) {
    ++count_;
    return raw(std::string{char(type), char(type >> 8), char(id), char(id >> 8)});
  }
  TnefProps& u32(std::uint32_t v) { return raw(le32(v)); }
  TnefProps& sized(const std::string& b) {
    u32(static_cast<std::uint32_t>(b.size())).raw(b);
    return raw(std::string((4 - b.size() % 4) % 4, '\0'));
  }
  std::uint32_t count_ = 0;
  std::string body_;
};

class TnefStream {
 public:
  static constexpr std::uint8_t kMessage = 1, kAttachment = 2;
  TnefStream() : bytes_(std::string("\x78\x9f\x3e\x22\x01\x00", 6)) {}
  TnefStream& attribute(std::uint8_t level, std::uint32_t id, const std::string& data) {
    std::uint32_t sum = 0;
    for (unsigned char c : data) sum += c;
    bytes_ += std::string(1, char(level)) + TnefProps::le32(id) + TnefProps::le32(static_cast<std::uint32_t>(data.size())) + data;
    bytes_ += std::string{char(sum), char(sum >> 8)};
    return *this;
  }
  TnefStream& messageProps(const TnefProps& p) { return attribute(kMessage, 0x00069003, p.bytes()); }
  TnefStream& messageClass(const std::string& cls) { return attribute(kMessage, 0x00078008, cls + '\0'); }
  // One attachment: its start, title, data and properties.
  TnefStream& attachment(const std::string& title, const std::string& data, const TnefProps& props) {
    attribute(kAttachment, 0x00069002, std::string(14, '\0'));
    attribute(kAttachment, 0x00018010, title + '\0');
    attribute(kAttachment, 0x0006800F, data);
    return attribute(kAttachment, 0x00069005, props.bytes());
  }
  TnefStream& recipients(const std::string& table) { return attribute(kMessage, 0x00069004, table); }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace mailfold::test

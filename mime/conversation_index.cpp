#include "mime/conversation_index.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <random>

#include "mime/gmime_ptr.h"

namespace mailfold::mime {
namespace {

using Digest = std::array<std::uint8_t, 16>;

Digest md5(std::string_view text) {
  GChecksum* sum = g_checksum_new(G_CHECKSUM_MD5);
  g_checksum_update(sum, reinterpret_cast<const guchar*>(text.data()), static_cast<gssize>(text.size()));
  Digest digest{};
  gsize length = digest.size();
  g_checksum_get_digest(sum, digest.data(), &length);
  g_checksum_free(sum);
  return digest;
}

Digest randomBytes() {
  // One device per thread: opening one is a system call and more, for 16 bytes.
  static thread_local std::random_device device;
  Digest bytes{};
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const std::uint32_t r = device();
    for (std::size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
  }
  return bytes;
}

// The header block: the high six bytes of a FILETIME, big-endian, then the GUID. The first byte
// is the 0x01 a reader checks for; it is the FILETIME's own top byte for any time from 1829 to
// 2057, and a time outside that range is moved to its nearer end. The GUID is written in the
// index's byte order (Data1..Data3 big-endian), which is the order of the bytes as given; they
// are marked as an RFC 4122 UUID of `version` (3: from a name's MD5, 4: random) so that GUIDs of
// the two kinds never collide.
void appendHeader(pst::Bytes& out, pst::FileTime time, Digest guid, int version) {
  constexpr std::uint64_t kFirst = 0x0100000000000000ull;
  constexpr std::uint64_t kLast = 0x01FFFFFFFFFFFFFFull;
  const std::uint64_t ticks = std::clamp(time.ticks, kFirst, kLast);
  for (int shift = 56; shift >= 16; shift -= 8) out.push_back(static_cast<std::uint8_t>(ticks >> shift));
  guid[6] = static_cast<std::uint8_t>((guid[6] & 0x0F) | (version << 4));
  guid[8] = static_cast<std::uint8_t>((guid[8] & 0x3F) | 0x80);
  out.insert(out.end(), guid.begin(), guid.end());
}

// A child block: the delta-code bit (0), 31 bits of time delta, then a random and a sequence
// nibble. All of it comes from the id's hash, so that every descendant computes the same block.
void appendChildBlock(pst::Bytes& out, const Digest& h) {
  out.push_back(static_cast<std::uint8_t>(h[0] & 0x7F));
  out.insert(out.end(), h.begin() + 1, h.begin() + kConversationChildBytes);
}

bool isWellFormedIndex(const pst::Bytes& index) {
  return index.size() >= kConversationHeaderBytes && (index.size() - kConversationHeaderBytes) % kConversationChildBytes == 0 &&
         index[0] == 0x01;
}

std::optional<pst::Bytes> decodeThreadIndex(std::string_view base64) {
  if (base64.empty()) return std::nullopt;
  const std::string text(base64);
  gsize length = 0;
  detail::GCharPtr decoded(reinterpret_cast<char*>(g_base64_decode(text.c_str(), &length)));
  if (!decoded) return std::nullopt;
  pst::Bytes index(decoded.get(), decoded.get() + length);
  if (!isWellFormedIndex(index)) return std::nullopt;
  return index;
}

// The message's own id: the first bracketed one, else the whole value when it is one word.
std::string ownId(std::string_view messageId) {
  std::vector<std::string> ids = messageIdsIn(messageId);
  if (!ids.empty()) return ids.front();
  std::string id;
  for (char c : messageId) {
    if (std::isspace(static_cast<unsigned char>(c))) return {};
    id += c;
  }
  return id;
}

// The ids from the root down to the parent. References lists them oldest first and ends with
// the parent; In-Reply-To names the parent. Where they disagree In-Reply-To decides the parent:
// the chain is cut after it when References holds it, extended by it when not.
std::vector<std::string> ancestors(const ThreadHeaders& headers, const std::string& self) {
  std::vector<std::string> chain = messageIdsIn(headers.references);
  const std::vector<std::string> replyTo = messageIdsIn(headers.inReplyTo);
  if (!replyTo.empty()) {
    const std::string& parent = replyTo.front();
    const auto found = std::find(chain.begin(), chain.end(), parent);
    if (found == chain.end()) chain.push_back(parent);
    else chain.erase(found + 1, chain.end());
  }
  // A message does not descend from itself (a broken References that lists its own id).
  if (!self.empty()) {
    const auto found = std::find(chain.begin(), chain.end(), self);
    chain.erase(found, chain.end());
  }
  return chain;
}

}  // namespace

std::vector<std::string> messageIdsIn(std::string_view text) {
  std::vector<std::string> ids;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('<', pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('>', open + 1);
    if (close == std::string_view::npos) break;
    std::string id;
    for (char c : text.substr(open + 1, close - open - 1)) {
      if (!std::isspace(static_cast<unsigned char>(c))) id += c;
    }
    if (!id.empty()) ids.push_back(std::move(id));
    pos = close + 1;
  }
  return ids;
}

pst::Bytes conversationIndex(const ThreadHeaders& headers, pst::FileTime date) {
  if (auto kept = decodeThreadIndex(headers.threadIndex)) return std::move(*kept);

  const std::string self = ownId(headers.messageId);
  std::vector<std::string> chain = ancestors(headers, self);
  pst::Bytes index;
  if (chain.empty() && self.empty()) {
    appendHeader(index, date, randomBytes(), 4);
    return index;
  }
  const std::string& root = chain.empty() ? self : chain.front();
  appendHeader(index, pst::FileTime{0}, md5(root), 3);  // the earliest time: 01 00 00 00 00 00
  if (chain.empty()) return index;  // the root itself

  // Below the root: the ancestors after it, then the message itself. A reply without an id of
  // its own still sits one level below its parent; no message can name it as a parent, so its
  // block is random.
  std::vector<Digest> levels;
  const std::size_t first = chain.size() > kMaxConversationChildBlocks ? chain.size() - kMaxConversationChildBlocks + 1 : 1;
  for (std::size_t i = first; i < chain.size(); ++i) levels.push_back(md5(chain[i]));
  levels.push_back(self.empty() ? randomBytes() : md5(self));
  index.reserve(kConversationHeaderBytes + levels.size() * kConversationChildBytes);
  for (const Digest& level : levels) appendChildBlock(index, level);
  return index;
}

}  // namespace mailfold::mime

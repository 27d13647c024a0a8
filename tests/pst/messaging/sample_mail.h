// Test mail for store round trips: a deterministic set of messages with plain and HTML bodies,
// To/Cc/Bcc recipients, attachments of many sizes, attached messages inside attached messages
// and named properties, plus a JSON manifest of what was written for the reader comparisons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pst/messaging/message_model.h"

namespace mailfold::test {

// Attachment bytes are a pattern any checker can regenerate: byte k = (k * 131 + seed) mod 251.
std::uint8_t patternByte(std::uint64_t k, std::uint32_t seed);

class PatternSource final : public pst::ByteSource {
 public:
  PatternSource(std::uint64_t size, std::uint32_t seed) : size_(size), seed_(seed) {}
  std::uint64_t size() const override { return size_; }
  std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::uint64_t size_;
  std::uint32_t seed_;
};

inline const pst::Guid kPsetCommon{
    {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Message number `i` of the sample set.
pst::MessageModel sampleMessage(int i);
std::string sampleSubject(int i);
bool sampleIsRead(int i);

// The manifest: {"folders":[{"path":"A\\B","messages":[{subject, body, html, attachments:[{name,
// size, seed, embedded}]}]}]} with paths relative to the IPM root.
struct ManifestFolder {
  std::string path;
  std::vector<int> messages;
};
std::string manifestJson(const std::vector<ManifestFolder>& folders);

// Runs tests/pst/messaging/oracle_compare.py for `reader` (pffexport, readpst or npm); returns its
// exit code, its output in `output`. 77 means the reader is not installed.
int compareWithReader(const std::string& reader, const std::string& store, const std::string& manifestPath,
                      std::string& output);

}  // namespace mailfold::test

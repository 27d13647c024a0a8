// Attachment content kept in an unlinked temporary file, so that a large attachment is decoded
// once to disk and read back by the store writer in pieces instead of sitting in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pst/messaging/message_model.h"

namespace mailfold::mime {

class TempFileSource final : public pst::ByteSource {
 public:
  // Creates an empty unlinked file in `directory` (the system's temporary folder when empty).
  // Throws pst::Error when the file cannot be made.
  explicit TempFileSource(const std::string& directory);
  ~TempFileSource() override;
  TempFileSource(const TempFileSource&) = delete;
  TempFileSource& operator=(const TempFileSource&) = delete;

  int fd() const { return fd_; }
  // Records the final size once writing through fd() is done.
  void finish();

  std::uint64_t size() const override { return size_; }
  std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

}  // namespace mailfold::mime

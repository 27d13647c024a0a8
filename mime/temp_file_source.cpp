#include "mime/temp_file_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace mailfold::mime {

TempFileSource::TempFileSource(const std::string& directory) {
  std::error_code ec;
  const std::filesystem::path dir = directory.empty() ? std::filesystem::temp_directory_path(ec) : std::filesystem::path(directory);
  std::string pattern = (dir / "mailfold-attachment-XXXXXX").string();
  fd_ = mkstemp(pattern.data());
  if (fd_ < 0) {
    throw pst::Error(pst::ErrorKind::kIo, "cannot create a temporary file for attachment data in " + dir.string() + ": " +
                     std::strerror(errno));
  }
  unlink(pattern.c_str());  // removed with the last descriptor, whatever happens to the process
}

TempFileSource::~TempFileSource() {
  if (fd_ >= 0) close(fd_);
}

void TempFileSource::finish() {
  struct stat st {};
  if (fstat(fd_, &st) != 0) throw pst::Error(pst::ErrorKind::kIo, std::string("cannot size temporary attachment file: ") + std::strerror(errno));
  size_ = static_cast<std::uint64_t>(st.st_size);
}

std::size_t TempFileSource::read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  std::size_t done = 0;
  while (done < out.size() && offset + done < size_) {
    const ssize_t n = pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw pst::Error(pst::ErrorKind::kIo, std::string("cannot read temporary attachment file: ") + std::strerror(errno));
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace mailfold::mime

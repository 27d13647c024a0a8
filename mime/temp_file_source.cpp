#include "mime/temp_file_source.h"

#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include "files/runtime_io_win32.h"
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace mailfold::mime {

TempFileSource::TempFileSource(const std::string& directory) {
  std::error_code ec;
  const std::filesystem::path dir = directory.empty() ? std::filesystem::temp_directory_path(ec) : std::filesystem::path(directory);
#ifdef _WIN32
  // Deleted by the system when closed; an open file cannot be unlinked there.
  fd_ = files::CreateTemporaryFile(directory);
  const std::string pattern;
#else
  std::string pattern = (dir / "mailfold-attachment-XXXXXX").string();
  fd_ = mkstemp(pattern.data());
#endif
  if (fd_ < 0) {
    throw pst::Error(pst::ErrorKind::kIo, "cannot create a temporary file for attachment data in " + dir.string() + ": " +
                     std::strerror(errno));
  }
#ifndef _WIN32
  unlink(pattern.c_str());  // removed with the last descriptor, whatever happens to the process
#endif
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
#ifdef _WIN32
    const long long n = files::ReadAt(fd_, out.data() + done, out.size() - done, offset + done);
#else
    const ssize_t n = pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
#endif
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw pst::Error(pst::ErrorKind::kIo, std::string("cannot read temporary attachment file: ") + std::strerror(errno));
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace mailfold::mime

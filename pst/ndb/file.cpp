#include "pst/ndb/file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

namespace mailfold::pst::ndb {
namespace {

std::string errnoText(int err) { return std::strerror(err); }

struct ArmedPlans {
  std::mutex mutex;
  std::map<std::string, FaultPlan> byPath;
};
ArmedPlans& armedPlans() {
  static ArmedPlans plans;
  return plans;
}

}  // namespace

std::optional<FaultPlan> File::takeArmedPlan(const std::string& path) {
  ArmedPlans& a = armedPlans();
  std::lock_guard<std::mutex> lock(a.mutex);
  auto it = a.byPath.find(path);
  if (it == a.byPath.end()) return std::nullopt;
  FaultPlan plan = it->second;
  a.byPath.erase(it);
  return plan;
}

#ifndef _WIN32
std::unique_ptr<File> File::open(const std::string& path, Mode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead: flags |= O_RDONLY; break;
    case Mode::kReadWrite: flags |= O_RDWR; break;
    case Mode::kCreate: flags |= O_RDWR | O_CREAT; break;  // emptied once locked
  }
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) throw Error(errno == ENOENT ? ErrorKind::kNotFound : ErrorKind::kIo, "cannot open \"" + path + "\": " + errnoText(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Error(ErrorKind::kBadInput, "cannot open \"" + path + "\": not a regular file");
  }
  // One writer at a time: a second one (another process, or another object in this one)
  // would overwrite space the first believes free.
  if (mode != Mode::kRead && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK)
      throw StoreInUseError("\"" + path + "\": the store is in use (another program or window has it open for writing, or is checking it)");
    throw Error(ErrorKind::kIo, "cannot lock \"" + path + "\": " + errnoText(err));
  }
  if (mode == Mode::kCreate && ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    throw Error(ErrorKind::kIo, "cannot empty \"" + path + "\": " + errnoText(err));
  }
  std::unique_ptr<File> file(new File(fd, path, mode != Mode::kRead));
  if (mode != Mode::kRead)
    if (auto plan = takeArmedPlan(path)) file->setFaultPlan(*plan);
  return file;
}

#endif

void File::armFaultPlan(const std::string& path, const FaultPlan& plan) {
  ArmedPlans& a = armedPlans();
  std::lock_guard<std::mutex> lock(a.mutex);
  a.byPath[path] = plan;
}

void File::disarmFaultPlans() {
  ArmedPlans& a = armedPlans();
  std::lock_guard<std::mutex> lock(a.mutex);
  a.byPath.clear();
}

#ifndef _WIN32
File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

void File::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool File::lockShared() {
  if (fd_ < 0) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  if (::flock(fd_, LOCK_SH | LOCK_NB) == 0) return true;
  return errno != EWOULDBLOCK;
}

Bytes File::read(std::uint64_t offset, std::size_t size, const char* what) const {
  if (fd_ < 0) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  Bytes out(size);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, out.data() + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(ErrorKind::kIo, std::string("cannot read ") + what + " at offset " + std::to_string(offset) + " of \"" +
                  path_ + "\": " + errnoText(errno));
    }
    if (n == 0)
      throw Error(ErrorKind::kCorrupt, std::string(what) + " at offset " + std::to_string(offset) + " (" + std::to_string(size) +
                  " bytes) lies past the end of \"" + path_ + "\" (file is truncated or damaged)");
    done += static_cast<std::size_t>(n);
  }
  return out;
}

#endif

void File::maybeFail(bool isWrite) {
  if (failed_ && plan_.sticky) {
    errno = plan_.error;
    throw Error(ErrorKind::kIo, std::string(isWrite ? "write" : "flush") + " to \"" + path_ + "\" failed: " + errnoText(plan_.error));
  }
  std::uint64_t& counter = isWrite ? planWrites_ : planFlushes_;
  std::uint64_t at = isWrite ? plan_.failWriteAt : plan_.failFlushAt;
  ++counter;
  if (at != 0 && counter == at) {
    failed_ = true;
    throw Error(ErrorKind::kIo, std::string(isWrite ? "write" : "flush") + " to \"" + path_ + "\" failed: " + errnoText(plan_.error));
  }
}

#ifndef _WIN32
void File::write(std::uint64_t offset, ByteView data) {
  if (fd_ < 0) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  if (!writable_) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is open read-only");
  maybeFail(true);
  ++writes_;
  bytesWritten_ += data.size();
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(ErrorKind::kIo, "cannot write " + std::to_string(data.size()) + " bytes at offset " + std::to_string(offset) +
                  " of \"" + path_ + "\": " + errnoText(errno));
    }
    done += static_cast<std::size_t>(n);
  }
}

void File::flush() {
  if (fd_ < 0) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  if (!writable_) return;
  maybeFail(false);
  ++flushes_;
  if (::fdatasync(fd_) != 0) throw Error(ErrorKind::kIo, "cannot flush \"" + path_ + "\": " + errnoText(errno));
}

std::uint64_t File::size() const {
  if (fd_ < 0) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw Error(ErrorKind::kIo, "cannot stat \"" + path_ + "\": " + errnoText(errno));
  return static_cast<std::uint64_t>(st.st_size);
}

void File::truncate(std::uint64_t size) {
  if (fd_ < 0) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is closed");
  if (!writable_) throw Error(ErrorKind::kRefused, "\"" + path_ + "\" is open read-only");
  maybeFail(true);
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
    throw Error(ErrorKind::kIo, "cannot resize \"" + path_ + "\" to " + std::to_string(size) + " bytes: " + errnoText(errno));
}

#endif

void File::setFaultPlan(const FaultPlan& plan) {
  plan_ = plan;
  planWrites_ = planFlushes_ = 0;
  failed_ = false;
}

}  // namespace mailfold::pst::ndb

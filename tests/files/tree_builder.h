// Small helpers for building folder trees on disk, and for running a piece of a test without
// root's power to ignore permissions.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace mailfold::test {

inline void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) throw std::runtime_error("mkdir " + path);
}

inline void MakeFile(const std::string& path, const std::string& content = "x") {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("create " + path);
  const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  ::close(fd);
  if (!written) throw std::runtime_error("write " + path);
}

inline void MakeLink(const std::string& target, const std::string& path) {
  if (::symlink(target.c_str(), path.c_str()) != 0) throw std::runtime_error("symlink " + path);
}

// Runs `body` in a child process that has given up root (when the test runs as root), in a
// fresh temporary folder owned by that user, and returns what `body` returned. Empty when the
// child could not run or failed; permission tests are meaningless as root otherwise.
inline std::optional<std::string> RunUnprivileged(const std::function<std::string(const std::string&)>& body) {
  int channel[2];
  if (::pipe(channel) != 0) return std::nullopt;
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::close(channel[0]);
    int status = 1;
    if (::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0)) {
      char pattern[] = "/tmp/mailfold-unprivileged-XXXXXX";
      if (::mkdtemp(pattern) != nullptr) {
        std::string result;
        try {
          result = body(pattern);
          status = 0;
        } catch (...) {
        }
        std::filesystem::path root(pattern);
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 root, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
          std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                       std::filesystem::perm_options::add, ec);
        }
        // A second pass reaches what the first could not enter.
        ::chmod(pattern, 0700);
        std::filesystem::remove_all(root, ec);
        if (status == 0 && ::write(channel[1], result.data(), result.size()) != static_cast<ssize_t>(result.size())) {
          status = 1;
        }
      }
    }
    ::close(channel[1]);
    ::_exit(status);
  }
  ::close(channel[1]);
  std::string output;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(channel[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<std::size_t>(got));
  ::close(channel[0]);
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return output;
}

}  // namespace mailfold::test

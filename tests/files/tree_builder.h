// Small helpers for building folder trees on disk, and for running a piece of a test without
// root's power to ignore permissions.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "files/utf8_path.h"
#include "support/temp_dir.h"

namespace mailfold::test {

#ifdef _WIN32
// Windows has no modes, links or forked children: folders and files only.
inline void MakeFolder(const std::string& path) { std::filesystem::create_directory(files::PathFromUtf8(path)); }

inline void MakeFile(const std::string& path, const std::string& content = "x") {
  std::ofstream out(files::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  if (!(out << content)) throw std::runtime_error("write " + path);
}
#else
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

// The permission bits of an entry (links followed), or kNoMode when it cannot be read.
inline constexpr mode_t kNoMode = static_cast<mode_t>(-1);
inline mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : kNoMode;
}

inline bool EntryExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
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
      std::string result;
      try {
        const TempDir work;  // owned by the unprivileged user, removed before the child ends
        result = body(work.str());
        status = 0;
      } catch (...) {
      }
      if (status == 0 && ::write(channel[1], result.data(), result.size()) != static_cast<ssize_t>(result.size())) {
        status = 1;
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
#endif

}  // namespace mailfold::test

// A temporary folder removed with everything in it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace mailfold::test {

class TempDir {
 public:
  TempDir() {
#ifdef _WIN32
    // No mkdtemp: a random name, taken only when create_directory made it.
    std::random_device random;
    for (int attempt = 0; path_.empty(); ++attempt) {
      if (attempt == 100) throw std::runtime_error("cannot make a temporary folder");
      const auto candidate = std::filesystem::temp_directory_path() / ("mailfold-test-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate;
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "mailfold-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
  }
  ~TempDir() {
    std::error_code ec;
    // Restore write permission first so that read-only entries made by a test can go.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace mailfold::test

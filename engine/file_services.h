// The file services the engine calls on single paths, bundled so that tests can watch or replace
// them. System() binds the real ones.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace mailfold::engine {

struct FileServices {
  std::function<bool(const std::string&)> folderExists;
  std::function<bool(const std::string&)> fileExists;
  // 0 when the file is gone, else an error code (not looked at by the engine).
  std::function<std::int32_t(const std::string&)> deleteFileForced;

  static FileServices System();
};

}  // namespace mailfold::engine

#include "tools/convert/folder_selection.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <system_error>

#include "files/utf8_path.h"

namespace mailfold::convert {

namespace fs = std::filesystem;

std::string NormalizeFolderPath(const std::string& path) {
  std::error_code error;
  // On Windows "C:/mail/inbox": the engine splits paths at "/"; Windows takes that form as it is.
  std::string absolute = files::Utf8FromPath(fs::absolute(files::PathFromUtf8(path), error).lexically_normal());
  if (error || absolute.empty()) absolute = path;
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return absolute;
}

CommandLineSelection CommandLineSelection::Single(std::string sourcePath) {
  CommandLineSelection selection;
  selection.mode_ = engine::ConversionMode::SingleFolder;
  selection.source_ = NormalizeFolderPath(sourcePath);
  return selection;
}

CommandLineSelection CommandLineSelection::Multiple(const std::string& root, const std::vector<std::string>& names,
                                                    std::string outputFolder) {
  CommandLineSelection selection;
  selection.mode_ = engine::ConversionMode::MultipleFolders;
  selection.source_ = NormalizeFolderPath(root);
  selection.outputFolder_ = std::move(outputFolder);

  std::vector<std::string> folders;
  std::error_code error;
  fs::directory_iterator entries(files::PathFromUtf8(selection.source_), error);
  if (error) throw std::runtime_error("cannot list the folder " + selection.source_ + ": " + error.message());
  for (const auto& entry : entries) {
    std::error_code kindError;
    if (entry.is_directory(kindError)) folders.push_back(files::Utf8FromPath(entry.path().filename()));
  }
  std::sort(folders.begin(), folders.end());

  std::set<std::string> wanted;
  for (std::string name : names) {
    while (name.size() > 1 && name.back() == '/') name.pop_back();  // as a shell completes it
    wanted.insert(name);
  }
  for (const auto& name : wanted) {
    if (!std::binary_search(folders.begin(), folders.end(), name))
      throw std::runtime_error("\"" + name + "\" is not a sub-folder of " + selection.source_);
  }
  const std::string prefix = selection.source_ == "/" ? "/" : selection.source_ + "/";
  for (const auto& name : folders)
    selection.rows_.push_back({wanted.empty() || wanted.count(name) > 0, name, prefix + name});
  return selection;
}

}  // namespace mailfold::convert

// Shared helpers of the safety tests: the sample stores, what each may be used for, file
// contents, and running the independent readers.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pst/ltp/property_context.h"
#include "pst/messaging/store_tags.h"
#include "pst/ndb/node_database.h"
#include "support/paths.h"

namespace mailfold::pst::safety {

inline std::filesystem::path samplesDir() { return test::sharedDir() / "samples" / "pst"; }
inline std::filesystem::path sample(const std::string& name) { return samplesDir() / name; }

inline std::vector<std::string> allSamples() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(samplesDir()))
    if (e.path().extension() == ".pst") out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Why a store may not be added to, read independently of the code under test: the header
// version and the message store's password checksum. Empty when it may be.
inline std::string refusalReason(const std::string& path) {
  auto db = ndb::NodeDatabase::open(path);
  if (!db->format().unicode) return "ANSI";
  auto node = db->openNode(kNidMessageStore);
  auto v = ltp::PropertyContext::open(*node).get(kPrPstPassword);
  const auto* crc = v ? std::get_if<std::int32_t>(&*v) : nullptr;
  return crc && *crc != 0 ? "password" : "";
}

// The passwords of the protected samples whose original file names carried them.
inline std::optional<std::string> knownPassword(const std::string& sampleName) {
  static const std::map<std::string, std::string> known = {
      {"pst2john-outlook2010-openwall-password.pst", "openwall"},
      {"pst2john-2003-unicode-no-encryption-b.pst", "quickquick12"},
      {"pst2john-2003-unicode-high-encryption-b.pst", "cheechNchong"}};
  const auto found = known.find(sampleName);
  return found == known.end() ? std::nullopt : std::optional<std::string>(found->second);
}

inline std::string fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A writable copy of a sample (the shared files are read-only).
inline std::string copySample(const std::string& name, const std::filesystem::path& to) {
  std::filesystem::copy_file(sample(name), to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  return to.string();
}

// Runs a shell command; returns its exit status and fills `output` with stdout and stderr.
inline int runCommand(const std::string& command, std::string* output = nullptr) {
#ifdef _WIN32
  FILE* p = ::_popen((command + " 2>&1").c_str(), "rb");
#else
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
#endif
  if (!p) return -1;
  std::string out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
#ifdef _WIN32
  const int status = ::_pclose(p);  // the program's exit code
#else
  const int raw = ::pclose(p);
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  if (output) *output = std::move(out);
  return status;
}

inline bool haveProgram(const std::string& name) { return runCommand("command -v " + name + " >/dev/null") == 0; }

inline std::string quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Every file of a directory tree, by path relative to the tree, with its contents.
inline std::map<std::string, std::string> treeFiles(const std::filesystem::path& root) {
  std::map<std::string, std::string> out;
  if (!std::filesystem::exists(root)) return out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file()) out[std::filesystem::relative(e.path(), root).string()] = fileBytes(e.path());
    else if (e.is_directory()) out[std::filesystem::relative(e.path(), root).string() + "/"] = "";
  return out;
}

}  // namespace mailfold::pst::safety

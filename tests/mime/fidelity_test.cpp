// Every sample message imported and compared, field by field, with what Python's standard
// email package makes of the same file (tests/mime/oracle.py). Fails below 99 % per field.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "mime/importer.h"
#include "model_json.h"
#include "support/paths.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace mailfold;

namespace {

std::vector<fs::path> sampleMessages(const fs::path& root) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".eml") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Runs a command, returns its exit status and what it printed.
int run(const std::string& command, std::string& output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> buf{};
  while (std::size_t n = fread(buf.data(), 1, buf.size(), pipe)) output.append(buf.data(), n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(Fidelity, SampleMessagesAgreeWithThePythonEmailPackage) {
  MAILFOLD_REQUIRE_SHARED();
  std::string probe;
  // The Debian python, which carries the icalendar package (another python may come first on PATH).
  if (run("/usr/bin/python3 -c 'import email.policy, icalendar'", probe) != 0) {
    GTEST_SKIP() << "python3 with icalendar not available: " << probe;
  }

  const fs::path root = test::sharedDir() / "samples" / "eml";
  const auto files = sampleMessages(root);
  ASSERT_GE(files.size(), 300u) << "sample set incomplete at " << root;

  test::TempDir dir;
  const fs::path jsonl = dir.path() / "imported.jsonl";
  {
    std::ofstream out(jsonl);
    mime::ImportOptions options;
    options.importTime = pst::FileTime{133000000000000000ull};
    for (const fs::path& file : files) {
      const std::string rel = fs::relative(file, root).string();
      try {
        out << test::modelToJson(rel, mime::importMessageFile(file.string(), options)) << "\n";
      } catch (const std::exception& e) {
        out << "{\"path\":" << test::jsonString(rel) << ",\"error\":" << test::jsonString(e.what()) << "}\n";
      }
    }
  }
  // For a closer look at the disagreements, keep the records: MAILFOLD_FIDELITY_OUT=file.
  if (const char* keep = std::getenv("MAILFOLD_FIDELITY_OUT")) fs::copy_file(jsonl, keep, fs::copy_options::overwrite_existing);
  std::string output;
  const std::string script = (test::sourceDir() / "tests" / "mime" / "oracle.py").string();
  const int status = run("/usr/bin/python3 '" + script + "' --actual '" + jsonl.string() + "' --root '" + root.string() + "'", output);
  std::printf("%s", output.c_str());
  EXPECT_EQ(status, 0) << "fidelity below threshold (figures above)";
}

// The command line of mailfold-convert.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mailfold::convert {

struct Options {
  bool multiple = false;
  std::string source;                  // single mode: the folder; multiple mode: the root
  std::optional<std::string> output;   // single mode: -o STORE.pst
  std::optional<std::string> outDir;   // multiple mode: -d OUTDIR
  std::vector<std::string> names;      // multiple mode: only these sub-folders
  std::optional<std::string> passwordFile;  // --password-file: the password of protected stores
  bool quiet = false;
  bool json = false;
  bool help = false;
  bool version = false;
};

// The result of parsing: the options, or the text of a usage error.
struct ParsedOptions {
  Options options;
  std::string error;  // empty when the command line is usable
};

ParsedOptions ParseOptions(const std::vector<std::string>& arguments);

std::string UsageText();

}  // namespace mailfold::convert

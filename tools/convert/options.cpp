#include "tools/convert/options.h"

namespace mailfold::convert {

std::string UsageText() {
  return "Usage:\n"
         "  mailfold-convert [OPTIONS] SOURCE [-o STORE.pst]\n"
         "  mailfold-convert [OPTIONS] --multiple ROOT [-d OUTDIR] [NAME ...]\n"
         "\n"
         "Converts folders of .eml message files into Outlook .pst stores.\n"
         "\n"
         "  SOURCE            convert every *.eml file below SOURCE into one store; without -o the\n"
         "                    store is named after the folder and the time, in the current folder\n"
         "  -o, --output FILE the store file (an existing store is opened and added to)\n"
         "  -m, --multiple    convert every immediate sub-folder of ROOT (or only the NAMEs) into\n"
         "                    OUTDIR/NAME.pst; every file is queued, message files are imported\n"
         "  -d, --output-dir DIR  where the stores of --multiple go (default: the current folder)\n"
         "      --password-file FILE  the password of a store protected by one: the first line\n"
         "                    of FILE. Every store of --multiple that asks for a password is\n"
         "                    given this one. Without it the password is asked for on the\n"
         "                    terminal, once per protected store; without a terminal such a\n"
         "                    store is not added to\n"
         "  -q, --quiet       print nothing but errors\n"
         "      --json        print a summary as JSON on standard output\n"
         "  -h, --help        show this help\n"
         "      --version     show the version\n"
         "\n"
         "A log beside each store lists the files that failed (\"BAD : path\").\n"
         "Ctrl-C stops after the current message; the store keeps everything converted so far.\n"
         "Exit status: 0 all messages converted, 1 some failed, 2 usage error,\n"
         "3 a store could not be opened or created (or its password was missing or wrong),\n"
         "130 stopped by Ctrl-C.\n";
}

ParsedOptions ParseOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  Options& options = parsed.options;
  std::vector<std::string> positional;
  bool onlyPositional = false;
  const auto fail = [&parsed](const std::string& text) {
    parsed.error = text;
    return parsed;
  };

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (onlyPositional || argument.empty() || argument[0] != '-' || argument == "-") {
      positional.push_back(argument);
      continue;
    }
    // --name=value is the same as --name value.
    std::string name = argument;
    std::optional<std::string> inlineValue;
    if (argument.starts_with("--")) {
      if (const auto equals = argument.find('='); equals != std::string::npos) {
        name = argument.substr(0, equals);
        inlineValue = argument.substr(equals + 1);
      }
    }
    const auto value = [&](std::optional<std::string>& target) -> bool {
      if (target) return false;
      if (inlineValue) {
        target = *inlineValue;
      } else {
        if (i + 1 >= arguments.size()) return false;
        target = arguments[++i];
      }
      return !target->empty();
    };

    if (name == "--") {
      onlyPositional = true;
    } else if (name == "-h" || name == "--help") {
      options.help = true;
    } else if (name == "--version") {
      options.version = true;
    } else if (name == "-q" || name == "--quiet") {
      options.quiet = true;
    } else if (name == "--json") {
      options.json = true;
    } else if (name == "-m" || name == "--multiple") {
      options.multiple = true;
    } else if (name == "-o" || name == "--output") {
      if (!value(options.output)) return fail(name + " needs one store file name");
    } else if (name == "-d" || name == "--output-dir") {
      if (!value(options.outDir)) return fail(name + " needs one folder");
    } else if (name == "--password-file") {
      if (!value(options.passwordFile)) return fail(name + " needs one file name");
    } else {
      return fail("unknown option " + argument);
    }
    if (inlineValue && name != "-o" && name != "--output" && name != "-d" && name != "--output-dir" &&
        name != "--password-file")
      return fail(name + " takes no value");
  }
  if (options.help || options.version) return parsed;

  if (positional.empty())
    return fail(options.multiple ? "--multiple needs the ROOT folder" : "no SOURCE folder given");
  options.source = positional.front();
  if (options.multiple) {
    if (options.output) return fail("-o names the store of a single folder; use -d with --multiple");
    options.names.assign(positional.begin() + 1, positional.end());
  } else {
    if (options.outDir) return fail("-d is for --multiple; use -o to name the store of a single folder");
    if (positional.size() > 1) return fail("more than one SOURCE folder given (did you mean --multiple?)");
  }
  return parsed;
}

}  // namespace mailfold::convert

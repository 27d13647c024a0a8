#include "tools/convert/options.h"

#include "tools/command_line/argument_scanner.h"

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
         "Options may come before, between or after the folders; -- ends them (for a folder\n"
         "whose name starts with -). Short flags group (-qm); -o and -d take their value as\n"
         "-o FILE or -oFILE, long options as --output FILE or --output=FILE.\n"
         "\n"
         "A log beside each store lists the files that failed (\"BAD : path\").\n"
         "Ctrl-C stops after the current message; the store keeps everything converted so far.\n"
         "Exit status: 0 all messages converted, 1 some failed, 2 usage error,\n"
         "3 a store could not be opened or created (or its password was missing or wrong),\n"
         "130 stopped by Ctrl-C.\n";
}

ParsedOptions ParseOptions(const std::vector<std::string>& arguments) {
  using command_line::OptionSpec;
  static constexpr OptionSpec kSpecs[] = {
      {'o', "output", "one store file name"},
      {'d', "output-dir", "one folder"},
      {'m', "multiple", ""},
      {0, "password-file", "one file name"},
      {'q', "quiet", ""},
      {0, "json", ""},
      {'h', "help", ""},
      {0, "version", ""},
  };
  ParsedOptions parsed;
  Options& options = parsed.options;
  const auto fail = [&parsed](const std::string& text) {
    parsed.error = text;
    return parsed;
  };

  const auto scanned = command_line::ScanArguments(arguments, kSpecs);
  // Help and version are answered wherever they stand, also on a line with a mistake.
  options.help = scanned.Has("help");
  options.version = scanned.Has("version");
  if (options.help || options.version) return parsed;
  if (!scanned.error.empty()) return fail(scanned.error);

  const auto value = [&scanned](std::string_view name) -> std::optional<std::string> {
    const auto* option = scanned.Find(name);
    return option ? std::optional(option->value) : std::nullopt;
  };
  options.multiple = scanned.Has("multiple");
  options.quiet = scanned.Has("quiet");
  options.json = scanned.Has("json");
  options.output = value("output");
  options.outDir = value("output-dir");
  options.passwordFile = value("password-file");

  const auto& operands = scanned.operands;
  if (operands.empty())
    return fail(options.multiple ? "--multiple needs the ROOT folder" : "no SOURCE folder given");
  options.source = operands.front();
  if (options.multiple) {
    if (options.output) return fail("-o names the store of a single folder; use -d with --multiple");
    options.names.assign(operands.begin() + 1, operands.end());
  } else {
    if (options.outDir) return fail("-d is for --multiple; use -o to name the store of a single folder");
    if (operands.size() > 1)
      return fail("extra operand '" + operands[1] + "' (one SOURCE folder only; did you mean --multiple?)");
  }
  return parsed;
}

}  // namespace mailfold::convert

// GNU-style scanning of a program's arguments, shared by mailfold-convert and mailfold-pst.
//
// Options may come before, between and after operands, and "--" ends them (a file named -x
// after it is an operand; so is "-" alone). A long option takes its value as --name=value or
// --name value, a short one as -o value or -ovalue; short flags group (-qm, -qo value). The
// argument after an option that takes a value is its value whatever it looks like, as getopt
// does. The scanner knows spellings only: each program gives the options their meaning, and
// checks which go together and how many operands it needs.
//
// Header-only, so that each tool uses it without linking anything of the other.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mailfold::command_line {

struct OptionSpec {
  char shortName = 0;          // 0: a long spelling only
  std::string_view longName;   // without the leading "--"; also how the program asks for it
  std::string_view valueName;  // empty for a flag; else what the value is, for messages ("a node id")
};

struct ScannedOption {
  const OptionSpec* spec = nullptr;
  std::string spelling;  // as given: "-o" or "--output"
  std::string value;     // empty for a flag
};

struct ScannedArguments {
  std::vector<ScannedOption> options;  // in the order given
  std::vector<std::string> operands;
  // The first mistake. Scanning goes on past it, so that --help anywhere is still seen.
  std::string error;

  const ScannedOption* Find(std::string_view longName) const {
    for (const auto& option : options)
      if (option.spec->longName == longName) return &option;
    return nullptr;
  }
  bool Has(std::string_view longName) const { return Find(longName) != nullptr; }
};

inline ScannedArguments ScanArguments(const std::vector<std::string>& arguments, std::span<const OptionSpec> specs) {
  ScannedArguments scanned;
  const auto note = [&scanned](std::string text) {
    if (scanned.error.empty()) scanned.error = std::move(text);
  };
  // A value may be given once: a second one would silently replace the first.
  const auto record = [&](const OptionSpec& spec, std::string spelling, std::optional<std::string> value) {
    if (!spec.valueName.empty()) {
      if (!value || value->empty()) return note(spelling + " needs " + std::string(spec.valueName));
      if (scanned.Has(spec.longName)) return note(spelling + " is given twice");
    }
    scanned.options.push_back({&spec, std::move(spelling), value.value_or(std::string())});
  };

  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      scanned.operands.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument[1] == '-') {
      const std::size_t equals = argument.find('=');
      const std::string spelling = argument.substr(0, equals);
      const OptionSpec* spec = nullptr;
      for (const auto& candidate : specs)
        if (spelling.substr(2) == candidate.longName) spec = &candidate;
      if (!spec) {
        note("unknown option " + spelling);
      } else if (spec->valueName.empty()) {
        if (equals != std::string::npos)
          note(spelling + " takes no value");
        else
          record(*spec, spelling, std::nullopt);
      } else if (equals != std::string::npos) {
        record(*spec, spelling, argument.substr(equals + 1));
      } else {
        record(*spec, spelling, i + 1 < arguments.size() ? std::optional(arguments[++i]) : std::nullopt);
      }
    } else {
      // A group of short options; one that takes a value ends the group and takes the rest
      // of it, or else the next argument.
      for (std::size_t at = 1; at < argument.size(); ++at) {
        const OptionSpec* spec = nullptr;
        for (const auto& candidate : specs)
          if (candidate.shortName != 0 && candidate.shortName == argument[at]) spec = &candidate;
        const std::string spelling = std::string("-") + argument[at];
        if (!spec) {
          note("unknown option " + spelling + (argument.size() > 2 ? " (in " + argument + ")" : ""));
          break;
        }
        if (spec->valueName.empty()) {
          record(*spec, spelling, std::nullopt);
          continue;
        }
        if (at + 1 < argument.size())
          record(*spec, spelling, argument.substr(at + 1));
        else
          record(*spec, spelling, i + 1 < arguments.size() ? std::optional(arguments[++i]) : std::nullopt);
        break;
      }
    }
  }
  return scanned;
}

}  // namespace mailfold::command_line

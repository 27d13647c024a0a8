// How mailfold-convert gets the password of a store file protected by one: from the file named
// by --password-file, else by asking on the terminal, else not at all (the store is refused).
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace mailfold::convert {

// The password a --password-file holds: its first line without the line end ("\n" or "\r\n").
// An empty first line is a password of length zero. `error` says which file and why when it
// cannot be read; then `password` is empty.
struct PasswordFile {
  std::optional<std::string> password;
  std::string error;
};
PasswordFile ReadPasswordFile(const std::string& path);

// Writes `prompt` to `out` and reads one line from the terminal on `terminal` with its echo off.
// The terminal's settings are put back on every way out; a signal that ends the question
// (Ctrl-C) is passed on once they are. Nothing when the user gave no line (end of input, a
// signal) or the terminal could not be set.
std::optional<std::string> AskOnTerminal(const std::string& prompt, int terminal, std::FILE* out);

// The password source of one run: the store engine asks it once for each store that is
// protected, with the store's path.
class StorePasswords {
 public:
  struct Settings {
    std::optional<std::string> filePassword;  // --password-file: the same for every store
    bool stdinIsTerminal = false;             // else there is no one to ask
    std::function<int()> stopSignal;          // non-zero once the user asked to stop: ask no more
    std::FILE* out = stderr;
  };
  explicit StorePasswords(Settings settings) : settings_(std::move(settings)) {}

  std::optional<std::string> For(const std::string& storePath);

 private:
  Settings settings_;
};

}  // namespace mailfold::convert

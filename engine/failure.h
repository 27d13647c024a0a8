// Why something failed, kept with its kind so that callers decide by kind and people read the
// cause. Every failure of a message file, a folder or a store reaches the folder's outcome, the
// log line after its "BAD : " line and the headless converter's JSON with both.
#pragma once

#include <stdexcept>
#include <string>

namespace mailfold::engine {

enum class FailureKind {
  NotFound,  // a file, folder or store that is not there
  Corrupt,   // a store file that is damaged or is no store
  Io,        // reading or writing failed (disk full, permission, a failing disk or share)
  Refused,   // the store will not take it: a store of the old format, in use, protected by a password
             // not given, a folder name it cannot hold
  BadInput,  // a message file that is not a message or cannot be parsed
};

// "not-found", "corrupt", "io", "refused", "bad-input": the names a script reads.
const char* KindName(FailureKind kind);

struct Failure {
  FailureKind kind = FailureKind::Io;
  std::string cause;  // one line a person can act on
};

// What the store port and the message reader throw.
class ConversionError : public std::runtime_error {
 public:
  ConversionError(FailureKind kind, const std::string& cause) : std::runtime_error(cause), kind_(kind) {}
  FailureKind kind() const { return kind_; }
  Failure failure() const { return {kind_, what()}; }

 private:
  FailureKind kind_;
};

// A failure for any exception: a ConversionError and an error of the store library or the
// importer keep their kind; anything else counts as `fallback`.
Failure FailureOf(const std::exception& error, FailureKind fallback);

}  // namespace mailfold::engine

// Tests check what kind of failure an operation reports, not the words of its message.
#pragma once

#include <optional>
#include <ostream>

#include "pst/bytes.h"

namespace mailfold::pst {

// Names the kind in test failure output.
inline void PrintTo(ErrorKind kind, std::ostream* os) {
  static constexpr const char* kNames[] = {"kNotFound", "kCorrupt", "kIo", "kRefused", "kBadInput", "kInternal"};
  *os << kNames[static_cast<int>(kind)];
}

}  // namespace mailfold::pst

namespace mailfold::test {

// The kind of the `E` that `f` throws; nothing when it returns. Any other exception goes on.
template <class E = pst::Error, class F>
std::optional<pst::ErrorKind> thrownKind(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.kind();
  }
  return std::nullopt;
}

}  // namespace mailfold::test

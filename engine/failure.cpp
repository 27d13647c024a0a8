#include "engine/failure.h"

namespace mailfold::engine {

const char* KindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::NotFound: return "not-found";
    case FailureKind::Corrupt: return "corrupt";
    case FailureKind::Io: return "io";
    case FailureKind::Refused: return "refused";
    case FailureKind::BadInput: return "bad-input";
  }
  return "io";
}

Failure FailureOf(const std::exception& error, FailureKind fallback) {
  if (const auto* typed = dynamic_cast<const ConversionError*>(&error)) return typed->failure();
  return {fallback, error.what()};
}

}  // namespace mailfold::engine

#include "engine/failure.h"

#include "pst/bytes.h"

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
  if (const auto* store = dynamic_cast<const pst::Error*>(&error)) {
    switch (store->kind()) {
      case pst::ErrorKind::kNotFound: return {FailureKind::NotFound, error.what()};
      case pst::ErrorKind::kCorrupt: return {FailureKind::Corrupt, error.what()};
      case pst::ErrorKind::kIo: return {FailureKind::Io, error.what()};
      case pst::ErrorKind::kRefused: return {FailureKind::Refused, error.what()};
      case pst::ErrorKind::kBadInput: return {FailureKind::BadInput, error.what()};
      case pst::ErrorKind::kInternal: break;  // a fault of ours: the caller's best guess
    }
  }
  return {fallback, error.what()};
}

}  // namespace mailfold::engine

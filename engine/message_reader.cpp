#include "engine/message_reader.h"

#include "engine/failure.h"
#include "mime/importer.h"

namespace mailfold::engine {

pst::MessageModel ReadMessageFile(const std::string& path) {
  try {
    return mime::importMessageFile(path);
  } catch (const std::exception& error) {
    // The importer's errors say what kind they are; anything else is a read that failed.
    const Failure failure = FailureOf(error, FailureKind::Io);
    throw ConversionError(failure.kind, failure.cause);
  }
}

}  // namespace mailfold::engine

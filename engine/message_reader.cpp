#include "engine/message_reader.h"

#include <filesystem>

#include "engine/failure.h"
#include "mime/importer.h"

namespace mailfold::engine {

pst::MessageModel ReadMessageFile(const std::string& path) {
  try {
    return mime::importMessageFile(path);
  } catch (const mime::ImportError& error) {
    std::error_code missing;
    if (!std::filesystem::exists(path, missing)) throw ConversionError(FailureKind::NotFound, error.what());
    throw ConversionError(FailureKind::BadInput, error.what());
  } catch (const std::exception& error) {
    // A temporary file for a large attachment could not be written.
    throw ConversionError(FailureKind::Io, error.what());
  }
}

}  // namespace mailfold::engine

// Reading a message file into the model the store writes: the engine calls it for every queued
// message file. The product reads with the MIME importer; tests may read otherwise.
#pragma once

#include <functional>
#include <string>

#include "pst/messaging/message_model.h"

namespace mailfold::engine {

using MessageReader = std::function<pst::MessageModel(const std::string& path)>;

// The MIME importer. Throws ConversionError: BadInput for a file that is not a message, NotFound
// for one that is gone, Io when it cannot be read.
pst::MessageModel ReadMessageFile(const std::string& path);

}  // namespace mailfold::engine

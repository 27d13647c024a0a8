// Maps a parsed GMime message onto the message model: envelope, recipients, bodies,
// attachments and embedded messages (recursively). No parsing and no file access here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mime/importer.h"
#include "pst/messaging/message_model.h"

typedef struct _GMimeMessage GMimeMessage;
typedef struct _GMimeParserOptions GMimeParserOptions;

namespace mailfold::mime::detail {

struct MapContext {
  const ImportOptions& options;
  pst::FileTime importTime;
  GMimeParserOptions* parserOptions;
  // The top-level message's clear-signed entity as it stands in its source (may return null
  // when that cannot be had). Unset, or null, and the parsed entity is written out instead.
  std::function<std::shared_ptr<const pst::ByteSource>()> signedEntityFromSource = {};
};

// `rawHeaders` is the header block as it stands in the file (empty: the mapper serialises the
// parsed headers instead); `sourceSize` the size of the message in bytes.
pst::MessageModel mapMessage(GMimeMessage* message, const MapContext& context, int depth,
                             const std::string& rawHeaders, std::uint64_t sourceSize);

}  // namespace mailfold::mime::detail

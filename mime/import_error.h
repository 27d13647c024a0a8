// The error the importer throws for a file that is not a message at all (or cannot be read).
#pragma once

#include "pst/bytes.h"

namespace mailfold::mime {

// Derives from the store engine's error so that callers that catch every engine failure in one
// place also see import failures, with their kind; the message names the file and what is wrong
// with it.
class ImportError : public pst::Error {
 public:
  using pst::Error::Error;
};

}  // namespace mailfold::mime

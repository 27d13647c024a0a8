// uuencoded files inside a plain-text body ("begin 644 name" ... "end"), as older mailers and
// news clients sent attachments. Each block becomes an attachment and leaves the body.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pst/bytes.h"

namespace mailfold::mime {

struct UuencodedFile {
  std::string name;
  pst::Bytes data;
};

struct UuencodeSplit {
  std::string text;                  // the body without the blocks
  std::vector<UuencodedFile> files;  // in the order they appear
};

// Finds complete blocks (a "begin <octal mode> <name>" line up to an "end" line) and decodes
// them. A block without its "end" line is left in the text untouched.
UuencodeSplit extractUuencodedFiles(std::string_view text);

}  // namespace mailfold::mime

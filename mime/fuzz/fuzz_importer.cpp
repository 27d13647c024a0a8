// libFuzzer entry point: any byte string handed to the importer must either import or fail
// with ImportError; a crash, a hang, a leak or a sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <span>

#include "mime/importer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mailfold::mime::ImportOptions options;
  options.importTime = mailfold::pst::FileTime{133000000000000000ull};
  options.inMemoryAttachmentLimit = 4096;  // exercise the temporary-file path too
  try {
    (void)mailfold::mime::importMessage(std::span<const std::uint8_t>(data, size), options, "fuzz");
  } catch (const mailfold::mime::ImportError&) {
  }
  return 0;
}

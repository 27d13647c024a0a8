// libFuzzer entry point for the store reader: the input (a store file without its trailing
// zeros) is written to a temporary file and read the way mailfold-pst and the conversion read
// stores (store_reader_walk.h). An Error is the expected answer to damage; a crash, a hang, a
// leak, another exception or a sanitizer report is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "pst/fuzz/store_reader_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    const std::filesystem::path dir = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    return (dir / ("mailfold-fuzz-store-" + std::to_string(::getpid()) + ".pst")).string();
  }();
  mailfold::pst::fuzz::writeStoreInput(mailfold::pst::ByteView(data, size), path);
  mailfold::pst::fuzz::walkStore(path);
  return 0;
}
